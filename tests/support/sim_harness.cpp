#include "tests/support/sim_harness.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace vekta {

SimHarness::SimHarness(SimOptions options)
    : m_printer(std::make_unique<SimPrinter>(std::move(options))) {
  std::string error;
  if (!m_printer->Start(&error)) ADD_FAILURE() << "simulated printer did not start: " << error;
}

namespace {

// The orbis-sim this build made; run by hand, the test programs sit in <build>/tests.
std::string SimBinary() {
  const char* dir = std::getenv("VEKTA_BUILD_DIR");
  return (dir != nullptr && *dir != '\0'
              ? std::string(dir)
              : std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/..") +
         "/sim/orbis-sim";
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> args) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  const std::string binary = SimBinary();
  args.insert(args.begin(), binary);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  m_toChild = in[1];
  m_fromChild = out[0];
  if (m_pid < 0) {
    ADD_FAILURE() << "fork failed";
    return;
  }
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
