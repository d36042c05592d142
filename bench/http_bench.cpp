// The object protocol under load, against the built vektamanager with in-process simulated
// printers that answer at once (no line or print time): calls per second and latency over
// HTTP keep-alive at 1, 10 and 100 clients, receipts per second over several ports, idle CPU,
// resident memory with many objects, and the time from process start to /healthz.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_daemon.h"

namespace vekta {
namespace {

using namespace bench;

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

// `state.range(0)` clients, each with its own connection and object, on one port, all calling
// at once. Every keep-alive connection holds a worker thread, so the pool is sized above the
// clients.
void BM_Clients(benchmark::State& state) {
  Daemon daemon(1, "Workers=128\n");
  const int clients = static_cast<int>(state.range(0));
  const int callsEach = std::max(50, 2000 / clients);
  std::vector<std::unique_ptr<ObjectConnection>> connections;
  std::vector<std::string> ids;
  for (int i = 0; i < clients; ++i) {
    connections.push_back(std::make_unique<ObjectConnection>(daemon.Address()));
    ids.push_back(Attach(*connections.back(), 1));
  }
  std::vector<double> micros;
  std::mutex mutex;
  std::int64_t calls = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
      threads.emplace_back([&, i] {
        std::vector<double> mine;
        for (int c = 0; c < callsEach; ++c) {
          const auto t0 = Clock::now();
          connections[i]->Call(ids[i], "GetCheckSum", nullptr);
          mine.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        std::lock_guard<std::mutex> lock(mutex);
        micros.insert(micros.end(), mine.begin(), mine.end());
      });
    }
    for (auto& t : threads) t.join();
    calls += static_cast<std::int64_t>(clients) * callsEach;
  }
  state.counters["calls_per_s"] =
      benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate);
  Percentiles(state, micros);
}
BENCHMARK(BM_Clients)->Arg(1)->Arg(10)->Arg(100)->UseRealTime()->Iterations(3);

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

// The time a process of this program needs to start and end at all (--help), the baseline of
// the start to /healthz.
double ExecMs() {
  const auto t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    const std::string path = DaemonPath();
    ::execl(path.c_str(), path.c_str(), "--help", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::waitpid(pid, nullptr, 0);
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void BM_StartToHealthz(benchmark::State& state) {
  std::vector<double> ms;
  std::vector<double> baseline;
  for (auto _ : state) {
    Daemon daemon(1);
    ms.push_back(daemon.StartupMs());
    baseline.push_back(ExecMs());
  }
  std::sort(ms.begin(), ms.end());
  std::sort(baseline.begin(), baseline.end());
  state.counters["start_to_healthz_ms"] = ms[ms.size() / 2];
  state.counters["exec_baseline_ms"] = baseline[baseline.size() / 2];
}
BENCHMARK(BM_StartToHealthz)->UseRealTime()->Iterations(5);

// Clock ticks of user and system time a process has used.
long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  // after the name: state is field 3, utime 14, stime 15
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::atol(field.c_str());
  }
  return ticks;
}

// The daemon with 8 printers logged in and nothing to do: the readers must block, not poll.
void BM_IdleDaemonCpu(benchmark::State& state) {
  for (auto _ : state) {
    Daemon daemon(8);
    ObjectConnection http(daemon.Address());
    for (int p = 1; p <= 8; ++p) Attach(http, p);
    const long before = CpuTicks(daemon.Pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = static_cast<double>(CpuTicks(daemon.Pid()) - before) /
                       static_cast<double>(::sysconf(_SC_CLK_TCK));
    state.counters["cpu_percent_of_core"] = 100.0 * cpu / seconds;
  }
}
BENCHMARK(BM_IdleDaemonCpu)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vekta

BENCHMARK_MAIN();
