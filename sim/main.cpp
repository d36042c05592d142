// orbis-sim: the simulated printer as a program. See --help.

#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "sim/sim_control.h"
#include "sim/sim_printer.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) {
  gStop = 1;
}

bool ParseNumber(const char* text, int& value) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 0 || n > 10000000) return false;
  value = static_cast<int>(n);
  return true;
}

int Usage(const std::string& problem) {
  std::cerr << "orbis-sim: " << problem << "\n(see orbis-sim --help)\n";
  return 2;
}

// The options that take any text.
struct TextOption {
  const char* name;
  std::string vekta::SimOptions::*field;
  const char* problem;
};

constexpr TextOption kTextOptions[] = {
    {"--link", &vekta::SimOptions::linkPath, "--link needs a path"},
    {"--serial", &vekta::SimOptions::serialNumber, "--serial needs a text"},
    {"--firmware", &vekta::SimOptions::firmwareId, "--firmware needs a text"},
    {"--password", &vekta::SimOptions::password, "--password needs a text"},
    {"--tape", &vekta::SimOptions::tapePath, "--tape needs a file"},
    {"--replay", &vekta::SimOptions::replayLog, "--replay needs a protocol log"},
};

// One option and its value (nullptr after the last argument) into `options`: -1 when the
// value was taken, else the exit status. Every option that does not end the program takes one.
int ParseOption(const std::string& arg, const char* v, vekta::SimOptions& options) {
  if (arg == "--help" || arg == "-h") {
    std::cout << vekta::SimHelpText();
    return 0;
  }
  if (arg == "--version") {
    std::cout << "orbis-sim " VEKTA_VERSION "\n";
    return 0;
  }
  for (const auto& option : kTextOptions) {
    if (arg != option.name) continue;
    if (v == nullptr) return Usage(option.problem);
    options.*option.field = v;
    return -1;
  }
  if (arg == "--model") {
    if (v == nullptr || !vekta::ParseSimModel(v, options.model)) {
      return Usage("--model takes 0.0, 0.1, 1.2, 1.3 or 1.4");
    }
  } else if (arg == "--key") {
    if (v == nullptr || std::string(v).size() != 1 ||
        std::string("RXZPO").find(v[0]) == std::string::npos) {
      return Usage("--key takes R, X, Z, P or O");
    }
    options.keyPosition = v[0];
  } else if (arg == "--baud") {
    if (v == nullptr || !ParseNumber(v, options.baud)) return Usage("--baud takes a number");
  } else if (arg == "--print-ms") {
    if (v == nullptr || !ParseNumber(v, options.printLineMs)) {
      return Usage("--print-ms takes a number");
    }
  } else {
    return Usage("unknown option " + arg);
  }
  return -1;
}

// Control lines from standard input until "quit" or a signal.
void ServeControl(vekta::SimPrinter& printer) {
  bool stdinOpen = true;
  std::string pending;
  while (!gStop) {
    if (!stdinOpen) {
      pause();
      continue;
    }
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    int ready = poll(&fd, 1, 500);
    if (ready <= 0) continue;
    char chunk[512];
    ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got <= 0) {
      // standard input closed (started in the background): keep serving until a signal
      stdinOpen = false;
      continue;
    }
    pending.append(chunk, static_cast<std::size_t>(got));
    std::size_t newline;
    bool quit = false;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::cout << vekta::RunSimControl(printer, line, &quit) << std::endl;
      if (quit) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  vekta::SimOptions options;
  options.keepCommands = 1000;  // nobody reads the history of a separate process
  for (int i = 1; i < argc; i += 2) {
    int status = ParseOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, options);
    if (status >= 0) return status;
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);

  vekta::SimPrinter printer(options);
  std::string error;
  if (!printer.Start(&error)) {
    std::cerr << "orbis-sim: " << error << "\n";
    return 1;
  }
  std::cout << printer.SlavePath() << std::endl;
  ServeControl(printer);
  printer.Stop();
  return 0;
}
