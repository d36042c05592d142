// The reply waits of the receipt steps on a fake clock: a refusal ends a wait at once, and only
// silence costs the wait's time. Then the receipts whose end is not known: a close left in
// doubt, and the ones an earlier run left in the journal.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "link/receipt_journal.h"
#include "tests/fiscal/fiscal_fixture.h"
#include "tests/support/files.h"

namespace vekta::testing_fiscal {
namespace {

using std::chrono::milliseconds;

class ReceiptWaitTest : public FiscalFixture {
 protected:
  void SetUp() override {
    Connect();
    m_link->SetShowErrorMessages(false);
  }
  // The link aborts what is open as it goes: to the printer, not to a handler holding a test's
  // locals, and while this fixture's members and journal folder are still there.
  void TearDown() override {
    m_handler = PlainAnswer;
    m_link.reset();
  }
  // A new link with its receipt journal in a fresh folder, to a printer answering plainly.
  void ConnectWithJournal(bool showErrors = false) {
    m_link.reset();
    m_handler = PlainAnswer;
    m_dir = std::make_unique<TempDir>();
    m_host.SetLogDirectory(m_dir->Path());
    Connect();
    m_link->SetShowErrorMessages(showErrors);
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
  // Each command is answered by `own`; from the next command starting with `slow` the printer
  // is busy for `busyFor`, then answers it and everything sent meanwhile, in order.
  void Printer(std::function<Commands(const std::string&)> own) {
    m_handler = [own, this](const std::string& command) -> Commands {
      if (!m_slow.empty() && command.rfind(m_slow, 0) == 0) {
        m_slow.clear();
        m_busy = true;
        m_clock.At(m_busyFor, [this] {
          m_busy = false;
          for (const std::string& reply : std::exchange(m_held, {})) m_line->FeedFrame(W(reply));
        });
      }
      Commands replies = own(command);
      if (!m_busy) return replies;
      m_held.insert(m_held.end(), replies.begin(), replies.end());
      return {};
    };
  }
  void SlowFrom(const std::string& prefix, milliseconds busyFor) {
    m_slow = prefix;
    m_busyFor = busyFor;
  }

  std::unique_ptr<TempDir> m_dir;
  std::string m_slow;
  milliseconds m_busyFor{0};
  bool m_busy = false;
  Commands m_held;
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

// Without its journal a receipt a killed server left in doubt cannot be settled after the restart:
// a journal that cannot be used, a write to it that fails, and a read of a damaged file are
// reported, not dropped.
TEST_F(ReceiptWaitTest, AJournalThatCannotBeWrittenOrReadIsReported) {
  const TempDir& dir = *(m_dir = std::make_unique<TempDir>());
  const auto journalProblems = [&](const std::string& about = "receipt journal") {
    Commands found;
    for (const std::string& text : m_host.PortProblems()) {
      if (text.find(about) != std::string::npos) found.push_back(text);
    }
    return found;
  };
  m_host.SetLogDirectory(dir.Write("file", "") + "/log");  // its folder cannot be made
  Connect();
  ASSERT_EQ(journalProblems().size(), 1u);
  EXPECT_NE(journalProblems()[0].find("cannot be used"), std::string::npos);

  m_host.SetLogDirectory(dir.Path());
  Connect();
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  ASSERT_EQ(m_link->AbortCheck(), 1);
  m_link->Journal()->Flush();
  // Another writer holds the file longer than the journal waits for it.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((dir.Path() + "/receipts.sqlite").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  m_link->Journal()->Flush();
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_EQ(journalProblems().size(), 2u);
  EXPECT_NE(journalProblems()[1].find("failed"), std::string::npos);
  m_link.reset();  // while its journal's folder is still there

  // Damaged pages of the receipts are not read as "nothing left": reported, once while the
  // reads fail; a reader gets no list.
  {
    const std::string path = dir.Path() + "/receipts.sqlite";
    std::fstream file(path, std::ios::in | std::ios::out);
    file.seekp(4096);  // every page after the first, which holds the tables' layout
    file << std::string(std::filesystem::file_size(path) - 4096, '\xFF');
  }
  EXPECT_FALSE(ReceiptJournal(dir.Path() + "/receipts.sqlite", true).Settled(5));
  Connect();
  EXPECT_EQ(journalProblems("cannot be read").size(), 1u);
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  m_link->Journal()->Flush();
  EXPECT_EQ(journalProblems("cannot be read").size(), 1u);
}

// Replies that come after the wait for them, or after the next command has gone out: the
// printer answers in order, and a command takes only its own reply.
using LateReplyTest = ReceiptWaitTest;

TEST_F(LateReplyTest, AClientsOwnFrameAnsweredLateAnswersNoLaterCommand) {
  // The printer refuses every cash movement and line; a passed-through "GETD" is answered only
  // after the next command has gone out, and its "READY" must not pass for that command's.
  Printer([](const std::string& command) -> Commands {
    if (command == "GETD") return {"GETD20240115", "READY"};
    if (command.rfind("CAIO", 0) == 0 || command.rfind("FISC", 0) == 0) return {"SOFTNEED"};
    return PlainAnswer(command);
  });
  SlowFrom("GETD", milliseconds(1));
  ASSERT_TRUE(m_link->PassThroughFrame("GETD"));
  EXPECT_EQ(m_link->MoveCash(1, 1000), 0);

  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  SlowFrom("GETD", milliseconds(1));
  ASSERT_TRUE(m_link->PassThroughFrame("GETD"));
  EXPECT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 0, 0, 0), -1);
  EXPECT_EQ(m_link->Sums().Total(), 0);
}

TEST_F(LateReplyTest, AReceiptOpenedWhileAnAsynchronousReportPrintsWaitsForTheReport) {
  // The report prints for 5 s, longer than an open's wait: a "PREP" sent meanwhile would be
  // answered after its wait, and the printer hold a receipt the link does not know of.
  Printer(PlainAnswer);
  SlowFrom("ZREP", milliseconds(5000));
  ASSERT_EQ(m_link->XReportAsync(), 1);
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(SentText(), "ZREP1|CCAS|PREP1");
  EXPECT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 0, 0, 0), 1000);
}

TEST_F(LateReplyTest, AnOpenAnsweredAfterItsWaitLeavesNoReceiptInTheWayOfTheNext) {
  // The printer holds one receipt at a time; it refuses a second open, and an abort with none.
  bool open = false;
  Printer([&open](const std::string& command) -> Commands {
    const bool prep = command.rfind("PREP", 0) == 0;
    if (prep || command == "CANC") {
      if (open == prep) return {"SOFTPROTOC"};
      open = prep;
      return {"READY"};
    }
    return PlainAnswer(command);
  });
  m_link->SetShowErrorMessages(true);
  // Busy printing for 2.5 s, it opens the receipt after the open's wait has given up.
  SlowFrom("PREP", milliseconds(2500));
  EXPECT_EQ(m_link->OpenCheck("1"), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  Reset();
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(SentText(), "CCAS|CANC|PREP1");
  ASSERT_EQ(m_link->AbortCheck(), 1);

  // An open the printer never got: the abort it then refuses costs no box and no error.
  Answer("PREP", {});
  EXPECT_EQ(m_link->OpenCheck("1"), 0);
  Printer([](const std::string& command) -> Commands {
    return command == "CANC" ? Commands{"SOFTPARAM"} : PlainAnswer(command);
  });
  Reset();
  m_link->SetLastErrorText("");
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(SentText(), "CCAS|CANC|PREP1");
  EXPECT_EQ(m_link->LastErrorText(), "");
  EXPECT_EQ(m_host.CallsStartingWith("box:").size(), 0u);

  // A printer gone silent costs one catch-up wait, as long as a step's, not one for each step.
  Answer("PREP", {});
  EXPECT_EQ(m_link->OpenCheck("1"), 0);
  m_line->SetResponder(nullptr);
  std::uint64_t timeouts = 0;
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->OpenCheck("1"), 0); }, timeouts), milliseconds(3000));
}

TEST_F(LateReplyTest, AReturnOpenThatGoesNoFurtherLeavesTheSaleStillOpenASale) {
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  Answer("C", {});  // the abort, and then the query that would catch up on it, go unanswered
  EXPECT_EQ(m_link->OpenReturnCheck("1"), 0);
  Printer(PlainAnswer);
  for (const std::string& reply : PlainAnswer("CCAS")) m_line->FeedFrame(reply);  // came late
  Reset();
  EXPECT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 0, 0, 0), 1000);
  EXPECT_EQ(Sent().back().substr(0, 4), "FISC");
}

TEST_F(LateReplyTest, QueriesUnansweredWhileThePrinterWasSilentCostNoLaterCall) {
  Answer("CCAS", {});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(m_link->GetCashInfo(), "");
  Printer(PlainAnswer);
  EXPECT_EQ(m_link->MoveCash(1, 1000), 1);
  EXPECT_EQ(m_link->MoveCash(1, 1000), 1);
  EXPECT_EQ(m_link->GetCashInfo(), std::string(88, '0'));
}

TEST_F(LateReplyTest, ACashMovementOrReportPrintedAfterItsWaitIsDoneOnceAndSaidDone) {
  // Printing 5 s, longer than the 3 s wait: the printer is asked, and its late "READY" tells.
  Printer(PlainAnswer);
  SlowFrom("CAIO", milliseconds(5000));
  EXPECT_EQ(m_link->MoveCash(1, 1000), 1);
  SlowFrom("NREP", milliseconds(8000));
  EXPECT_EQ(m_link->ZReport(), 1);
  EXPECT_EQ(SentText(), "CAIOI0000001000|CCAS|NREP|CCAS");
  EXPECT_EQ(m_host.CallsStartingWith("box:").size(), 0u);

  // Refused late, it is refused; its reply lost on the line, it is unanswered as before.
  Printer([](const std::string& command) -> Commands {
    if (command == "NREP") return {"SOFTNREP"};
    return command.rfind("CAIO", 0) == 0 ? Commands{} : PlainAnswer(command);
  });
  SlowFrom("NREP", milliseconds(5000));
  EXPECT_EQ(m_link->ZReport(), 0);
  EXPECT_NE(m_link->LastErrorText(), LoadString1251(1003));
  EXPECT_EQ(m_link->MoveCash(1, 1000), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  Reset();
  EXPECT_EQ(m_link->XReport(), 1);
  EXPECT_EQ(SentText(), "ZREP1");  // nothing was left to catch up on

  // Switched off and on before its answer, the printer has lost its login and refuses the
  // query: the movement may have been made, and is not reported refused.
  int movements = 0;
  m_handler = [&](const std::string& command) -> Commands {
    if (command.rfind("CAIO", 0) != 0 || ++movements > 1) return PlainAnswer(command);
    SwitchOffAndOn();  // the movement is made, and the printer switched off before its answer
    return {};
  };
  EXPECT_EQ(m_link->MoveCash(1, 1000), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(6006));
  EXPECT_EQ(m_link->MoveCash(1, 1000), 1);  // logged in again
  EXPECT_EQ(movements, 2);
}

// The register query a journalled open makes is no step of the receipt: unanswered, it is no
// error. A receipt whose abort failed is journalled aborted once the next one opens.
TEST_F(ReceiptWaitTest, JournalledOpensFailNeitherOnTheirQueryNorOnAnAbortAnsweredLate) {
  ConnectWithJournal(true);
  Answer("CCAS", {});
  m_link->SetLastErrorText("");
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(m_link->LastErrorText(), "");
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());

  ConnectWithJournal(true);
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  Answer("CANC", {});  // carried out, but answered too late
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  m_link->Journal()->Flush();
  EXPECT_EQ(m_link->Journal()->Unsettled(1).value().size(), 1u);  // the open one alone
  const auto settled = m_link->Journal()->Settled(5).value();
  ASSERT_EQ(settled.size(), 1u);
  EXPECT_EQ(settled[0].state, ReceiptJournal::kAborted);
}

// A close the printer is slow to answer, or never gets.
class CloseInDoubtTest : public ReceiptWaitTest {
 protected:
  static std::string CloseReply() {
    return "COMP" + std::string("0000000042") + "0000001000" + std::string(70, '0');
  }
  void OpenWithOneLine() {
    ASSERT_EQ(m_link->OpenCheck("1"), 1);
    ASSERT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 0, 0, 0), 1000);
  }
  // A close is answered with its figures, everything else plainly.
  static Commands Closing(const std::string& command) {
    return command.rfind("COMP", 0) == 0 ? Commands{CloseReply(), "READY"} : PlainAnswer(command);
  }
  // The next close never reaches the printer.
  void LoseTheNextClose() {
    m_handler = [lost = true](const std::string& command) mutable {
      return command.rfind("COMP", 0) == 0 && std::exchange(lost, false) ? Commands{}
                                                                         : Closing(command);
    };
  }
  // A printer answering in order, a millisecond a command but 5 s for the one starting with
  // `slow`; it refuses cash movements.
  void InOrderPrinter(const std::string& slow) {
    m_line->SetResponder([this, slow](const std::string& command) -> Commands {
      const Commands replies = command.rfind("COMP", 0) == 0   ? Commands{CloseReply(), "READY"}
                               : command.rfind("CAIO", 0) == 0 ? Commands{"SOFTNEED"}
                                                               : PlainAnswer(command);
      m_free = std::max(m_free, m_clock.Now()) + milliseconds(command.rfind(slow, 0) ? 1 : 5000);
      m_clock.At(std::chrono::duration_cast<milliseconds>(m_free - m_clock.Now()), [this, replies] {
        for (const std::string& reply : replies) m_line->FeedFrame(reply);
      });
      return {};
    });
  }
  int Count(const std::string& command) const {
    const auto sent = m_line->SentCommands();
    return static_cast<int>(std::count_if(
        sent.begin(), sent.end(), [&](const std::string& c) { return c.rfind(command, 0) == 0; }));
  }

  Clock::TimePoint m_free{};  // when an in-order printer is done with what it was sent
};

TEST_F(CloseInDoubtTest, ALateCloseReplySettlesTheRetryWithItsFiguresAndNothingPrintsTwice) {
  OpenWithOneLine();
  Printer(Closing);
  SlowFrom("COMP", milliseconds(7000));
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

TEST_F(CloseInDoubtTest, AReceiptThatPrintedIsNeitherAbortedNorRefused) {
  // Its figures tell that the printer closed it, whatever status word follows them.
  OpenWithOneLine();
  Answer("COMP", {CloseReply(), "SOFTBLOCK", "READY"});
  m_link->SetLastErrorText("");
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_FALSE(m_link->IsCheckOpen());
  EXPECT_EQ(m_link->LastErrorText(), "");

  // Given up by the till after its close went unanswered, it printed meanwhile: no abort is
  // sent, and the retried close answers its total.
  OpenWithOneLine();
  Printer(Closing);
  SlowFrom("COMP", milliseconds(5000));
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_EQ(m_link->AbortCheck(), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(6005));
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  // Nor does a report after such a close abort it, or speak of an abort.
  SlowFrom("COMP", milliseconds(5000));
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  m_link->SetLastErrorText("");
  EXPECT_EQ(m_link->ZReport(), 1);
  EXPECT_EQ(m_link->LastErrorText(), "");
  EXPECT_EQ(Count("CANC"), 0);
  EXPECT_EQ(Count("COMP"), 3);
}

TEST_F(CloseInDoubtTest, SettledByTheLateFiguresTheRepliesStillOwedAnswerNoLaterCommand) {
  OpenWithOneLine();
  InOrderPrinter("COMP");
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_EQ(m_link->MoveCash(1, 1000), 0);
  EXPECT_FALSE(m_link->IsCloseInDoubt());
  EXPECT_EQ(m_link->CheckResultText(), "42;1000;0;0;0;0;0;0;0");
}

TEST_F(CloseInDoubtTest, AnAnswerThatCameAfterItsWaitIsNoLaterQuerysAnswer) {
  InOrderPrinter("ZREP");  // an X report printed without waiting
  ASSERT_EQ(m_link->XReportAsync(), 1);
  EXPECT_EQ(m_link->GetCashInfo(), "");  // its answer comes after its wait
  EXPECT_EQ(m_link->MoveCash(0, 500000), 0);
}

TEST_F(CloseInDoubtTest, ACloseThePrinterNeverTookIsClosedByItsRetryOrAbortedByTheNextReceipt) {
  OpenWithOneLine();
  LoseTheNextClose();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_EQ(Count("COMP"), 2);
  EXPECT_EQ(Count("CCAS"), 1);

  // The same doubt met by the next receipt instead: the open receipt is aborted, not closed.
  LoseTheNextClose();
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  m_line->ClearSent();
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(m_line->SentCommands(), (Commands{"CCAS", "CANC", "PREP1"}));
}

TEST_F(CloseInDoubtTest, ACloseCountsOnlyOnItsOwnReply) {
  // A line the printer is slow with: the wait gives up, and its reply comes after the close.
  const auto slowLineThenClose = [&](const Commands& closeReplies) {
    OpenWithOneLine();
    Answer("FISC", {});
    EXPECT_EQ(m_link->FiscalLine("Milk", 1, 500, 0, 0, 0, 0), -1);
    m_handler = [closeReplies](const std::string& command) {
      if (command.rfind("COMP", 0) != 0) return PlainAnswer(command);
      Commands replies{"FISC0000000000", "READY"};
      replies.insert(replies.end(), closeReplies.begin(), closeReplies.end());
      return replies;
    };
    return m_link->CloseCheckEx(1000, 0, 0, 0);
  };
  // The printer booked the line the link gave up on, so it refuses the close: not printed,
  // whatever the late "READY" seemed to say. Only the printer can tell; it is asked first.
  EXPECT_EQ(slowLineThenClose({"SOFTCHECK"}), -1);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  // Once the printer has told, the late replies are behind: a retry's refusal is no doubt, once
  // the registers say that it did not print.
  Answer("COMP", {"SOFTCHECK"});
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_FALSE(m_link->IsCloseInDoubt());
  EXPECT_EQ(m_link->AbortCheck(), 1);
  EXPECT_EQ(Count("CCAS"), 2);
  // A close the printer carried out counts with its own figures.
  EXPECT_EQ(slowLineThenClose({CloseReply(), "READY"}), 1000);
  EXPECT_EQ(m_link->CheckResultText(), "42;1000;0;0;0;0;0;0;0");
  EXPECT_FALSE(m_link->IsCheckOpen());
  // A close whose write failed may have reached the printer all the same.
  OpenWithOneLine();
  m_line->FailWrites();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
}

TEST_F(CloseInDoubtTest, AfterATimeOutHarmlessWordsAndTheNextReceiptsRegistersKeepClosesPlain) {
  ConnectWithJournal();
  Commands closeReplies;
  m_handler = [&](const std::string& command) {
    if (command.rfind("COMP", 0) == 0) return closeReplies;
    return command.find("Milk") != std::string::npos ? Commands{} : PlainAnswer(command);
  };
  const auto slowLine = [&] {
    OpenWithOneLine();
    EXPECT_EQ(m_link->FiscalLine("Milk", 1, 500, 0, 0, 0, 0), -1);
  };
  // A harmless status word before the close's figures is no refusal of anyone's.
  slowLine();
  closeReplies = {"HARDSENSOR", CloseReply(), "READY"};
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  // The next receipt's register query is answered after whatever came late: a close answered
  // with "READY" alone counts again.
  slowLine();
  EXPECT_EQ(m_link->AbortCheck(), 1);
  OpenWithOneLine();
  closeReplies = {"READY"};
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
}

// A status word that comes ahead of the close's figures (the printer's clock, sent unasked)
// refuses the close only where the printer tells that the receipt did not print: by the figures
// behind it, by the registers, or in doubt while it does not answer. A register reply garbled on
// the line tells nothing.
TEST_F(CloseInDoubtTest, AStatusWordBeforeTheCloseRefusesOnlyAReceiptThatDidNotPrint) {
  ConnectWithJournal();
  std::string registers(88, '0');
  Commands closeReplies;  // none at first: the close goes unanswered
  m_handler = [&](const std::string& command) {
    if (command == "CCAS") return Commands{"CCAS" + registers, "READY"};
    return command.rfind("COMP", 0) == 0 ? closeReplies : Commands{"READY"};
  };
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  // A byte short, its fields shifted: the registers seem to have moved, but it tells nothing.
  registers = std::string(87, '1');
  EXPECT_EQ(m_link->AbortCheck(), 0);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  registers = std::string(88, '0');
  EXPECT_EQ(m_link->AbortCheck(), 1);
  EXPECT_EQ(Count("COMP"), 1);

  Reset();
  OpenWithOneLine();
  closeReplies = {"HARDTIMER", CloseReply(), "READY"};
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_EQ(m_link->CheckResultText(), "42;1000;0;0;0;0;0;0;0");
  EXPECT_FALSE(m_link->IsCheckOpen());

  // The figures lost on the line, the registers moved by the receipt: printed.
  OpenWithOneLine();
  closeReplies = {"HARDTIMER"};
  registers.replace(33, 11, "00000001000");
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_FALSE(m_link->IsCheckOpen());

  // Registers unmoved: refused with the status word's own text, the receipt still open.
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_TRUE(m_link->IsCheckOpen());
  EXPECT_FALSE(m_link->IsCloseInDoubt());
  EXPECT_NE(m_link->LastErrorText(), LoadString1251(6000));
  EXPECT_EQ(m_link->AbortCheck(), 1);

  // A printer silent after its status word cannot tell: in doubt.
  OpenWithOneLine();
  bool silent = false;
  m_handler = [&](const std::string& command) {
    if (command == "CCAS") return silent ? Commands{} : Commands{"CCAS" + registers, "READY"};
    silent = command.rfind("COMP", 0) == 0;
    return silent ? closeReplies : Commands{"READY"};
  };
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(6000));
  EXPECT_EQ(Count("CANC"), 1);
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
  // The device goes away while asked (its write fails), and after that the lost link is the reason.
  m_line->FailWrites();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_TRUE(m_link->IsCloseInDoubt());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
}

TEST_F(CloseInDoubtTest, AnotherPrinterOnThePortSettlesNothingOfTheReceiptThatWent) {
  ConnectWithJournal();
  OpenWithOneLine();
  Answer("COMP", {});
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  // The device goes away, and another printer, whose registers stand elsewhere, comes on its path.
  m_line->FailWrites();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  m_setup.serialNumber = "5007654321";
  m_handler = [](const std::string& command) -> Commands {
    if (command == "CCAS") return {"CCAS" + std::string(33, '0') + std::string(55, '1'), "READY"};
    return {"READY"};
  };
  ASSERT_TRUE(m_link->Reconnect());
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(6007) + " 5001234567");
  EXPECT_FALSE(m_link->IsCheckOpen());
  EXPECT_EQ(Count("COMP"), 1);
  m_link->Journal()->Flush();
  ASSERT_EQ(m_link->Journal()->Unsettled(1).value().size(), 1u);
  EXPECT_EQ(m_link->Journal()->Unsettled(1).value()[0].serial, "5001234567");
  // The printer now on the port sells as any other.
  OpenWithOneLine();
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
}

// The sales and return registers as "CCAS" lays them out: 11 characters each, blank-padded.
std::string Registers(int sales, int returns) {
  const std::string s = std::to_string(sales), r = std::to_string(returns);
  return std::string(11 - s.size(), ' ') + s + std::string(11 - r.size(), ' ') + r;
}

// The newest receipt of an earlier run is settled only when the printer can tell: from its
// registers (a return moves them back), or by an abort it confirmed. Older ones are aborted: a
// later receipt followed them.
using EarlierRunTest = FiscalFixture;

TEST_F(EarlierRunTest, ReceiptsAnEarlierRunLeftAreSettledOnlyWhenThePrinterCanTell) {
  // Registers as they were at the open, after a return, after a sale.
  const std::string b = Registers(10000, 0), returned = Registers(10000, 500),
                    sold = Registers(11000, 0);
  // What goes out before and at the next open: the query, and the abort if one is owed.
  const char *kAsk = "CCAS|PREP1|CCAS", *kAbort = "CCAS|CANC|PREP1|CCAS", *kNone = "PREP1|CCAS";
  struct Case {
    const char* what;
    std::string baseline;
    const char* state;      // as the earlier run journalled it
    std::string registers;  // what "CCAS" tells now; empty: it is refused
    bool abortRefused;
    const char* settled;  // nullptr: still unsettled
    std::int64_t total;
    const char* sent;
    const char* serial = "5001234567";   // of the printer that journalled them
    int port = 1;                        // where it was then
    const char* run = "an earlier run";  // empty: this one
    int alsoPort = 0;  // where a newer receipt of the same serial number was left, if any
  };
  using J = ReceiptJournal;
  const char* kThis = "5001234567";
  const Case cases[] = {
      {"a return printed", b, J::kClosing, returned, false, J::kClosed, -500, kAsk},
      {"not printed", b, J::kClosing, b, false, J::kNotPrinted, 1000, kAbort},
      {"never closed", b, J::kOpen, b, false, J::kAborted, 1000, kAbort},
      {"abort refused", b, J::kClosing, b, true, nullptr, 0, kAbort},
      {"registers refused", b, J::kClosing, "", false, nullptr, 0, kAsk},
      {"a close without a baseline", "", J::kClosing, "", false, nullptr, 0, kNone},
      {"another printer's", b, J::kClosing, returned, false, nullptr, 0, kNone, "5007654321"},
      // Elsewhere: its device came under another COM number after the restart.
      {"this printer's, elsewhere", b, J::kOpen, b, false, J::kAborted, 1000, kAbort, kThis, 2},
      {"printed elsewhere", b, J::kClosing, sold, false, J::kClosed, 1000, kAsk, kThis, 2},
      // But another port's receipts of this run are its own link's, whatever printer it has; so
      // are those its registers do not confirm (another device with the same number), and so is
      // all of it while this port has receipts of its own left.
      {"this run's, elsewhere", b, J::kOpen, b, false, nullptr, 0, kNone, kThis, 2, ""},
      {"another device's, elsewhere", b, J::kClosing, returned, false, nullptr, 0, kAsk, kThis, 2},
      {"this port's first", b, J::kOpen, b, false, J::kAborted, 1000, kAbort, kThis, 1,
       "an earlier run", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.Path() + "/receipts.sqlite";
    {
      ReceiptJournal earlier(path, false, {}, c.run);
      earlier.Opened(c.port, c.serial, b);
      earlier.Update(earlier.Opened(c.port, c.serial, c.baseline), c.state, 1000, "");
      if (c.alsoPort != 0) earlier.Opened(c.alsoPort, c.serial, b);
    }
    m_host.SetLogDirectory(dir.Path());
    // While it connects the printer refuses the register query: nothing can be told yet. It is
    // asked again before the next receipt opens.
    Connect();
    m_handler = [&c](const std::string& command) {
      if (command == "CCAS" && c.registers.empty()) return Commands{"SOFTSLWORK"};
      if (command == "CCAS")
        return Commands{"CCAS" + Pad("", 33) + c.registers + Pad("", 33), "READY"};
      if (command == "CANC" && c.abortRefused) return Commands{"SOFTSLWORK"};
      return Commands{"READY"};
    };
    EXPECT_EQ(Link().OpenCheck("1"), 1);
    EXPECT_EQ(SentText(), c.sent);
    m_handler = [](const std::string&) { return Commands{"READY"}; };
    m_link.reset();  // the new receipt is aborted

    ReceiptJournal journal(path, true);
    const auto left = journal.Unsettled(c.port).value();
    if (c.alsoPort != 0) {
      EXPECT_EQ(journal.Unsettled(c.alsoPort).value().size(), 1u);
    }
    if (c.settled == nullptr) {
      ASSERT_EQ(left.size(), 2u);
      EXPECT_EQ(left[0].state, c.state);
      continue;
    }
    EXPECT_TRUE(left.empty());
    const auto settled = journal.Settled(5).value();
    ASSERT_EQ(settled.size(), 2u);
    EXPECT_EQ(settled[0].state, c.settled);
    EXPECT_EQ(settled[0].total, c.total);
    EXPECT_EQ(settled[1].state, J::kAborted);
  }
}

}  // namespace
}  // namespace vekta::testing_fiscal
