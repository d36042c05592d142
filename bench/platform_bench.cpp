// Costs of the platform layer on the path of every printer message: code page conversion,
// string table lookup, the settings read at link creation, and the serial port itself over a
// pseudo-terminal (write, wake-up of the blocked reader).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/serial_port.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"

namespace vekta {
namespace {

std::string Command1251(std::size_t size) {
  // "FISC" with Cyrillic goods names, as a receipt line is sent.
  std::string text = "FISC";
  while (text.size() < size) text += "\xCA\xEE\xEB\xE1\xE0\xF1\xEA\xE0 0001230002";
  text.resize(size);
  return text;
}

void BM_Cp1251ToCp866(benchmark::State& state) {
  const std::string text = Command1251(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(Cp1251ToCp866(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Cp1251ToCp866)->Arg(251)->Arg(4095);

void BM_Utf8ToCp1251(benchmark::State& state) {
  const std::string utf8 = Cp1251ToUtf8(Command1251(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(Utf8ToCp1251(utf8));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(BM_Utf8ToCp1251)->Arg(251)->Arg(4096);

void BM_LoadString1251(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(LoadString1251(2020));
}
BENCHMARK(BM_LoadString1251);

void BM_ReadLogSettings(benchmark::State& state) {
  char dir[] = "/tmp/vekta-bench-XXXXXX";
  if (!::mkdtemp(dir)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string path = std::string(dir) + "/vektamanager.ini";
  std::ofstream(path) << "[Server]\nListen=127.0.0.1:8460\n[CurrentConfig]\nSaveToLog=1\n"
                         "KeepLogFiles=30\n[Ports]\nCOM1=/dev/ttyUSB0\n";
  SettingsStore store(path);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReadSaveToLog(store));
    benchmark::DoNotOptimize(ReadKeepLogFiles(store));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadLogSettings);

void BM_WriteSetting(benchmark::State& state) {
  char dir[] = "/tmp/vekta-bench-XXXXXX";
  if (!::mkdtemp(dir)) {
    state.SkipWithError("no temporary directory");
    return;
  }
  SettingsStore store(std::string(dir) + "/vektamanager.ini");
  std::uint32_t days = 2;
  for (auto _ : state)
    benchmark::DoNotOptimize(store.WriteConfigDword("CurrentConfig", "KeepLogFiles", days++));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteSetting)->Unit(benchmark::kMicrosecond);

// One command frame out and one reply frame in over a pseudo-terminal; the reader ends its
// chunk after a 1 ms gap, so the figure is the port's own overhead plus that gap.
void BM_PtyRoundTrip(benchmark::State& state) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  auto port = MakeTermiosSerialPort();
  if (!port->Open(::ptsname(master))) {
    state.SkipWithError("cannot open the pseudo-terminal");
    ::close(master);
    return;
  }
  const std::string command = Cp1251ToCp866(Command1251(static_cast<std::size_t>(state.range(0))));
  const std::string reply = "\xFDREADY\x05\xFE";
  std::vector<std::uint8_t> buffer(4096);
  std::vector<char> sink(8192);
  for (auto _ : state) {
    port->WriteAll(reinterpret_cast<const std::uint8_t*>(command.data()), command.size());
    std::size_t got = 0;
    while (got < command.size()) {
      ssize_t n = ::read(master, sink.data(), sink.size());
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (::write(master, reply.data(), reply.size()) < 0) break;
    std::size_t received = 0;
    port->Read(buffer.data(), buffer.size(), received, 1);
    benchmark::DoNotOptimize(received);
  }
  port->Close();
  ::close(master);
}
BENCHMARK(BM_PtyRoundTrip)->Arg(16)->Arg(251)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vekta

BENCHMARK_MAIN();
