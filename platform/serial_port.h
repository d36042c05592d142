#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vekta {

// Outcome of one blocking read of the serial line.
enum class ReadStatus {
  kData,       // at least one byte arrived: the bytes the driver held when the read woke
  kTimeout,    // the time-out passed with no byte
  kLineError,  // the line reported an error and no byte was read; the caller goes on reading
  kStopped,    // Interrupt() was called: the reader must end
  kLost,       // the device vanished (EIO, ENODEV, hang-up): the link is lost
};

// Why the last Open failed: the step ("open", "lock" or "configure") and its errno.
struct SerialOpenError {
  std::string step;
  int error = 0;
};

// The serial line to one printer. The termios implementation owns a tty device; the fake one
// (tests) is fed by hand. Every method but Read and Interrupt is called from the command thread;
// Read runs on the reader thread, Interrupt from any thread.
class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Opens the device exclusively (a second open of a held device fails) and applies the
  // printer's line settings: 57600 baud, 8 data bits, even parity, 2 stop bits, raw, no flow
  // control, DTR on, RTS off; both directions purged. False when the device cannot be opened.
  virtual bool Open(const std::string& devicePath) = 0;
  // After a failed Open: why. Empty after a success, and where a port cannot tell.
  virtual SerialOpenError LastOpenError() const { return {}; }
  virtual bool IsOpen() const = 0;
  // Drops DTR, purges both directions and closes the device. Harmless when not open.
  virtual void Close() = 0;

  // Modem lines; false where the device does not have them (a pseudo-terminal).
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;
  // Discards everything not yet sent and not yet read.
  virtual void Purge() = 0;
  // Writes every byte and waits until the line has sent them. False on a write error.
  virtual bool WriteAll(const std::uint8_t* data, std::size_t size) = 0;

  // Blocks until bytes arrive, `timeoutMs` pass (negative: no limit) or Interrupt() is called;
  // no polling. Returns at once with the bytes that have arrived (at most `capacity`), without
  // waiting for more: a frame carries its own end byte. `received` is the number stored.
  virtual ReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                          int timeoutMs) = 0;
  // Wakes a blocked Read, which returns kStopped; every later Read returns kStopped at once
  // until the port is opened again.
  virtual void Interrupt() = 0;

  // The line errors counted since the last call, as the channel diagnostic names them:
  // " CE_BREAK", " CE_FRAME", " CE_OVERRUN", " CE_RXOVER", " CE_RXPARITY" in that order,
  // each with its leading blank. Empty when there were none or the device cannot count them.
  virtual std::string TakeLineErrors() = 0;
};

// Line error counters as a serial driver keeps them (they only grow, and may wrap).
struct LineErrorCounts {
  std::uint32_t brk = 0;
  std::uint32_t frame = 0;
  std::uint32_t overrun = 0;
  std::uint32_t bufferOverrun = 0;
  std::uint32_t parity = 0;
};
// The names TakeLineErrors gives for the counters that moved between two readings.
std::string LineErrorNames(const LineErrorCounts& before, const LineErrorCounts& after);

// The termios implementation (platform/termios_serial_port.cpp).
std::unique_ptr<SerialPort> MakeTermiosSerialPort();

}  // namespace vekta
