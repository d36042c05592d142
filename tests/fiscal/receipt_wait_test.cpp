// The reply waits of the receipt steps on a fake clock: a refusal ends a wait at once, and only
// silence costs the wait's time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using std::chrono::milliseconds;

class ReceiptWaitTest : public FiscalFixture {
 protected:
  void SetUp() override {
    Connect();
    m_link->SetShowErrorMessages(false);
  }

  // The fake time a call took, and the time-outs it counted.
  template <typename Call>
  milliseconds Timed(Call call, std::uint64_t& timeouts) {
    const std::uint64_t before = m_link->Stats().timeouts;
    const auto start = m_clock.Now();
    call();
    timeouts = m_link->Stats().timeouts - before;
    return std::chrono::duration_cast<milliseconds>(m_clock.Now() - start);
  }
};

TEST_F(ReceiptWaitTest, WrongPositionNumberIsARefusalInEveryReceiptStep) {
  // "SOFFPOSNO" is the one status word without "SOFT" in it; waited on as an ordinary reply,
  // each step would sit out its time-out and report a lost link instead of the refusal.
  std::uint64_t timeouts = 0;
  // The step the printer refuses ends at once, with the refusal as the reason.
  const auto refusedAtOnce = [&](const std::string& mnemonic, auto step) {
    SCOPED_TRACE(mnemonic);
    Answer(mnemonic, {"SOFFPOSNO"});
    m_link->SetLastErrorText("");
    EXPECT_EQ(Timed(step, timeouts), milliseconds(0));
    EXPECT_EQ(timeouts, 0u);
    EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2037));
    Answer("", {"READY"});
  };

  // A refused open leaves no receipt, of either direction.
  refusedAtOnce("PREP", [&] { EXPECT_EQ(m_link->OpenReturnCheck("1"), 0); });
  EXPECT_FALSE(m_link->IsCheckOpen());
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  refusedAtOnce("FISC", [&] { EXPECT_EQ(m_link->FiscalLine("A", 1, 1000, 0, 1, 8, 0), -1); });
  EXPECT_TRUE(m_link->IsCheckOpen());
  EXPECT_EQ(m_link->Sums().Total(), 0);
  ASSERT_GT(m_link->FiscalLine("B", 1, 1000, 0, 0, 0, 0), 0);
  refusedAtOnce("COMP", [&] { EXPECT_EQ(m_link->CloseCheck(), -1); });
  EXPECT_TRUE(m_link->IsCheckOpen());
  refusedAtOnce("CANC", [&] { EXPECT_EQ(m_link->AbortCheck(), 0); });
  EXPECT_TRUE(m_link->IsCheckOpen());

  // Silence, by contrast, is waited on for the whole step and reported as no link.
  Answer("CANC", {});
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->AbortCheck(), 0); }, timeouts), milliseconds(3000));
  EXPECT_EQ(timeouts, 1u);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  // An unanswered open gives up after its own, shorter wait.
  Answer("PREP", {});
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->OpenCheck("1"), 0); }, timeouts), milliseconds(2000));
  EXPECT_EQ(timeouts, 1u);
  EXPECT_FALSE(m_link->IsCheckOpen());
}

// A close the printer is slow to answer. `printer` gets each command and answers it; a reply
// it holds back goes out, with everything asked after it, when the fake clock reaches `at`.
class CloseInDoubtTest : public ReceiptWaitTest {
 protected:
  // The link's close still talks to the responder below, which uses this fixture's members.
  void TearDown() override { m_link.reset(); }
  static std::string CloseReply() {
    return "COMP" + std::string("0000000042") + "0000001000" + std::string(70, '0');
  }
  void OpenWithOneLine() {
    ASSERT_EQ(m_link->OpenCheck("1"), 1);
    ASSERT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 0, 0, 0), 1000);
  }
  // Every command is answered "READY" (a close with its figures), except that the printer is
  // busy from the first close until `busyUntil` (none: it never got that close), answering
  // what came meanwhile in order then.
  void PrinterBusyWithTheClose(std::chrono::milliseconds busyUntil, bool gotTheClose) {
    m_line->SetResponder([=, this](const std::string& command) -> Commands {
      const bool close = command.rfind("COMP", 0) == 0;
      if (close && !m_sawClose) {
        m_sawClose = true;
        if (gotTheClose) m_held = {CloseReply(), "READY"};
        if (busyUntil.count() > 0) {
          m_clock.At(busyUntil, [this] {
            for (const std::string& reply : m_held) m_line->FeedFrame(reply);
            m_held.clear();
            m_busy = false;
          });
          m_busy = true;
        }
        return {};
      }
      Commands replies = close               ? Commands{CloseReply(), "READY"}
                         : command == "CCAS" ? Commands{"CCAS" + std::string(88, '0'), "READY"}
                                             : Commands{"READY"};
      if (!m_busy) return replies;
      m_held.insert(m_held.end(), replies.begin(), replies.end());
      return {};
    });
  }
  int Count(const std::string& command) const {
    const auto sent = m_line->SentCommands();
    return static_cast<int>(std::count_if(
        sent.begin(), sent.end(), [&](const std::string& c) { return c.rfind(command, 0) == 0; }));
  }

  bool m_sawClose = false;
  bool m_busy = false;
  Commands m_held;
};

TEST_F(CloseInDoubtTest, ALateCloseReplySettlesTheRetryWithItsFiguresAndNothingPrintsTwice) {
  OpenWithOneLine();
  PrinterBusyWithTheClose(milliseconds(7000), true);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  EXPECT_NE(m_link->LastErrorText().find(Utf8ToCp1251("можливо, надруковано")), std::string::npos);

  // Still printing at the first retry: still in doubt, and no second close goes out.
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  EXPECT_EQ(Count("COMP"), 1);

  // The close reply has come: the retry answers with the receipt's total and figures, once.
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_FALSE(m_link->IsCloseInDoubt());
  EXPECT_FALSE(m_link->IsCheckOpen());
  EXPECT_EQ(m_link->CheckResultText(), "42;1000;0;0;0;0;0;0;0");
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 0);
  EXPECT_EQ(Count("COMP"), 1);

  // A next receipt is not taken for the printed one.
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_EQ(Count("COMP"), 2);
}

TEST_F(CloseInDoubtTest, ACloseThePrinterNeverTookIsClosedByItsRetryOrAbortedByTheNextReceipt) {
  OpenWithOneLine();
  PrinterBusyWithTheClose(milliseconds(0), false);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_EQ(Count("COMP"), 2);
  EXPECT_EQ(Count("CCAS"), 1);

  // The same doubt met by the next receipt instead: the open receipt is aborted, not closed.
  m_sawClose = false;
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  m_line->ClearSent();
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(m_line->SentCommands(), (Commands{"CCAS", "CANC", "PREP1"}));
}

TEST_F(CloseInDoubtTest, WhileThePrinterStaysSilentNothingNewIsSent) {
  OpenWithOneLine();
  m_line->SetResponder(nullptr);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  m_line->ClearSent();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_EQ(m_line->SentCommands(), Commands{"CCAS"});
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  EXPECT_NE(m_link->LastErrorText().find(Utf8ToCp1251("можливо, надруковано")), std::string::npos);
}

}  // namespace
}  // namespace vekta::testing_fiscal
