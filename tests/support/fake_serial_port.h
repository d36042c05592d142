#pragma once

// An in-memory serial line for unit tests of the protocol code. The link owns the port; the
// test keeps the FakeLine it was made from and plays the printer through it.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/serial_port.h"
#include "sim/frame_parser.h"

namespace vekta {

class FakeLine {
 public:
  // Answers each frame the link writes with the returned messages (Windows-1251 texts, framed
  // and converted to 866 by the line). The wake-up byte 0x55 arrives as the command "\x55".
  using Responder = std::function<std::vector<std::string>(const std::string& command1251)>;

  // Bytes delivered to the link by one Read each (a chunk is never merged with the next).
  // While the port is open, returns only once the reader has taken the chunk and come back for
  // more, so a test (or a FakeClock action) sees the messages queued when Feed returns.
  void Feed(std::vector<std::uint8_t> chunk);
  // A whole frame around the text: 0xFD, text in 866, length byte, 0xFE; one Read.
  void FeedFrame(const std::string& text1251);
  void SetResponder(Responder responder) { Set(m_responder, std::move(responder)); }

  // Everything the link wrote, and the texts of the frames among it (back in 1251).
  std::vector<std::uint8_t> Written() const { return Locked(m_written); }
  std::vector<std::string> SentCommands() const { return Locked(m_sent); }
  void ClearSent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sent.clear();
    m_written.clear();
  }

  // Line state as the link left it.
  bool Dtr() const { return Locked(m_dtr); }
  bool Rts() const { return Locked(m_rts); }
  bool IsOpen() const { return Locked(m_holder) != nullptr; }
  std::string OpenedPath() const { return Locked(m_openedPath); }

  // Faults: the next Open fails; line errors reported by the next TakeLineErrors (and a Read
  // that returns kLineError).
  void FailNextOpen() { Set(m_failOpen, true); }
  void InjectLineErrors(std::string names);
  // Every later write fails while reads go on as before (a device that stopped taking bytes).
  void FailWrites() { Set(m_failWrites, true); }

 private:
  friend class FakeSerialPort;
  template <class T>
  T Locked(const T& member) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return member;
  }
  template <class T>
  void Set(T& member, T value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    member = std::move(value);
  }
  // Wakes the reader and waits until it has taken everything pending.
  void Deliver(std::unique_lock<std::mutex>& lock);
  mutable std::mutex m_mutex;
  std::vector<std::vector<std::uint8_t>> m_pending;  // guarded by m_mutex
  std::vector<std::uint8_t> m_written;               // guarded by m_mutex
  std::vector<std::string> m_sent;                   // guarded by m_mutex
  Responder m_responder;                             // guarded by m_mutex
  bool m_dtr = false, m_rts = false, m_failOpen = false;
  bool m_failWrites = false, m_interrupted = false;
  int m_lineErrorReads = 0;
  std::string m_lineErrors;
  std::string m_openedPath;
  SimFrameParser m_parser;              // cuts the frames the link writes
  Event m_readable;                     // set while m_pending holds chunks or a stop
  bool m_readerWaiting = false;         // the reader is blocked in Read with nothing pending
  std::condition_variable m_delivered;  // signalled when the reader comes back to wait
  void* m_holder = nullptr;             // the open port object, for exclusive use
};

std::unique_ptr<SerialPort> MakeFakeSerialPort(std::shared_ptr<FakeLine> line);

}  // namespace vekta
