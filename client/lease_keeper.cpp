#include "client/lease_keeper.h"

#include <tuple>
#include <vector>

#include "client/object_connection.h"

namespace vekta {

LeaseKeeper::LeaseKeeper() : m_thread([this] { Run(); }) {}

LeaseKeeper::~LeaseKeeper() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

std::uint64_t LeaseKeeper::Keep(std::shared_ptr<ObjectConnection> connection, std::string objectId,
                                std::chrono::milliseconds lease) {
  const auto interval = std::max(std::chrono::milliseconds(50), lease / 3);
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    ticket = m_nextTicket++;
    m_leases[ticket] = Lease{std::move(connection), std::move(objectId), interval,
                             std::chrono::steady_clock::now() + interval};
  }
  m_wake.notify_all();
  return ticket;
}

void LeaseKeeper::Forget(std::uint64_t ticket) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_leases.erase(ticket);
}

std::size_t LeaseKeeper::Count() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_leases.size();
}

std::uint64_t LeaseKeeper::PingsSent() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_pings;
}

void LeaseKeeper::Run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stop) {
    const auto now = std::chrono::steady_clock::now();
    auto next = now + std::chrono::hours(1);
    std::vector<std::tuple<std::uint64_t, std::shared_ptr<ObjectConnection>, std::string>> due;
    for (auto& [ticket, lease] : m_leases) {
      if (lease.next <= now) {
        due.emplace_back(ticket, lease.connection, lease.objectId);
        lease.next = now + lease.interval;
      }
      next = std::min(next, lease.next);
    }
    if (!due.empty()) {
      m_pings += due.size();
      lock.unlock();
      // Each connection pings on a line of its own, never behind a call. An object the server
      // no longer has (its lease ran out, the server started again) is not pinged on and on.
      std::vector<std::uint64_t> gone;
      for (auto& [ticket, connection, id] : due) {
        if (connection->Ping(id) == RPC_E_DISCONNECTED) gone.push_back(ticket);
      }
      lock.lock();
      for (std::uint64_t ticket : gone) m_leases.erase(ticket);
      continue;
    }
    m_wake.wait_until(lock, next);
  }
}

}  // namespace vekta
