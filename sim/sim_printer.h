#pragma once

#include <atomic>
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

 private:
  bool OpenPty(std::string* error);
  void ClosePty();
  void Run();
  void Answer(const SimInput& input);
  void WriteFrame(const std::string& text);
  void WriteFrames(const std::string& frames);  // with m_lineMutex held
  void WriteBytes(const std::string& bytes);
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
};

}  // namespace vekta
