#pragma once

// The event stream of the page (GET /api/v1/events): every subscriber has its own queue of
// named JSON events. Publishing never blocks on a subscriber; one that falls too far behind is
// ended and reconnects to a fresh state.
//
// The hub never calls out with its own lock held, so publishers may hold their own locks while
// they publish.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace vekta {

struct StreamEvent {
  std::string name;
  nlohmann::json data;
};

class EventHub {
 public:
  static constexpr std::size_t kMaxQueued = 1000;

  class Subscription;

  EventHub() = default;
  ~EventHub();
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // `initial` gives the events that describe the present state; they come first in the
  // subscriber's queue. Null once the hub is closed.
  std::shared_ptr<Subscription> Subscribe(const std::function<std::vector<StreamEvent>()>& initial);
  void Publish(const std::string& name, const nlohmann::json& data);
  std::size_t Subscribers() const;
  // Called, without the hub's lock, whenever the last subscriber has gone.
  void SetOnIdle(std::function<void()> onIdle);
  // Ends every stream and refuses new subscribers.
  void Close();

  class Subscription {
   public:
    explicit Subscription(EventHub& hub) : m_hub(hub) {}
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Waits up to `wait` for events and takes them all. False when the stream is over (the hub
    // closed, or this subscriber fell too far behind).
    bool Next(std::chrono::milliseconds wait, std::vector<StreamEvent>& events);
    // Called, on the publisher's thread and without the hub's lock, whenever an event has been
    // queued or the stream has ended: a reader that does not wait in Next looks then.
    void SetOnEvent(std::function<void()> onEvent);

   private:
    friend class EventHub;
    EventHub& m_hub;
    std::deque<StreamEvent> m_queue;  // guarded by m_hub.m_mutex
    bool m_ended = false;             // guarded by m_hub.m_mutex
    std::function<void()> m_onEvent;  // guarded by m_hub.m_mutex
  };

 private:
  void Remove(Subscription* subscription);

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::set<Subscription*> m_subscriptions;  // guarded by m_mutex
  bool m_closed = false;                    // guarded by m_mutex
  std::function<void()> m_onIdle;           // guarded by m_mutex
};

// One event in the text/event-stream format.
std::string FormatStreamEvent(const StreamEvent& event);

}  // namespace vekta
