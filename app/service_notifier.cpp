#include "app/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

namespace vekta {

ServiceNotifier::ServiceNotifier(std::function<bool(std::chrono::milliseconds)> answers)
    : m_answers(std::move(answers)) {}

ServiceNotifier::~ServiceNotifier() {
  Stopping();
}

void ServiceNotifier::Ready(const std::string& status) {
  sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0 || m_pinger.joinable()) return;
  const auto period = std::chrono::microseconds(usec / 2);
  m_pinger = std::thread([this, period] { PingWhileAnswering(period); });
}

void ServiceNotifier::Stopping() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop) return;
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_pinger.joinable()) m_pinger.join();
  sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::PingWhileAnswering(std::chrono::microseconds period) {
  // A server that no longer answers gets no ping, and systemd restarts it: a hung listener is
  // caught, not only a dead process.
  const auto patience = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(period / 2),
                                 std::chrono::milliseconds(100));
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stop) {
    lock.unlock();
    const bool alive = m_answers(patience);
    lock.lock();
    if (m_stop) break;
    if (alive) sd_notify(0, "WATCHDOG=1");
    m_wake.wait_for(lock, period, [this] { return m_stop; });
  }
}

}  // namespace vekta
