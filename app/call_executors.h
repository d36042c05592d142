#pragma once

// Where the object protocol's calls run, away from the threads that serve HTTP. Each printer
// port has its own command executor: its calls run one at a time, in the order they arrived,
// and a call that blocks there (a long report, a prompt) holds that port's queue only. Calls
// that do not talk to a printer, and waits that must not hold a port (a printer lock, pending
// messages, the connect dialog), run on a shared pool of `poolThreads`, which grows to
// `mostPoolThreads` while every thread is taken: a wait never holds back the call that would
// end it.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vekta {

class CallExecutors {
 public:
  using Job = std::function<void()>;

  CallExecutors(int poolThreads, std::size_t mostPoolThreads);
  ~CallExecutors();  // Stop()
  CallExecutors(const CallExecutors&) = delete;
  CallExecutors& operator=(const CallExecutors&) = delete;

  // Port 0: the shared pool. False once stopped (the job is dropped, not run).
  bool Post(std::int32_t port, Job job);
  // Waits for the jobs that run now; the queued ones are dropped.
  void Stop();
  // Jobs queued or running, all executors together.
  std::size_t Pending() const;

 private:
  class Queue;
  Queue* PortQueue(std::int32_t port);  // with m_mutex held; null: the pool

  mutable std::mutex m_mutex;
  std::unique_ptr<Queue> m_pool;
  std::map<std::int32_t, std::unique_ptr<Queue>> m_ports;  // guarded by m_mutex
  bool m_stopped = false;                                  // guarded by m_mutex
};

}  // namespace vekta
