#pragma once

#include <chrono>

namespace vekta {

// The fixed device delays of the printer link. Production always uses the defaults; tests may
// shorten them. Reply time-outs are protocol values and are not here.
struct LinkTimings {
  std::chrono::milliseconds closePortDelay{2500};  // after a port is closed
  std::chrono::milliseconds afterPrepGen0{1300};   // after "PREP" on generation 0
  std::chrono::milliseconds beforeCancGen0{1000};  // before "CANC" on generation 0
  std::chrono::milliseconds dtrDrop{2000};         // DTR off after an unanswered wake-up
  std::chrono::milliseconds afterWakeUp{10};       // after the wake-up byte 0x55
  int interByteMs = 100;  // a frame that has begun is given up on after this gap between bytes

  static LinkTimings Short() {
    LinkTimings t;
    t.closePortDelay = std::chrono::milliseconds(5);
    t.afterPrepGen0 = std::chrono::milliseconds(1);
    t.beforeCancGen0 = std::chrono::milliseconds(1);
    t.dtrDrop = std::chrono::milliseconds(5);
    t.afterWakeUp = std::chrono::milliseconds(1);
    t.interByteMs = 5;
    return t;
  }
};

}  // namespace vekta
