#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/serial_port.h"

namespace vekta {
namespace {

constexpr speed_t kBaudRate = B57600;
// Bytes per second at 57600 baud with 12 bits a byte (start, 8 data, parity, 2 stop).
constexpr long kLineBytesPerSecond = 57600 / 12;
// Extra time a write may wait for room on top of the line time of what is left to send; a
// device that takes no byte for this long is not coming back.
constexpr int kWriteStallMs = 2000;

class TermiosSerialPort final : public SerialPort {
 public:
  TermiosSerialPort() : m_wakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  ~TermiosSerialPort() override {
    Close();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
  }

  TermiosSerialPort(const TermiosSerialPort&) = delete;
  TermiosSerialPort& operator=(const TermiosSerialPort&) = delete;

  bool Open(const std::string& devicePath) override {
    Close();
    m_openError = {};
    if (m_wakeFd < 0 || devicePath.empty()) {
      m_openError = {"open", m_wakeFd < 0 ? EMFILE : ENOENT};
      return false;
    }
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      m_openError = {"open", errno};
      return false;
    }
    // flock is what keeps a second opener out: root ignores TIOCEXCL, and another process of
    // ours may try the same port.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      m_openError = {"lock", errno};
      ::close(fd);
      return false;
    }
    ::ioctl(fd, TIOCEXCL);
    if (!ApplyLineSettings(fd)) {
      m_openError = {"configure", errno};
      ::ioctl(fd, TIOCNXCL);
      ::close(fd);
      return false;
    }
    SetModemLine(fd, TIOCM_DTR, true);
    SetModemLine(fd, TIOCM_RTS, false);
    ::tcflush(fd, TCIOFLUSH);

    {
      std::lock_guard<std::mutex> lock(m_countsMutex);
      m_countersAvailable = ReadCounts(fd, m_takenCounts);
      m_seenCounts = m_takenCounts;
    }
    std::uint64_t pending = 0;
    while (::read(m_wakeFd, &pending, sizeof pending) > 0) {
    }
    m_stopped = false;
    m_fd = fd;
    return true;
  }

  bool IsOpen() const override { return m_fd.load() >= 0; }
  SerialOpenError LastOpenError() const override { return m_openError; }

  void Close() override {
    int fd = m_fd.exchange(-1);
    if (fd < 0) return;
    SetModemLine(fd, TIOCM_DTR, false);
    ::tcflush(fd, TCIOFLUSH);
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);  // releases the flock
  }

  bool SetDtr(bool on) override {
    int fd = m_fd.load();
    return fd >= 0 && SetModemLine(fd, TIOCM_DTR, on);
  }

  bool SetRts(bool on) override {
    int fd = m_fd.load();
    return fd >= 0 && SetModemLine(fd, TIOCM_RTS, on);
  }

  void Purge() override {
    int fd = m_fd.load();
    if (fd >= 0) ::tcflush(fd, TCIOFLUSH);
  }

  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    int fd = m_fd.load();
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fd, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) return false;
      // The driver's buffer is full: wait for room, but not for ever.
      const long lineMs = static_cast<long>(size - done) * 1000 / kLineBytesPerSecond;
      pollfd out{fd, POLLOUT, 0};
      int ready = ::poll(&out, 1, static_cast<int>(lineMs) + kWriteStallMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (out.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
    }
    while (::tcdrain(fd) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  ReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                  int timeoutMs) override {
    received = 0;
    if (m_stopped.load()) return ReadStatus::kStopped;
    int fd = m_fd.load();
    if (fd < 0) return ReadStatus::kLost;
    if (capacity == 0) return ReadStatus::kData;
    if (HasUnreportedLineErrors(fd)) return ReadStatus::kLineError;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int waitMs = -1;
      if (timeoutMs >= 0) {
        // rounded up: a wait cut short by a fraction of a millisecond would end too early
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        waitMs = static_cast<int>(std::max<long long>(0, left.count()));
      }
      pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
      int ready = ::poll(fds, 2, waitMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        return ReadStatus::kLost;
      }
      if (fds[1].revents != 0 || m_stopped.load()) return ReadStatus::kStopped;
      if (ready == 0) return ReadStatus::kTimeout;

      if (fds[0].revents & POLLIN) {
        // Whatever the driver holds now, and nothing more: a frame's end byte is handed on
        // the moment it arrives.
        ssize_t n = ::read(fd, buffer, capacity);
        if (n > 0) {
          received = static_cast<std::size_t>(n);
          return ReadStatus::kData;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        // read() giving 0 on a tty is a hang-up; any other error leaves nothing to read from
        return ReadStatus::kLost;
      }
      if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return ReadStatus::kLost;
    }
  }

  void Interrupt() override {
    m_stopped = true;
    std::uint64_t one = 1;
    while (::write(m_wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  std::string TakeLineErrors() override {
    int fd = m_fd.load();
    std::lock_guard<std::mutex> lock(m_countsMutex);
    LineErrorCounts now;
    if (fd < 0 || !m_countersAvailable || !ReadCounts(fd, now)) return {};
    std::string names = LineErrorNames(m_takenCounts, now);
    m_takenCounts = now;
    m_seenCounts = now;
    return names;
  }

 private:
  static bool ApplyLineSettings(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;  // not a terminal: no printer behind it
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARODD | CRTSCTS);
    tio.c_cflag |= CS8 | PARENB | CSTOPB | CREAD;
    tio.c_cflag |= CLOCAL;  // without it a write blocks until the modem lines say carrier
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | PARMRK | ISTRIP);
    // A byte that arrives damaged is dropped and counted, never passed on as a NUL inside a
    // printer message.
    tio.c_iflag |= INPCK | IGNPAR | IGNBRK;
    // Reads never block in the driver: Read waits in poll() where Interrupt can reach it.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, kBaudRate) != 0 || ::cfsetospeed(&tio, kBaudRate) != 0) return false;
    // The result of tcsetattr is not the verdict: a pseudo-terminal silently drops PARENB
    // and the C library then reports a failure. What matters is read back instead.
    ::tcsetattr(fd, TCSANOW, &tio);
    termios applied{};
    return ::tcgetattr(fd, &applied) == 0 && ::cfgetospeed(&applied) == kBaudRate &&
           ::cfgetispeed(&applied) == kBaudRate && (applied.c_cflag & CSIZE) == CS8 &&
           (applied.c_cflag & (CSTOPB | CLOCAL | CREAD)) == (CSTOPB | CLOCAL | CREAD) &&
           (applied.c_lflag & (ICANON | ECHO | ISIG)) == 0 &&
           (applied.c_iflag & (IXON | IXOFF)) == 0;
  }

  // False where the device has no modem lines (a pseudo-terminal): not applicable, no error.
  static bool SetModemLine(int fd, int line, bool on) {
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
  }

  static bool ReadCounts(int fd, LineErrorCounts& counts) {
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
    counts.brk = static_cast<std::uint32_t>(icount.brk);
    counts.frame = static_cast<std::uint32_t>(icount.frame);
    counts.overrun = static_cast<std::uint32_t>(icount.overrun);
    counts.bufferOverrun = static_cast<std::uint32_t>(icount.buf_overrun);
    counts.parity = static_cast<std::uint32_t>(icount.parity);
    return true;
  }

  // Errors the line counted since the last look are reported once, by a read that returns
  // kLineError before it waits for more bytes.
  bool HasUnreportedLineErrors(int fd) {
    std::lock_guard<std::mutex> lock(m_countsMutex);
    LineErrorCounts now;
    if (!m_countersAvailable || !ReadCounts(fd, now)) return false;
    if (LineErrorNames(m_seenCounts, now).empty()) return false;
    m_seenCounts = now;
    return true;
  }

  std::atomic<int> m_fd{-1};
  SerialOpenError m_openError;  // written and read by the thread that opens the port
  const int m_wakeFd;           // eventfd; readable from Interrupt until the next Open
  std::atomic<bool> m_stopped{false};

  std::mutex m_countsMutex;
  bool m_countersAvailable = false;  // guarded by m_countsMutex
  LineErrorCounts m_takenCounts;     // guarded by m_countsMutex; as of the last TakeLineErrors
  LineErrorCounts m_seenCounts;      // guarded by m_countsMutex; as of the last kLineError
};

}  // namespace

std::string LineErrorNames(const LineErrorCounts& before, const LineErrorCounts& after) {
  std::string names;
  if (after.brk != before.brk) names += " CE_BREAK";
  if (after.frame != before.frame) names += " CE_FRAME";
  if (after.overrun != before.overrun) names += " CE_OVERRUN";
  if (after.bufferOverrun != before.bufferOverrun) names += " CE_RXOVER";
  if (after.parity != before.parity) names += " CE_RXPARITY";
  return names;
}

std::unique_ptr<SerialPort> MakeTermiosSerialPort() {
  return std::make_unique<TermiosSerialPort>();
}

}  // namespace vekta
