#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace vekta {

// Counters of one link for /metrics. Written by the link's threads, read by anyone.
struct LinkStats {
  // Upper bounds of the command latency histogram, in milliseconds (the last bucket is +Inf).
  static constexpr std::array<int, 10> kLatencyBoundsMs = {5,   10,  25,   50,   100,
                                                           250, 500, 1000, 3000, 10000};

  std::atomic<std::uint64_t> commandsSent{0};
  std::atomic<std::uint64_t> repliesReceived{0};
  std::atomic<std::uint64_t> timeouts{0};
  std::atomic<std::uint64_t> queueDrops{0};
  std::array<std::atomic<std::uint64_t>, kLatencyBoundsMs.size() + 1> latencyBuckets{};
  std::atomic<std::uint64_t> latencySumMs{0};
  std::atomic<std::uint64_t> latencyCount{0};

  void CountErrorStatus(const std::string& word) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_errorStatuses[word];
  }
  std::map<std::string, std::uint64_t> ErrorStatuses() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errorStatuses;
  }
  void AddLatency(std::uint64_t ms) {
    std::size_t i = 0;
    while (i < kLatencyBoundsMs.size() && ms > static_cast<std::uint64_t>(kLatencyBoundsMs[i])) ++i;
    ++latencyBuckets[i];
    latencySumMs += ms;
    ++latencyCount;
  }

 private:
  mutable std::mutex m_mutex;
  std::map<std::string, std::uint64_t> m_errorStatuses;  // guarded by m_mutex
};

}  // namespace vekta
