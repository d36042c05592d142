#pragma once

// The built vektamanager as a child process on a loopback port, for the benchmarks that run
// the whole system.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "client/object_connection.h"

namespace vekta {
namespace bench {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

inline std::string DaemonPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  std::string self(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/')) + "/../app/vektamanager";
}

// Points $VEKTA_BUILD_DIR, where the simulator binary is looked for, at the build tree this
// program is in (it sits in its bench/ folder), unless it is set already.
inline void FindBuildDirectory() {
  if (std::getenv("VEKTA_BUILD_DIR") != nullptr) return;
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  std::string dir(self, static_cast<std::size_t>(n));
  dir = dir.substr(0, dir.rfind('/'));
  ::setenv("VEKTA_BUILD_DIR", dir.substr(0, dir.rfind('/')).c_str(), 0);
}

// main() of a benchmark program that runs the simulator binary.
inline int RunBenchmarks(int argc, char** argv) {
  FindBuildDirectory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

inline int NextPort() {
  static std::atomic<int> port{20000 + static_cast<int>(::getpid() % 20000)};
  return ++port;
}

// `ports` simulated printers that answer at once (--simulate 1..ports); `serverIni` is added to
// the [Server] section and may open sections of its own after it ("[Ports]\nCOM1=/dev/...").
class Daemon {
 public:
  explicit Daemon(int ports, const std::string& serverIni = "") : m_port(NextPort()) {
    char dir[] = "/tmp/vekta-bench-XXXXXX";
    m_dir = ::mkdtemp(dir) ? dir : "/tmp";
    std::ofstream(m_dir + "/v.ini") << "[Server]\nLogDir=" << m_dir << "/log\n" << serverIni;
    std::vector<std::string> args = {DaemonPath(),
                                     "--config",
                                     m_dir + "/v.ini",
                                     "--registration-dir",
                                     m_dir + "/reg",
                                     "--listen",
                                     "127.0.0.1:" + std::to_string(m_port)};
    for (int p = 1; p <= ports; ++p) args.insert(args.end(), {"--simulate", std::to_string(p)});
    m_started = Clock::now();
    m_pid = ::fork();
    if (m_pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ObjectConnection probe(Address());
    while (!probe.Healthy(std::chrono::milliseconds(100))) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      if (Clock::now() - m_started > std::chrono::seconds(10)) break;
    }
    m_healthyAfter = Clock::now() - m_started;
  }
  ~Daemon() {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    std::system(("rm -rf " + m_dir).c_str());
  }
  ServerAddress Address() const { return ServerAddress::At("127.0.0.1", m_port, false, ""); }
  double StartupMs() const {
    return std::chrono::duration<double, std::milli>(m_healthyAfter).count();
  }
  pid_t Pid() const { return m_pid; }
  long RssKiB() const {
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
  }

 private:
  int m_port;
  pid_t m_pid = -1;
  std::string m_dir;
  Clock::time_point m_started;
  Clock::duration m_healthyAfter{};
};

// An Orbis object attached to `port`.
inline std::string Attach(ObjectConnection& http, int port) {
  std::string id;
  http.CreateObject("VektaManager.Orbis", 0, id);
  http.Call(id, "Init", json::array({port, "Bench", "7777777777", 0, "bench"}));
  return id;
}

inline void Percentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p90_us"] = micros[std::min(micros.size() - 1, micros.size() * 90 / 100)];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

}  // namespace bench
}  // namespace vekta
