#include "app/event_hub.h"

namespace vekta {

EventHub::~EventHub() {
  Close();
}

std::shared_ptr<EventHub::Subscription> EventHub::Subscribe(
    const std::function<std::vector<StreamEvent>()>& initial) {
  auto subscription = std::make_shared<Subscription>(*this);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) {
      subscription->m_ended = true;
      return nullptr;
    }
    m_subscriptions.insert(subscription.get());
  }
  // The state is taken after the subscriber is in, and goes first: an event published
  // meanwhile is applied after it, so the page ends on the latest state.
  if (!initial) return subscription;
  std::vector<StreamEvent> state = initial();
  std::lock_guard<std::mutex> lock(m_mutex);
  subscription->m_queue.insert(subscription->m_queue.begin(),
                               std::make_move_iterator(state.begin()),
                               std::make_move_iterator(state.end()));
  return subscription;
}

void EventHub::Publish(const std::string& name, const nlohmann::json& data) {
  std::function<void()> onIdle;
  std::vector<std::function<void()>> woken;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_subscriptions.empty()) return;
    bool dropped = false;
    bool live = false;
    for (Subscription* s : m_subscriptions) {
      if (s->m_ended) continue;
      if (s->m_queue.size() >= kMaxQueued) {
        s->m_ended = true;
        s->m_queue.clear();
        dropped = true;
        if (s->m_onEvent) woken.push_back(s->m_onEvent);
        continue;
      }
      s->m_queue.push_back({name, data});
      live = true;
      if (s->m_onEvent) woken.push_back(s->m_onEvent);
    }
    m_wake.notify_all();
    if (dropped && !live) onIdle = m_onIdle;
  }
  for (const auto& wake : woken) wake();
  if (onIdle) onIdle();
}

std::size_t EventHub::Subscribers() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::size_t live = 0;
  for (const Subscription* s : m_subscriptions) live += s->m_ended ? 0 : 1;
  return live;
}

void EventHub::SetOnIdle(std::function<void()> onIdle) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_onIdle = std::move(onIdle);
}

void EventHub::Close() {
  std::function<void()> onIdle;
  std::vector<std::function<void()>> woken;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed) return;
    m_closed = true;
    for (Subscription* s : m_subscriptions) {
      s->m_ended = true;
      if (s->m_onEvent) woken.push_back(s->m_onEvent);
    }
    onIdle = m_onIdle;
    m_wake.notify_all();
  }
  for (const auto& wake : woken) wake();
  if (onIdle) onIdle();
}

void EventHub::Remove(Subscription* subscription) {
  std::function<void()> onIdle;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscriptions.erase(subscription);
    bool live = false;
    for (const Subscription* s : m_subscriptions) live = live || !s->m_ended;
    if (!live) onIdle = m_onIdle;
  }
  if (onIdle) onIdle();
}

EventHub::Subscription::~Subscription() {
  m_hub.Remove(this);
}

bool EventHub::Subscription::Next(std::chrono::milliseconds wait,
                                  std::vector<StreamEvent>& events) {
  events.clear();
  std::unique_lock<std::mutex> lock(m_hub.m_mutex);
  m_hub.m_wake.wait_for(lock, wait, [this] { return m_ended || !m_queue.empty(); });
  if (m_ended) return false;
  events.assign(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
  m_queue.clear();
  return true;
}

void EventHub::Subscription::SetOnEvent(std::function<void()> onEvent) {
  std::lock_guard<std::mutex> lock(m_hub.m_mutex);
  m_onEvent = std::move(onEvent);
}

std::string FormatStreamEvent(const StreamEvent& event) {
  // dump() escapes line breaks, so the data is always one line
  return "event: " + event.name +
         "\ndata: " + event.data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n\n";
}

}  // namespace vekta
