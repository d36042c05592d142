#include "link/frame_cutter.h"

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

}  // namespace
}  // namespace vekta
