#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using Commands = std::vector<std::string>;

PrinterSetup Generation0() {
  PrinterSetup setup;
  setup.serialNumber = "0401234567";
  return setup;
}

class DeviceControlTest : public FiscalFixture {};

TEST_F(DeviceControlTest, CommandTextsAndSixteenBitCuts) {
  Connect();
  EXPECT_EQ(Link().OpenCashBox(), 1);
  EXPECT_EQ(Link().CheckCopy(), 1);
  EXPECT_EQ(Link().CutAndBeep(1, 0), 1);
  EXPECT_EQ(Link().CutAndBeep(0x10000, -7), 1);  // low 16 bits of 0x10000 are 0
  EXPECT_EQ(Link().Feed(300), 1);
  EXPECT_EQ(Link().Feed(-1), 1);
  EXPECT_EQ(Link().Feed(0x10000 + 5), 1);
  EXPECT_EQ(Link().SetPrintingDoubleWidth(2), 1);
  EXPECT_EQ(Link().SetTableMode(-1), 1);
  EXPECT_EQ(Link().SetTableMode(0x18000), 1);  // low 16 bits are negative
  EXPECT_EQ(Link().SetTableMode(3), 1);
  EXPECT_EQ(Link().SetOnSaleTaxesPrintMode(5), 1);
  EXPECT_EQ(Link().SetOnSaleTaxesPrintMode(0), 1);
  EXPECT_EQ(Link().MoveCash(1, 1500), 1);
  EXPECT_EQ(Link().MoveCash(0, 1500), 1);
  EXPECT_EQ(Link().MoveCash(-1, 1500), 1);
  EXPECT_EQ(Link().MoveCash(1, -1500), 1);
  EXPECT_EQ(Link().SetReturnCheckNumber(1234567), 1);
  EXPECT_EQ(Link().SetCheckMessagesMode(7), 1);
  EXPECT_EQ(Link().SetCheckMessagesMode(2), 1);
  EXPECT_EQ(Link().SetDeptAlias(W("Відділ 1")), 1);
  EXPECT_EQ(Link().SetInternalTime(9, 5, 0), 1);
  EXPECT_EQ(Sent(), (Commands{"KASS",
                              "COPY",
                              "CUTR10",
                              "CUTR01",
                              "FEED0",
                              "FEED0",
                              "FEED5",
                              "DSTR1",
                              "TABL",
                              "TABL",
                              "TABL1",
                              "PPOD1",
                              "PPOD",
                              "CAIOI0000001500",
                              "CAIOO0000001500",
                              "CAIOO0000001500",
                              "CAIOI0000001500",
                              "BCHN1234567",
                              "TMOD0",
                              "TMOD2",
                              "DEPTВiддi",
                              "CTIM090500"}));
}

TEST_F(DeviceControlTest, PreconditionsFailSilently) {
  Connect(Generation0());
  Link().SetLastErrorText("earlier");
  EXPECT_EQ(Link().CutAndBeep(1, 1), 0);      // generation 0 has no cutter
  EXPECT_EQ(Link().LongName(W("Назва")), 0);  // no receipt
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  Reset();
  EXPECT_EQ(Link().CheckCopy(), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
  EXPECT_EQ(Link().LastErrorText(), "earlier");
}

TEST_F(DeviceControlTest, LineLimitsFollowGenerationAndVariant) {
  const std::string text40(40, 'h');
  const std::string name100(100, 'n');
  struct Case {
    std::string serial, firmware;
    std::size_t line, longName;
  };
  for (const Case& c : {Case{"0401234567", "XXXX", 18, 18}, Case{"4411234567", "XXXX", 18, 54},
                        Case{"4501234567", "vTTs", 36, 72}, Case{"5001234567", "UMTM", 43, 86},
                        Case{"6001234567", "XXXX", 43, 86}}) {
    SCOPED_TRACE(c.serial);
    PrinterSetup setup;
    setup.serialNumber = c.serial;
    setup.firmwareId = c.firmware;
    m_link.reset();
    m_connected = false;
    Connect(setup);
    ASSERT_EQ(Link().SetCheckHeadLine(text40), 1);
    ASSERT_EQ(Link().SetCheckBottomLine("short"), 1);
    ASSERT_EQ(Link().OpenCheck("1"), 1);
    ASSERT_EQ(Link().LongName(name100), 1);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], "HEAD" + text40.substr(0, c.line));
    EXPECT_EQ(sent[1], "BOTMshort");
    EXPECT_EQ(sent[3], "FINF" + name100.substr(0, c.longName));
  }
}

TEST_F(DeviceControlTest, SetInternalTimeRefusesABadTimeAndClearsDocuments) {
  Connect();
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
  EXPECT_EQ(Sent(), (Commands{"CANC", "CTIM235959"}));
  EXPECT_FALSE(Link().IsCheckOpen());
}

TEST_F(DeviceControlTest, TaxesCalcModeFlagFollowsTheCommandSent) {
  Connect();
  EXPECT_FALSE(Link().TaxesPerLine());
  EXPECT_EQ(Link().SetTaxesCalcMode(0), 1);
  EXPECT_TRUE(Link().TaxesPerLine());
  EXPECT_EQ(Link().SetTaxesCalcMode(1), 1);
  EXPECT_FALSE(Link().TaxesPerLine());
  // A negative value sends "PPMD" (per line), and the link computes per line with it.
  EXPECT_EQ(Link().SetTaxesCalcMode(-1), 1);
  EXPECT_TRUE(Link().TaxesPerLine());
  OnCommand([](const std::string&) { return std::vector<std::string>{"SOFTPARAM"}; });
  EXPECT_EQ(Link().SetTaxesCalcMode(1), 0);
  EXPECT_TRUE(Link().TaxesPerLine());
  EXPECT_EQ(Sent(), (Commands{"PPMD", "PPMD1", "PPMD", "PPMD1"}));
}

TEST_F(DeviceControlTest, DisplayOnGeneration0) {
  Connect(Generation0());
  EXPECT_EQ(Link().PutToDisplay("Total", ""), 1);
  EXPECT_EQ(Link().PutToDisplay("", "12345678901234567890"), 1);
  EXPECT_EQ(Link().PutToDisplay("", ""), 1);
  EXPECT_EQ(Link().PutToDisplay(W("Сума"), "12.50"), 1);
  EXPECT_EQ(Sent(), (Commands{"DISP1Total           ", "DISP21234567890123456", "DISP",
                              "DISP1Сума            ", "DISP212.50           "}));
  // A refused first line ends the operation.
  Reset();
  OnCommand([](const std::string&) { return std::vector<std::string>{"HARDLCD"}; });
  EXPECT_EQ(Link().PutToDisplay("a", "b"), 0);
  EXPECT_EQ(Sent(), Commands{"DISP1a               "});
}

TEST_F(DeviceControlTest, DisplayOnGeneration1ShowsOneNumberWithALabel) {
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
  EXPECT_EQ(Sent(), (Commands{"DISp22       125", "DISp12        12", "DISp00          ", "DISp",
                              "DISp00         7", "DISp11         3", "DISp301234567890",
                              "DISp13       005", "DISp32         5"}));
}

}  // namespace
}  // namespace vekta::testing_fiscal
