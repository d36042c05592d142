#include "app/metrics_text.h"

#include <sstream>

#include "app/object_backend.h"
#include "link/link_stats.h"

namespace vekta {

std::string MetricsText(ObjectBackend& backend, const ServerCounters& server) {
  std::ostringstream out;
  out << "# HELP vekta_commands_sent_total Commands sent to the printer.\n"
         "# TYPE vekta_commands_sent_total counter\n";
  std::ostringstream replies, timeouts, drops, errors, latency;
  replies << "# HELP vekta_replies_total Messages received from the printer.\n"
             "# TYPE vekta_replies_total counter\n";
  timeouts << "# HELP vekta_timeouts_total Waits for a reply that timed out.\n"
              "# TYPE vekta_timeouts_total counter\n";
  drops << "# HELP vekta_queue_drops_total Received messages dropped by a full reply queue.\n"
           "# TYPE vekta_queue_drops_total counter\n";
  errors << "# HELP vekta_error_statuses_total Error status words from the printer.\n"
            "# TYPE vekta_error_statuses_total counter\n";
  latency << "# HELP vekta_command_latency_ms Time from a command to its outcome.\n"
             "# TYPE vekta_command_latency_ms histogram\n";
  std::size_t clients = 0;
  for (const auto& c : backend.Connections()) clients += c.clients.size();
  backend.VisitLinkStats([&](std::int32_t port, LinkStats& stats) {
    const std::string label = "{port=\"COM" + std::to_string(port) + "\"";
    out << "vekta_commands_sent_total" << label << "} " << stats.commandsSent.load() << "\n";
    replies << "vekta_replies_total" << label << "} " << stats.repliesReceived.load() << "\n";
    timeouts << "vekta_timeouts_total" << label << "} " << stats.timeouts.load() << "\n";
    drops << "vekta_queue_drops_total" << label << "} " << stats.queueDrops.load() << "\n";
    for (const auto& [word, count] : stats.ErrorStatuses()) {
      std::string safe;
      for (char c : word) {
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) safe.push_back(c);
      }
      errors << "vekta_error_statuses_total" << label << ",word=\"" << safe << "\"} " << count
             << "\n";
    }
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < stats.latencyBuckets.size(); ++i) {
      cumulative += stats.latencyBuckets[i].load();
      const std::string le = i < LinkStats::kLatencyBoundsMs.size()
                                 ? std::to_string(LinkStats::kLatencyBoundsMs[i])
                                 : "+Inf";
      latency << "vekta_command_latency_ms_bucket" << label << ",le=\"" << le << "\"} "
              << cumulative << "\n";
    }
    latency << "vekta_command_latency_ms_sum" << label << "} " << stats.latencySumMs.load() << "\n"
            << "vekta_command_latency_ms_count" << label << "} " << stats.latencyCount.load()
            << "\n";
  });
  out << replies.str() << timeouts.str() << drops.str() << errors.str() << latency.str();
  out << "# HELP vekta_objects Live objects of the object protocol.\n"
         "# TYPE vekta_objects gauge\n"
      << "vekta_objects " << server.objects << "\n"
      << "# HELP vekta_clients Client attachments to printer ports.\n"
         "# TYPE vekta_clients gauge\n"
      << "vekta_clients " << clients << "\n"
      << "# HELP vekta_http_requests_total Requests to the object protocol.\n"
         "# TYPE vekta_http_requests_total counter\n"
      << "vekta_http_requests_total " << server.requests << "\n"
      << "# HELP vekta_http_refused_total Requests refused for token, Host or Origin.\n"
         "# TYPE vekta_http_refused_total counter\n"
      << "vekta_http_refused_total " << server.refused << "\n"
      << "# HELP vekta_http_connections Open HTTP connections.\n"
         "# TYPE vekta_http_connections gauge\n"
      << "vekta_http_connections " << server.connections << "\n"
      << "# HELP vekta_queued_calls Object calls waiting for or running on an executor.\n"
         "# TYPE vekta_queued_calls gauge\n"
      << "vekta_queued_calls " << server.queuedCalls << "\n";
  return out.str();
}

}  // namespace vekta
