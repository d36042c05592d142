// ReplyQueue: one push and one pop, the cost each received message pays.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "link/reply_queue.h"

namespace {

void BM_ReplyQueuePushPop(benchmark::State& state) {
  auto queue = std::make_unique<vekta::ReplyQueue>();
  const std::string message(static_cast<std::size_t>(state.range(0)), 'R');
  for (auto _ : state) {
    queue->Push(message);
    benchmark::DoNotOptimize(queue->Peek().data());
    queue->Pop();
  }
}
BENCHMARK(BM_ReplyQueuePushPop)->Arg(5)->Arg(152)->Arg(4095);

}  // namespace

BENCHMARK_MAIN();
