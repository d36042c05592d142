#pragma once

// The built vektamanager as a child process on a free loopback port, for whole-process tests.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/object_connection.h"
#include "tests/support/files.h"

namespace vekta::testing {

inline std::string BuildDir() {
  const char* dir = std::getenv("VEKTA_BUILD_DIR");
  return dir ? dir : ".";
}

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

// Polls `done` every 50 ms until it holds or `limit` passes: whether it came to hold.
template <typename Done>
bool WaitUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  for (const auto end = std::chrono::steady_clock::now() + limit; !done();) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class DaemonProcess {
 public:
  // Starts vektamanager with `args` (and --config, --registration-dir in `dir` unless given),
  // through `launcher` when one is given; waits up to 10 s for /healthz when `waitHealthy`.
  DaemonProcess(const TempDir& dir, int port, std::vector<std::string> args,
                bool waitHealthy = true, const std::string& ini = "",
                const std::vector<std::string>& launcher = {})
      : m_port(port) {
    const std::string at = std::to_string(port);
    const std::string config =
        dir.Write("vektamanager-" + at + ".ini", "[Server]\nLogDir=" + dir.Path() + "/log\n" + ini);
    std::vector<std::string> full = {
        BuildDir() + "/app/vektamanager", "--config", config,           "--registration-dir",
        dir.Path() + "/reg-" + at,        "--listen", "127.0.0.1:" + at};
    full.insert(full.end(), args.begin(), args.end());
    full.insert(full.begin(), launcher.begin(), launcher.end());
    m_stderrPath = dir.Path() + "/stderr-" + at;
    m_pid = Spawn(full, m_stderrPath);
    if (waitHealthy) {
      WaitUntil(
          [this] { return ObjectConnection(Address()).Healthy(std::chrono::milliseconds(200)); });
    }
  }
  ~DaemonProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Standard error to `stderrPath`, and standard output to `stdoutPath` when one is given.
  static pid_t Spawn(const std::vector<std::string>& args, const std::string& stderrPath,
                     const std::string& stdoutPath = "") {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, 2);
      const int out =
          stdoutPath.empty() ? -1 : ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) ::dup2(out, 1);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }

  // Runs vektamanager with `args` to its end: its exit code.
  static int Run(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), BuildDir() + "/app/vektamanager");
    int status = 0;
    ::waitpid(Spawn(args, dir.Path() + "/run.err"), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  ServerAddress Address() const { return ServerAddress::At("127.0.0.1", m_port, false, ""); }
  // The exit code, or -1 when it has not ended within `timeout`.
  int WaitExit(std::chrono::milliseconds timeout) {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeout)) return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void Signal(int sig) {
    if (m_pid > 0) ::kill(m_pid, sig);
  }
  std::string Stderr() const { return ReadWholeFile(m_stderrPath); }

 private:
  int m_port;
  pid_t m_pid = -1;
  std::string m_stderrPath;
};

}  // namespace vekta::testing
