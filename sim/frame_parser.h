#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vekta {

// What the printer takes from the line: a command frame or the bare wake-up byte.
struct SimInput {
  enum class Kind { kWakeUp, kCommand, kBadFrame };
  Kind kind = Kind::kCommand;
  std::string text;  // command text in DOS 866, without the length byte
};

// The printer side of the framing: 0xFD, text, length byte (text length + 1), 0xFE. Bytes
// outside a frame are ignored except the wake-up byte 0x55. A frame without text is dropped; a
// frame whose length byte does not match its text is reported as kBadFrame (the printer answers
// it with "SOFTBLOCK", as a frame damaged on the line).
class SimFrameParser {
 public:
  static constexpr unsigned char kStart = 0xFD;
  static constexpr unsigned char kEnd = 0xFE;
  static constexpr unsigned char kWakeUp = 0x55;
  // Longer than any frame the length byte can describe: such a run is line noise.
  static constexpr std::size_t kMaxFrame = 4096;

  void Feed(const char* data, std::size_t size, std::vector<SimInput>& out);
  bool InFrame() const { return m_inFrame; }

 private:
  bool m_inFrame = false;
  std::string m_content;
};

unsigned char SimLengthByte(std::size_t textSize);
// The frame for one reply or command text (the same layout in both directions).
std::string SimFrame(const std::string& text);

}  // namespace vekta
