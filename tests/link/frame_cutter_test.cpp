#include "link/frame_cutter.h"

#include <random>

#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

struct Collector {
  FrameCutter cutter;
  std::vector<std::string> messages;
  void Add(const std::vector<std::uint8_t>& bytes) {
    cutter.Append(bytes.data(), bytes.size(),
                  [this](std::string_view message) { messages.emplace_back(message); });
  }
};

TEST(FrameCutterTest, OddFramesAreCutAsPrintersMeanThem) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // The length byte is not checked: printers send nonsense there for long texts.
      {{0xFD, 'R', 'E', 'A', 'D', 'Y', 0x00, 0xFE}, {"READY"}},
      {{0xFD, 0xFE, 0xFD, 0x01, 0xFE}, {}},
      // A start byte inside a frame is text; the first end byte ends the frame.
      {Join({{0xFD, 'S', 'O', 'F', 'T'}, FrameBytes("READY")}), {"SOFT\xFDREADY"}},
  };
  for (const Case& c : cases) {
    Collector collector;
    collector.Add(c.bytes);
    EXPECT_EQ(collector.messages, c.expected);
    EXPECT_EQ(collector.cutter.Held(), 0u);
  }
}

TEST(FrameCutterTest, FullBufferWithoutEndByteIsDroppedAndTheCutterResynchronises) {
  Collector noSecondStart;
  std::vector<std::uint8_t> junk(FrameCutter::kBufferSize, 'x');
  junk[0] = 0xFD;
  noSecondStart.Add(junk);
  EXPECT_EQ(noSecondStart.cutter.Held(), 0u);
  noSecondStart.Add(FrameBytes("READY"));
  EXPECT_EQ(noSecondStart.messages, std::vector<std::string>{"READY"});

  Collector resync;
  junk[3000] = 0xFD;
  resync.Add(junk);
  EXPECT_EQ(resync.cutter.Held(), FrameCutter::kBufferSize - 3000);
  resync.Add({'R', 'E', 'A', 'D', 'Y', 0x06, 0xFE});
  ASSERT_EQ(resync.messages.size(), 1u);
  EXPECT_EQ(resync.messages[0].size(), FrameCutter::kBufferSize - 3000 - 1 + 5);
  EXPECT_EQ(resync.messages[0].substr(resync.messages[0].size() - 5), "READY");

  // The longest message a full buffer can carry still arrives whole.
  Collector longest;
  const std::string text(FrameCutter::kBufferSize - 3, 'L');
  longest.Add(FrameBytes(text));
  EXPECT_TRUE(longest.messages == std::vector<std::string>{text});
}

// Garbage and stray end bytes between frames, frames split anywhere or several in one read.
TEST(FrameCutterTest, HowTheStreamIsSplitIntoReadsDoesNotMatter) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> stream;
  std::vector<std::string> sent;
  for (int i = 0; i < 2000; ++i) {
    if (random() % 4 == 0) {
      for (std::uint32_t n = random() % 20; n > 0; --n) stream.push_back('a' + random() % 26);
      stream.push_back(0xFE);
    }
    std::string text;
    for (std::uint32_t n = 1 + random() % 240; n > 0; --n)
      text += static_cast<char>(random() % 0xFD);
    sent.push_back(text);
    const auto frame = FrameBytes(text);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  Collector collector;
  for (std::size_t at = 0; at < stream.size();) {
    const std::size_t n = std::min<std::size_t>(1 + random() % 300, stream.size() - at);
    collector.Add({stream.begin() + static_cast<std::ptrdiff_t>(at),
                   stream.begin() + static_cast<std::ptrdiff_t>(at + n)});
    at += n;
  }
  EXPECT_TRUE(collector.messages == sent);
  EXPECT_EQ(collector.cutter.Held(), 0u);
}

}  // namespace
}  // namespace vekta
