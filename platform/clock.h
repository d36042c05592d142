#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>

#include "platform/event.h"

namespace vekta {

// Every sleep and every time-out of the printer link goes through a Clock, so that tests can
// run protocol time-outs instantly with a FakeClock.
class Clock {
 public:
  using Duration = std::chrono::milliseconds;
  using TimePoint = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  // Local calendar time, for log file names, log lines and printer dates.
  virtual WallTime WallNow() const = 0;
  virtual void SleepFor(Duration duration) = 0;
  // True when the event is signalled within the time-out.
  virtual bool WaitFor(const Event& event, Duration timeout) = 0;
};

class RealClock final : public Clock {
 public:
  TimePoint Now() const override;
  WallTime WallNow() const override;
  void SleepFor(Duration duration) override;
  bool WaitFor(const Event& event, Duration timeout) override;
};

// Time moves only when the code under test sleeps or waits (or the test calls Advance).
// Callbacks scheduled with At() run, on the waiting thread, when time reaches them: that is how
// a test makes a "printer" answer 2900 ms into a 3000 ms wait.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(WallTime wallStart = std::chrono::system_clock::now());

  TimePoint Now() const override;
  WallTime WallNow() const override;
  void SleepFor(Duration duration) override;
  bool WaitFor(const Event& event, Duration timeout) override;

  void Advance(Duration duration);
  // Runs `action` when the clock reaches Now() + after.
  void At(Duration after, std::function<void()> action);
  // Total time spent in SleepFor, for tests that check a fixed device delay.
  Duration Slept() const;

 private:
  void RunDue();

  mutable std::mutex m_mutex;
  TimePoint m_now;                                        // guarded by m_mutex
  WallTime m_wallStart;                                   // guarded by m_mutex
  TimePoint m_start;                                      // guarded by m_mutex
  Duration m_slept{0};                                    // guarded by m_mutex
  std::multimap<TimePoint, std::function<void()>> m_due;  // guarded by m_mutex
};

}  // namespace vekta
