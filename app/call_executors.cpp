#include "app/call_executors.h"

namespace vekta {

namespace {
// Port numbers come from clients: beyond the ports a server can have (COM1 to COM255), a number
// gets no thread of its own (its call fails on the pool like any call on a port that does not
// exist). A port's thread is made when its first call comes.
constexpr std::int32_t kMaxPortExecutor = 255;
}  // namespace

// A FIFO of jobs with its own threads.
class CallExecutors::Queue {
 public:
  explicit Queue(int threads) {
    for (int i = 0; i < threads; ++i) m_threads.emplace_back([this] { Run(); });
  }
  ~Queue() { Stop(); }

  bool Post(Job job) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stopped) return false;
      m_jobs.push_back(std::move(job));
      ++m_pending;
    }
    m_wake.notify_one();
    return true;
  }

  void Stop() {
    std::deque<Job> dropped;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopped = true;
      dropped.swap(m_jobs);
      m_pending -= dropped.size();
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads) {
      if (t.joinable()) t.join();
    }
    // Destroyed outside the lock: a job may own what posts to another queue.
    dropped.clear();
  }

  std::size_t Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
  }

 private:
  void Run() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stopped || !m_jobs.empty(); });
        if (m_stopped) return;
        job = std::move(m_jobs.front());
        m_jobs.pop_front();
      }
      job();
      job = nullptr;
      std::lock_guard<std::mutex> lock(m_mutex);
      --m_pending;
    }
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Job> m_jobs;     // guarded by m_mutex
  std::size_t m_pending = 0;  // guarded by m_mutex: queued and running
  bool m_stopped = false;     // guarded by m_mutex
  std::vector<std::thread> m_threads;
};

CallExecutors::CallExecutors(int poolThreads)
    : m_pool(std::make_unique<Queue>(poolThreads < 1 ? 1 : poolThreads)) {}

CallExecutors::~CallExecutors() {
  Stop();
}

CallExecutors::Queue& CallExecutors::PortQueue(std::int32_t port) {
  auto& queue = m_ports[port];
  if (!queue) queue = std::make_unique<Queue>(1);
  return *queue;
}

bool CallExecutors::Post(std::int32_t port, Job job) {
  Queue* queue = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopped) return false;
    queue = port > 0 && port <= kMaxPortExecutor ? &PortQueue(port) : m_pool.get();
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
