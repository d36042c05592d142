// The HTTP listener under many connections, against the built vektamanager with the server
// settings it ships with and in-process simulated printers: keep-alive clients from 1 to 1000
// calling at once, the resident memory an idle connection costs, and working clients beside
// connections that send their request headers a byte at a time. The clients are non-blocking
// sockets on two epoll loops, so that a thousand of them are not a thousand threads.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_daemon.h"
#include "bench/http_load.h"

namespace vekta {
namespace {

using namespace bench;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kConnectTimeout = seconds(5);

// `clients` calls of GetCheckSum, each on its own object attached to port 1: the call goes
// through the object table and the dispatcher but not to the printer.
std::vector<std::string> CheckSumRequests(Daemon& daemon, int clients) {
  ObjectConnection http(daemon.Address());
  std::vector<std::string> requests;
  for (int i = 0; i < clients; ++i) {
    const std::string id = Attach(http, 1);
    requests.push_back(
        PostRequest(daemon.Address().port, "/api/v1/objects/" + id + "/call/GetCheckSum"));
  }
  return requests;
}

void LoadCounters(benchmark::State& state, const std::string& suffix, LoadFigures& figures) {
  state.counters["calls_per_s" + suffix] = figures.CallsPerSecond();
  state.counters["p50_us" + suffix] = figures.Percentile(50);
  state.counters["p99_us" + suffix] = figures.Percentile(99);
  state.counters["slowest_us" + suffix] = figures.Slowest();
  state.counters["calls" + suffix] = static_cast<double>(figures.micros.size());
  state.counters["timeouts" + suffix] = static_cast<double>(figures.timeouts);
  state.counters["failures" + suffix] = static_cast<double>(figures.failures);
  state.counters["reconnects" + suffix] = static_cast<double>(figures.reconnects);
  state.counters["clients_answered" + suffix] = static_cast<double>(figures.clientsAnswered);
}

// `state.range(0)` keep-alive clients, one call at a time each, for 2 s or 200,000 calls in all.
// The bound is on all the calls, not on each client's: a server that serves some clients and
// starves the others shows it in p99 and the slowest call, and its rate stays what it served.
void BM_KeepAliveClients(benchmark::State& state) {
  const int clients = static_cast<int>(state.range(0));
  Daemon daemon(1);
  KeepAliveClients load(daemon.Address().port, CheckSumRequests(daemon, clients));
  for (auto _ : state) {
    state.counters["connected"] = static_cast<double>(load.Open(kConnectTimeout));
    LoadFigures figures = load.Run({seconds(2), 200000});
    LoadCounters(state, "", figures);
  }
  state.counters["clients"] = clients;
  state.counters["call_timeout_us"] =
      std::chrono::duration<double, std::micro>(RunBounds{}.callTimeout).count();
}
BENCHMARK(BM_KeepAliveClients)
    ->Arg(1)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->UseRealTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// 500 connections that each had one answer and stay open, idle: the daemon's resident memory
// with them against the same daemon before them.
void BM_IdleConnectionMemory(benchmark::State& state) {
  constexpr int connections = 500;
  Daemon daemon(1);
  const int port = daemon.Address().port;
  for (auto _ : state) {
    {
      // what the first requests of a process allocate once is not a connection's cost
      KeepAliveClients warm(port, std::vector<std::string>(10, GetRequest(port, "/healthz")));
      warm.Open(kConnectTimeout);
      warm.Run({seconds(1), 200});
    }
    std::this_thread::sleep_for(milliseconds(300));
    const long before = daemon.RssKiB();
    KeepAliveClients idle(port, std::vector<std::string>(static_cast<std::size_t>(connections),
                                                         GetRequest(port, "/healthz")));
    state.counters["connected"] = static_cast<double>(idle.Open(kConnectTimeout));
    // a server that leaves connections waiting for a thread has its memory measured with
    // them waiting, not after its idle time-out closed the answered ones
    const LoadFigures figures = idle.Run({seconds(5), connections, 1, seconds(2)});
    std::this_thread::sleep_for(milliseconds(300));
    const long after = daemon.RssKiB();
    state.counters["answered"] = static_cast<double>(figures.answered + figures.late);
    state.counters["rss_before_KiB"] = static_cast<double>(before);
    state.counters["rss_open_KiB"] = static_cast<double>(after);
    state.counters["rss_per_connection_KiB"] =
        static_cast<double>(after - before) / static_cast<double>(connections);
  }
  state.counters["connections"] = connections;
}
BENCHMARK(BM_IdleConnectionMemory)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// 10 working clients alone, then beside 80 connections that send a call's request a byte every
// 100 to 500 ms. The trickling part runs past 10 s, so that a server that gives a request's
// headers a deadline closes each trickler once; a closed one starts over on a new connection.
void BM_TricklingConnections(benchmark::State& state) {
  constexpr int kWorking = 10;
  constexpr int kTricklers = 80;
  Daemon daemon(1);
  const int port = daemon.Address().port;
  std::vector<std::string> requests = CheckSumRequests(daemon, kWorking);
  const std::string slow = requests.front();
  KeepAliveClients work(port, std::move(requests));
  for (auto _ : state) {
    state.counters["connected"] = static_cast<double>(work.Open(kConnectTimeout));
    LoadFigures alone = work.Run({seconds(3), 1000000});
    Tricklers tricklers(port, kTricklers, slow, milliseconds(100), milliseconds(500));
    std::this_thread::sleep_for(seconds(1));
    LoadFigures beside = work.Run({seconds(11), 4000000});
    tricklers.Stop();
    LoadCounters(state, "_alone", alone);
    LoadCounters(state, "_trickling", beside);
    state.counters["trickler_connections"] = tricklers.Opened();
    state.counters["tricklers_closed_by_server"] = tricklers.ClosedByServer();
    state.counters["trickled_bytes"] = tricklers.BytesSent();
  }
  state.counters["tricklers"] = kTricklers;
}
BENCHMARK(BM_TricklingConnections)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  // 1000 clients, the daemon's side of each, and the daemon's own files; the daemon inherits it
  vekta::bench::RaiseFileLimit(4096);
  return vekta::bench::RunBenchmarks(argc, argv);
}
