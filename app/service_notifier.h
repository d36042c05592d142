#pragma once

// The daemon's word to systemd when systemd started it (Type=notify): READY once the listener
// is bound, then WATCHDOG pings as long as the server answers a request of its own. Without
// systemd (no NOTIFY_SOCKET) nothing is sent and no thread runs.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vekta {

class ServiceNotifier {
 public:
  // `answers` asks the server for /healthz within the time given; true when any answer came.
  explicit ServiceNotifier(std::function<bool(std::chrono::milliseconds)> answers);
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // READY=1 with a status line; starts the watchdog pings when systemd asks for them.
  void Ready(const std::string& status);
  // STOPPING=1: the shutdown has begun; the pings end.
  void Stopping();

 private:
  void PingWhileAnswering(std::chrono::microseconds period);

  std::function<bool(std::chrono::milliseconds)> m_answers;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;  // guarded by m_mutex
  std::thread m_pinger;
};

}  // namespace vekta
