#include "platform/codepage.h"
#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

using std::chrono::milliseconds;

TEST_F(LinkTest, SendFrameFramesWhatItCanAndEveryWaitTakesTheRepliesInTurn) {
  OpenLink();
  EXPECT_TRUE(m_link->SendFrame("KASS"));
  EXPECT_EQ(m_line->Written(), (std::vector<std::uint8_t>{0xFD, 'K', 'A', 'S', 'S', 5, 0xFE}));

  // Cyrillic goes out in 866 and the length byte counts bytes. 1251 "э" and "ю" are 0xFD and
  // 0xFE, but in 866 they are ordinary letters.
  m_line->ClearSent();
  const std::string text = "TEXT\xD2\xE5\xF1\xF2\xFD\xFE";  // "TEXTТестэю"
  EXPECT_TRUE(m_link->SendFrame(text));
  EXPECT_EQ(m_line->Written(), FrameBytes(Cp1251ToCp866(text)));

  m_line->ClearSent();
  EXPECT_TRUE(m_link->SendFrame(std::string(251, 'A')));
  EXPECT_EQ(m_line->Written()[252], 252);
  m_line->ClearSent();
  EXPECT_FALSE(m_link->SendFrame(std::string(252, 'A')));
  EXPECT_FALSE(m_link->SendFrame("TEXT\xA4"));  // "¤" is 0xFD in 866
  EXPECT_TRUE(m_line->Written().empty());
  EXPECT_EQ(m_link->Stats().commandsSent.load(), 3u);

  // Each wait takes the replies in turn.
  AnswerAll({"SOFTPARAM"});
  m_link->SendFrame("KASS");
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2008));
  EXPECT_TRUE(m_link->Queue().IsEmpty());
  AnswerAll({"HARDSENSOR", "READY"});
  m_link->SendFrame("KASS");
  EXPECT_TRUE(m_link->WaitReady());
  AnswerAll({"KASS0001", "xxREADYxx", "LATE"});
  m_link->SendFrame("KASS");
  EXPECT_TRUE(m_link->WaitReady());
  EXPECT_TRUE(m_link->Queue().IsEmpty());  // a successful wait drains

  // Silence is shown as 1003 (its 3000 ms are timed in ReceiptWaitTest)...
  AnswerAll({});
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(Boxes().back(), "box:stop:" + Text(1003));

  // ...but the 3000 ms run per message: a printer that keeps talking keeps the wait alive.
  for (int i = 1; i <= 5; ++i)
    m_clock.At(milliseconds(2900 * i), [this, i] { m_line->FeedFrame(i < 5 ? "DISP" : "READY"); });
  EXPECT_EQ(Took([&] { EXPECT_TRUE(m_link->WaitReady()); }), milliseconds(2900 * 5));

  // PollStatus takes what is queued; an error status in it fails the poll.
  Feed({"READY", "DISP"});
  EXPECT_TRUE(m_link->PollStatus());
  EXPECT_TRUE(m_link->Queue().IsEmpty());
  m_line->FeedFrame("HARDPAPER");
  EXPECT_FALSE(m_link->PollStatus());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2020));

  // The probe: 0 after 200 ms of silence without touching the last error; "SOFT" is no error
  // here, "HARD" and "SHUTDOWN" are.
  EXPECT_EQ(Took([&] { EXPECT_EQ(m_link->ProbeReady(), 0); }), milliseconds(200));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2020));
  Feed({"SOFTPROTOC", "READY"});
  EXPECT_EQ(m_link->ProbeReady(), 1);
  m_line->FeedFrame("SHUTDOWN");
  EXPECT_EQ(m_link->ProbeReady(), -1);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2040));
  Feed({"HARDSENSOR", "READY"});
  EXPECT_EQ(m_link->ProbeReady(), 1);

  // A data reply and "READY" in one read: the data after the mnemonic, nothing left behind; an
  // article name is no status word.
  const auto both = Join({FrameBytes("ARTD0001SOFT DRINK"), FrameBytes("READY")});
  m_line->SetResponder([&](const std::string& command) {
    if (command.rfind("ARTD", 0) == 0) m_line->Feed(both);
    return Texts{};
  });
  EXPECT_EQ(m_link->QueryPrinter("ARTD0001", "ARTD"), "0001SOFT DRINK");
  EXPECT_TRUE(m_link->Queue().IsEmpty());

  // A refused query changes no error and shows nothing; silence is 1003 after 1000 ms.
  m_host.ClearCalls();
  m_link->SetLastErrorText("before");
  AnswerAll({"SOFTBADART"});
  EXPECT_EQ(m_link->QueryPrinter("ARTD9999", "ARTD"), "");
  EXPECT_EQ(m_link->LastErrorText(), "before");
  EXPECT_TRUE(m_link->Queue().IsEmpty());
  AnswerAll({});
  EXPECT_EQ(Took([&] { EXPECT_EQ(m_link->QueryPrinter("ARTD0001", "ARTD"), ""); }),
            milliseconds(1000));
  EXPECT_EQ(Boxes(), Texts{"box:stop:" + Text(1003)});

  EXPECT_EQ(Took([&] { EXPECT_EQ(m_link->TakePendingMessage(700), ""); }), milliseconds(700));
  m_line->FeedFrame("SOFTANYTHING");
  EXPECT_EQ(m_link->TakePendingMessage(700), "SOFTANYTHING");
  EXPECT_TRUE(m_link->Queue().IsEmpty());
}

TEST_F(LinkTest, NoReplyWaitsForAGapAndPollStatusWaitsOnlyForAFrameOnItsWay) {
  // A partial frame is never given up on while this test runs.
  LinkTimings timings;
  timings.interByteMs = 60000;
  MakeLink(timings);
  OpenLink();

  // "READY" followed at once by the start of another frame: the wait ends at its end byte.
  const auto next = FrameBytes("DISPLAY");
  m_line->SetResponder([&](const std::string&) {
    m_line->Feed(Join({FrameBytes("READY"), {next.begin(), next.begin() + 3}}));
    return Texts{};
  });
  m_link->SendFrame("KASS");
  EXPECT_EQ(Took([&] { EXPECT_TRUE(m_link->WaitReady()); }), milliseconds(0));

  // PollStatus gives a frame the reader has begun its 5 ms, and takes it if it ends in them.
  EXPECT_EQ(Took([&] { EXPECT_TRUE(m_link->PollStatus()); }), milliseconds(5));
  m_line->Feed(Join({{next.begin() + 3, next.end()}, {0xFD, 'R'}}));
  m_clock.At(milliseconds(2), [&] { m_line->Feed({'E', 'A', 'D', 'Y', 6, 0xFE}); });
  EXPECT_EQ(Took([&] { EXPECT_TRUE(m_link->PollStatus()); }), milliseconds(2));
  EXPECT_TRUE(m_link->Queue().IsEmpty());

  // Nothing queued and nothing on its way: no wait at all.
  EXPECT_EQ(Took([&] { EXPECT_TRUE(m_link->PollStatus()); }), milliseconds(0));
}

TEST_F(LinkTest, AReplyToAnEarlierCommandIsNeverTakenForTheNextOnesOwn) {
  OpenLink();
  // The query's "READY" comes in a read of its own, after the data: the query takes it, and a
  // command to a printer that has since gone silent fails.
  m_line->SetResponder([&](const std::string& command) {
    if (command.rfind("ARTD", 0) == 0) {
      m_line->FeedFrame("ARTD0001COFFEE");
      m_clock.At(milliseconds(3), [&] { m_line->FeedFrame("READY"); });
    }
    return Texts{};
  });
  EXPECT_EQ(m_link->QueryPrinter("ARTD0001", "ARTD"), "0001COFFEE");
  EXPECT_TRUE(m_link->Queue().IsEmpty());
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));

  // A "READY" that comes after its wait timed out is queued when the next command goes out:
  // it is dropped, so that command fails too. An error status stays for the next wait.
  m_line->FeedFrame("READY");
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  Feed({"READY", "HARDPAPER"});
  m_link->SetLastErrorText("");
  EXPECT_FALSE(m_link->SendFrame(std::string(300, 'A')));
  EXPECT_FALSE(m_link->Queue().IsEmpty()) << "a refused frame dropped nothing";
  EXPECT_TRUE(m_link->SendFrame("KASS"));
  EXPECT_EQ(m_link->Queue().Peek(), "HARDPAPER");
  EXPECT_FALSE(m_link->PollStatus());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2020));

  // A data reply with no "READY" after it still comes back, once its wait has run out.
  AnswerAll({"ARTD0002TEA"});
  EXPECT_EQ(m_link->QueryPrinter("ARTD0002", "ARTD"), "0002TEA");

  // A client's own frame leaves the queue as it is.
  m_line->FeedFrame("DISP");
  EXPECT_TRUE(m_link->WriteFrame("KASS"));
  EXPECT_EQ(m_link->TakePendingMessage(0), "DISP");

  // The "READY" of an asynchronous report that has already come is not the next command's;
  // an error the report left is found by the PollStatus of the next receipt step.
  AnswerAll({"READY"});
  EXPECT_EQ(m_link->XReportAsync(), 1);
  m_line->SetResponder(nullptr);
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  AnswerAll({"HARDPAPER"});
  EXPECT_EQ(m_link->XReportAsync(), 1);
  m_link->SetLastErrorText("");
  EXPECT_FALSE(m_link->PollStatus());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2020));
}

}  // namespace
}  // namespace vekta
