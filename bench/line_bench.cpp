// Receipts at the speed of the line: the built vektamanager drives an orbis-sim process that
// emulates the serial line at 57600 baud (12 bits a byte) and a print head, and a client
// prints receipts of 1, 10 and 50 lines through the object protocol.
//
//   BM_ReceiptOverTheLine/<lines>/<print ms per line>
//     bytes     bytes both ways per receipt, as the simulator counted them
//     wire_ms   the time those bytes need on the line
//     print_ms  the time the simulator spent printing
//     line_ms   wire_ms + print_ms: what the receipt cannot take less than
//     wall_ms   the median time of a receipt through HTTP
//     ratio     wall_ms / line_ms

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_daemon.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using namespace bench;

constexpr double kBaud = 57600;

struct LineCounts {
  double bytes = 0;
  double printMs = 0;
};

bool ReadCounts(SimProcess& sim, LineCounts& counts) {
  if (!sim.SendControl("line")) return false;
  unsigned long long in = 0, out = 0, print = 0;
  if (std::sscanf(sim.LastReply().c_str(), "in=%llu out=%llu print_ms=%llu", &in, &out, &print) !=
      3) {
    return false;
  }
  counts.bytes = static_cast<double>(in + out);
  counts.printMs = static_cast<double>(print);
  return true;
}

// The number a call gave back (its only out value); -1 when the call failed.
long long Value(const HttpAnswer& answer) {
  if (answer.hr != S_OK || !answer.body.value("ok", false)) return -1;
  const json out = answer.body.value("out", json::object());
  for (const auto& item : out.items()) {
    if (item.value().is_number()) return item.value().get<long long>();
  }
  return 0;
}

bool RunReceipt(ObjectConnection& http, const std::string& id, int lines) {
  if (Value(http.Call(id, "OpenCheck", json::array({"1"}))) < 0) return false;
  for (int i = 0; i < lines; ++i) {
    const json line = json::array({"Товар " + std::to_string(i), 1 + i % 3, 1050 + i, 0, 1, 0, 0});
    if (Value(http.Call(id, "FiscalLine", line)) < 0) return false;
  }
  return Value(http.Call(id, "CloseCheck", nullptr)) > 0;  // the receipt's total
}

void BM_ReceiptOverTheLine(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  SimProcess sim({"--baud", "57600", "--print-ms", std::to_string(state.range(1))});
  if (!sim.Running()) return state.SkipWithError("orbis-sim did not start");
  Daemon daemon(0, "\n[Ports]\nCOM1=" + sim.DevicePath() + "\n");
  ObjectConnection http(daemon.Address());
  const std::string id = Attach(http, 1);
  if (!RunReceipt(http, id, 1)) return state.SkipWithError("no receipt through the daemon");

  std::vector<double> wallMs;
  double bytes = 0;
  double printMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    LineCounts before;
    if (!ReadCounts(sim, before)) return state.SkipWithError("no line counts from orbis-sim");
    state.ResumeTiming();

    const auto t0 = Clock::now();
    if (!RunReceipt(http, id, lines)) return state.SkipWithError("receipt failed");
    wallMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());

    state.PauseTiming();
    LineCounts after;
    if (!ReadCounts(sim, after)) return state.SkipWithError("no line counts from orbis-sim");
    bytes += after.bytes - before.bytes;
    printMs += after.printMs - before.printMs;
    state.ResumeTiming();
  }
  const auto receipts = static_cast<double>(state.iterations());
  std::sort(wallMs.begin(), wallMs.end());
  const double wireMs = bytes / receipts * 12 * 1000 / kBaud;
  const double lineMs = wireMs + printMs / receipts;
  state.counters["bytes"] = bytes / receipts;
  state.counters["wire_ms"] = wireMs;
  state.counters["print_ms"] = printMs / receipts;
  state.counters["line_ms"] = lineMs;
  state.counters["wall_ms"] = wallMs[wallMs.size() / 2];
  state.counters["ratio"] = wallMs[wallMs.size() / 2] / lineMs;
}
BENCHMARK(BM_ReceiptOverTheLine)
    ->Args({1, 0})
    ->Args({1, 20})
    ->Iterations(15)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiptOverTheLine)
    ->Args({10, 0})
    ->Args({10, 20})
    ->Iterations(7)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiptOverTheLine)
    ->Args({50, 0})
    ->Args({50, 20})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  return vekta::bench::RunBenchmarks(argc, argv);
}
