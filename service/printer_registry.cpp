#include "service/printer_registry.h"

#include <algorithm>
#include <chrono>

namespace vekta {

bool PrinterLock::Lock(const void* owner, std::uint32_t timeoutMs,
                       const std::atomic<bool>* abandoned) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto gone = [&] { return abandoned != nullptr && abandoned->load(); };
  auto done = [&] { return gone() || m_owner == nullptr || m_owner == owner; };
  if (timeoutMs == kInfinite) {
    m_released.wait(lock, done);
  } else if (!m_released.wait_for(lock, std::chrono::milliseconds(timeoutMs), done)) {
    return false;
  }
  if (gone()) return false;
  m_owner = owner;
  ++m_depth;
  ++m_lockCount;
  return true;
}

bool PrinterLock::Unlock(const void* owner) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_owner != owner || m_depth == 0) return true;
  --m_lockCount;
  if (--m_depth == 0) {
    m_owner = nullptr;
    m_released.notify_all();
  }
  return true;
}

void PrinterLock::ReleaseAll(const void* owner) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_owner != owner || m_depth == 0) return;
  m_lockCount -= m_depth;
  m_depth = 0;
  m_owner = nullptr;
  m_released.notify_all();
}

bool PrinterLock::IsHeldBy(const void* owner) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_depth > 0 && m_owner == owner;
}

void PrinterLock::WakeWaiters() {
  // Under the mutex, so that a waiter that has just found its flag clear is already waiting.
  std::lock_guard<std::mutex> lock(m_mutex);
  m_released.notify_all();
}

PrinterEntry::PrinterEntry(std::uint32_t portNumber, std::shared_ptr<PrinterLink> link)
    : m_portNumber(portNumber), m_link(std::move(link)) {}

SharedLink PrinterEntry::Link() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return SharedLink(m_link);
}

std::vector<std::string> PrinterEntry::ClientNames() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_clientNames;
}

void PrinterEntry::FinishConnect(bool connected) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_connectState = connected ? ConnectState::kConnected : ConnectState::kFailed;
  ++m_connectsEnded;
  m_connectEnded.notify_all();
}

bool PrinterEntry::WaitConnected(const std::atomic<bool>* abandoned) {
  std::unique_lock<std::mutex> lock(m_mutex);
  auto gone = [&] { return abandoned != nullptr && abandoned->load(); };
  const auto connected = [&] { return m_connectState == ConnectState::kConnected; };
  if (m_connectState != ConnectState::kConnecting) return !gone() && connected();
  // The connect waited for may fail and the next client's start at once: this wait ends with
  // the first, and a link that connected never connects again.
  const std::uint64_t waitedFor = m_connectsEnded;
  m_connectEnded.wait(lock, [&] { return gone() || m_connectsEnded != waitedFor; });
  return !gone() && m_connectsEnded == waitedFor + 1 && connected();
}

void PrinterEntry::WakeWaiters() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connectEnded.notify_all();
  }
  m_lock.WakeWaiters();
}

PrinterRegistry::PrinterRegistry(LinkHost& host, Clock& clock, LinkTimings timings)
    : m_host(host), m_clock(clock), m_timings(timings) {}

PrinterRegistry::~PrinterRegistry() {
  std::vector<std::shared_ptr<PrinterLink>> links;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [port, entry] : m_entries) {
      std::lock_guard<std::mutex> entryLock(entry->m_mutex);
      if (entry->m_link) {
        m_closing.insert(port);
        links.push_back(std::move(entry->m_link));
      }
    }
    m_entries.clear();
  }
  links.clear();  // closes every port no call is using
  // A call still running on a link closes its port when it ends; the registry outlives it.
  std::unique_lock<std::mutex> lock(m_mutex);
  m_portClosed.wait(lock, [&] { return m_closing.empty(); });
}

PrinterRegistry::Attachment PrinterRegistry::AttachClient(std::uint32_t portNumber,
                                                          const std::string& callerName,
                                                          const void* lockOwner) {
  std::unique_lock<std::mutex> lock(m_mutex);
  Attachment result;
  auto found = m_entries.find(portNumber);
  if (found == m_entries.end()) {
    // The old link of this port may still be closing it: the new one could not open it.
    m_portClosed.wait(lock, [&] { return m_closing.count(portNumber) == 0; });
    found = m_entries.find(portNumber);  // another attach may have created it meanwhile
  }
  if (found != m_entries.end()) {
    result.entry = found->second;
    // A client that comes after a failed connect tries again, on the same link, rather than
    // sharing a link that never connected.
    {
      std::lock_guard<std::mutex> entryLock(result.entry->m_mutex);
      if (result.entry->m_connectState == PrinterEntry::ConnectState::kFailed) {
        result.entry->m_connectState = PrinterEntry::ConnectState::kConnecting;
        result.connects = true;
      }
    }
    if (result.connects && lockOwner != nullptr) result.entry->Lock(lockOwner, 0);
  } else {
    // The deleter marks the port closed once the link (and with it the port) is gone,
    // wherever the last reference is dropped.
    auto* link = new PrinterLink(static_cast<std::int32_t>(portNumber), m_host, m_clock, m_timings);
    std::shared_ptr<PrinterLink> shared(link, [this, portNumber](PrinterLink* p) {
      p->ClosePort();
      delete p;
      LinkClosed(portNumber);
    });
    result.entry = std::make_shared<PrinterEntry>(portNumber, std::move(shared));
    if (lockOwner != nullptr) result.entry->Lock(lockOwner, 0);
    m_entries.emplace(portNumber, result.entry);
    result.created = true;
    result.connects = true;
  }
  {
    std::lock_guard<std::mutex> entryLock(result.entry->m_mutex);
    result.entry->m_clientNames.push_back(callerName);
  }
  ++result.entry->m_referenceCount;
  return result;
}

bool PrinterRegistry::DetachClient(std::uint32_t portNumber, const std::string& callerName) {
  std::shared_ptr<PrinterLink> link;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_entries.find(portNumber);
    if (found == m_entries.end()) return false;
    PrinterEntry& entry = *found->second;
    {
      std::lock_guard<std::mutex> entryLock(entry.m_mutex);
      auto name = std::find(entry.m_clientNames.begin(), entry.m_clientNames.end(), callerName);
      if (name != entry.m_clientNames.end()) entry.m_clientNames.erase(name);
    }
    if (entry.m_referenceCount.load() >= 1) --entry.m_referenceCount;
    if (entry.m_referenceCount.load() != 0) return false;
    {
      std::lock_guard<std::mutex> entryLock(entry.m_mutex);
      link = std::move(entry.m_link);
    }
    if (link) m_closing.insert(portNumber);
    m_entries.erase(found);
  }
  link.reset();  // closes the port unless a running call still holds the link
  return true;
}

void PrinterRegistry::LinkClosed(std::uint32_t portNumber) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_closing.find(portNumber);
  if (found != m_closing.end()) m_closing.erase(found);
  m_portClosed.notify_all();
}

void PrinterRegistry::ForEachEntry(const Visitor& visitor) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& [port, entry] : m_entries) visitor(port, *entry);
}

std::size_t PrinterRegistry::EntryCount() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_entries.size();
}

}  // namespace vekta
