#include "link/frame_cutter.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vekta {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Long texts carry 0 as their length byte, as printers send them.
std::vector<std::uint8_t> Frame(const std::string& text) {
  std::vector<std::uint8_t> frame;
  frame.reserve(text.size() + 3);
  frame.push_back(0xFD);
  for (const char c : text) frame.push_back(static_cast<std::uint8_t>(c));
  frame.push_back(text.size() < 250 ? static_cast<std::uint8_t>(text.size() + 1) : 0);
  frame.push_back(0xFE);
  return frame;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Collector {
  FrameCutter cutter;
  std::vector<std::string> messages;
  void Add(const std::vector<std::uint8_t>& bytes) {
    cutter.Append(bytes.data(), bytes.size(),
                  [this](std::string_view message) { messages.emplace_back(message); });
  }
};

TEST(FrameCutterTest, CutsMessagesOutOfTheByteStream) {
  Collector garbage;
  garbage.Add(Join({Bytes("AB"), Frame("READY")}));
  EXPECT_EQ(garbage.messages, std::vector<std::string>{"READY"});
  EXPECT_EQ(garbage.cutter.Held(), 0u);

  Collector split;
  const auto frame = Frame("CONf0123456789");
  split.Add({frame.begin(), frame.begin() + 6});
  EXPECT_TRUE(split.messages.empty());
  split.Add({frame.begin() + 6, frame.end()});
  EXPECT_EQ(split.messages, std::vector<std::string>{"CONf0123456789"});

  Collector two;
  two.Add(Join({Frame("ARTD0001"), Frame("READY")}));
  EXPECT_EQ(two.messages, (std::vector<std::string>{"ARTD0001", "READY"}));

  Collector noStart;
  noStart.Add(Bytes("READY\x06\xFE"));
  EXPECT_TRUE(noStart.messages.empty());
  EXPECT_EQ(noStart.cutter.Held(), 0u);

  // The length byte is not checked: printers send nonsense there for long texts.
  Collector badLength;
  badLength.Add(Join({Bytes("\xFDREADY"), {0x00, 0xFE}}));
  EXPECT_EQ(badLength.messages, std::vector<std::string>{"READY"});

  Collector empty;
  empty.Add({0xFD, 0xFE, 0xFD, 0x01, 0xFE});
  EXPECT_TRUE(empty.messages.empty());
  EXPECT_EQ(empty.cutter.Held(), 0u);

  // A start byte inside a frame begins the frame anew only once the old one is dropped; within
  // a frame the first end byte ends it.
  Collector nested;
  nested.Add(Join({Bytes("\xFDSOFT"), Frame("READY")}));
  EXPECT_EQ(nested.messages, std::vector<std::string>{"SOFT\xFDREADY"});
}

TEST(FrameCutterTest, FullBufferWithoutEndByteIsDroppedAndTheCutterResynchronises) {
  Collector noSecondStart;
  std::vector<std::uint8_t> junk(FrameCutter::kBufferSize, 'x');
  junk[0] = 0xFD;
  noSecondStart.Add(junk);
  EXPECT_EQ(noSecondStart.cutter.Held(), 0u);
  noSecondStart.Add(Frame("READY"));
  EXPECT_EQ(noSecondStart.messages, std::vector<std::string>{"READY"});

  Collector resync;
  junk[3000] = 0xFD;
  resync.Add(junk);
  EXPECT_EQ(resync.cutter.Held(), FrameCutter::kBufferSize - 3000);
  resync.Add(Join({Bytes("READY"), {0x06, 0xFE}}));
  ASSERT_EQ(resync.messages.size(), 1u);
  EXPECT_EQ(resync.messages[0].size(), FrameCutter::kBufferSize - 3000 - 1 + 5);
  EXPECT_EQ(resync.messages[0].substr(resync.messages[0].size() - 5), "READY");

  // The longest message a full buffer can carry still arrives whole.
  Collector longest;
  const std::string text(FrameCutter::kBufferSize - 3, 'L');
  longest.Add(Frame(text));
  ASSERT_EQ(longest.messages.size(), 1u);
  EXPECT_TRUE(longest.messages[0] == text);
}

TEST(FrameCutterTest, HowTheStreamIsSplitIntoReadsDoesNotMatter) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> stream;
  std::vector<std::string> sent;
  for (int i = 0; i < 2000; ++i) {
    if (random() % 4 == 0) {
      for (std::uint32_t n = random() % 20; n > 0; --n) stream.push_back('a' + random() % 26);
      stream.push_back(0xFE);  // a stray end byte outside any frame
    }
    std::string text;
    for (std::uint32_t n = 1 + random() % 240; n > 0; --n)
      text += static_cast<char>(random() % 0xFD);
    sent.push_back(text);
    const auto frame = Frame(text);
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
