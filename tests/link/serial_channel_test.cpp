#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

using std::chrono::milliseconds;

Texts TakeAll(ReplyQueue& queue) {
  Texts texts;
  for (; !queue.IsEmpty(); queue.Pop()) texts.emplace_back(queue.Peek());
  return texts;
}

// A port that will not open is checked in ConnectionTest.
TEST_F(LinkTest, OpenPortAppliesTheLineAndTheReaderQueuesWhatArrivesThroughLineErrors) {
  const TempDir logs;
  m_host.SetLogDirectory(logs.Path());
  m_host.SetSetting("SaveToLog", 1);
  OpenLink();
  EXPECT_TRUE(m_link->IsConnected());
  EXPECT_EQ(m_line->OpenedPath(), "/dev/fake/COM3");
  EXPECT_TRUE(m_line->Dtr());
  EXPECT_FALSE(m_line->Rts());
  ReplyQueue& queue = m_link->Queue();

  // A frame split over two reads is handed over when its end byte arrives, and the frame
  // before it while the line is still busy with the next; garbage between frames is dropped.
  const auto split =
      Join({{'A', 'B'}, FrameBytes("CONf1234567890"), {'x', 0xFE}, FrameBytes("READY")});
  m_line->Feed({split.begin(), split.begin() + 7});
  EXPECT_TRUE(queue.IsEmpty());
  m_line->Feed({split.begin() + 7, split.end() - 3});
  EXPECT_EQ(queue.Size(), 1u);
  m_line->Feed({split.end() - 3, split.end()});
  EXPECT_EQ(queue.Size(), 2u);
  EXPECT_TRUE(queue.MessageEvent().IsSet());
  queue.Pop();
  EXPECT_TRUE(queue.MessageEvent().IsSet());
  EXPECT_EQ(queue.Peek(), "READY");
  queue.Pop();
  EXPECT_FALSE(queue.MessageEvent().IsSet());

  // The printer's 866 comes back as 1251.
  m_line->FeedFrame("\xCA\xC0\xD1\xC8\xD0");  // "КАСИР"
  EXPECT_EQ(TakeAll(queue), Texts{"\xCA\xC0\xD1\xC8\xD0"});
  EXPECT_EQ(m_link->Stats().repliesReceived.load(), 3u);

  // A line error is logged, and reading goes on.
  m_line->InjectLineErrors(" CE_FRAME CE_RXPARITY");
  m_line->FeedFrame("READY");
  EXPECT_EQ(TakeAll(queue), Texts{"READY"});
  EXPECT_NE(ReadWholeFile(m_link->LogFilePath())
                .find(";Printer channel error:  CE_FRAME CE_RXPARITY\r\n"),
            std::string::npos);

  // A full queue drops the newest until a slot is freed.
  for (int i = 0; i < 64; ++i) m_line->FeedFrame("MSG" + std::to_string(i));
  EXPECT_EQ(queue.Size(), 63u);
  EXPECT_EQ(m_link->Stats().queueDrops.load(), 1u);
  EXPECT_EQ(queue.Peek(), "MSG0");
  queue.Pop();
  m_line->FeedFrame("AFTER");
  EXPECT_EQ(queue.Size(), 63u);
  const Texts texts = TakeAll(queue);
  EXPECT_EQ(texts.front(), "MSG1");
  EXPECT_EQ(texts.back(), "AFTER");
}

TEST_F(LinkTest, ClosePortStopsTheReaderDropsDtrAndWaitsTheCloseDelay) {
  MakeLink();
  EXPECT_EQ(m_link->ClosePort(), -1);
  EXPECT_EQ(m_clock.Slept(), milliseconds(0));

  OpenLink();
  m_line->FeedFrame("LEFTOVER");
  EXPECT_EQ(m_link->ClosePort(), 0);
  EXPECT_EQ(m_clock.Slept(), milliseconds(2500));
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_FALSE(m_line->IsOpen());
  EXPECT_FALSE(m_line->Dtr());
  EXPECT_FALSE(m_link->SendFrame("KASS"));
  EXPECT_EQ(m_link->ClosePort(), -1);

  // Messages survive a close and reopen, and the reader runs again.
  OpenLink();
  m_line->FeedFrame("READY");
  EXPECT_EQ(TakeAll(m_link->Queue()), (Texts{"LEFTOVER", "READY"}));

  // A failed write ends the wait at once with 1003, and the lost line still closes. A vanished
  // device is checked on the simulator's pty (LinkSimTest).
  m_line->FailWrites();
  const auto before = m_clock.Now();
  EXPECT_FALSE(m_link->SendFrame("KASS"));
  EXPECT_TRUE(m_link->IsLost());  // before the reader notices
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(m_clock.Now(), before);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  EXPECT_EQ(m_link->ClosePort(), 0);
}

}  // namespace
}  // namespace vekta
