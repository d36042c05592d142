#include <gtest/gtest.h>

#include <utility>

#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using DocumentsTest = FiscalFixture;

TEST_F(DocumentsTest, ReportCommandsAndStatusWindows) {
  EXPECT_EQ(Link().XReport(), 1);
  EXPECT_TRUE(m_host.CallsStartingWith("status.").empty());

  Link().SetShowStatusWindows(true);
  EXPECT_EQ(Link().XReport(), 1);
  EXPECT_EQ(m_host.CallsStartingWith("status.title:"),
            Commands{"status.title:" + LoadStringUtf8(3005)});
  EXPECT_EQ(m_host.Calls().back(), "status.destroy");
  EXPECT_EQ(Link().ArticleReport(), 1);
  EXPECT_EQ(Link().DiscountReport(), 1);
  m_host.ClearCalls();
  EXPECT_EQ(Link().NullCheck(), 1);
  EXPECT_TRUE(m_host.CallsStartingWith("status.").empty());

  // A report opened over a receipt aborts the receipt first.
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  EXPECT_EQ(Link().ZReport(), 1);
  EXPECT_FALSE(Link().IsCheckOpen());

  // A refused report fails and leaves no window.
  Answer("", {"SOFTSLZREP"});
  m_host.ClearCalls();
  EXPECT_EQ(Link().XReport(), 0);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(2014));
  EXPECT_EQ(m_host.Calls().back(), "status.destroy");
  EXPECT_EQ(SentText(), "ZREP1|ZREP1|ARTZ|DIZV|NULL|PREP1|CANC|NREP|ZREP1");

  // Asynchronous reports do not wait for a (switched off) printer nor open a window.
  Reset();
  Answer("", {});
  EXPECT_EQ(Link().XReportAsync(), 1);
  EXPECT_EQ(Link().ZReportAsync(), 1);
  EXPECT_EQ(SentText(), "ZREP1|NREP");
  EXPECT_TRUE(m_host.CallsStartingWith("status.create").empty());
  // One that cannot be written is not started.
  m_line->FailWrites();
  EXPECT_EQ(Link().ZReportAsync(), 0);
  EXPECT_EQ(Link().XReportAsync(), 0);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(1003));

  // Its "READY" comes after the next command has gone out: a Z report refused then is not done
  // (the day would stay open while the till took it for closed).
  Connect();
  Answer("", {});
  ASSERT_EQ(Link().XReportAsync(), 1);
  AnswerAfterALateReady("NREP", "SOFTSLNREP");
  Reset();
  EXPECT_EQ(Link().ZReport(), 0);
  EXPECT_EQ(SentText(), "CCAS|NREP");
  // Caught up, and a refusal still queued is reported before a report goes out.
  DeliverUnasked("HARDPAPER");
  Reset();
  EXPECT_EQ(Link().NullCheck(), 0);
  EXPECT_TRUE(Sent().empty());
  // A refusal met by that query is the reason given.
  Connect();
  Answer("", {});
  ASSERT_EQ(Link().XReportAsync(), 1);
  Answer("CCAS", {"HARDPAPER"});
  Reset();
  EXPECT_EQ(Link().XReport(), 0);
  EXPECT_EQ(SentText(), "CCAS");
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(2020));
  // A harmless one is no refusal.
  bool sensor = true;
  m_handler = [&](const std::string& command) {
    if (command != "CCAS") return Commands{"READY"};
    return std::exchange(sensor, false) ? Commands{"HARDSENSOR"} : PlainAnswer(command);
  };
  Reset();
  EXPECT_EQ(Link().XReport(), 1);
  EXPECT_EQ(SentText(), "CCAS|CCAS|ZREP1");
}

TEST_F(DocumentsTest, PeriodicReportsByNumbersAndByOleDates) {
  Connect(kGen0);
  EXPECT_EQ(Link().PeriodicalFiscalReport(12, 5), 1);
  EXPECT_EQ(SentText(), "IREN00050012");
  Connect();  // generation 1, variant 3
  PrinterLink& l = Link();
  EXPECT_TRUE(l.PeriodicalFiscalReport(12, 5) == 1 && l.PeriodicalFiscalReport(7, 7) == 1 &&
              l.PeriodicalFiscalReport(1, 12345) == 1 &&
              l.PeriodicalFiscalReport(65536 + 3, 4) == 1);
  EXPECT_EQ(SentText(), "FIRN00050012|FIRN|FIRN000112345|FIRN00030004");

  Connect(kVariant2);
  const double march1 = 38047;
  const double march31 = 38077;
  // Reversed, with times of day.
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(march31 + 0.75, march1 + 0.1), 1);
  // Before 30 December 1899 the day counts backwards and the time forwards: -1.25 is
  // 29 December 1899 06:00, -0.5 is 30 December 1899 12:00.
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(-1.25, -0.5), 1);
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(-36357.9, -36357.1), 1);  // 15 June 1800
  // The first and last days OLE dates cover, and values beyond them.
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(-657434.5, 2958465.5), 1);
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(-657435.0, 3000000.0), 1);
  // Half a second before midnight is the next day, as OLE rounds to the second.
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(march1 + 0.999999999, march1 + 0.999999999), 1);
  EXPECT_EQ(SentText(),
            "IREP2004030120040331|IREP1899122918991230|IREP1800061518000615|"
            "IREP0100010199991231|IREPInvalid DateTimeInvalid DateTime|IREP2004030220040302");
  Connect();  // generation 1, variant 3
  EXPECT_EQ(Link().PeriodicalFiscalReportDate(march1, march31), 1);
  EXPECT_EQ(SentText(), "FIRP2004030120040331");
}

TEST_F(DocumentsTest, TextDocumentIsClearedFilledAndPrinted) {
  EXPECT_EQ(Link().EndTextDocument(), 0);  // nothing open: nothing sent
  PrinterLink& l = Link();
  EXPECT_TRUE(l.OpenTextDocument() == 1 && l.FreeTextLine(1, 0, 0, W("Дякуємо")) == 1 &&
              l.FreeTextLine(0, 1, 0, "after\f") == 1 &&
              l.FreeTextLine(0x10000, 0x10000, 7, "flags cut to 16 bits") == 1 &&
              l.FreeTextLine(0, 0, 0, std::string(50, 'x')) == 1 && l.CloseTextDocument(1) == 1);
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  EXPECT_EQ(Link().ClearFreeTextLines(), 1);
  EXPECT_EQ(SentText(), "CTXT|TEXT000Дякуємо|TEXT110after |TEXT101flags cut to 16 bits|TEXT100" +
                            std::string(43, 'x') + "|DBEG1|PRTX|CTXT");

  // A refused begin stops the document.
  Reset();
  Answer("DBEG", {"SOFTSLWORK"});
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  EXPECT_EQ(SentText(), "DBEG0");

  // A refused print leaves the document begun on the printer: the next receipt ends it first,
  // and so does closing the port.
  Reset();
  Answer("PRTX", {"HARDPAPER"});
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_TRUE(Link().IsTextDocumentOpen());
  EXPECT_EQ(Link().OpenCheck("1"), 1);
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_EQ(Link().ClosePort(), 0);
  EXPECT_EQ(SentText(), "DBEG0|PRTX|DEND|PREP1|CANC|DBEG0|PRTX|DEND");
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  Connect();

  // A status word waiting in the queue (left by an asynchronous report) refuses the line, and
  // the begin: taken as its own, it left the document begun there and the flag clear.
  for (const bool line : {true, false}) {
    Reset();
    DeliverUnasked("HARDPAPER");
    EXPECT_EQ(line ? Link().FreeTextLine(0, 0, 0, "line") : Link().CloseTextDocument(0), 0);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(2020));
  }

  // A document whose end is refused stays begun there; a refused begin prints nothing into it.
  m_handler = [](const std::string&) { return Commands{"READY"}; };
  Answer("PRTX", {"HARDPAPER"});
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  m_handler = [](const std::string& command) {
    return command == "DEND" || command == "DBEG0" ? Commands{"SOFTSLWORK"} : Commands{"READY"};
  };
  Reset();
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_EQ(SentText(), "DEND|DBEG0");
  EXPECT_TRUE(Link().IsTextDocumentOpen());

  // Switched off and on after its lines went out, the printer holds none: the document is not
  // printed empty, and once its lines are there again it is.
  Connect();
  m_handler = PlainAnswer;
  ASSERT_EQ(Link().FreeTextLine(0, 0, 0, "slip"), 1);
  SwitchOffAndOn();
  Reset();
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(6008));
  EXPECT_EQ(Sent().back(), "DEND");
  EXPECT_EQ(Link().FreeTextLine(0, 0, 0, "slip"), 1);
  EXPECT_EQ(Link().CloseTextDocument(0), 1);
  EXPECT_EQ(Sent().back(), "PRTX");
}

}  // namespace
}  // namespace vekta::testing_fiscal
