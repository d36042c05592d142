// Receipts (open, 10 lines, close) through a connected PrinterLink over a pseudo-terminal.
//
//   BM_ReceiptInProcess/short|production  receipts per second against the zero-latency
//                                         simulator, with the short test timings and with the
//                                         production inter-byte gap of the reader (100 ms)
//   BM_ReceiptLinkCpu                      the link's own CPU time per command (the simulator
//                                         runs as a separate orbis-sim process)
//   BM_ReceiptAt57600                      the simulator emulating the line at 57600 baud (no
//                                         print time): the ratio of the receipt's time to the
//                                         time its bytes need on the line, 12 bits a byte

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "link/link_timings.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

constexpr int kLines = 10;
constexpr int kCommandsPerReceipt = kLines + 2;

struct Session {
  ScriptedLinkHost host;
  RealClock clock;
  std::unique_ptr<PrinterLink> link;

  Session(const std::string& device, LinkTimings timings) {
    host.UseRealPorts({{"COM1", device}});
    link = std::make_unique<PrinterLink>(1, host, clock, timings);
    link->SetShowErrorMessages(false);
  }
  bool Connect() { return link->Connect("COM1", "CASHIER", "7777777777") > 0; }
};

bool RunReceipt(PrinterLink& link) {
  if (link.OpenCheck("1") != 1) return false;
  for (int i = 0; i < kLines; ++i) {
    if (link.FiscalLine("Goods " + std::to_string(i), 1 + i % 3, 1050 + i, 0, 1 + i % 5, 0, 0) <
        0) {
      return false;
    }
  }
  return link.CloseCheck() >= 0;
}

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void BM_ReceiptInProcess(benchmark::State& state) {
  SimHarness sim;
  Session session(sim.DevicePath(), state.range(0) ? LinkTimings::Short() : LinkTimings{});
  if (!session.Connect()) return state.SkipWithError("no connection to the simulator");
  for (auto _ : state) {
    if (!RunReceipt(*session.link)) return state.SkipWithError("receipt failed");
  }
  state.counters["receipts_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(state.range(0) ? "short" : "production");
}
BENCHMARK(BM_ReceiptInProcess)->Arg(1)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiptInProcess)->Arg(0)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ReceiptLinkCpu(benchmark::State& state) {
  SimProcess sim;
  if (!sim.Running()) return state.SkipWithError("orbis-sim did not start");
  Session session(sim.DevicePath(), LinkTimings::Short());
  if (!session.Connect()) return state.SkipWithError("no connection to the simulator");
  const double cpuBefore = ProcessCpuSeconds();
  for (auto _ : state) {
    if (!RunReceipt(*session.link)) return state.SkipWithError("receipt failed");
  }
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  const double commands = static_cast<double>(state.iterations()) * kCommandsPerReceipt;
  state.counters["link_cpu_us_per_command"] = cpu * 1e6 / commands;
  state.counters["receipts_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiptLinkCpu)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

// Bytes on the line for one receipt: every frame is its text plus start, length and end bytes.
double ReceiptLineBytes(const PrinterModel& model, std::size_t firstCommand) {
  const auto commands = model.Commands();
  double bytes = 0;
  for (std::size_t i = firstCommand; i < commands.size(); ++i) {
    bytes += commands[i].size() + 3;
    const std::string& command = commands[i];
    if (command.rfind("FISC", 0) == 0) bytes += 4 + 10 + 3;  // the tax figure
    if (command.rfind("COMP", 0) == 0) bytes += 4 + 90 + 3;  // the nine closing figures
    bytes += 5 + 3;                                          // "READY"
  }
  return bytes;
}

void BM_ReceiptAt57600(benchmark::State& state) {
  SimOptions options;
  options.baud = 57600;
  options.printLineMs = 0;
  SimHarness sim(options);
  Session session(sim.DevicePath(), LinkTimings::Short());
  if (!session.Connect()) return state.SkipWithError("no connection to the simulator");
  double lineSeconds = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    const std::size_t first = sim.Model().Commands().size();
    if (!RunReceipt(*session.link)) return state.SkipWithError("receipt failed");
    state.PauseTiming();
    lineSeconds += ReceiptLineBytes(sim.Model(), first) * 12 / 57600.0;
    state.ResumeTiming();
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  state.counters["line_limit_ms"] = lineSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["ratio_to_line_limit"] = elapsed.count() / lineSeconds;
  state.counters["receipts_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiptAt57600)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  // orbis-sim sits beside this program's folder in the build tree.
  if (std::getenv("VEKTA_BUILD_DIR") == nullptr) {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
      std::string dir(self, static_cast<std::size_t>(n));
      dir = dir.substr(0, dir.rfind('/'));
      setenv("VEKTA_BUILD_DIR", dir.substr(0, dir.rfind('/')).c_str(), 0);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
