#pragma once

#include <cstddef>
#include <string>

namespace vekta {

// The printer models the simulator can be. Each one answers "CONf" with a serial number and a
// firmware id that the host's model detection maps to the generation and variant in the name.
enum class SimModel {
  kGen0Var0,  // serial "040..."
  kGen0Var1,  // serial "440..."
  kGen1Var2,  // serial "450...", firmware "vTTs"
  kGen1Var3,  // serial "500...", firmware "UMTM"
  kGen1Var4,  // serial "600..."
};

struct SimOptions {
  SimModel model = SimModel::kGen1Var3;
  std::string serialNumber;  // empty: the model's own
  std::string firmwareId;    // empty: the model's own
  std::string password = "7777777777";
  char keyPosition = 'R';  // 'R', 'X', 'Z', 'P' or 'O'
  int baud = 0;            // 0: replies at once; else the line time of 12 bits per byte
  int printLineMs = -1;    // time to print one line; -1: 20 ms with a baud rate, else 0
  std::string linkPath;    // symlink to the slave side of the pty
  std::string tapePath;    // control tape file (UTF-8); empty: none
  std::string replayLog;   // protocol log to answer from; empty: the printer model answers
  // Commands kept for PrinterModel::Commands(): 0 keeps them all (tests index into the list);
  // a long-running process keeps only the recent ones.
  std::size_t keepCommands = 0;
};

// "1.3" style names (generation.variant) and the model they give; false for an unknown name.
bool ParseSimModel(const std::string& text, SimModel& model);
int SimModelGeneration(SimModel model);
int SimModelVariant(SimModel model);

}  // namespace vekta
