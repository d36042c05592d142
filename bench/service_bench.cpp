// Service objects: the cost of a call that only reads the link, and receipts per second on
// several simulated ports at once (ports run in parallel, so the rate should scale).

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/link_timings.h"
#include "platform/clock.h"
#include "service/dispatch.h"
#include "service/orbis.h"
#include "service/printer_registry.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

constexpr const char* kPassword = "7777777777";

struct Shop {
  Shop(int ports, int baud) {
    std::vector<std::pair<std::string, std::string>> map;
    SimOptions options;
    options.baud = baud;
    for (int i = 0; i < ports; ++i) {
      sims.push_back(std::make_unique<SimHarness>(options));
      map.emplace_back("COM" + std::to_string(i + 1), sims.back()->DevicePath());
    }
    host.UseRealPorts(std::move(map));
    registry = std::make_unique<PrinterRegistry>(host, clock, LinkTimings::Short());
    for (int i = 0; i < ports; ++i) {
      objects.push_back(std::make_unique<Orbis>(*registry));
      ok = ok && objects.back()->Init(i + 1, "Cashier", kPassword, 0, "Bench") == S_OK;
      objects.back()->SetShowErrorMessages(0);
    }
  }
  ~Shop() {
    objects.clear();
    registry.reset();
  }

  std::vector<std::unique_ptr<SimHarness>> sims;
  ScriptedLinkHost host;
  RealClock clock;
  std::unique_ptr<PrinterRegistry> registry;
  std::vector<std::unique_ptr<Orbis>> objects;
  bool ok = true;
};

bool Receipt(Orbis& orbis) {
  std::int32_t value = 0;
  return orbis.OpenCheck("1") == S_OK &&
         orbis.FiscalLine("Bread", 1, 1000, 0, 0, 0, 0, &value) == S_OK &&
         orbis.FiscalLine("Milk", 2, 1500, 0, 0, 0, 0, &value) == S_OK &&
         orbis.CloseCheck(&value) == S_OK && value == 4000;
}

// A member that does not talk to the printer: no command mutex, no wire.
void BM_GetCheckSum(benchmark::State& state) {
  Shop shop(1, 0);
  if (!shop.ok) {
    state.SkipWithError("the simulated printer did not connect");
    return;
  }
  Orbis& orbis = *shop.objects[0];
  std::int32_t sum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(orbis.GetCheckSum(&sum));
  }
}
BENCHMARK(BM_GetCheckSum);

// The same through the late-bound dispatcher, as the object protocol calls it.
void BM_InvokeGetCheckSum(benchmark::State& state) {
  Shop shop(1, 0);
  if (!shop.ok) {
    state.SkipWithError("the simulated printer did not connect");
    return;
  }
  const MemberInfo& member = *OrbisInterface().FindByName("GetCheckSum");
  const std::vector<Value> args;
  for (auto _ : state) {
    benchmark::DoNotOptimize(InvokeOrbis(*shop.objects[0], member, args));
  }
}
BENCHMARK(BM_InvokeGetCheckSum);

// Receipts of two lines each, every port busy at once; items per second is receipts per
// second over all ports. Arguments: ports, emulated baud rate (0: the simulator answers at once).
void BM_ReceiptsOnPorts(benchmark::State& state) {
  const int ports = static_cast<int>(state.range(0));
  Shop shop(ports, static_cast<int>(state.range(1)));
  if (!shop.ok) {
    state.SkipWithError("a simulated printer did not connect");
    return;
  }
  constexpr int kReceiptsPerPort = 5;
  bool allGood = true;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    std::vector<char> good(ports, 1);
    for (int p = 0; p < ports; ++p) {
      threads.emplace_back([&, p] {
        for (int i = 0; i < kReceiptsPerPort; ++i) good[p] &= Receipt(*shop.objects[p]) ? 1 : 0;
      });
    }
    for (auto& thread : threads) thread.join();
    for (char g : good) allGood = allGood && g;
  }
  if (!allGood) state.SkipWithError("a receipt failed");
  state.SetItemsProcessed(state.iterations() * ports * kReceiptsPerPort);
}
BENCHMARK(BM_ReceiptsOnPorts)
    ->ArgsProduct({{1, 2, 4, 8}, {0}})
    ->Args({1, 57600})
    ->Args({8, 57600})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace vekta

BENCHMARK_MAIN();
