#include "app/call_executors.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace vekta {

namespace {
// Port numbers come from clients: past this many port numbers seen, a new number gets no queue
// of its own (its call runs on the pool, where a call on a port that does not exist fails). A
// port's thread is made when a call comes and ends after a while without one.
constexpr std::size_t kMostPortQueues = 1024;
}  // namespace

// A FIFO of jobs with its own threads: `ready` of them always, and up to `most` while every one
// is taken. The threads grown end after a while without work.
class CallExecutors::Queue {
 public:
  Queue(int ready, std::size_t most) : m_ready(static_cast<std::size_t>(ready)), m_most(most) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = 0; i < ready; ++i) Grow();
  }
  ~Queue() { Stop(); }

  bool Post(Job job) {
    std::vector<std::thread> ended;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stopped) return false;
      m_jobs.push_back(std::move(job));
      ++m_pending;
      ended = TakeEnded();
      // A job no idle thread takes would wait for a running one to end, and that one may be a
      // wait that this very job (an unlock, a release) is to end.
      if (m_jobs.size() > m_idle && m_threads.size() < m_most) Grow();
    }
    m_wake.notify_one();
    for (std::thread& t : ended) t.join();
    return true;
  }

  void Stop() {
    std::deque<Job> dropped;
    std::map<std::thread::id, std::thread> threads;
    std::vector<std::thread> ended;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopped = true;
      dropped.swap(m_jobs);
      m_pending -= dropped.size();
      threads.swap(m_threads);
      ended = TakeEnded();
    }
    m_wake.notify_all();
    for (auto& [id, t] : threads) t.join();
    for (std::thread& t : ended) t.join();
    // Destroyed outside the lock: a job may own what posts to another queue.
    dropped.clear();
  }

  std::size_t Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
  }

 private:
  static constexpr auto kGrownIdle = std::chrono::seconds(30);

  // With m_mutex held. A thread the system will not give leaves the job queued for the next
  // thread that is free.
  void Grow() {
    try {
      std::thread t([this] { Run(); });
      const std::thread::id id = t.get_id();
      m_threads.emplace(id, std::move(t));
    } catch (const std::system_error&) {
    }
  }

  // With m_mutex held: the threads that ended, to be joined outside it.
  std::vector<std::thread> TakeEnded() {
    std::vector<std::thread> ended;
    for (const std::thread::id id : m_ended) {
      if (auto it = m_threads.find(id); it != m_threads.end()) {
        ended.push_back(std::move(it->second));
        m_threads.erase(it);
      }
    }
    m_ended.clear();
    return ended;
  }

  void Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      ++m_idle;
      const auto due = [this] { return m_stopped || !m_jobs.empty(); };
      while (!due()) {
        if (m_threads.size() - m_ended.size() <= m_ready) {
          m_wake.wait(lock, due);
        } else if (!m_wake.wait_for(lock, kGrownIdle, due)) {
          --m_idle;
          m_ended.push_back(std::this_thread::get_id());
          return;
        }
      }
      --m_idle;
      if (m_stopped) return;
      Job job = std::move(m_jobs.front());
      m_jobs.pop_front();
      lock.unlock();
      job();
      job = nullptr;
      lock.lock();
      --m_pending;
    }
  }

  const std::size_t m_ready;
  const std::size_t m_most;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_jobs;     // guarded by m_mutex
  std::size_t m_pending = 0;  // guarded by m_mutex: queued and running
  std::size_t m_idle = 0;     // guarded by m_mutex: threads waiting for a job
  bool m_stopped = false;     // guarded by m_mutex
  std::map<std::thread::id, std::thread> m_threads;  // guarded by m_mutex
  std::vector<std::thread::id> m_ended;              // guarded by m_mutex: to be joined
};

CallExecutors::CallExecutors(int poolThreads, std::size_t mostPoolThreads)
    : m_pool(std::make_unique<Queue>(poolThreads < 1 ? 1 : poolThreads,
                                     std::max<std::size_t>(mostPoolThreads, 1))) {}

CallExecutors::~CallExecutors() {
  Stop();
}

CallExecutors::Queue* CallExecutors::PortQueue(std::int32_t port) {
  if (port <= 0) return nullptr;
  if (auto it = m_ports.find(port); it != m_ports.end()) return it->second.get();
  if (m_ports.size() >= kMostPortQueues) return nullptr;
  return m_ports.emplace(port, std::make_unique<Queue>(0, 1)).first->second.get();
}

bool CallExecutors::Post(std::int32_t port, Job job) {
  Queue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped) return false;
    queue = PortQueue(port);
    if (queue == nullptr) queue = m_pool.get();
  }
  return queue->Post(std::move(job));
}

void CallExecutors::Stop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
  }
  // No queue is added once stopped, so the map can be walked without the lock.
  m_pool->Stop();
  for (auto& [port, queue] : m_ports) queue->Stop();
}

std::size_t CallExecutors::Pending() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::size_t pending = m_pool->Pending();
  for (const auto& [port, queue] : m_ports) pending += queue->Pending();
  return pending;
}

}  // namespace vekta
