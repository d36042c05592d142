#include "platform/clock.h"

#include <thread>
#include <vector>

namespace vekta {

Clock::TimePoint RealClock::Now() const {
  return std::chrono::steady_clock::now();
}

Clock::WallTime RealClock::WallNow() const {
  return std::chrono::system_clock::now();
}

void RealClock::SleepFor(Duration duration) {
  std::this_thread::sleep_for(duration);
}

bool RealClock::WaitFor(const Event& event, Duration timeout) {
  return event.Wait(timeout);
}

FakeClock::FakeClock(WallTime wallStart)
    : m_now(std::chrono::steady_clock::time_point{} + std::chrono::hours(24)),
      m_wallStart(wallStart),
      m_start(m_now) {}

Clock::TimePoint FakeClock::Now() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_now;
}

Clock::WallTime FakeClock::WallNow() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_wallStart +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(m_now - m_start);
}

void FakeClock::SleepFor(Duration duration) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slept += duration;
  }
  Advance(duration);
}

bool FakeClock::WaitFor(const Event& event, Duration timeout) {
  TimePoint deadline;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    deadline = m_now + timeout;
  }
  RunDue();
  while (!event.IsSet()) {
    TimePoint next;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_now >= deadline) return false;
      next = deadline;
      if (!m_due.empty() && m_due.begin()->first < next) next = m_due.begin()->first;
      m_now = next;
    }
    RunDue();
  }
  return true;
}

void FakeClock::Advance(Duration duration) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_now += duration;
  }
  RunDue();
}

void FakeClock::At(Duration after, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_due.emplace(m_now + after, std::move(action));
}

Clock::Duration FakeClock::Slept() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_slept;
}

void FakeClock::RunDue() {
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_due.empty() || m_due.begin()->first > m_now) return;
      action = std::move(m_due.begin()->second);
      m_due.erase(m_due.begin());
    }
    action();  // outside the lock: an action may schedule another
  }
}

}  // namespace vekta
