#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vekta {

// Cuts the printer's byte stream into messages: a frame runs from 0xFD through the first 0xFE,
// and the last byte before 0xFE is the length byte, which is not part of the message (and not
// checked: printers send 0 for long texts). Bytes outside frames are dropped, and so are frames
// that carry no text. The reader reads straight into Space().
class FrameCutter {
 public:
  static constexpr std::size_t kBufferSize = 4096;
  static constexpr std::uint8_t kStart = 0xFD;
  static constexpr std::uint8_t kEnd = 0xFE;

  std::uint8_t* Space() { return m_buffer.data() + m_held; }
  std::size_t Room() const { return kBufferSize - m_held; }
  std::size_t Held() const { return m_held; }
  void Clear() { m_held = 0; }

  // Takes `count` bytes that were read into Space() and hands every whole message, still in the
  // printer's code page, to `sink(std::string_view)`, oldest first.
  template <typename Sink>
  void Commit(std::size_t count, Sink&& sink) {
    m_held += count;
    const std::uint8_t* const base = m_buffer.data();
    std::size_t from = 0;  // bytes before this are used up
    for (;;) {
      const std::uint8_t* begin = base + from;
      const std::size_t held = m_held - from;
      const auto* start = static_cast<const std::uint8_t*>(std::memchr(begin, kStart, held));
      if (start == nullptr) {
        m_held = 0;
        return;
      }
      from += static_cast<std::size_t>(start - begin);
      begin = start;
      const std::size_t rest = m_held - from;
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(begin + 1, kEnd, rest - 1));
      if (end == nullptr) {
        if (rest < kBufferSize) break;  // the rest of the frame is still on the line
        // A full buffer without an end byte cannot become a frame: drop it up to the next start.
        const auto* next =
            static_cast<const std::uint8_t*>(std::memchr(begin + 1, kStart, rest - 1));
        if (next == nullptr) {
          m_held = 0;
          return;
        }
        from += static_cast<std::size_t>(next - begin);
        continue;
      }
      const std::size_t frameSize = static_cast<std::size_t>(end - begin) + 1;
      // 0xFD, text, length byte, 0xFE: a frame of 3 bytes or fewer carries no text.
      if (frameSize > 3) {
        sink(std::string_view(reinterpret_cast<const char*>(begin) + 1, frameSize - 3));
      }
      from += frameSize;
    }
    m_held -= from;
    if (from > 0 && m_held > 0) std::memmove(m_buffer.data(), base + from, m_held);
  }

  // Feeds bytes from elsewhere (tests, benchmarks), in as many buffer loads as needed.
  template <typename Sink>
  void Append(const std::uint8_t* data, std::size_t size, Sink&& sink) {
    while (size > 0) {
      const std::size_t n = size < Room() ? size : Room();
      std::memcpy(Space(), data, n);
      Commit(n, sink);
      data += n;
      size -= n;
    }
  }

 private:
  std::array<std::uint8_t, kBufferSize> m_buffer{};
  std::size_t m_held = 0;
};

}  // namespace vekta
