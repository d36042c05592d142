#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

// The printer's end of a pseudo-terminal; the port under test opens the other end.
class PtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(m_master, 0);
    ASSERT_EQ(::grantpt(m_master), 0);
    ASSERT_EQ(::unlockpt(m_master), 0);
    m_slavePath = ::ptsname(m_master);
    m_port = MakeTermiosSerialPort();
    ASSERT_TRUE(m_port->Open(m_slavePath));
  }
  void TearDown() override { CloseMaster(); }

  void CloseMaster() {
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
  }

  void SendFromPrinter(const std::string& bytes) {
    ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads from the printer's end until `size` bytes came or nothing came for two seconds.
  std::string ReceiveAtPrinter(std::size_t size) {
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < size) {
      pollfd in{m_master, POLLIN, 0};
      if (::poll(&in, 1, 2000) <= 0) break;
      ssize_t n = ::read(m_master, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }

  struct Chunk {
    ReadStatus status;
    std::string bytes;
    bool operator==(const Chunk&) const = default;
    friend void PrintTo(const Chunk& c, std::ostream* os) {
      *os << int(c.status) << ' ' << c.bytes;
    }
  };
  static Chunk Data(std::string bytes) { return {ReadStatus::kData, std::move(bytes)}; }
  static Chunk ReadChunk(SerialPort& port, std::size_t capacity = 4096, int timeoutMs = 2000) {
    std::vector<std::uint8_t> buffer(capacity);
    std::size_t received = 0;
    ReadStatus status = port.Read(buffer.data(), capacity, received, timeoutMs);
    return {status, std::string(buffer.begin(), buffer.begin() + received)};
  }

  int m_master = -1;
  std::string m_slavePath;
  std::unique_ptr<SerialPort> m_port;
};

TEST_F(PtyTest, OpenAppliesThePrinterLineSettingsAndHoldsThePortExclusively) {
  EXPECT_TRUE(m_port->IsOpen());
  termios tio{};
  ASSERT_EQ(::tcgetattr(m_master, &tio), 0);
  EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | CLOCAL | CREAD | CRTSCTS),
            static_cast<tcflag_t>(CS8 | CSTOPB | CLOCAL | CREAD));
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B57600));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK),
            static_cast<tcflag_t>(INPCK));
  EXPECT_FALSE(tio.c_oflag & OPOST);

  // A pseudo-terminal has no modem lines and no error counters: that is no failure.
  EXPECT_FALSE(m_port->SetDtr(true));
  EXPECT_EQ(m_port->TakeLineErrors(), "");
  m_port->Purge();
  EXPECT_TRUE(m_port->IsOpen());

  // Held exclusively, also through a [Ports] symlink to the device and against another process.
  auto second = MakeTermiosSerialPort();
  EXPECT_FALSE(second->Open(m_slavePath));
  const TempDir dir;
  const std::string link = dir.Path() + "/printer";
  std::filesystem::create_symlink(m_slavePath, link);
  EXPECT_FALSE(second->Open(link));
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto other = MakeTermiosSerialPort();
    ::_exit(other->Open(m_slavePath) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process opened it";

  m_port->Close();
  EXPECT_FALSE(m_port->IsOpen());
  m_port->Close();
  EXPECT_TRUE(second->Open(link));  // the lock went with the close
  second->Close();

  // A missing device and one that is no terminal: LinkSimTest, with the reasons given.
  EXPECT_FALSE(m_port->Open(""));
  EXPECT_FALSE(m_port->IsOpen());
}

TEST_F(PtyTest, ReadHandsOverWhatHasArrivedUntilInterrupted) {
  // The start of a frame comes back at once, without waiting for its end or for a gap; a read
  // with a time-out and nothing on the line says so; the rest comes with a later read.
  SendFromPrinter("\xFDXY");
  EXPECT_EQ(ReadChunk(*m_port), Data("\xFDXY"));
  EXPECT_EQ(ReadChunk(*m_port, 4096, 20).status, ReadStatus::kTimeout);
  std::thread printer([this] {
    std::this_thread::sleep_for(50ms);
    SendFromPrinter("CD\xFE");
  });
  EXPECT_EQ(ReadChunk(*m_port, 4096, -1), Data("CD\xFE"));
  printer.join();

  // A full buffer ends the chunk at once; the rest comes with the next read.
  SendFromPrinter("123456");
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(ReadChunk(*m_port, 4), Data("1234"));
  EXPECT_EQ(ReadChunk(*m_port), Data("56"));

  // Every byte value passes unchanged: no line editing, flow control or CR/LF translation.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  SendFromPrinter(all);
  std::string got;
  while (got.size() < all.size()) {
    Chunk chunk = ReadChunk(*m_port);
    ASSERT_EQ(chunk.status, ReadStatus::kData);
    got += chunk.bytes;
  }
  EXPECT_EQ(got, all);

  // Interrupt wakes a blocked Read and stops later ones.
  auto reader = std::async(std::launch::async, [&] { return ReadChunk(*m_port).status; });
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout) << "Read did not block";
  m_port->Interrupt();
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready) << "Interrupt did not wake Read";
  EXPECT_EQ(reader.get(), ReadStatus::kStopped);

  // Stopped stays stopped, even with bytes waiting, until the port is opened again.
  SendFromPrinter("READY");
  EXPECT_EQ(ReadChunk(*m_port).status, ReadStatus::kStopped);
  m_port->Close();
  ASSERT_TRUE(m_port->Open(m_slavePath));
  SendFromPrinter("READY");
  EXPECT_EQ(ReadChunk(*m_port), Data("READY"));

  // An Interrupt that comes before the Read still stops it.
  m_port->Interrupt();
  EXPECT_EQ(ReadChunk(*m_port).status, ReadStatus::kStopped);
}

TEST_F(PtyTest, WriteAllDeliversEveryByteAndAVanishedDeviceIsLost) {
  // More than the pseudo-terminal buffers, so the write has to wait for room.
  std::vector<std::uint8_t> data(10 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  auto printer = std::async(std::launch::async, [&] { return ReceiveAtPrinter(data.size()); });
  EXPECT_TRUE(m_port->WriteAll(data.data(), data.size()));
  EXPECT_EQ(printer.get(), std::string(data.begin(), data.end()));

  auto reader = std::async(std::launch::async, [&] { return ReadChunk(*m_port).status; });
  EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
  CloseMaster();
  ASSERT_EQ(reader.wait_for(2s), std::future_status::ready) << "hang-up did not wake Read";
  EXPECT_EQ(reader.get(), ReadStatus::kLost);
  EXPECT_EQ(ReadChunk(*m_port).status, ReadStatus::kLost);
  EXPECT_FALSE(m_port->WriteAll(data.data(), 1));
  m_port->Close();
  EXPECT_FALSE(m_port->WriteAll(data.data(), 1));
}

TEST(LineErrorNamesTest, NamesMovedCountersInFixedOrder) {
  EXPECT_EQ(LineErrorNames({}, {}), "");
  EXPECT_EQ(LineErrorNames({}, {.brk = 1, .bufferOverrun = 5, .parity = 2}),
            " CE_BREAK CE_RXOVER CE_RXPARITY");
  EXPECT_EQ(LineErrorNames({.overrun = 7}, {.frame = 1, .overrun = 8}), " CE_FRAME CE_OVERRUN");
  // A counter that wrapped around still moved.
  EXPECT_EQ(LineErrorNames({.frame = 0xFFFFFFFFu}, {}), " CE_FRAME");
}

}  // namespace
}  // namespace vekta
