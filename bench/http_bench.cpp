// The object protocol under load, against the built vektamanager with in-process simulated
// printers that answer at once (no line or print time): calls per second and latency over
// HTTP keep-alive, 100 clients on one port, receipts per second over several ports, resident
// memory with many objects, and the time from process start to /healthz.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/object_connection.h"

namespace vekta {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

std::string DaemonPath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  std::string self(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  return self.substr(0, self.rfind('/')) + "/../app/vektamanager";
}

int NextPort() {
  static std::atomic<int> port{20000 + static_cast<int>(::getpid() % 20000)};
  return ++port;
}

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
std::string Attach(ObjectConnection& http, int port) {
  std::string id;
  http.CreateObject("VektaManager.Orbis", 0, id);
  http.Call(id, "Init", json::array({port, "Bench", "7777777777", 0, "bench"}));
  return id;
}

void Percentiles(benchmark::State& state, std::vector<double>& micros) {
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}

void BM_GetCheckSum(benchmark::State& state) {
  Daemon daemon(1);
  ObjectConnection http(daemon.Address());
  const std::string id = Attach(http, 1);
  std::vector<double> micros;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(http.Call(id, "GetCheckSum", nullptr));
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  Percentiles(state, micros);
}
BENCHMARK(BM_GetCheckSum)->UseRealTime()->MinTime(2.0);

void BM_FiscalLine(benchmark::State& state) {
  Daemon daemon(1);
  ObjectConnection http(daemon.Address());
  const std::string id = Attach(http, 1);
  http.Call(id, "OpenCheck", json::array({"Bench"}));
  std::vector<double> micros;
  int lines = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    benchmark::DoNotOptimize(
        http.Call(id, "FiscalLine", json::array({"Товар", 1, 100, 0, 1, 0, 1})));
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (++lines == 100) {
      state.PauseTiming();
      http.Call(id, "CloseCheckEx", json::array({1000000, 0, 0, 0}));
      http.Call(id, "OpenCheck", json::array({"Bench"}));
      lines = 0;
      state.ResumeTiming();
    }
  }
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  Percentiles(state, micros);
}
BENCHMARK(BM_FiscalLine)->UseRealTime()->MinTime(2.0);

// 100 clients, each with its own connection and object, on one port.
// Every keep-alive connection holds a worker thread, so the pool is sized above the clients
// (state.range(0) workers); with fewer, the clients beyond the pool wait for an idle
// connection's keep-alive time-out.
void BM_HundredClientsOnePort(benchmark::State& state) {
  Daemon daemon(1, "Workers=" + std::to_string(state.range(0)) + "\n");
  constexpr int kClients = 100;
  constexpr int kCallsEach = 50;
  std::vector<std::unique_ptr<ObjectConnection>> connections;
  std::vector<std::string> ids;
  for (int i = 0; i < kClients; ++i) {
    connections.push_back(std::make_unique<ObjectConnection>(daemon.Address()));
    ids.push_back(Attach(*connections.back(), 1));
  }
  std::vector<double> micros;
  std::mutex mutex;
  std::int64_t calls = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
      threads.emplace_back([&, i] {
        std::vector<double> mine;
        for (int c = 0; c < kCallsEach; ++c) {
          const auto t0 = Clock::now();
          connections[i]->Call(ids[i], "GetCheckSum", nullptr);
          mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        std::lock_guard<std::mutex> lock(mutex);
        micros.insert(micros.end(), mine.begin(), mine.end());
      });
    }
    for (auto& t : threads) t.join();
    calls += kClients * kCallsEach;
  }
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
  Percentiles(state, micros);
}
BENCHMARK(BM_HundredClientsOnePort)->Arg(128)->Arg(64)->UseRealTime()->Iterations(3);

// Receipts of three lines, one client per port, all ports at once.
void BM_ReceiptsPerSecond(benchmark::State& state) {
  const int ports = static_cast<int>(state.range(0));
  Daemon daemon(ports);
  std::vector<std::unique_ptr<ObjectConnection>> connections;
  std::vector<std::string> ids;
  for (int p = 1; p <= ports; ++p) {
    connections.push_back(std::make_unique<ObjectConnection>(daemon.Address()));
    ids.push_back(Attach(*connections.back(), p));
  }
  constexpr int kReceiptsEach = 20;
  std::int64_t receipts = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int p = 0; p < ports; ++p) {
      threads.emplace_back([&, p] {
        ObjectConnection& http = *connections[p];
        for (int r = 0; r < kReceiptsEach; ++r) {
          http.Call(ids[p], "OpenCheck", json::array({"Bench"}));
          for (int l = 0; l < 3; ++l) {
            http.Call(ids[p], "FiscalLine", json::array({"Товар", 1, 100, 0, 1, 0, 1}));
          }
          http.Call(ids[p], "CloseCheckEx", json::array({1000, 0, 0, 0}));
        }
      });
    }
    for (auto& t : threads) t.join();
    receipts += ports * kReceiptsEach;
  }
  state.counters["receipts_per_s"] =
      benchmark::Counter(static_cast<double>(receipts), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiptsPerSecond)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime()->Iterations(3);

void BM_MemoryEightPortsThousandObjects(benchmark::State& state) {
  for (auto _ : state) {
    Daemon daemon(8);
    ObjectConnection http(daemon.Address());
    const long idle = daemon.RssKiB();
    for (int i = 0; i < 1000; ++i) Attach(http, 1 + i % 8);
    state.counters["rss_idle_KiB"] = static_cast<double>(idle);
    state.counters["rss_KiB"] = static_cast<double>(daemon.RssKiB());
  }
}
BENCHMARK(BM_MemoryEightPortsThousandObjects)->UseRealTime()->Iterations(1);

void BM_StartToHealthz(benchmark::State& state) {
  std::vector<double> ms;
  for (auto _ : state) {
    Daemon daemon(1);
    ms.push_back(daemon.StartupMs());
  }
  std::sort(ms.begin(), ms.end());
  state.counters["start_to_healthz_ms"] = ms[ms.size() / 2];
}
BENCHMARK(BM_StartToHealthz)->UseRealTime()->Iterations(5);

}  // namespace
}  // namespace vekta

BENCHMARK_MAIN();
