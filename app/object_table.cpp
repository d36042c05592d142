#include "app/object_table.h"

#include <algorithm>
#include <random>
#include <vector>

namespace vekta {

std::string NewObjectId() {
  static thread_local std::random_device device;
  static thread_local std::mt19937_64 engine{(static_cast<std::uint64_t>(device()) << 32) ^
                                             device()};
  static const char* kHex = "0123456789abcdef";
  std::string id;
  for (int half = 0; half < 2; ++half) {
    // Each half is reseeded from the device so that ids do not follow from earlier ones.
    std::uint64_t bits = (static_cast<std::uint64_t>(device()) << 32) ^ device() ^ engine();
    for (int i = 0; i < 16; ++i) {
      id.push_back(kHex[bits & 0xF]);
      bits >>= 4;
    }
  }
  return id;
}

ObjectTable::ObjectTable(const Clock& clock) : m_clock(clock), m_reaper([this] { ReaperLoop(); }) {}

ObjectTable::~ObjectTable() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onEmpty = nullptr;
  }
  Shutdown();
}

void ObjectTable::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_reaper.joinable()) m_reaper.join();
  ReleaseAll();
}

void ObjectTable::SetOnEmpty(std::function<void()> onEmpty) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_onEmpty = std::move(onEmpty);
}

std::string ObjectTable::Add(std::unique_ptr<ServedObject> object, std::int64_t leaseMs) {
  auto entry = std::make_shared<Entry>();
  entry->object = std::move(object);
  entry->leaseMs = leaseMs;
  std::string id;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A creation that was under way when the server began to close would outlive the ports.
    if (m_stopping || m_closed || m_entries.size() >= m_maxObjects) return {};
    do {
      id = NewObjectId();
    } while (m_entries.count(id));
    entry->id = id;
    entry->deadline = LeaseEnd(*entry);
    m_entries.emplace(id, entry);
    ++m_created;
  }
  m_wake.notify_all();
  return id;
}

void ObjectTable::SetMaxObjects(std::size_t maxObjects) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_maxObjects = maxObjects;
}

std::size_t ObjectTable::MaxObjects() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_maxObjects;
}

ObjectTable::Stored ObjectTable::FindStored(const Entry& entry, const std::string& key,
                                            const std::string& call, StoredResponse& answer) {
  auto stored = key.empty() ? entry.idempotent.end() : entry.idempotent.find(key);
  if (stored == entry.idempotent.end()) return Stored::kNone;
  if (stored->second.call != call) return Stored::kOtherCall;
  answer = stored->second;
  return Stored::kReplay;
}

void ObjectTable::Store(Entry& entry, const std::string& key, StoredResponse answer) {
  if (key.empty()) return;
  entry.idempotent.emplace(key, std::move(answer));
  entry.idempotentOrder.push_back(key);
  if (entry.idempotentOrder.size() > kMaxStoredResponses) {
    entry.idempotent.erase(entry.idempotentOrder.front());
    entry.idempotentOrder.pop_front();
  }
}

std::shared_ptr<ObjectTable::Entry> ObjectTable::BeginCall(const std::string& id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return nullptr;
  it->second->deadline = LeaseEnd(*it->second);
  ++it->second->callsInFlight;
  return it->second;
}

std::shared_ptr<ObjectTable::Entry> ObjectTable::Find(const std::string& id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_entries.find(id);
  return it == m_entries.end() ? nullptr : it->second;
}

void ObjectTable::EndCall(const std::shared_ptr<Entry>& entry) {
  EndCall(entry->id);
}

void ObjectTable::EndCall(const std::string& id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return;
  --it->second->callsInFlight;
  it->second->deadline = LeaseEnd(*it->second);
}

bool ObjectTable::Renew(const std::string& id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return false;
  it->second->deadline = LeaseEnd(*it->second);
  return true;
}

bool ObjectTable::Release(const std::string& id) {
  std::shared_ptr<Entry> gone;
  bool wasLast = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_entries.find(id);
    if (it == m_entries.end()) return false;
    gone = std::move(it->second);
    m_entries.erase(it);
    wasLast = m_entries.empty();
  }
  // The object is destroyed here, or when a call still running on it returns; such a call
  // stops waiting for other clients first.
  if (gone->object) gone->object->Abandon();
  gone.reset();
  NotifyIfEmpty(wasLast);
  return true;
}

void ObjectTable::ReleaseAll() {
  std::map<std::string, std::shared_ptr<Entry>> gone;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    gone.swap(m_entries);
  }
  const bool any = !gone.empty();
  for (auto& [id, entry] : gone) {
    if (entry->object) entry->object->Abandon();
  }
  gone.clear();
  NotifyIfEmpty(any);
}

std::size_t ObjectTable::Count() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries.size();
}

bool ObjectTable::Closed() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_stopping || m_closed;
}

bool ObjectTable::CloseIfNoneCreated() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_created == 0) m_closed = true;
  return m_created == 0;
}

void ObjectTable::NotifyIfEmpty(bool wasLast) {
  if (!wasLast) return;
  std::function<void()> onEmpty;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_entries.empty() || !m_onEmpty) return;
    m_closed = true;
    onEmpty = m_onEmpty;
  }
  if (onEmpty) onEmpty();
}

void ObjectTable::ExpireDue() {
  std::unique_lock<std::mutex> lock(m_mutex);
  ExpireLocked(lock);
}

Clock::TimePoint ObjectTable::ExpireLocked(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    auto next = Clock::TimePoint::max();
    std::vector<std::shared_ptr<Entry>> expired;
    const auto now = m_clock.Now();
    for (auto it = m_entries.begin(); it != m_entries.end();) {
      Entry& e = *it->second;
      if (e.callsInFlight == 0 && e.deadline <= now) {
        expired.push_back(std::move(it->second));
        it = m_entries.erase(it);
      } else {
        // An entry with a call running is looked at again soon after the call.
        next = std::min(next, e.callsInFlight ? now + std::chrono::seconds(1) : e.deadline);
        ++it;
      }
    }
    if (expired.empty()) return next;
    const bool wasLast = m_entries.empty();
    lock.unlock();
    // Every client that went quiet gives back its printer lock and ends its waits first: the
    // final release of one may take seconds (an open receipt aborted, its port closed), and
    // the others' locks would be held all that while.
    for (const auto& entry : expired) {
      if (entry->object) entry->object->Abandon();
    }
    expired.clear();  // the final release of each, outside the lock
    NotifyIfEmpty(wasLast);
    lock.lock();
  }
}

void ObjectTable::ReaperLoop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_stopping) {
    const Clock::TimePoint next = ExpireLocked(lock);
    if (m_stopping) break;
    if (next == Clock::TimePoint::max()) {
      m_wake.wait(lock);
    } else {
      // On the table's clock: the wait is that long in real time, and a test that moves a
      // fake clock calls ExpireDue itself.
      m_wake.wait_for(lock, next - m_clock.Now());
    }
  }
}

}  // namespace vekta
