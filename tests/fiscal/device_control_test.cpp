#include <gtest/gtest.h>

#include <utility>

#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using DeviceControlTest = FiscalFixture;

TEST_F(DeviceControlTest, CommandTextsSixteenBitCutsAndRefusedTimes) {
  // Only the low 16 bits count: 0x10000 is 0, 0x18000 negative.
  PrinterLink& l = Link();
  const auto ok = [](int result) { return result == 1; };
  EXPECT_TRUE(ok(l.OpenCashBox()) && ok(l.CheckCopy()) && ok(l.CutAndBeep(1, 0)) &&
              ok(l.CutAndBeep(0x10000, -7)) && ok(l.Feed(300)) && ok(l.Feed(-1)) &&
              ok(l.Feed(0x10000 + 5)) && ok(l.SetPrintingDoubleWidth(2)) &&
              ok(l.SetTableMode(-1)) && ok(l.SetTableMode(0x18000)) && ok(l.SetTableMode(3)) &&
              ok(l.SetOnSaleTaxesPrintMode(5)) && ok(l.SetOnSaleTaxesPrintMode(0)) &&
              ok(l.MoveCash(1, 1500)) && ok(l.MoveCash(0, 1500)) && ok(l.MoveCash(-1, 1500)) &&
              ok(l.MoveCash(1, -1500)) && ok(l.SetReturnCheckNumber(1234567)) &&
              ok(l.SetCheckMessagesMode(7)) && ok(l.SetCheckMessagesMode(2)) &&
              ok(l.SetDeptAlias(W("Відділ 1"))) && ok(l.SetInternalTime(9, 5, 0)));
  EXPECT_EQ(SentText(),
            "KASS|COPY|CUTR10|CUTR01|FEED0|FEED0|FEED5|DSTR1|TABL|TABL|TABL1|PPOD1|PPOD|"
            "CAIOI0000001500|CAIOO0000001500|CAIOO0000001500|CAIOI0000001500|BCHN1234567|TMOD0|"
            "TMOD2|DEPTВiддi|CTIM090500");

  // A time out of range is refused before sending; an open receipt is aborted for a good one.
  Reset();
  EXPECT_EQ(Link().SetInternalTime(24, 0, 0), 0);
  EXPECT_EQ(Link().SetInternalTime(0, 60, 0), 0);
  EXPECT_EQ(Link().SetInternalTime(0, 0, -1), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(3015));
  EXPECT_EQ(m_host.CallsStartingWith("box:excl:").size(), 3u);
  // 65536 + 23 is 23 in 16 bits.
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  Reset();
  EXPECT_EQ(Link().SetInternalTime(65536 + 23, 59, 59), 1);
  EXPECT_EQ(SentText(), "CANC|CTIM235959");
  EXPECT_FALSE(Link().IsCheckOpen());
}

TEST_F(DeviceControlTest, CashMovesCopiesAndDocumentsRunOnlyOnTheirOwnReply) {
  m_link->SetShowErrorMessages(false);
  // A refusal of an earlier command, still queued: reported, and no cash moves.
  DeliverUnasked("SOFTPROTOC");
  EXPECT_EQ(Link().MoveCash(1, 1500), 0);
  EXPECT_TRUE(Sent().empty());
  // A feed whose "READY" comes late, or an X report printed without waiting: that "READY"
  // arrives after the next command has gone out. The drawer then holds too little for the
  // movement, which the printer refuses.
  for (const bool report : {false, true}) {
    SCOPED_TRACE(report ? "report" : "feed");
    Answer("", {});
    EXPECT_EQ(report ? Link().XReportAsync() : Link().Feed(1), report ? 1 : 0);
    AnswerAfterALateReady("CAIO", "SOFTNEED");
    Reset();
    EXPECT_EQ(Link().MoveCash(0, 500000), 0);
    EXPECT_EQ(SentText(), "CCAS|CAIOO0000500000");
    // Caught up: the next movement goes out alone.
    Reset();
    EXPECT_EQ(Link().MoveCash(1, 100), 0);
    EXPECT_EQ(SentText(), "CAIOI0000000100");
  }
  // A report that prints on for seconds: the movement waits until the printer is done with it.
  Answer("", {});
  ASSERT_EQ(Link().XReportAsync(), 1);
  m_handler = [&](const std::string& command) {
    if (command != "CCAS") return Commands{"READY"};
    m_clock.At(std::chrono::seconds(5), [this] {
      for (const std::string& reply : Commands{"READY", "CCAS" + std::string(88, '0'), "READY"}) {
        m_line->FeedFrame(reply);
      }
    });
    return Commands{};
  };
  Reset();
  EXPECT_EQ(Link().MoveCash(1, 100), 1);
  EXPECT_EQ(SentText(), "CCAS|CAIOI0000000100");

  // So do the other device commands and a text document's steps: a refused copy behind an X
  // report is not printed, nor a document begun that the printer did not begin.
  for (const std::string refused : {"COPY", "DBEG0"}) {
    SCOPED_TRACE(refused);
    Answer("", {"READY"});
    if (refused == "DBEG0") {
      ASSERT_EQ(Link().FreeTextLine(0, 0, 0, "x"), 1);
    }
    Answer("", {});
    ASSERT_EQ(Link().XReportAsync(), 1);
    AnswerAfterALateReady(refused, "SOFTSLWORK");
    Reset();
    EXPECT_EQ(refused == "COPY" ? Link().CheckCopy() : Link().CloseTextDocument(0), 0);
    EXPECT_EQ(SentText(), "CCAS|" + refused);
    EXPECT_FALSE(Link().IsTextDocumentOpen());
  }
}

TEST_F(DeviceControlTest, PreconditionsFailSilently) {
  Connect(kGen0);
  Link().SetLastErrorText("earlier");
  EXPECT_EQ(Link().CutAndBeep(1, 1), 0);      // generation 0 has no cutter
  EXPECT_EQ(Link().LongName(W("Назва")), 0);  // no receipt
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  Reset();
  EXPECT_EQ(Link().GetArticleInfo(1), "");  // MaxArticles 0
  EXPECT_EQ(Link().CheckCopy(), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
  EXPECT_EQ(Link().LastErrorText(), "earlier");
}

TEST_F(DeviceControlTest, LineLimitsFollowGenerationAndVariant) {
  const std::string text40(40, 'h');
  const std::string name100(100, 'n');
  struct Case {
    PrinterSetup setup;
    std::size_t line, longName;
  };
  for (const Case& c : {Case{kGen0, 18, 18}, Case{PrinterSetup{"4411234567", "XXXX"}, 18, 54},
                        Case{kVariant2, 36, 72}, Case{PrinterSetup{}, 43, 86},
                        Case{PrinterSetup{"6001234567", "XXXX"}, 43, 86}}) {
    SCOPED_TRACE(c.setup.serialNumber);
    Connect(c.setup);
    ASSERT_EQ(Link().SetCheckHeadLine(text40), 1);
    ASSERT_EQ(Link().SetCheckBottomLine("short"), 1);
    ASSERT_EQ(Link().OpenCheck("1"), 1);
    ASSERT_EQ(Link().LongName(name100), 1);
    EXPECT_EQ(SentText(), "HEAD" + text40.substr(0, c.line) + "|BOTMshort|PREP1|FINF" +
                              name100.substr(0, c.longName));
  }
  // Free text lines on variant 2; a receipt is aborted before the document is printed.
  Connect(kVariant2);
  EXPECT_EQ(Link().FreeTextLine(0, 0, 1, std::string(50, 'y')), 1);
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  EXPECT_EQ(Link().CloseTextDocument(0), 1);
  EXPECT_FALSE(Link().IsCheckOpen());
  EXPECT_EQ(SentText(), "TEXT101" + std::string(36, 'y') + "|PREP1|CANC|DBEG0|PRTX");
}

TEST_F(DeviceControlTest, TaxesCalcModeFlagFollowsTheCommandSent) {
  EXPECT_FALSE(Link().TaxesPerLine());
  // A negative value sends "PPMD" (per line), and the link computes per line with it.
  for (const auto& [mode, perLine] : {std::pair{0, true}, {1, false}, {-1, true}}) {
    EXPECT_EQ(Link().SetTaxesCalcMode(mode), 1) << mode;
    EXPECT_EQ(Link().TaxesPerLine(), perLine) << mode;
  }
  Answer("", {"SOFTPARAM"});
  EXPECT_EQ(Link().SetTaxesCalcMode(1), 0);
  EXPECT_TRUE(Link().TaxesPerLine());
  EXPECT_EQ(SentText(), "PPMD|PPMD1|PPMD|PPMD1");
  // An asynchronous report's refusal, still queued, is not taken as the switch's own: carried
  // out, the switch would leave the printer and the link on other modes.
  m_handler = PlainAnswer;
  Reset();
  DeliverUnasked("HARDPAPER");
  EXPECT_EQ(Link().SetTaxesCalcMode(1), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(Link().SetTaxesCalcMode(1), 1);
  EXPECT_FALSE(Link().TaxesPerLine());
}

// Generation 0 shows two cut lines (a control byte as a blank); generation 1 one number with a
// label.
TEST_F(DeviceControlTest, DisplayTextsFollowTheGeneration) {
  Connect(kGen0);
  PrinterLink& l = Link();
  EXPECT_TRUE(l.PutToDisplay("Total", "") == 1 && l.PutToDisplay("", "12345678901234567890") == 1 &&
              l.PutToDisplay("", "") == 1 && l.PutToDisplay(W("Сума"), "12.50\r\x1b") == 1);
  EXPECT_EQ(SentText(),
            "DISP1Total           |DISP21234567890123456|DISP|DISP1Сума            |"
            "DISP212.50           ");
  // A refused first line ends the operation.
  Reset();
  Answer("", {"HARDLCD"});
  EXPECT_EQ(Link().PutToDisplay("a", "b"), 0);
  EXPECT_EQ(SentText(), "DISP1a               ");

  Answer("", {"READY"});
  Connect();
  const std::pair<std::string, std::string> lines[] = {
      {"Сума", "12,5"},            // sum, one decimal
      {"ЦЕНА 1.2.3", ""},          // stops before the second point
      {"Hello", ""},               // no number
      {"", ""},                    // bare command
      {"ціна", "7"},               // Cyrillic і: not the Latin I of the label word
      {"вартIсть", "3."},          // lower case with Latin I, point at the end
      {"Здача:", "123456789012"},  // cut to 10 characters
      {"price", "0.05 sum"},       // the price group comes first
      {"сдача", ".5"},
  };
  for (const auto& [line1, line2] : lines) EXPECT_EQ(Link().PutToDisplay(W(line1), W(line2)), 1);
  EXPECT_EQ(SentText(),
            "DISp22       125|DISp12        12|DISp00          |DISp|DISp00         7|"
            "DISp11         3|DISp301234567890|DISp13       005|DISp32         5");
}

TEST_F(DeviceControlTest, QueriesReturnTheReplyData) {
  Connect(PrinterSetup{"4411234567", "XXXX"});  // MaxArticles 1999
  m_handler = [](const std::string& command) -> Commands {
    if (command.rfind("ARTD", 0) == 0) return {command + "Хлеб белый", "READY"};
    if (command == "GETD") return {"GETD20240115103000", "READY"};
    if (command == "CCAS") return {"SOFTPARAM"};
    return {command + "data", "READY"};
  };
  EXPECT_EQ(Cp1251ToUtf8(Link().GetArticleInfo(7)), "0007Хлеб белый");
  EXPECT_EQ(Link().GetArticleInfo(0), "");
  EXPECT_EQ(Link().GetArticleInfo(2000), "");
  EXPECT_EQ(Cp1251ToUtf8(Link().GetArticleInfo(65536 + 1999)), "1999Хлеб белый");  // 16 bits
  EXPECT_EQ(Link().GetPrinterTime(), "20240115103000");
  m_line->Feed({0xFD, 0x41});  // noise with a start byte: the data still follow the mnemonic
  EXPECT_EQ(Link().GetFiscalInfo(), "data");
  EXPECT_EQ(Link().GetTaxesInfo(), CnalReply(m_setup).substr(4));
  // A refused query gives an empty text, no message and no last error.
  Link().SetLastErrorText("");
  EXPECT_EQ(Link().GetCashInfo(), "");
  EXPECT_EQ(Link().LastErrorText(), "");
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
  EXPECT_EQ(SentText(), "ARTD0007|ARTD1999|GETD|CFIS|CNAL|CCAS");

  // A query that timed out gets its reply late, before the next article's: that one still
  // answers with its own article.
  m_link->SetShowErrorMessages(false);
  Answer("ARTD0007", {});
  EXPECT_EQ(Link().GetArticleInfo(7), "");
  m_handler = [](const std::string& command) -> Commands {
    return {"ARTD0007late", "READY", command + "own", "READY"};
  };
  EXPECT_EQ(Link().GetArticleInfo(8), "0008own");

  // The key position comes from a fresh configuration.
  for (const auto& [digit, position] : {std::pair{'1', 1}, std::pair{'2', 2}, std::pair{'4', 3},
                                        std::pair{'8', 4}, std::pair{'3', 0}}) {
    m_setup.keyDigit = digit;
    m_line->Feed({0xFD, 0x41});
    EXPECT_EQ(Link().GetPrinterKeyPosition(), position) << digit;
  }
}

}  // namespace
}  // namespace vekta::testing_fiscal
