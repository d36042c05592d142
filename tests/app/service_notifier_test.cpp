// The notifications systemd reads, taken from a socket of our own as NOTIFY_SOCKET.

#include "app/service_notifier.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace vekta {
namespace {

using namespace std::chrono_literals;

struct NotifySocket {
  NotifySocket() {
    ::unlink(path.c_str());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
  }
  ~NotifySocket() {
    for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"}) ::unsetenv(name);
    ::close(fd);
    ::unlink(path.c_str());
  }
  // The next datagram within `wait`; empty when none came.
  std::string Next(std::chrono::milliseconds wait = 3000ms) {
    pollfd p{fd, POLLIN, 0};
    char buffer[512];
    const ssize_t n = ::poll(&p, 1, static_cast<int>(wait.count())) > 0
                          ? ::recv(fd, buffer, sizeof buffer, 0)
                          : 0;
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  }

  std::string path = ::testing::TempDir() + "/vekta-notify-" + std::to_string(::getpid());
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

TEST(ServiceNotifier, ReadyThenWatchdogPingsOnlyWhileTheServerAnswersAndNoneWithoutSystemd) {
  std::atomic<int> asked{0};
  // Without systemd nothing is sent and no server is asked.
  ::unsetenv("NOTIFY_SOCKET");
  {
    ServiceNotifier notifier([&](std::chrono::milliseconds) { return ++asked > 0; });
    notifier.Ready("serving");
  }
  EXPECT_EQ(asked.load(), 0);

  NotifySocket systemd;
  ::setenv("WATCHDOG_USEC", "100000", 1);  // pinged every 50 ms
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
  std::atomic<bool> answering{true};
  ServiceNotifier notifier([&](std::chrono::milliseconds) {
    ++asked;
    return answering.load();
  });
  notifier.Ready("serving http://127.0.0.1:8460");
  EXPECT_EQ(systemd.Next(), "READY=1\nSTATUS=serving http://127.0.0.1:8460");
  EXPECT_EQ(systemd.Next(), "WATCHDOG=1");
  EXPECT_EQ(systemd.Next(), "WATCHDOG=1");

  // A server that stops answering gets no more pings: systemd will restart it.
  answering = false;
  const int before = asked.load();
  for (int i = 0; i < 100 && systemd.Next(200ms) == "WATCHDOG=1"; ++i) {
  }
  for (int i = 0; i < 100 && asked.load() < before + 3; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_GE(asked.load(), before + 3) << "the server is still being asked";
  EXPECT_EQ(systemd.Next(100ms), "");

  notifier.Stopping();
  EXPECT_EQ(systemd.Next(), "STOPPING=1");
}

}  // namespace
}  // namespace vekta
