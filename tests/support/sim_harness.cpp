#include "tests/support/sim_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace vekta {

SimHarness::SimHarness(SimOptions options)
    : m_printer(std::make_unique<SimPrinter>(std::move(options))) {
  std::string error;
  if (!m_printer->Start(&error)) ADD_FAILURE() << "simulated printer did not start: " << error;
}

SimHarness::~SimHarness() {
  Stop();
}

std::string SimHarness::DevicePath() const {
  return m_printer->SlavePath();
}

void SimHarness::Stop() {
  m_printer->Stop();
}

std::string SimProcess::BinaryPath() {
  if (const char* dir = std::getenv("VEKTA_BUILD_DIR"); dir != nullptr && *dir != '\0') {
    return std::string(dir) + "/sim/orbis-sim";
  }
  // run by hand from the build tree: the test programs sit in <build>/tests
  char self[PATH_MAX] = {};
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
  auto slash = path.rfind('/');
  return (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) +
         "/../sim/orbis-sim";
}

SimProcess::SimProcess(std::vector<std::string> args) {
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  std::string binary = BinaryPath();
  std::vector<std::string> argvText;
  argvText.push_back(binary);
  for (auto& a : args) argvText.push_back(a);
  std::vector<char*> argv;
  for (auto& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  m_toChild = in[1];
  m_fromChild = out[0];
  if (pid < 0) {
    ADD_FAILURE() << "fork failed";
    return;
  }
  m_pid = pid;
  if (!ReadLine(m_devicePath, std::chrono::seconds(10)) || m_devicePath.empty()) {
    ADD_FAILURE() << "orbis-sim (" << binary << ") did not print its device path";
    Kill();
  }
}

SimProcess::~SimProcess() {
  Kill();
  if (m_toChild >= 0) close(m_toChild);
  if (m_fromChild >= 0) close(m_fromChild);
}

bool SimProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto newline = m_pending.find('\n');
    if (newline != std::string::npos) {
      line = m_pending.substr(0, newline);
      m_pending.erase(0, newline + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_fromChild < 0) return false;
    pollfd fd{m_fromChild, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    ssize_t got = read(m_fromChild, chunk, sizeof chunk);
    if (got <= 0) return false;
    m_pending.append(chunk, static_cast<std::size_t>(got));
  }
}

bool SimProcess::SendControl(const std::string& line) {
  m_lastReply.clear();
  if (m_pid <= 0) return false;
  std::string text = line + "\n";
  if (write(m_toChild, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    return false;
  }
  if (!ReadLine(m_lastReply, std::chrono::seconds(10))) return false;
  return m_lastReply.rfind("error", 0) != 0;
}

void SimProcess::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  int status = 0;
  waitpid(m_pid, &status, 0);
  m_pid = -1;
}

}  // namespace vekta
