#pragma once

// The live objects of the object protocol with their leases. An object lives until DELETE or
// until its lease runs out; both are its final release (the object is destroyed, which
// detaches it from its port). A call in progress keeps the object alive until it returns.
//
// Lock order: an entry's call mutex before the table mutex (the daemon's whole order is in
// service/printer_registry.h).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/object_backend.h"
#include "platform/clock.h"

namespace vekta {

constexpr std::int64_t kDefaultLeaseMs = 300'000;
constexpr std::int64_t kMaxLeaseMs = 24LL * 3600 * 1000;
constexpr std::size_t kDefaultMaxObjects = 10'000;

// A stored answer for a repeated Idempotency-Key, with the call it answered: a digest of the
// member, how it was invoked and the converted arguments.
struct StoredResponse {
  int status = 200;
  std::string body;
  std::string call;
};

class ObjectTable {
 public:
  struct Entry {
    std::string id;
    std::unique_ptr<ServedObject> object;
    std::int64_t leaseMs = kDefaultLeaseMs;
    // Calls on one object run one at a time, as on the object's own thread. One whose turn on
    // an executor comes while another runs waits in `turns`, off the executor: a long wait of
    // this object (a printer lock, pending messages) holds no other client's call back.
    struct Turns {
      std::mutex mutex;
      bool running = false;                       // guarded by mutex
      std::deque<std::function<void()>> waiting;  // guarded by mutex
    };
    std::shared_ptr<Turns> turns = std::make_shared<Turns>();
    std::mutex callMutex;
    // guarded by callMutex
    std::map<std::string, StoredResponse> idempotent;
    std::deque<std::string> idempotentOrder;

    Clock::TimePoint deadline;  // guarded by the table mutex
    int callsInFlight = 0;      // guarded by the table mutex
  };

  // Leases run on `clock`.
  explicit ObjectTable(const Clock& clock);
  ~ObjectTable();  // releases every object still alive
  ObjectTable(const ObjectTable&) = delete;
  ObjectTable& operator=(const ObjectTable&) = delete;

  // For a server that ends with its last object: once that has gone the table takes no more
  // (one taken as the server closes would be released at once, after its creation was answered)
  // and `onEmpty` is called, outside the table's lock.
  void SetOnEmpty(std::function<void()> onEmpty);

  // Empty when the table already holds its limit of live objects, or takes no more.
  std::string Add(std::unique_ptr<ServedObject> object, std::int64_t leaseMs);
  void SetMaxObjects(std::size_t maxObjects);
  std::size_t MaxObjects() const;
  // Null for an unknown or released id. A found entry counts as a call in flight (its lease
  // does not run out) until EndCall; the lease is renewed at both ends.
  std::shared_ptr<Entry> BeginCall(const std::string& id);
  // The entry without renewing its lease (a request is checked before it counts as a call).
  std::shared_ptr<Entry> Find(const std::string& id) const;
  void EndCall(const std::shared_ptr<Entry>& entry);
  // The same by id: nothing when the object was released meanwhile.
  void EndCall(const std::string& id);
  bool Renew(const std::string& id);
  // Releases the objects whose lease has run out by the clock, now. The table does this by
  // itself as time passes; a test that moved its clock calls it.
  void ExpireDue();
  bool Release(const std::string& id);
  void ReleaseAll();
  // Stops the lease expiry (waiting for a release it is making) and releases every object:
  // after it no object of the table is alive, so what they use may go.
  void Shutdown();
  std::size_t Count() const;
  // Whether the table takes no more objects (it is shutting down, or emptied under SetOnEmpty).
  bool Closed() const;
  // For an on-demand process that no client came to: when no object was ever created, the
  // table takes none from now on, and true.
  bool CloseIfNoneCreated();

  // Idempotency keys kept per object; the oldest go first.
  static constexpr std::size_t kMaxStoredResponses = 256;

  // With the entry's callMutex held. A key stands for one call: a repeat of that call (the same
  // `call` fingerprint) gets its stored answer; the same key on any other call is kOtherCall,
  // since answering it from the record would report as done a call that never ran.
  enum class Stored { kNone, kReplay, kOtherCall };
  static Stored FindStored(const Entry& entry, const std::string& key, const std::string& call,
                           StoredResponse& answer);
  static void Store(Entry& entry, const std::string& key, StoredResponse answer);

 private:
  void ReaperLoop();
  // With `lock` on m_mutex: takes the expired entries out and releases them outside the lock.
  // Returns when the next lease runs out (max when none can).
  Clock::TimePoint ExpireLocked(std::unique_lock<std::mutex>& lock);
  Clock::TimePoint LeaseEnd(const Entry& entry) const {
    return m_clock.Now() + std::chrono::milliseconds(entry.leaseMs);
  }
  void NotifyIfEmpty(bool wasLast);

  const Clock& m_clock;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<std::string, std::shared_ptr<Entry>> m_entries;  // guarded by m_mutex
  std::uint64_t m_created = 0;                              // guarded by m_mutex
  std::size_t m_maxObjects = kDefaultMaxObjects;            // guarded by m_mutex
  bool m_stopping = false;                                  // guarded by m_mutex
  bool m_closed = false;            // takes no more objects; guarded by m_mutex
  std::function<void()> m_onEmpty;  // guarded by m_mutex
  std::thread m_reaper;
};

// 128 random bits as 32 lower-case hex digits.
std::string NewObjectId();

}  // namespace vekta
