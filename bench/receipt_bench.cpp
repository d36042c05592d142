// Receipts (open, 10 lines, close) through a connected PrinterLink over a pseudo-terminal.
//
//   BM_ReceiptInProcess/short|production  receipts per second against the zero-latency
//                                         simulator, with the short test timings and with the
//                                         production ones
//   BM_ReceiptLinkCpu                      the link's own CPU time per command (the simulator
//                                         runs as a separate orbis-sim process)
//   BM_ReceiptAt57600                      the simulator emulating the line at 57600 baud (no
//                                         print time), production timings: the ratio of the
//                                         receipt's time to the time its bytes need on the
//                                         line, 12 bits a byte

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/bench_daemon.h"
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

void BM_ReceiptAt57600(benchmark::State& state) {
  SimOptions options;
  options.baud = 57600;
  options.printLineMs = 0;
  SimHarness sim(options);
  Session session(sim.DevicePath(), LinkTimings{});
  if (!session.Connect()) return state.SkipWithError("no connection to the simulator");
  const SimPrinter::LineCounts before = sim.Printer().Counts();
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!RunReceipt(*session.link)) return state.SkipWithError("receipt failed");
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const SimPrinter::LineCounts after = sim.Printer().Counts();
  const auto bytes =
      static_cast<double>(after.bytesIn - before.bytesIn + after.bytesOut - before.bytesOut);
  const double lineSeconds = bytes * 12 / 57600.0;
  state.counters["line_limit_ms"] = lineSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["ratio_to_line_limit"] = elapsed.count() / lineSeconds;
  state.counters["receipts_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReceiptAt57600)->UseRealTime()->MinTime(3.0)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  return vekta::bench::RunBenchmarks(argc, argv);
}
