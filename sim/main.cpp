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

}  // namespace

int main(int argc, char** argv) {
  vekta::SimOptions options;
  options.keepCommands = 1000;  // nobody reads the history of a separate process
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char*& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (arg == "--help" || arg == "-h") {
      std::cout << vekta::SimHelpText();
      return 0;
    } else if (arg == "--version") {
      std::cout << "orbis-sim " VEKTA_VERSION "\n";
      return 0;
    } else if (arg == "--link") {
      if (!value(v)) return Usage("--link needs a path");
      options.linkPath = v;
    } else if (arg == "--model") {
      if (!value(v) || !vekta::ParseSimModel(v, options.model)) {
        return Usage("--model takes 0.0, 0.1, 1.2, 1.3 or 1.4");
      }
    } else if (arg == "--serial") {
      if (!value(v)) return Usage("--serial needs a text");
      options.serialNumber = v;
    } else if (arg == "--firmware") {
      if (!value(v)) return Usage("--firmware needs a text");
      options.firmwareId = v;
    } else if (arg == "--password") {
      if (!value(v)) return Usage("--password needs a text");
      options.password = v;
    } else if (arg == "--key") {
      if (!value(v) || std::string(v).size() != 1 ||
          std::string("RXZPO").find(v[0]) == std::string::npos) {
        return Usage("--key takes R, X, Z, P or O");
      }
      options.keyPosition = v[0];
    } else if (arg == "--baud") {
      if (!value(v) || !ParseNumber(v, options.baud)) return Usage("--baud takes a number");
    } else if (arg == "--print-ms") {
      if (!value(v) || !ParseNumber(v, options.printLineMs)) {
        return Usage("--print-ms takes a number");
      }
    } else if (arg == "--tape") {
      if (!value(v)) return Usage("--tape needs a file");
      options.tapePath = v;
    } else if (arg == "--replay") {
      if (!value(v)) return Usage("--replay needs a protocol log");
      options.replayLog = v;
    } else {
      return Usage("unknown option " + arg);
    }
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
      if (quit) break;
    }
    if (quit) break;
  }
  printer.Stop();
  return 0;
}
