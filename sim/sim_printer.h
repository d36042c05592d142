#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sim/frame_parser.h"
#include "sim/printer_model.h"
#include "sim/replay_script.h"
#include "sim/sim_options.h"

namespace vekta {

// The simulated printer on a pseudo-terminal: a thread reads the master side, cuts frames,
// asks the printer model and writes its replies back framed. The host opens the slave side
// (SlavePath, or the --link symlink) as it would open a serial device.
//
// Lock order: m_lineMutex before the model's own mutex.
class SimPrinter {
 public:
  explicit SimPrinter(SimOptions options);
  ~SimPrinter();
  SimPrinter(const SimPrinter&) = delete;
  SimPrinter& operator=(const SimPrinter&) = delete;

  // Opens the pty and starts answering (from the protocol log when options.replayLog is set).
  // False, with the reason in *error, when no pty could be had or the link could not be made.
  bool Start(std::string* error = nullptr);
  void Stop();
  std::string SlavePath() const;

  PrinterModel& Model() { return *m_model; }
  const PrinterModel& Model() const { return *m_model; }

  // Faults of the line. Texts are DOS 866.
  void SendGarbage(const std::string& bytes);
  void SendUnsolicited(const std::string& text);
  // Each reply frame goes out in two writes with a pause between them.
  void SetSplitFrames(bool on);
  // Closes the pty as an unplugged cable would; Replug opens a new one (and moves the link).
  void Unplug();
  bool Replug(std::string* error = nullptr);
  bool Unplugged() const;

  // What the line and the print head have done since the start: bytes taken from the host,
  // bytes written to it, and the time spent printing.
  struct LineCounts {
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    std::uint64_t printMs = 0;
  };
  LineCounts Counts() const;

 private:
  bool OpenPty(std::string* error);
  void ClosePty();
  void Run();
  // Answers one command; `lineAt` is when the line is free, moved on by the reply's times.
  void Answer(const SimInput& input, std::chrono::steady_clock::time_point& lineAt);
  void WriteFrame(const std::string& text);
  void WriteFrames(const std::string& frames);  // with m_lineMutex held
  void WriteBytes(const std::string& bytes);
  std::chrono::microseconds LineTime(std::size_t bytes) const;
  void LineDelay(std::size_t bytes) const;

  SimOptions m_options;
  std::unique_ptr<PrinterModel> m_model;
  std::unique_ptr<ReplayScript> m_replay;  // set when answering from a protocol log
  SimFrameParser m_parser;                 // reader thread only

  mutable std::mutex m_lineMutex;
  int m_master = -1;        // guarded by m_lineMutex
  int m_slaveHold = -1;     // guarded by m_lineMutex; keeps the line up while no host has it
  std::string m_slavePath;  // guarded by m_lineMutex
  bool m_split = false;     // guarded by m_lineMutex
  int m_stopFd = -1;        // eventfd that wakes the reader
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::atomic<std::uint64_t> m_bytesIn{0};
  std::atomic<std::uint64_t> m_bytesOut{0};
  std::atomic<std::uint64_t> m_printMs{0};
};

}  // namespace vekta
