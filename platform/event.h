#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vekta {

// A manual-reset event: stays signalled from Set() until Reset().
class Event {
 public:
  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event is (or becomes) signalled within the time-out.
  bool Wait(std::chrono::milliseconds timeout) const;
  // Waits without limit.
  void Wait() const;

 private:
  mutable std::mutex m_mutex;
  mutable std::condition_variable m_changed;
  bool m_signalled = false;  // guarded by m_mutex
};

}  // namespace vekta
