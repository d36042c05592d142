#pragma once

// The process-wide table of shared printer links, one entry per COM port in use, with the
// printer lock that clients take with LockPrinter.
//
// The daemon's lock order, all of it, outermost first; a thread that holds one lock takes only
// locks further down the same line:
//   object call mutex (ObjectTable::Entry) -> ObjectTable mutex
//   object call mutex -> VektaManager mutex -> Orbis mutex -> registry mutex
//       -> a registry entry's mutexes -> link command mutex -> link state mutex -> link log mutex
//   link command mutex -> WebHost mutex -> EventHub mutex (to count pages)
//   link command mutex -> EventHub mutex, never under the WebHost mutex when publishing: the
//       hub calls back into WebHost once the last page is gone
//   VektaManager and Orbis abandon mutexes: last, nothing taken under them
//   simulator line mutex -> printer model mutex
// The headers of those classes say which fields each lock guards. A link's command mutex is taken
// only as a LockedLink (link/shared_link.h): the registry hands links out as SharedLink, which
// reaches the printer operations through Lock() alone.
//
// A link is destroyed (its port closed, which takes the close-port delay) outside the registry
// mutex, so that closing one port does not hold back attaches to other ports; an attach to the
// same port waits until the old port is closed.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "link/link_host.h"
#include "link/link_timings.h"
#include "link/printer_link.h"
#include "link/shared_link.h"
#include "platform/clock.h"

namespace vekta {

// Exclusive use of a printer by one client object (the owner, an opaque pointer), recursive for
// that owner. Another owner's Lock waits up to its time-out, or until its object is abandoned.
// No printer operation but LockPrinter and the first Init of a port looks at it.
class PrinterLock {
 public:
  static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

  // True when taken; 0 tries once, kInfinite waits without limit. False at once, and while
  // waiting as soon as WakeWaiters follows, when `abandoned` is set: an object that is being
  // released takes no lock.
  bool Lock(const void* owner, std::uint32_t timeoutMs,
            const std::atomic<bool>* abandoned = nullptr);
  // Always true. A call by an owner that holds nothing changes nothing.
  bool Unlock(const void* owner);
  // Gives up every level the owner holds (its object detached).
  void ReleaseAll(const void* owner);
  // Successful Locks not yet unlocked.
  std::int32_t LockCount() const { return m_lockCount.load(); }
  bool IsHeldBy(const void* owner) const;
  // Makes every waiting Lock look at its abandon flag again.
  void WakeWaiters();

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  const void* m_owner = nullptr;  // guarded by m_mutex
  std::int32_t m_depth = 0;       // guarded by m_mutex
  std::atomic<std::int32_t> m_lockCount{0};
};

class PrinterEntry {
 public:
  // The connection of the entry's link, made by one client (the one that created the entry, or
  // the next one after a connect that failed) while the others that attach wait for it.
  enum class ConnectState { kConnecting, kConnected, kFailed };

  PrinterEntry(std::uint32_t portNumber, std::shared_ptr<PrinterLink> link);
  PrinterEntry(const PrinterEntry&) = delete;
  PrinterEntry& operator=(const PrinterEntry&) = delete;

  std::uint32_t PortNumber() const { return m_portNumber; }
  // None once the entry has been removed from the registry: its port is closing or closed.
  SharedLink Link() const;
  std::int32_t ReferenceCount() const { return m_referenceCount.load(); }
  std::int32_t LockCount() const { return m_lock.LockCount(); }
  // The caller names of the attachments, oldest first, in Windows-1251.
  std::vector<std::string> ClientNames() const;

  bool Lock(const void* owner, std::uint32_t timeoutMs,
            const std::atomic<bool>* abandoned = nullptr) {
    return m_lock.Lock(owner, timeoutMs, abandoned);
  }
  bool Unlock(const void* owner) { return m_lock.Unlock(owner); }
  void ReleaseAll(const void* owner) { m_lock.ReleaseAll(owner); }
  PrinterLock& GetLock() { return m_lock; }

  // Called by the client that connects, after it has given back the lock it connected under:
  // wakes every WaitConnected.
  void FinishConnect(bool connected);
  // Waits until the connect in progress ends (returns at once when none is): true when the link
  // connected. False as soon as `abandoned` is set and WakeWaiters follows.
  bool WaitConnected(const std::atomic<bool>* abandoned = nullptr);
  // Makes every wait on the entry (connect and lock) look at its abandon flag again.
  void WakeWaiters();

 private:
  friend class PrinterRegistry;

  const std::uint32_t m_portNumber;
  std::atomic<std::int32_t> m_referenceCount{0};
  mutable std::mutex m_mutex;
  std::shared_ptr<PrinterLink> m_link;                      // guarded by m_mutex
  std::vector<std::string> m_clientNames;                   // guarded by m_mutex
  ConnectState m_connectState = ConnectState::kConnecting;  // guarded by m_mutex
  std::uint64_t m_connectsEnded = 0;                        // guarded by m_mutex
  std::condition_variable m_connectEnded;
  PrinterLock m_lock;
};

class PrinterRegistry {
 public:
  PrinterRegistry(LinkHost& host, Clock& clock, LinkTimings timings = {});
  // Closes every port, whoever is still attached.
  ~PrinterRegistry();
  PrinterRegistry(const PrinterRegistry&) = delete;
  PrinterRegistry& operator=(const PrinterRegistry&) = delete;

  struct Attachment {
    std::shared_ptr<PrinterEntry> entry;
    bool created = false;
    // This caller connects the link and reports the outcome with FinishConnect: it created the
    // entry, or the connect of the entry's earlier client failed. Otherwise a connect may
    // still be running, and the caller waits for it with WaitConnected.
    bool connects = false;
  };

  // Finds or creates the port's entry and records one attachment under the caller name. When
  // this caller connects and `lockOwner` is given, the entry is already locked for that owner
  // (one counted Lock) before any other caller can see it.
  Attachment AttachClient(std::uint32_t portNumber, const std::string& callerName,
                          const void* lockOwner = nullptr);
  // Records one detachment; true when it removed the entry. The port is closed before this
  // returns unless a call still running on the link holds it; then that call closes it when it
  // ends.
  bool DetachClient(std::uint32_t portNumber, const std::string& callerName);

  using Visitor = std::function<void(std::uint32_t portNumber, const PrinterEntry& entry)>;
  // Visits every entry, in port order, under the registry mutex: the visitor must not call
  // back into the registry.
  void ForEachEntry(const Visitor& visitor) const;
  std::size_t EntryCount() const;

  LinkHost& Host() const { return m_host; }

 private:
  void LinkClosed(std::uint32_t portNumber);

  LinkHost& m_host;
  Clock& m_clock;
  const LinkTimings m_timings;
  mutable std::mutex m_mutex;
  std::condition_variable m_portClosed;
  std::map<std::uint32_t, std::shared_ptr<PrinterEntry>> m_entries;  // guarded by m_mutex
  // Ports whose link is being destroyed: a new attach waits until the port is closed.
  std::multiset<std::uint32_t> m_closing;  // guarded by m_mutex
};

}  // namespace vekta
