#include "link/frame_cutter.h"

#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

struct Collector {
  FrameCutter cutter;
  Texts messages;
  Collector& Add(const std::vector<std::uint8_t>& bytes) {
    cutter.Append(bytes.data(), bytes.size(),
                  [this](std::string_view message) { messages.emplace_back(message); });
    return *this;
  }
};

TEST(FrameCutterTest, OddFramesAreCutAsPrintersMeanThemAndAFullBufferIsDropped) {
  // The length byte is not checked: printers send nonsense there for long texts. A start byte
  // inside a frame is text; the first end byte ends the frame.
  const std::pair<std::vector<std::uint8_t>, Texts> cases[] = {
      {{0xFD, 'R', 'E', 'A', 'D', 'Y', 0x00, 0xFE}, {"READY"}},
      {{0xFD, 0xFE, 0xFD, 0x01, 0xFE}, {}},
      {Join({{0xFD, 'S', 'O', 'F', 'T'}, FrameBytes("READY")}), {"SOFT\xFDREADY"}}};
  for (const auto& [bytes, expected] : cases) {
    Collector collector;
    EXPECT_EQ(collector.Add(bytes).messages, expected);
    EXPECT_EQ(collector.cutter.Held(), 0u);
  }

  // A full buffer without an end byte is dropped; the cutter starts again at a later start byte.
  std::vector<std::uint8_t> junk(FrameCutter::kBufferSize, 'x');
  junk[0] = 0xFD;
  Collector noSecondStart;
  EXPECT_EQ(noSecondStart.Add(junk).cutter.Held(), 0u);
  EXPECT_EQ(noSecondStart.Add(FrameBytes("READY")).messages, Texts{"READY"});
  junk[3000] = 0xFD;
  Collector resync;
  EXPECT_EQ(resync.Add(junk).cutter.Held(), FrameCutter::kBufferSize - 3000);
  resync.Add({'R', 'E', 'A', 'D', 'Y', 0x06, 0xFE});
  EXPECT_TRUE(resync.messages ==
              Texts{std::string(FrameCutter::kBufferSize - 3001, 'x') + "READY"});

  // The longest message a full buffer can carry still arrives whole.
  const std::string text(FrameCutter::kBufferSize - 3, 'L');
  EXPECT_TRUE(Collector().Add(FrameBytes(text)).messages == Texts{text});
}

}  // namespace
}  // namespace vekta
