// Receipts through a connected link over a real pseudo-terminal against the simulated printer,
// which keeps its own registers with its own arithmetic: both sides must agree to the kopeck.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "link/link_timings.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

using Taxes = std::array<std::int64_t, 6>;

// The receipt total the link will close with: on the per-group totals unless taxes are taken
// per line. Kept here apart from the link so that a slip in either shows.
std::int64_t ExpectedTotal(const ReceiptSums& s, const PrinterConfig& config, bool perLine) {
  if (perLine) return s.Total();
  std::int64_t total = std::int64_t{s.salesSum} - s.returnSum;
  for (int g = 0; g < 8; ++g) {
    const std::int64_t rate = std::stoll("0" + config.taxes[g].rawValue);
    const auto rounded = [rate](std::int64_t base) { return (base * rate * 2 + 10000) / 20000; };
    const int sign = config.taxes[g].type == '1' ? 1 : config.taxes[g].type == '2' ? -1 : 0;
    total += sign * (rounded(s.groupSales[g]) - rounded(s.groupReturns[g]));
  }
  return total;
}

// On-sale, included and sale-included taxes of sales, then of returns.
template <typename T>
Taxes TaxesOf(const T& s) {
  return {s.onSaleTaxes,       s.includedTaxes,       s.saleIncludedTaxes,
          s.returnOnSaleTaxes, s.returnIncludedTaxes, s.returnSaleIncludedTaxes};
}

class ReconciliationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_host.UseRealPorts({{"COM1", m_sim.DevicePath()}});
    m_link = std::make_unique<PrinterLink>(1, m_host, m_clock, LinkTimings::Short());
    ASSERT_GT(m_link->Connect("COM1", "CASHIER", "7777777777"), 0);
    m_config = m_link->Config();
    for (int g = 0; g < 8; ++g) {
      const char type = m_config.taxes[g].type;
      if (type == '0' || type == '1' || type == '2') m_groups.push_back(g + 1);
    }
    ASSERT_FALSE(m_groups.empty());
    m_firstCheck = m_sim.Model().Registers().checkNumber;
  }

  void TearDown() override { m_link.reset(); }

  SimHarness m_sim;
  ScriptedLinkHost m_host;
  RealClock m_clock;
  std::unique_ptr<PrinterLink> m_link;
  PrinterConfig m_config;
  std::vector<int> m_groups;
  std::int64_t m_firstCheck = 0;
};

TEST_F(ReconciliationTest, FiveHundredRandomReceiptsAgreeToTheKopeck) {
  PrinterLink& link = *m_link;
  std::mt19937 rng(20261206);
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  auto group = [&] { return m_groups[pick(0, int(m_groups.size()) - 1)]; };
  const std::string names[] = {"Хліб",   "Молоко пастеризоване 2,5%", "Cheese", "Кава \"Арабіка\"",
                               "Яблука", "Вода мінеральна газована"};

  int closed = 0;
  std::int64_t salesPart = 0, returnPart = 0;
  Taxes taxes{};
  std::array<std::int64_t, 8> groupSales{}, groupReturns{};

  for (int receipt = 0; receipt < 500; ++receipt) {
    SCOPED_TRACE("receipt " + std::to_string(receipt));
    if (receipt % 25 == 0) {
      ASSERT_EQ(link.SetTaxesCalcMode(pick(0, 1)), 1);
    }
    const int kind = pick(0, 99);  // sale, return, or a sale turned into its return part
    ASSERT_EQ(kind < 80 ? link.OpenCheck("1") : link.OpenReturnCheck("1"), 1);
    const int lines = pick(1, 6);
    const int turnAt = kind >= 70 && kind < 80 ? pick(1, lines) : -1;
    for (int i = 0; i < lines; ++i) {
      if (i == turnAt) {
        ASSERT_EQ(link.SetCurrentCheckDirection(1), 1);
      }
      const bool divisible = pick(0, 3) == 0;
      const int quantity = divisible ? pick(1, 3000) : pick(1, 10);
      const int price = pick(1, 200000);
      const int tax1 = pick(0, 5) == 0 ? 0 : group();
      const int tax2 = pick(0, 3) == 0 ? group() : 0;
      const int discountKind = pick(0, 9);
      const int direction = discountKind < 2 ? 0 : discountKind < 3 ? 1 : -1;
      const int discount = direction < 0 ? 0 : pick(1, 150000);
      const std::int64_t before = link.Sums().Total();
      const std::int32_t amount =
          link.FiscalLineEx(Utf8ToCp1251(names[pick(0, 5)]), quantity, price, divisible, tax1, tax2,
                            0, direction, "Знижка", discount);
      ASSERT_GE(amount, 0) << Cp1251ToUtf8(link.LastErrorText());
      // What a line says it adds is what it moved the receipt's total by (down, on a return).
      ASSERT_EQ((link.IsReturnCheck() ? -1 : 1) * std::int64_t{amount},
                link.Sums().Total() - before)
          << "groups " << tax1 << " and " << tax2;
    }

    if (pick(0, 19) == 0) {
      ASSERT_EQ(link.AbortCheck(), 1);
      continue;
    }
    const std::int64_t total = ExpectedTotal(link.Sums(), m_config, link.TaxesPerLine());
    const auto cash = [](std::int64_t sum) { return static_cast<std::int32_t>(sum); };
    const int payment = pick(0, 99);
    std::int32_t result = 0;
    if (payment < 10) {
      // Short by two kopecks: refused, the receipt stays open, then paid in full.
      EXPECT_EQ(link.CloseCheckEx(cash(total - 2), 0, 0, 0), -1);
      ASSERT_TRUE(link.IsCheckOpen());
      result = link.CloseCheckEx(cash(total), 0, 0, 0);
    } else if (payment < 25) {
      result = link.CloseCheckEx(cash(total - 1), 0, 0, 0);  // adjusted
    } else if (payment < 40 && total > 0) {
      result = link.CloseCheckEx(cash(total - total / 3 - total / 5), cash(total / 3),
                                 cash(total / 5), 0);
    } else if (payment < 55 && total >= 0) {
      result = link.CloseCheckEx(cash(total + pick(2, 5000)), 0, 0, 0);
    } else {
      // Exact cash; a zero total is paid with change, as all-zero payments mean "no sums".
      result = total == 0 ? link.CloseCheckEx(500, 0, 0, 0) : link.CloseCheck();
    }
    ASSERT_EQ(result, total) << Cp1251ToUtf8(link.LastErrorText()) << ", payment " << payment;
    ASSERT_FALSE(link.IsCheckOpen());
    ++closed;

    const ReceiptSums sums = link.Sums();
    const std::int64_t sales = sums.salesSum + sums.onSaleTaxes - sums.saleIncludedTaxes;
    const std::int64_t returns =
        sums.returnSum + sums.returnOnSaleTaxes - sums.returnSaleIncludedTaxes;
    ASSERT_EQ(sales - returns, total);
    // The printer's own figures of this receipt.
    const Taxes t = TaxesOf(sums);
    const std::string number = std::to_string(m_firstCheck + closed);
    std::string figures = number;
    for (std::int64_t v : {result + returns, t[0], t[1], t[2], returns, t[3], t[4], t[5]}) {
      figures += ";" + std::to_string(v);
    }
    EXPECT_EQ(link.CheckResultText(), figures);
    EXPECT_NE(link.CheckResultXml().find("check_number=\"" + number + "\""), std::string::npos);

    salesPart += sales;
    returnPart += returns;
    for (std::size_t k = 0; k < taxes.size(); ++k) taxes[k] += t[k];
    for (int g = 0; g < 8; ++g) {
      groupSales[g] += sums.groupSales[g];
      groupReturns[g] += sums.groupReturns[g];
    }
  }
  EXPECT_GT(closed, 400);

  // The printer's fiscal registers, read back through the link.
  const std::string fiscal = link.GetFiscalInfo();
  ASSERT_EQ(fiscal.size(), 264u);
  auto field = [&fiscal](int k) { return std::stoll(fiscal.substr(12 * k, 12)); };
  EXPECT_EQ(field(0), salesPart);
  EXPECT_EQ(field(11), returnPart);
  for (int g = 0; g < 8; ++g) {
    EXPECT_EQ(field(1 + g), groupSales[g]) << "group " << g + 1;
    EXPECT_EQ(field(12 + g), groupReturns[g]) << "group " << g + 1;
  }
  const SimRegisters registers = m_sim.Model().Registers();
  EXPECT_EQ(registers.checkNumber, m_firstCheck + closed);
  EXPECT_EQ(registers.daySales - registers.dayReturns, salesPart - returnPart);
  EXPECT_EQ(TaxesOf(registers), taxes);
}

TEST_F(ReconciliationTest, FaultsInTheMiddleOfAReceipt) {
  PrinterLink& link = *m_link;
  PrinterModel& printer = m_sim.Model();

  // A full copy buffer reported with a line does not fail the line.
  ASSERT_EQ(link.OpenCheck("1"), 1);
  printer.InjectStatus("SOFTCOPY", true);
  link.SetLastErrorText("");
  EXPECT_GE(link.FiscalLine("B", 2, 500, 0, 0, 0, 0), 1000);
  EXPECT_EQ(link.LastErrorText(), "");
  EXPECT_EQ(link.GetCheckSum(), 1000);

  // A silent printer during a line: no link, -1, the receipt stays open on the link's side.
  printer.SetSilent(true);
  EXPECT_EQ(link.FiscalLine("C", 1, 700, 0, 0, 0, 0), -1);
  EXPECT_EQ(link.LastErrorText(), m_host.LoadString(1003));
  EXPECT_EQ(m_host.CallsStartingWith("box:stop:").size(), 1u);
  printer.SetSilent(false);
  EXPECT_EQ(link.GetCheckSum(), 1000);
  // A close that pays nothing on a receipt with a total is refused, and leaves its figures to
  // be paid.
  EXPECT_EQ(link.CloseCheckEx(0, 0, 0, 0), -1);
  EXPECT_TRUE(printer.ReceiptOpen());
  EXPECT_EQ(link.GetCheckSum(), 1000);
  EXPECT_EQ(link.CloseCheck(), 1000);
  EXPECT_EQ(printer.Registers().daySales, 1000);

  // An exchange, whose sale and return cancel out, closes with its own figures.
  ASSERT_EQ(link.OpenCheck("1"), 1);
  ASSERT_EQ(link.FiscalLine("E", 1, 1000, 0, 0, 0, 0), 1000);
  ASSERT_EQ(link.SetCurrentCheckDirection(0), 1);
  ASSERT_EQ(link.FiscalLine("E", 1, 1000, 0, 0, 0, 0), 1000);
  EXPECT_EQ(link.CloseCheck(), 0);
  EXPECT_FALSE(printer.ReceiptOpen());
  EXPECT_EQ(printer.Registers().dayReturns, 1000);

  // A status word that arrives unasked before a line: the receipt is aborted.
  ASSERT_EQ(link.OpenCheck("1"), 1);
  m_sim.Printer().SendUnsolicited("SOFTSYSLOCK");
  for (int i = 0; i < 400 && link.Queue().IsEmpty(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(link.FiscalLine("D", 1, 100, 0, 0, 0, 0), -1);
  EXPECT_FALSE(link.IsCheckOpen());
  EXPECT_FALSE(printer.ReceiptOpen());
  EXPECT_EQ(link.LastErrorText(), m_host.LoadString(2002));
  EXPECT_EQ(printer.Registers().checkNumber, m_firstCheck + 2);
}

}  // namespace
}  // namespace vekta
