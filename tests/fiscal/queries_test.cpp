#include <gtest/gtest.h>

#include "platform/string_table.h"
#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using Commands = std::vector<std::string>;

class QueriesTest : public FiscalFixture {};

TEST_F(QueriesTest, QueriesReturnTheReplyData) {
  PrinterSetup setup;
  setup.serialNumber = "4411234567";  // MaxArticles 1999
  Connect(setup);
  OnCommand([](const std::string& command) -> std::vector<std::string> {
    if (command.rfind("ARTD", 0) == 0) return {"ARTD0007Хлеб белый", "READY"};
    if (command == "GETD") return {"GETD20240115103000", "READY"};
    if (command == "CCAS") return {"SOFTPARAM"};
    return {command + "data", "READY"};
  });
  EXPECT_EQ(Cp1251ToUtf8(Link().GetArticleInfo(7)), "0007Хлеб белый");
  EXPECT_EQ(Link().GetArticleInfo(0), "");
  EXPECT_EQ(Link().GetArticleInfo(2000), "");
  EXPECT_EQ(Cp1251ToUtf8(Link().GetArticleInfo(65536 + 1999)), "0007Хлеб белый");  // 16 bits
  EXPECT_EQ(Link().GetPrinterTime(), "20240115103000");
  EXPECT_EQ(Link().GetFiscalInfo(), "data");
  EXPECT_EQ(Link().GetTaxesInfo(), CnalReply(m_setup).substr(4));
  // A refused query gives an empty text, no message and no last error.
  Link().SetLastErrorText("");
  EXPECT_EQ(Link().GetCashInfo(), "");
  EXPECT_EQ(Link().LastErrorText(), "");
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
  EXPECT_EQ(Sent(), (Commands{"ARTD0007", "ARTD1999", "GETD", "CFIS", "CNAL", "CCAS"}));
}

TEST_F(QueriesTest, NoArticlesOnTheSmallestModel) {
  PrinterSetup setup;
  setup.serialNumber = "0401234567";  // MaxArticles 0
  Connect(setup);
  EXPECT_EQ(Link().GetArticleInfo(1), "");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(QueriesTest, KeyPositionComesFromAFreshConfiguration) {
  Connect();
  EXPECT_EQ(Link().GetPrinterKeyPosition(), 1);
  const std::pair<char, int> keys[] = {{'2', 2}, {'4', 3}, {'8', 4}, {'3', 0}};
  for (const auto& [digit, position] : keys) {
    m_setup.keyDigit = digit;
    EXPECT_EQ(Link().GetPrinterKeyPosition(), position) << digit;
  }
}

}  // namespace
}  // namespace vekta::testing_fiscal
