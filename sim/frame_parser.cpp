#include "sim/frame_parser.h"

namespace vekta {

void SimFrameParser::Feed(const char* data, std::size_t size, std::vector<SimInput>& out) {
  for (std::size_t i = 0; i < size; ++i) {
    auto b = static_cast<unsigned char>(data[i]);
    if (b == kStart) {
      // a start byte inside a frame means the earlier frame was cut on the line: start over
      m_inFrame = true;
      m_content.clear();
      continue;
    }
    if (!m_inFrame) {
      if (b == kWakeUp) out.push_back({SimInput::Kind::kWakeUp, {}});
      continue;
    }
    if (b != kEnd) {
      m_content += static_cast<char>(b);
      if (m_content.size() > kMaxFrame) {
        m_inFrame = false;
        m_content.clear();
      }
      continue;
    }
    m_inFrame = false;
    if (m_content.size() < 2) {
      m_content.clear();
      continue;
    }
    auto length = static_cast<unsigned char>(m_content.back());
    m_content.pop_back();
    SimInput input;
    input.kind = length == SimLengthByte(m_content.size()) ? SimInput::Kind::kCommand
                                                           : SimInput::Kind::kBadFrame;
    input.text = std::move(m_content);
    m_content.clear();
    out.push_back(std::move(input));
  }
}

unsigned char SimLengthByte(std::size_t textSize) {
  // The length byte cannot count past 255, and must not read as a frame's start or end byte
  // (texts of 252 and 253 bytes): those carry 0, which hosts do not check.
  const std::size_t length = textSize + 1;
  return length <= 0xFF && length != SimFrameParser::kStart && length != SimFrameParser::kEnd
             ? static_cast<unsigned char>(length)
             : 0;
}

std::string SimFrame(const std::string& text) {
  std::string frame;
  frame.reserve(text.size() + 3);
  frame += static_cast<char>(SimFrameParser::kStart);
  frame += text;
  frame += static_cast<char>(SimLengthByte(text.size()));
  frame += static_cast<char>(SimFrameParser::kEnd);
  return frame;
}

}  // namespace vekta
