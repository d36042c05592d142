#pragma once

// Simulated printers on ptys behind real PrinterLinks: COM1, COM2... map to one simulator each.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/link_timings.h"
#include "platform/clock.h"
#include "service/printer_registry.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace vekta {

struct SimPorts {
  explicit SimPorts(int count, std::vector<SimOptions> options = {}) {
    std::vector<std::pair<std::string, std::string>> map;
    for (int i = 0; i < count; ++i) {
      SimOptions o = i < static_cast<int>(options.size()) ? options[i] : SimOptions{};
      sims.push_back(std::make_unique<SimHarness>(o));
      map.emplace_back("COM" + std::to_string(i + 1), sims.back()->DevicePath());
    }
    host.UseRealPorts(std::move(map));
    registry = std::make_unique<PrinterRegistry>(host, clock, LinkTimings::Short());
  }

  SimHarness& Sim(int port) { return *sims.at(port - 1); }
  // The port's entry, or none; valid while some object stays attached to it.
  const PrinterEntry* FindEntry(std::uint32_t port) const {
    const PrinterEntry* found = nullptr;
    registry->ForEachEntry([&](std::uint32_t p, const PrinterEntry& entry) {
      if (p == port) found = &entry;
    });
    return found;
  }

  std::vector<std::unique_ptr<SimHarness>> sims;
  ScriptedLinkHost host;
  RealClock clock;
  std::unique_ptr<PrinterRegistry> registry;  // destroyed first: every port closed
};

}  // namespace vekta
