#pragma once

// Keeps the leases of remote objects alive while their client holds them: a thread pings each
// object at a third of its lease. A client that crashes stops pinging, and the server then
// releases its objects when their leases run out.

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vekta {

class ObjectConnection;

class LeaseKeeper {
 public:
  LeaseKeeper();
  ~LeaseKeeper();
  LeaseKeeper(const LeaseKeeper&) = delete;
  LeaseKeeper& operator=(const LeaseKeeper&) = delete;

  // Returns a ticket for Forget.
  std::uint64_t Keep(std::shared_ptr<ObjectConnection> connection, std::string objectId,
                     std::chrono::milliseconds lease);
  void Forget(std::uint64_t ticket);
  std::size_t Count() const;
  // Pings sent since the start (for tests).
  std::uint64_t PingsSent() const;

 private:
  struct Lease {
    std::shared_ptr<ObjectConnection> connection;
    std::string objectId;
    std::chrono::milliseconds interval;
    std::chrono::steady_clock::time_point next;
  };
  void Run();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<std::uint64_t, Lease> m_leases;  // guarded by m_mutex
  std::uint64_t m_nextTicket = 1;           // guarded by m_mutex
  std::uint64_t m_pings = 0;                // guarded by m_mutex
  bool m_stop = false;                      // guarded by m_mutex
  std::thread m_thread;
};

}  // namespace vekta
