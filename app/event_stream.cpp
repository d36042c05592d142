#include "app/event_stream.h"

namespace vekta {

EventStream::EventStream(std::shared_ptr<EventHub::Subscription> subscription,
                         std::function<void()> onHeartbeat)
    : m_subscription(std::move(subscription)), m_onHeartbeat(std::move(onHeartbeat)) {}

bool EventStream::Take(std::string& out) {
  std::vector<StreamEvent> events;
  if (!m_subscription->Next(std::chrono::milliseconds(0), events)) return false;
  for (const StreamEvent& e : events) out += FormatStreamEvent(e);
  return true;
}

void EventStream::SetWake(std::function<void()> wake) {
  m_subscription->SetOnEvent(std::move(wake));
}

std::string EventStream::Heartbeat() {
  if (m_onHeartbeat) m_onHeartbeat();
  return ":\n\n";
}

}  // namespace vekta
