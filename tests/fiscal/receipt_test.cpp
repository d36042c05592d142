#include <gtest/gtest.h>

#include <algorithm>

#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

const std::string kNoTax = "000000";

std::string Zeros(std::size_t n) {
  return std::string(n, '0');
}

// The printer's reply to a line, with its tax figure in ten digits.
std::string FigureReply(int figure) {
  const std::string digits = std::to_string(figure);
  return "FISC" + Zeros(10 - digits.size()) + digits;
}

// Eight group fields, `field` in group `index` (1..8) and none elsewhere.
std::string Groups(int index, const std::string& field) {
  std::string groups;
  for (int g = 1; g <= 8; ++g) groups += g == index ? field : kNoTax;
  return groups;
}

using ReceiptTest = FiscalFixture;

TEST_F(ReceiptTest, LineAndOpenCommandsAreBuiltFieldByFieldAndCutToTheModel) {
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  Reset();

  // Whole goods: 3 x 10.50, on-sale group А (20 %), article 7; a control byte prints as a blank.
  EXPECT_EQ(Link().FiscalLine(W("Хліб\r\n"), 3, 1050, 0, 1, 0, 7), 3150 + 630);
  // Divisible goods: 1.500 x 19.99 = (2998500 + 500) / 1000; included group Б.
  EXPECT_EQ(Link().FiscalLine(W("Сир"), 1500, 1999, 1, 2, 0, 0), 2999);
  // Tax index 8 counts like the others; an article above MaxArticles is sent as 0000; a
  // negative quantity goes out as 0 but counts as 1.
  EXPECT_EQ(Link().FiscalLine(W("Сіль"), -2, 500, 0, 8, 0, 10000), 500 - 50);
  // A name of 20 characters on generation 1 sends its last 8 as the long name, after an empty
  // discount field; control bytes there, and in a discount's name, print as blanks too.
  EXPECT_EQ(Link().FiscalLine(W("Молоко пастеризо\aане"), 1, 100, 0, 0, 0, 0), 100);
  // A discount larger than the line is cut to the line sum; a surcharge is added before taxes.
  EXPECT_EQ(Link().FiscalLineEx(W("Чай"), 1, 3000, 0, 0, 0, 0, 0, W("Зниж\nка"), 5000), 0);
  EXPECT_EQ(
      Link().FiscalLineEx(W("Кава"), 1, 1000, 0, 1, 0, 0, 1, W("Надбавка за обслуговування"), 100),
      1100 + 220);

  EXPECT_EQ(
      Sent(),
      (Commands{
          "FISCХлiб        0000031500000010500000310" + Groups(1, "А12000") + "0007",
          "FISCСир         0000029990000019990150000" + Groups(2, "Б02000") + "0000",
          "FISCСiль        0000005000000005000000010" + Groups(8, "З21000") + "0000",
          "FISCМолоко пасте0000001000000001000000110" + Zeros(52) + "0" + Zeros(22) + "ризо ане",
          "FISCЧай         0000030000000030000000110" + Zeros(52) + "-Зниж ка      000003000",
          "FISCКава        0000010000000010000000110" + Groups(1, "А12000") +
              "0000+Надбавка за о000000100",
      }));

  const ReceiptSums sums = Link().Sums();
  EXPECT_EQ(sums.salesSum, 3150 + 2999 + 500 + 100 + 0 + 1100);
  EXPECT_EQ(sums.onSaleTaxes, 630 + 220);
  EXPECT_EQ(sums.includedTaxes, 500);  // ceil(2999 x 0.2 / 1.2)
  EXPECT_EQ(sums.saleIncludedTaxes, 50);
  EXPECT_EQ(sums.groupSales[0], 3150 + 1100);
  EXPECT_EQ(sums.groupSales[7], 500);

  // Generation 0: the department is cut to 2 characters and no long name field is sent.
  Connect(kGen0);
  ASSERT_EQ(Link().OpenCheck(W("\x1bідділ 1")), 1);
  EXPECT_EQ(Link().FiscalLine(W("Молоко пастеризоване"), 1, 100, 0, 0, 0, 5), 100);
  EXPECT_EQ(SentText(), "PREP i|FISCМолоко пасте0000001000000001000000110" + Zeros(52));
  // The oldest printers need their pause after "PREP" and before "CANC"; the newer ones none.
  EXPECT_EQ(TakeSlept(), FixtureTimings().afterPrepGen0);
  EXPECT_EQ(Link().AbortCheck(), 1);
  EXPECT_EQ(TakeSlept(), FixtureTimings().beforeCancGen0);
  Connect();
  ASSERT_EQ(Link().OpenCheck(W("Відділ 1")), 1);
  EXPECT_EQ(Link().AbortCheck(), 1);
  EXPECT_EQ(TakeSlept(), Clock::Duration(0));

  // Generation 1: 15 characters of department; a long name cut to 24, from variant 3 to 31.
  for (const auto& [setup, cut] : {std::pair{kVariant2, 24u}, std::pair{PrinterSetup{}, 31u}}) {
    Connect(setup);
    ASSERT_EQ(Link().OpenCheck(W("Відділ продуктів харчування")), 1);
    Link().FiscalLine("123456789012" + std::string(40, 'x'), 1, 100, 0, 0, 0, 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "PREPВiддiл продуктi");
    EXPECT_EQ(sent[1].substr(sent[1].size() - cut - 1), "0" + std::string(cut, 'x'));
  }
}

TEST_F(ReceiptTest, TaxesAreExactInIntegersAndThePrinterFigureCorrectsOnlyTheLinesOwn) {
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  // 29.00 % of 1.00 is exactly 0.29; in binary floating point 100 * 0.29 is 28.999...
  EXPECT_EQ(Link().FiscalLine("A", 1, 100, 0, 4, 0, 0), 129);
  EXPECT_EQ(Link().GetCheckOnSaleTaxes(), 29);
  // Included 20 %: ceil(1000 x (1 - 1 / 1.2)) = 167.
  EXPECT_EQ(Link().FiscalLine("B", 1, 1000, 0, 2, 0, 0), 1000);
  EXPECT_EQ(Link().Sums().includedTaxes, 167);
  // Included 7 % of 1.07: exactly 7, not 8.
  EXPECT_EQ(Link().FiscalLine("C", 1, 107, 0, 5, 0, 0), 107);
  EXPECT_EQ(Link().Sums().includedTaxes, 167 + 7);
  // Both indexes: on-sale 20 % and sale-included 10 % of 10.00.
  EXPECT_EQ(Link().FiscalLine("D", 1, 1000, 0, 1, 8, 0), 1000 + 200 - 100);
  const ReceiptSums sums = Link().Sums();
  EXPECT_EQ(sums.onSaleTaxes, 29 + 200);
  EXPECT_EQ(sums.saleIncludedTaxes, 100);
  EXPECT_EQ(sums.groupSales[0], 1000);
  EXPECT_EQ(sums.groupSales[7], 1000);
  EXPECT_EQ(sums.Total(), 100 + 1000 + 107 + 1000 + 29 + 200 - 100);
  // One group named twice is sent once and taxed once.
  Reset();
  EXPECT_EQ(Link().FiscalLine("E", 1, 1000, 0, 1, 1, 0), 1200);
  EXPECT_EQ(Link().GetCheckOnSaleTaxes(), 229 + 200);
  EXPECT_EQ(Link().Sums().groupSales[0], 2000);
  EXPECT_EQ(SentText(), "FISCE           0000010000000010000000110" + Groups(1, "А12000") + "0000");
  // Group Е is not programmed: its field keeps its six characters, and the line no tax.
  Reset();
  const ReceiptSums before = Link().Sums();
  EXPECT_EQ(Link().FiscalLine("F", 1, 1000, 0, 6, 0, 0), 1000);
  EXPECT_EQ(SentText(), "FISCF           0000010000000010000000110" + Groups(6, "Е00000") + "0000");
  EXPECT_EQ(Link().Sums().Total() - before.Total(), 1000);
  EXPECT_EQ(Link().Sums().includedTaxes, before.includedTaxes);

  // The printer's figure after "FISC" (0: none sent) corrects only the taxes the line carries,
  // on a new receipt. One tax, 10.00 in group А (on-sale 20 %: 200) or З: within 3 kopecks the
  // figure replaces the computed tax; further away the tax stays; 0.10 in Б (included) has no
  // on-sale tax to correct; the line answers its price plus the figure, whatever it adds.
  // With both an on-sale and a sale-included tax the line returns what it adds to the total:
  // 10.00 in А and З (sale-included 10 %: 100); 0.40 in З and А (on-sale 8, sale-included 4),
  // where 5 is within 3 of both and stands for the nearer, and 6, as near to both, for the
  // on-sale tax.
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  struct Case {
    int figure;
    std::int32_t price;
    int tax1, tax2;
    std::int32_t amount, added, onSale, saleIncluded;
  };
  for (const Case& c :
       {Case{201, 1000, 1, 0, 1201, 1201, 201, 0}, Case{500, 1000, 1, 0, 1500, 1200, 200, 0},
        Case{2, 10, 2, 0, 12, 10, 0, 0}, Case{0, 1000, 1, 8, 1100, 1100, 200, 100},
        Case{200, 1000, 1, 8, 1100, 1100, 200, 100}, Case{202, 1000, 1, 8, 1102, 1102, 202, 100},
        Case{98, 1000, 1, 8, 1102, 1102, 200, 98}, Case{500, 1000, 1, 8, 1100, 1100, 200, 100},
        Case{97, 1000, 1, 8, 1103, 1103, 200, 97}, Case{97, 1000, 8, 0, 1097, 903, 0, 97},
        Case{5, 40, 8, 1, 43, 43, 8, 5}, Case{6, 40, 8, 1, 42, 42, 6, 4}}) {
    SCOPED_TRACE(::testing::Message() << c.figure << " in " << c.tax1 << " and " << c.tax2);
    Answer("FISC", {FigureReply(c.figure), "READY"});
    const ReceiptSums before = Link().Sums();
    EXPECT_EQ(Link().FiscalLine("D", 1, c.price, 0, c.tax1, c.tax2, 0), c.amount);
    const ReceiptSums after = Link().Sums();
    EXPECT_EQ(after.Total() - before.Total(), c.added);
    EXPECT_EQ(after.onSaleTaxes - before.onSaleTaxes, c.onSale);
    EXPECT_EQ(after.saleIncludedTaxes - before.saleIncludedTaxes, c.saleIncluded);
  }
}

TEST_F(ReceiptTest, CloseRecomputesGroupTaxesUnlessPerLineAndSendsThePayments) {
  Answer("COMP",
         {"HARDPAPER", "COMP0000000125000000106100000000510000000000" + Zeros(50), "READY"});
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  // 5 % of 10.10 is 50.5: 50 for the line, 51 rounded half up on the group at close.
  EXPECT_EQ(Link().FiscalLine("A", 1, 1010, 0, 7, 0, 0), 1060);
  EXPECT_EQ(Link().GetCheckOnSaleTaxes(), 50);
  EXPECT_EQ(Link().CheckResultText(), "");
  Reset();
  // Short by one kopeck: the cash is adjusted and the receipt closes; paper out during the
  // close does not fail it.
  EXPECT_EQ(Link().CloseCheckEx(1000, 40, 20, 0), 1061);
  EXPECT_FALSE(Link().IsCheckOpen());
  EXPECT_EQ(Link().GetCheckOnSaleTaxes(), 51);
  EXPECT_EQ(SentText(), "COMP0000001010" + Zeros(20) + "000000004000000000200000001001");
  EXPECT_EQ(Link().CheckResultText(), "125;1061;51;0;0;0;0;0;0");
  // The totals stay readable after the close, until the next receipt opens.
  EXPECT_EQ(Link().GetCheckSum(), 1010);
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  EXPECT_EQ(Link().GetCheckSum(), 0);
  EXPECT_EQ(Link().CheckResultText(), "");
  EXPECT_EQ(Link().CheckResultXml(), "");
  // A card over the total by a kopeck pays it all: no cash, and so no change.
  ASSERT_EQ(Link().FiscalLine("A", 1, 1010, 0, 7, 0, 0), 1060);
  Reset();
  // Noise with a start byte before the figures: they still count from "COMP".
  Answer("COMP", {"COMP0000000125000000106100000000510000000000" + Zeros(50), "READY"});
  m_line->Feed({0xFD, 0x41});
  EXPECT_EQ(Link().CloseCheckEx(0, 1062, 0, 0), 1061);
  EXPECT_EQ(SentText(), "COMP0000001010" + Zeros(20) + "0000001062" + Zeros(20));
  EXPECT_EQ(Link().CheckResultText(), "125;1061;51;0;0;0;0;0;0");
}

TEST_F(ReceiptTest, ReturnReceiptsKeepTheirDirectionUntilClosed) {
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  ASSERT_EQ(Link().FiscalLine("A", 1, 2000, 0, 1, 0, 0), 2400);
  // Opening a return receipt over the open sale aborts the sale and keeps the new receipt a
  // return one: its lines go out as "BFIS".
  Reset();
  ASSERT_EQ(Link().OpenReturnCheck("1"), 1);
  EXPECT_TRUE(Link().IsReturnCheck());
  EXPECT_EQ(Link().FiscalLine("B", 1, 1000, 0, 1, 0, 0), 1200);
  EXPECT_EQ(SentText().substr(0, 15), "CANC|PREP1|BFIS");
  EXPECT_EQ(Link().GetCheckSum(), 0);
  EXPECT_EQ(Link().GetCheckReturnSum(), 1000);
  EXPECT_EQ(Link().GetCheckReturnOnSaleTaxes(), 200);

  // A return receipt that stays open on the printer stays a return: its lines never go out as
  // sales into it (a refused abort, a refused close, an abort the lost device never got).
  ASSERT_EQ(Link().OpenReturnCheck("1"), 1);
  Answer("CANC", {"SOFTPROTOC"});
  EXPECT_EQ(Link().AbortCheck(), 0);
  Answer("COMP", {"SOFTPARAM"});
  ASSERT_EQ(Link().FiscalLine("B", 1, 1000, 0, 0, 0, 0), 1000);
  EXPECT_EQ(Link().CloseCheck(), -1);
  Reset();
  ASSERT_EQ(Link().FiscalLine("B", 1, 1000, 0, 0, 0, 0), 1000);
  EXPECT_EQ(SentText().substr(0, 4), "BFIS");
  EXPECT_TRUE(Link().IsReturnCheck());
}

TEST_F(ReceiptTest, LinesAndPaymentsThatCannotBeSentAreRefusedBeforeSending) {
  EXPECT_EQ(Link().FiscalLine("A", 1, 100, 0, 0, 0, 0), -1);  // no receipt
  EXPECT_EQ(Link().CloseCheckEx(100, 0, 0, 0), 0);
  EXPECT_TRUE(Sent().empty());

  ASSERT_EQ(Link().OpenCheck("1"), 1);
  Reset();
  // 3 x 9 999 999.99 does not fit the 9-digit sum field.
  EXPECT_EQ(Link().FiscalLine("A", 3, 999999999, 0, 0, 0, 0), -1);
  EXPECT_FALSE(LastErrorUtf8().empty());
  EXPECT_EQ(Link().FiscalLine("A", 1, -100, 0, 0, 0, 0), -1);
  EXPECT_EQ(Link().FiscalLineEx("A", 1, 100, 0, 0, 0, 0, 1, "", 1000000000), -1);
  // The running sums must stay within the receipt's 32-bit totals.
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Link().FiscalLine("A", 1, 999999999, 0, 0, 0, 0), 999999999);
  EXPECT_EQ(Link().FiscalLine("A", 1, 999999999, 0, 0, 0, 0), -1);
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_TRUE(Link().IsCheckOpen());
  EXPECT_EQ(Link().GetCheckSum(), 1999999998);
  // Nor past them with the taxes the close takes on the group's total: 5 % of eight lines of
  // 9 kopecks is 0 a line, but 4 on the group, and the eighth line would end 1 past the limit.
  ASSERT_EQ(Link().FiscalLine("A", 1, 147483574, 0, 0, 0, 0), 147483574);
  for (int i = 0; i < 7; ++i) ASSERT_GT(Link().FiscalLine("B", 1, 9, 0, 7, 0, 0), 0) << i;
  EXPECT_EQ(Link().FiscalLine("B", 1, 9, 0, 7, 0, 0), -1);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(6002));
  EXPECT_EQ(Sent().size(), 10u);

  // A quantity above 99999 aborts the receipt.
  Reset();
  EXPECT_EQ(Link().FiscalLine("A", 100000, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(3013));
  EXPECT_EQ(SentText(), "CANC");
  EXPECT_FALSE(Link().IsCheckOpen());

  // Payments short or signed are refused and the receipt stays open.
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  ASSERT_EQ(Link().FiscalLine("A", 1, 1000, 0, 1, 0, 0), 1200);
  Reset();
  EXPECT_EQ(Link().CloseCheckEx(1198, 0, 0, 0), -1);
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(3014));
  EXPECT_EQ(m_host.CallsStartingWith("box:excl:").size(), 1u);
  // A negative card, credit or packing payment would put a sign into a 10-digit field.
  EXPECT_EQ(Link().CloseCheckEx(1300, -100, 0, 0), -1);
  EXPECT_EQ(Link().CloseCheckEx(1300, 0, -100, 0), -1);
  EXPECT_EQ(Link().CloseCheckEx(1300, 0, 0, -100), -1);
  // So would negative cash on a sale: it goes out unsigned, as change never paid in.
  EXPECT_EQ(Link().CloseCheckEx(-100, 1400, 0, 0), -1);
  EXPECT_EQ(Link().CloseCheckEx(-200, 1400, 0, 0), -1);  // adding up to the total
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(Link().IsCheckOpen());
  // All payments 0: six zero fields, and the sums are cleared.
  EXPECT_EQ(Link().CloseCheckEx(0, 0, 0, 0), 1200);
  EXPECT_EQ(SentText(), "COMP" + Zeros(60));
  EXPECT_EQ(Link().GetCheckSum(), 0);
  EXPECT_EQ(Link().GetCheckOnSaleTaxes(), 0);
}

TEST_F(ReceiptTest, ClosingThePortAbortsTheOpenReceipt) {
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  ASSERT_EQ(Link().FiscalLine("A", 1, 1000, 0, 1, 0, 0), 1200);
  Reset();
  EXPECT_EQ(Link().ClosePort(), 0);
  EXPECT_EQ(SentText(), "CANC");
  EXPECT_FALSE(Link().IsCheckOpen());
  // Without a receipt the close sends nothing.
  Connect();
  EXPECT_EQ(Link().ClosePort(), 0);
  EXPECT_TRUE(Sent().empty());
}

TEST_F(ReceiptTest, StatusWindowFollowsTheReceipt) {
  Link().SetShowStatusWindows(true);
  ASSERT_EQ(Link().OpenCheck(W("Каса")), 1);
  Link().FiscalLine(W("Сир"), 1500, 1999, 1, 0, 0, 0);
  Link().CloseCheck();
  const auto calls = m_host.Calls();
  EXPECT_EQ(calls.front(), "status.create");
  for (const char* call :
       {"status.title:Відкривання чека для відділка:Каса", "status.title:Друкування чека...",
        "status.goods:\"Сир\" - Кол-во: 1.500, Цена: 19.99", "status.sum:Сумма: 2999",
        "status.title:Закривання чека..."}) {
    EXPECT_NE(std::find(calls.begin(), calls.end(), call), calls.end()) << call;
  }
  EXPECT_EQ(calls.back(), "status.destroy");
  EXPECT_EQ(m_host.CallsStartingWith("status.create").size(), 1u);
}

}  // namespace
}  // namespace vekta::testing_fiscal
