#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/codepage.h"
#include "platform/string_table.h"
#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

std::vector<std::uint8_t> FrameBytes(const std::string& text1251) {
  const std::string oem = Cp1251ToCp866(text1251);
  std::vector<std::uint8_t> frame;
  frame.reserve(oem.size() + 3);
  frame.push_back(0xFD);
  for (const char c : oem) frame.push_back(static_cast<std::uint8_t>(c));
  frame.push_back(static_cast<std::uint8_t>(oem.size() + 1));
  frame.push_back(0xFE);
  return frame;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> TakeAll(ReplyQueue& queue) {
  std::vector<std::string> texts;
  while (!queue.IsEmpty()) {
    texts.emplace_back(queue.Peek());
    queue.Pop();
  }
  return texts;
}

TEST_F(LinkTest, OpenPortAppliesTheLineAndReaderQueuesWhatArrives) {
  MakeLink();
  m_line->FailNextOpen();
  EXPECT_FALSE(m_link->OpenPort("COM3"));
  EXPECT_FALSE(m_link->IsConnected());

  OpenLink();
  EXPECT_TRUE(m_link->IsConnected());
  EXPECT_EQ(m_line->OpenedPath(), "/dev/fake/COM3");
  EXPECT_TRUE(m_line->Dtr());
  EXPECT_FALSE(m_line->Rts());
  ReplyQueue& queue = m_link->Queue();

  m_line->Feed(Join({{'A', 'B'}, FrameBytes("READY")}));
  EXPECT_EQ(TakeAll(queue), std::vector<std::string>{"READY"});

  const auto split = FrameBytes("CONf1234567890");
  m_line->Feed({split.begin(), split.begin() + 5});
  EXPECT_TRUE(queue.IsEmpty());
  m_line->Feed({split.begin() + 5, split.end()});
  EXPECT_EQ(TakeAll(queue), std::vector<std::string>{"CONf1234567890"});

  m_line->Feed(Join({FrameBytes("ARTD0001"), FrameBytes("READY")}));
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_TRUE(queue.MessageEvent().IsSet());
  queue.Pop();
  EXPECT_TRUE(queue.MessageEvent().IsSet());
  EXPECT_EQ(queue.Peek(), "READY");
  queue.Pop();
  EXPECT_FALSE(queue.MessageEvent().IsSet());

  m_line->Feed({'R', 'E', 'A', 'D', 'Y', 0x06, 0xFE});
  m_line->Feed({0xFD, 0xFE, 0xFD, 0x01, 0xFE});
  EXPECT_TRUE(queue.IsEmpty());

  // The printer's 866 comes back as 1251.
  m_line->FeedFrame("\xCA\xC0\xD1\xC8\xD0");  // "КАСИР"
  EXPECT_EQ(TakeAll(queue), std::vector<std::string>{"\xCA\xC0\xD1\xC8\xD0"});
  EXPECT_EQ(m_link->Stats().repliesReceived.load(), 5u);
}

TEST_F(LinkTest, FullQueueDropsTheNewestUntilASlotIsFreed) {
  OpenLink();
  ReplyQueue& queue = m_link->Queue();
  for (int i = 0; i < 64; ++i) m_line->FeedFrame("MSG" + std::to_string(i));
  EXPECT_EQ(queue.Size(), 63u);
  EXPECT_EQ(m_link->Stats().queueDrops.load(), 1u);
  EXPECT_EQ(queue.Peek(), "MSG0");

  queue.Pop();
  m_line->FeedFrame("AFTER");
  EXPECT_EQ(queue.Size(), 63u);
  const std::vector<std::string> texts = TakeAll(queue);
  EXPECT_EQ(texts.front(), "MSG1");
  EXPECT_EQ(texts[61], "MSG62");
  EXPECT_EQ(texts.back(), "AFTER");
}

TEST_F(LinkTest, ClosePortStopsTheReaderDropsDtrAndWaitsTheCloseDelay) {
  MakeLink();
  const int purges = m_line->Purges();
  EXPECT_EQ(m_link->ClosePort(), -1);
  EXPECT_EQ(m_line->Purges(), purges);
  EXPECT_EQ(m_clock.Slept(), std::chrono::milliseconds(0));

  OpenLink();
  m_line->FeedFrame("LEFTOVER");
  const auto before = m_clock.Now();
  EXPECT_EQ(m_link->ClosePort(), 0);
  EXPECT_GE(m_clock.Now() - before, std::chrono::milliseconds(2500));
  EXPECT_EQ(m_clock.Slept(), std::chrono::milliseconds(2500));
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_FALSE(m_line->IsOpen());
  EXPECT_FALSE(m_line->Dtr());
  EXPECT_FALSE(m_link->SendFrame("KASS"));
  EXPECT_EQ(m_link->ClosePort(), -1);

  // Messages survive a close and reopen, and the reader runs again.
  OpenLink();
  m_line->FeedFrame("READY");
  EXPECT_EQ(TakeAll(m_link->Queue()), (std::vector<std::string>{"LEFTOVER", "READY"}));
}

TEST_F(LinkTest, LineErrorsAreLoggedAndReadingGoesOn) {
  const std::string dir = ::testing::TempDir() + "/link_line_errors";
  std::filesystem::remove_all(dir);
  m_host.SetLogDirectory(dir);
  m_host.SetSetting("SaveToLog", 1);
  OpenLink();
  m_line->InjectLineErrors(" CE_FRAME CE_RXPARITY");
  m_line->FeedFrame("READY");
  EXPECT_EQ(TakeAll(m_link->Queue()), std::vector<std::string>{"READY"});

  std::ifstream file(m_link->LogFilePath(), std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_NE(content.str().find(";Printer channel error:  CE_FRAME CE_RXPARITY\r\n"),
            std::string::npos);
  EXPECT_NE(content.str().find(";<< From Printer <<READY\r\n"), std::string::npos);
}

TEST_F(LinkTest, VanishedDeviceEndsEveryWaitAtOnceWith1003) {
  OpenLink();
  m_line->Vanish();
  WaitLost();
  ASSERT_TRUE(m_link->IsLost());
  const auto before = m_clock.Now();
  EXPECT_FALSE(m_link->SendFrame("KASS"));
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(m_link->ProbeReady(), -1);
  EXPECT_FALSE(m_link->PollStatus());
  EXPECT_EQ(m_link->QueryPrinter("ARTD0001", "ARTD"), "");
  EXPECT_EQ(m_clock.Now(), before);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  EXPECT_EQ(m_link->ClosePort(), 0);
}

TEST_F(LinkTest, AFailedWriteLosesTheLinkBeforeTheReaderNotices) {
  OpenLink();
  m_line->FailWrites();
  const auto before = m_clock.Now();
  EXPECT_FALSE(m_link->SendFrame("KASS"));
  EXPECT_TRUE(m_link->IsLost());
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(m_clock.Now(), before);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
}

}  // namespace
}  // namespace vekta
