#pragma once

// How the daemon's callers hold a port's link. A SharedLink gives the link only as const: the
// snapshot readers (Sums(), Config(), LastErrorText()...) and the flags, which never wait behind
// a running command. The operations that talk to the printer are reached only through Lock(),
// whose LockedLink holds the link's command mutex for as long as it lives; so an operation
// called without the mutex does not compile.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "link/printer_link.h"

namespace vekta {

class LockedLink {
 public:
  PrinterLink& operator*() const { return *m_link; }
  PrinterLink* operator->() const { return m_link; }

 private:
  friend class SharedLink;
  explicit LockedLink(PrinterLink& link) : m_command(link.m_commandMutex), m_link(&link) {}

  std::unique_lock<std::mutex> m_command;
  PrinterLink* m_link;
};

class SharedLink {
 public:
  SharedLink() = default;
  explicit SharedLink(std::shared_ptr<PrinterLink> link) : m_link(std::move(link)) {}

  explicit operator bool() const { return m_link != nullptr; }
  bool operator==(std::nullptr_t) const { return m_link == nullptr; }

  const PrinterLink& operator*() const { return *m_link; }
  const PrinterLink* operator->() const { return m_link.get(); }

  // Waits for the command mutex; the link's operations run on what it returns.
  LockedLink Lock() const { return LockedLink(*m_link); }

  // What a caller may change while a command runs.
  void SetShowStatusWindows(bool on) const { m_link->SetShowStatusWindows(on); }
  void SetShowErrorMessages(bool on) const { m_link->SetShowErrorMessages(on); }
  // Reading the last error consumes it for every client of the port.
  std::string TakeLastErrorText() const { return m_link->TakeLastErrorText(); }
  // Counted by the running command; read and reset by the metrics under the registry's lock.
  LinkStats& Stats() const { return m_link->Stats(); }

 private:
  std::shared_ptr<PrinterLink> m_link;
};

}  // namespace vekta
