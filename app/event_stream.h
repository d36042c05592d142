#pragma once

// GET /api/v1/events: the page's view of the hub as a text/event-stream body.

#include <memory>

#include "app/event_hub.h"
#include "app/http_message.h"

namespace vekta {

class EventStream : public ResponseStream {
 public:
  // `onHeartbeat` runs at every quiet heartbeat: lease ends and lost links change the
  // connection list without a request, so the list is looked at then.
  EventStream(std::shared_ptr<EventHub::Subscription> subscription,
              std::function<void()> onHeartbeat);

  bool Take(std::string& out) override;
  void SetWake(std::function<void()> wake) override;
  std::string Heartbeat() override;

 private:
  std::shared_ptr<EventHub::Subscription> m_subscription;
  std::function<void()> m_onHeartbeat;
};

}  // namespace vekta
