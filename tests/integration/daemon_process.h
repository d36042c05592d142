#pragma once

// The built vektamanager as a child process on a free loopback port, for whole-process tests.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

inline sockaddr_in Loopback(int port = 0) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback();
  socklen_t len = sizeof(addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
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

// Standard error to `stderrPath`, and standard output to `stdoutPath` when one is given.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& stderrPath,
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

// The exit code of `pid` (128 + the signal that ended it), or -1 when it has not ended in `limit`.
inline int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  int status = 0;
  if (!WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline void Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

struct Run {
  int status = -1;  // the exit code; -1 when it did not end within 60 s (and was killed)
  std::string out;
  std::string err;
};

// Runs `args` to its end, its output kept in `dir`.
inline Run RunToEnd(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string outPath = dir.Path() + "/run.out", errPath = dir.Path() + "/run.err";
  const pid_t pid = Spawn(args, errPath, outPath);
  const int status = WaitExit(pid, std::chrono::seconds(60));
  if (status < 0) Kill(pid);
  return {status, ReadWholeFile(outPath), ReadWholeFile(errPath)};
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
    if (m_pid > 0) Kill(m_pid);
  }
  DaemonProcess(const DaemonProcess&) = delete;
  DaemonProcess& operator=(const DaemonProcess&) = delete;

  // Runs vektamanager with `args` to its end: its exit code.
  static int Run(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), BuildDir() + "/app/vektamanager");
    return RunToEnd(dir, args).status;
  }

  ServerAddress Address() const { return ServerAddress::At("127.0.0.1", m_port, false, ""); }
  int WaitExit(std::chrono::milliseconds limit) {
    const int status = testing::WaitExit(m_pid, limit);
    if (status >= 0) m_pid = -1;
    return status;
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
