#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "sim/frame_parser.h"
#include "sim/printer_model.h"

namespace vekta {

// Answers with the replies recorded in a protocol log of the host, so that a log from the
// field becomes a regression test. Each command sent in the log is paired with the messages
// received after it; a command that arrives is matched to the next recorded one with the same
// text (searching from the start again when the log is exhausted). Unrecorded commands get
// "SOFTCOMMAN"; the wake-up byte always gets "READY".
class ReplayScript {
 public:
  struct Exchange {
    std::string command;               // DOS 866
    std::vector<std::string> replies;  // DOS 866
  };

  // Parses the log text (Windows-1251, lines "date time;entry"). False when the text holds no
  // command at all.
  bool Load(const std::string& logText);
  bool LoadFile(const std::string& path, std::string* error = nullptr);

  SimReply Answer(const SimInput& input);
  const std::vector<Exchange>& Exchanges() const { return m_exchanges; }

 private:
  std::mutex m_mutex;
  std::vector<Exchange> m_exchanges;  // guarded by m_mutex
  std::size_t m_next = 0;             // guarded by m_mutex
};

}  // namespace vekta
