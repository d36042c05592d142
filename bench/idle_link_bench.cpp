// The link on a pseudo-terminal: CPU of an open link with no traffic (the reader must block,
// not poll), and the time from Connect to a logged-in, configured printer on the simulator.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "link/printer_link.h"
#include "platform/clock.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace {

using namespace std::chrono_literals;

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A bare pty: nothing on the other side writes, so every cycle spent is the link's own.
void BM_IdleOpenLink(benchmark::State& state) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  vekta::ScriptedLinkHost host;
  host.UseRealPorts({{"COM1", ptsname(master)}});
  vekta::RealClock clock;
  auto link = std::make_unique<vekta::PrinterLink>(1, host, clock);
  if (!link->OpenPort("COM1")) {
    state.SkipWithError("port did not open");
    close(master);
    return;
  }
  link->StartReader();
  std::this_thread::sleep_for(100ms);  // the reader settles into its blocking read
  const auto seconds = static_cast<double>(state.range(0));
  double cpu = 0;
  for (auto _ : state) {
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    cpu = ProcessCpuSeconds() - before;
  }
  state.counters["cpu_ms"] = cpu * 1e3;
  state.counters["cpu_percent_of_core"] = 100.0 * cpu / seconds;
  link.reset();
  close(master);
}
BENCHMARK(BM_IdleOpenLink)->Arg(10)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Connect, login, "PPMD1", "CONf" and "CNAL" against the zero-latency simulator. The real
// timings spend their fixed delays (10 ms after the wake-up byte); the short ones show the
// exchange alone. The port is closed between runs outside the timed part.
void BM_ConnectToSimulator(benchmark::State& state) {
  vekta::SimHarness sim;
  vekta::ScriptedLinkHost host;
  host.UseRealPorts({{"COM1", sim.DevicePath()}});
  vekta::RealClock clock;
  const vekta::LinkTimings timings =
      state.range(0) != 0 ? vekta::LinkTimings{} : vekta::LinkTimings::Short();
  vekta::LinkTimings closeFast = timings;
  closeFast.closePortDelay = 0ms;
  for (auto _ : state) {
    vekta::PrinterLink link(1, host, clock, closeFast);
    if (link.Connect("COM1", "KASIR", "7777777777") != 1) {
      state.SkipWithError("login failed");
      break;
    }
    state.PauseTiming();
    link.ClosePort();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ConnectToSimulator)->Arg(1)->Arg(0)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
