#pragma once

// GET /metrics: the printers' counters and the server's own, in the Prometheus text format.

#include <cstdint>
#include <string>

namespace vekta {

class ObjectBackend;

struct ServerCounters {
  std::size_t objects = 0;
  std::uint64_t requests = 0;
  std::uint64_t refused = 0;
  std::size_t connections = 0;
  std::size_t queuedCalls = 0;
};

std::string MetricsText(ObjectBackend& backend, const ServerCounters& server);

}  // namespace vekta
