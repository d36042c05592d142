// Frame cutter throughput over a stream of mixed frames and garbage, as the reader sees it.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "link/frame_cutter.h"

namespace {

std::vector<std::uint8_t> MixedStream(std::size_t size) {
  std::mt19937 random(42);
  std::vector<std::uint8_t> stream;
  stream.reserve(size + 512);
  while (stream.size() < size) {
    // Now and then a little line noise between frames.
    if (random() % 8 == 0) {
      const std::size_t noise = random() % 16;
      for (std::size_t i = 0; i < noise; ++i)
        stream.push_back(static_cast<std::uint8_t>('!' + random() % 64));
    }
    const std::size_t length = 5 + random() % 200;
    stream.push_back(0xFD);
    for (std::size_t i = 0; i < length; ++i)
      stream.push_back(static_cast<std::uint8_t>('0' + random() % 64));
    stream.push_back(static_cast<std::uint8_t>(length + 1));
    stream.push_back(0xFE);
  }
  return stream;
}

void BM_FrameCutter(benchmark::State& state) {
  const std::vector<std::uint8_t> stream = MixedStream(1 << 20);
  const std::size_t readSize = static_cast<std::size_t>(state.range(0));
  std::size_t messages = 0;
  for (auto _ : state) {
    vekta::FrameCutter cutter;
    for (std::size_t at = 0; at < stream.size();) {
      std::size_t n = std::min({readSize, cutter.Room(), stream.size() - at});
      std::copy_n(stream.data() + at, n, cutter.Space());
      cutter.Commit(n, [&](std::string_view message) {
        benchmark::DoNotOptimize(message.data());
        ++messages;
      });
      at += n;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  state.counters["messages"] =
      benchmark::Counter(static_cast<double>(messages), benchmark::Counter::kIsRate);
}
// Reads as small as one printer reply and as large as the receive buffer.
BENCHMARK(BM_FrameCutter)->Arg(64)->Arg(1024)->Arg(4096);

}  // namespace

BENCHMARK_MAIN();
