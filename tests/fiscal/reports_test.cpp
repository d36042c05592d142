#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using Commands = std::vector<std::string>;

class ReportsTest : public FiscalFixture {};

TEST_F(ReportsTest, ReportCommandsAndStatusWindows) {
  Connect();
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
  OnCommand([](const std::string&) { return std::vector<std::string>{"SOFTSLZREP"}; });
  m_host.ClearCalls();
  EXPECT_EQ(Link().XReport(), 0);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(2014));
  EXPECT_EQ(m_host.Calls().back(), "status.destroy");

  EXPECT_EQ(Sent(),
            (Commands{"ZREP1", "ZREP1", "ARTZ", "DIZV", "NULL", "PREP1", "CANC", "NREP", "ZREP1"}));
}

TEST_F(ReportsTest, AsyncReportsDoNotWait) {
  Connect();
  Link().SetShowStatusWindows(true);
  OnCommand([](const std::string&) { return std::vector<std::string>{}; });  // switched off
  EXPECT_EQ(Link().XReportAsync(), 1);
  EXPECT_EQ(Link().ZReportAsync(), 1);
  EXPECT_EQ(Sent(), (Commands{"ZREP1", "NREP"}));
  EXPECT_TRUE(m_host.CallsStartingWith("status.create").empty());
}

TEST_F(ReportsTest, PeriodicReportByNumbers) {
  PrinterSetup gen0;
  gen0.serialNumber = "0401234567";
  Connect(gen0);
  EXPECT_EQ(Link().PeriodicalFiscalReport(12, 5), 1);
  m_link.reset();
  m_connected = false;
  Connect();  // generation 1, variant 3
  EXPECT_EQ(Link().PeriodicalFiscalReport(12, 5), 1);
  EXPECT_EQ(Link().PeriodicalFiscalReport(7, 7), 1);
  EXPECT_EQ(Link().PeriodicalFiscalReport(1, 12345), 1);
  EXPECT_EQ(Link().PeriodicalFiscalReport(65536 + 3, 4), 1);
  EXPECT_EQ(Sent(), (Commands{"FIRN00050012", "FIRN", "FIRN000112345", "FIRN00030004"}));
}

TEST_F(ReportsTest, PeriodicReportByOleDates) {
  PrinterSetup variant2;
  variant2.serialNumber = "4501234567";
  variant2.firmwareId = "vTTs";
  Connect(variant2);
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
  EXPECT_EQ(Sent(), (Commands{"IREP2004030120040331", "IREP1899122918991230",
                              "IREP1800061518000615", "IREP0100010199991231",
                              "IREPInvalid DateTimeInvalid DateTime", "IREP2004030220040302"}));
}

}  // namespace
}  // namespace vekta::testing_fiscal
