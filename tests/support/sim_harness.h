#pragma once

// Simulated printers for tests: in-process on a pty (SimHarness), or the orbis-sim binary as a
// child process driven through its standard input (SimProcess).

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sim/printer_model.h"
#include "sim/sim_options.h"
#include "sim/sim_printer.h"

namespace vekta {

class SimHarness {
 public:
  // Starts answering at once; a pty that cannot be had fails the current test.
  explicit SimHarness(SimOptions options = {});
  ~SimHarness() { m_printer->Stop(); }
  SimHarness(const SimHarness&) = delete;
  SimHarness& operator=(const SimHarness&) = delete;

  // The slave side: open it as the printer's serial device.
  std::string DevicePath() const { return m_printer->SlavePath(); }
  // The printer's state and faults (paper, key, status words, power, registers...).
  PrinterModel& Model() { return m_printer->Model(); }
  // Faults of the line (garbage, split frames, unsolicited messages, unplug).
  SimPrinter& Printer() { return *m_printer; }

 private:
  std::unique_ptr<SimPrinter> m_printer;
};

class SimProcess {
 public:
  // Runs $VEKTA_BUILD_DIR/sim/orbis-sim with `args` and waits (up to 10 s) for the slave path
  // it prints first; a failure fails the current test.
  explicit SimProcess(std::vector<std::string> args = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  std::string DevicePath() const { return m_devicePath; }
  bool Running() const { return m_pid > 0; }
  // Sends one control line and waits (up to 10 s) for its answer; true when it was not an error.
  bool SendControl(const std::string& line);
  // The answer to the last control line ("ok", data, or "error: ...").
  std::string LastReply() const { return m_lastReply; }
  // SIGKILL and reap; harmless when already ended.
  void Kill();

 private:
  bool ReadLine(std::string& line, std::chrono::milliseconds timeout);

  pid_t m_pid = -1;
  int m_toChild = -1;
  int m_fromChild = -1;
  std::string m_pending;
  std::string m_devicePath;
  std::string m_lastReply;
};

}  // namespace vekta
