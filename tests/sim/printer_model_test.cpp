#include "sim/printer_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <random>

#include "sim/sim_text.h"
#include "sim/tax_math.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

std::string Zeros(std::int64_t value, std::size_t width) {
  const std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

using Strings = std::vector<std::string>;
using Fields = std::vector<std::int64_t>;

// Fixed-width numbers one after another, as data replies lay them out.
std::string Digits(const Fields& values, std::size_t width) {
  std::string out;
  for (std::int64_t value : values) out += Zeros(value, width);
  return out;
}

// `count` fixed-width numbers of a data reply, from `offset` after its four-letter mnemonic.
Fields Numbers(const std::string& data, std::size_t offset, std::size_t width, std::size_t count) {
  Fields out;
  for (std::size_t k = 0; k < count; ++k) {
    out.push_back(std::stoll(data.substr(4 + offset + k * width, width)));
  }
  return out;
}

std::string Comp(std::int64_t sales, std::int64_t returns, std::int64_t cash,
                 std::int64_t payCheck = 0, std::int64_t credit = 0, std::int64_t packing = 0) {
  return "COMP" + Digits({sales, returns, packing, payCheck, credit, cash}, 10);
}

std::string PadTo(std::string utf8, std::size_t width) {
  while (SimUtf8Length(utf8) < width) utf8 += ' ';
  return utf8;
}

struct SaleLine {
  std::string name = "Хліб";
  std::int64_t quantity = 1;
  std::int64_t price = 1000;
  bool divisible = false;
  std::vector<int> groups{};  // 1..8
  int article = 0;
  char discountDirection = 0;  // '-' or '+'
  std::string discountName = "Знижка";
  std::int64_t discount = 0;
  std::string longName{};
  std::int64_t lineSum = -1;  // -1: computed as the host computes it
};

// Talks to a PrinterModel directly, in UTF-8, and builds command texts field by field the way
// the host lays them out (written here again from the wire layout, not taken from the link).
class ModelClient {
 public:
  explicit ModelClient(PrinterModel& model) : m_model(model) {}

  // Replies of one command, in UTF-8; no reply at all reads as one empty message.
  Strings Send(const std::string& utf8) {
    Strings out;
    for (const auto& m :
         m_model.HandleInput({SimInput::Kind::kCommand, SimUtf8ToCp866(utf8)}).messages) {
      out.push_back(SimCp866ToUtf8(m));
    }
    if (out.empty()) out.emplace_back();
    return out;
  }
  // The last reply word ("READY", "SOFT..."); the first reply (data) in DOS 866.
  std::string Status(const std::string& utf8) { return Send(utf8).back(); }
  std::string Data(const std::string& utf8) { return SimUtf8ToCp866(Send(utf8).front()); }
  // Each command answered with its expected last reply word: "CMD>WORD|CMD>WORD...".
  void Expect(const std::string& script) {
    for (std::size_t start = 0; start < script.size();) {
      const std::size_t end = std::min(script.find('|', start), script.size());
      const std::string step = script.substr(start, end - start);
      const std::size_t arrow = step.rfind('>');
      EXPECT_EQ(Status(step.substr(0, arrow)), step.substr(arrow + 1)) << step;
      start = end + 1;
    }
  }
  std::string Login(const std::string& name = "Оля", const std::string& password = "7777777777") {
    return Status("UPAS" + PadTo(name, 10) + password);
  }

  // The FISC (or BFIS) text for a line, with the group fields from the printer's own table.
  std::string Line(const SaleLine& f, bool isReturn = false) {
    auto taxes = m_model.Taxes();
    static const char* const kLetters[8] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"};
    const std::int64_t q = f.quantity < 1 ? 1 : f.quantity;
    const std::int64_t sum =
        f.lineSum >= 0 ? f.lineSum : (f.divisible ? (q * f.price + 500) / 1000 : q * f.price);
    std::string text = std::string(isReturn ? "BFIS" : "FISC") + PadTo(f.name, 12) + Zeros(sum, 9) +
                       Zeros(f.price, 9) + Zeros(f.quantity < 0 ? 0 : f.quantity, 5) +
                       (f.divisible ? "0" : "1") + "0";
    for (int g = 1; g <= 8; ++g) {
      if (std::find(f.groups.begin(), f.groups.end(), g) == f.groups.end()) {
        text += "000000";
        continue;
      }
      text += kLetters[g - 1];
      text += taxes[g - 1].type == 0 ? '0' : taxes[g - 1].type;
      text += Zeros(taxes[g - 1].rate, 4);
    }
    text += Zeros(f.article, 4);
    if (f.discountDirection != 0) {
      text += f.discountDirection + PadTo(f.discountName, 13) + Zeros(f.discount, 9);
    }
    if (!f.longName.empty()) {
      if (f.discountDirection == 0) text += std::string(23, '0');
      text += f.longName;
    }
    return text;
  }

 private:
  PrinterModel& m_model;
};

TEST(SimTaxMath, LineSumsAndTaxesAreExactInIntegers) {
  EXPECT_EQ(SimLineSum(1, 499, true), 0);  // half a kopeck is not reached
  EXPECT_EQ(SimLineSum(1, 500, true), 1);
  EXPECT_EQ(SimLineSum(99999, 999999, false), 99998900001LL);  // no 32-bit overflow

  EXPECT_EQ(SimLineAddedTax(1000, 2000), 200);
  EXPECT_EQ(SimLineAddedTax(1234, 700), 86);       // 86.38 floored
  EXPECT_EQ(SimLineIncludedTax(1200, 2000), 200);  // exact: no rounding up
  EXPECT_EQ(SimLineIncludedTax(107, 700), 7);      // 7.0 exactly
  EXPECT_EQ(SimLineIncludedTax(1, 700), 1);

  // taxes on a group total round half up, exactly
  EXPECT_EQ(SimTotalTax(25, 1000), 3);   // 2.5 up
  EXPECT_EQ(SimTotalTax(24, 1000), 2);   // 2.4 down
  EXPECT_EQ(SimTotalTax(50, 700), 4);    // 3.5 up, where binary floating point may not be
  EXPECT_EQ(SimTotalTax(150, 700), 11);  // 10.5 up
  EXPECT_EQ(SimTotalTax(2000000000LL * 50, 2000), 20000000000LL);
}

TEST(SimLogin, PasswordConfigurationAndTaxTable) {
  // the serial number and firmware may be given; letters first shift the model code
  SimOptions options;
  options.serialNumber = "AB46012345";
  options.firmwareId = "NFPR";
  options.password = "1234567890";
  PrinterModel model(options);
  ModelClient c(model);
  c.Expect("CONf>SOFTPROTOC|XXXX>SOFTPROTOC");
  EXPECT_EQ(c.Login("Оля", "7777777777"), "SOFTUPAS");
  EXPECT_FALSE(model.LoggedIn());
  EXPECT_EQ(c.Login("Оля", "123456789"), "SOFTUPAS");  // one character short
  EXPECT_EQ(c.Login("Оля", "1234567890"), "READY");
  EXPECT_EQ(SimCp866ToUtf8(model.Cashier()), "Оля");
  c.Expect("XXXX>SOFTCOMMAN|CONF>SOFTCOMMAN");  // case matters on the wire

  // a short password padded with blanks by the host matches a short configured one; a longer
  // one is taken as the host sends it, cut to ten
  options.password = "123456";
  PrinterModel other(options);
  EXPECT_EQ(ModelClient(other).Login("Касир", "123456    "), "READY");
  options.password = "123456789012";
  PrinterModel longer(options);
  EXPECT_EQ(ModelClient(longer).Login("Касир", "1234567890"), "READY");

  // where the host tells the model from
  const std::string conf = c.Data("CONf");
  EXPECT_EQ(conf.substr(4, 10), "AB46012345");
  EXPECT_EQ(conf.substr(110, 4), "NFPR");

  const std::pair<char, char> keys[] = {{'R', '1'}, {'X', '2'}, {'Z', '4'}, {'P', '8'}, {'O', '0'}};
  for (auto [key, digit] : keys) {
    model.SetKeyPosition(key);
    EXPECT_EQ(c.Data("CONf")[74], digit) << key;
  }
  model.SetKeyPosition('R');

  // per group: date, blank, type and rate (А..Д use every tax type); unprogrammed are zeros
  std::string table = "CNAL";
  for (const char* tax : {"02000", "12000", "00700", "20500", "11000"}) {
    table += "20240101 " + std::string(tax);
  }
  EXPECT_EQ(c.Data("CNAL"), table + std::string(3 * 14, '0'));
}

class SimReceipts : public ::testing::Test {
 protected:
  SimReceipts() : model(SimOptions{}), c(model) { c.Login(); }
  Fields Close(const std::string& comp) { return Numbers(c.Send(comp).at(0), 0, 10, 9); }
  PrinterModel model;
  ModelClient c;
};

TEST_F(SimReceipts, LineReplyCarriesTheOnSaleTaxAndCloseGivesNineFields) {
  EXPECT_EQ(c.Status("PREPВідділ"), "READY");
  // Б is 20.00 on-sale: 3 x 10.50 = 31.50, tax 6.30
  EXPECT_EQ(c.Send(c.Line({.quantity = 3, .price = 1050, .groups = {2}})),
            (Strings{"FISC0000000630", "READY"}));
  // А is 20.00 included: no on-sale tax in the reply, same mnemonic for a return line
  EXPECT_EQ(c.Send(c.Line({.price = 1000, .groups = {1}}, true)),
            (Strings{"FISC0000000000", "READY"}));

  // sales 3150 + 630 on-sale; return 1000: total 2780
  EXPECT_EQ(c.Status(Comp(3150, 1000, 2779)), "SOFTCHECK");  // a kopeck short
  EXPECT_EQ(c.Status(Comp(3151, 1000, 5000)), "SOFTCHECK");  // not its ledger
  EXPECT_EQ(c.Send(Comp(3150, 1000, 3000)),
            (Strings{"COMP" + Digits({1, 3780, 630, 0, 0, 1000, 0, 167, 0}, 10), "READY"}));

  const SimRegisters r = model.Registers();
  EXPECT_EQ((Fields{r.checkNumber, r.daySales, r.dayReturns, r.cashRest, r.groupSales[1],
                    r.groupReturns[0], r.returnIncludedTaxes}),
            (Fields{1, 3780, 1000, 2780, 3150, 1000, 167}));  // change of 2.20 given back

  // a fiscal line or close without an open receipt is out of sequence
  c.Expect(c.Line({.groups = {2}}) + ">SOFTPROTOC|" + Comp(0, 0, 0) + ">SOFTPROTOC");
}

TEST_F(SimReceipts, TaxesOnTheTotalDifferFromTaxesPerLine) {
  // Д is 10.00 on-sale: two lines of 0.15 give 0.01 + 0.01 per line, 0.03 on the total
  for (const auto& [mode, total, tax] : {std::tuple{"PPMD1", 33, 3}, {"PPMD", 32, 2}}) {
    ASSERT_EQ(c.Status(mode), "READY");
    c.Status("PREP");
    c.Send(c.Line({.price = 15, .groups = {5}}));
    c.Send(c.Line({.price = 15, .groups = {5}}));
    const Fields fields = Close(Comp(30, 0, 100));
    EXPECT_EQ((Fields{fields.at(1), fields.at(2)}), (Fields{total, tax})) << mode;
  }
  // no third mode; the mode cannot change under an open receipt
  c.Expect("PPMD2>SOFTPARAM|PREP>READY|PPMD1>SOFTPROTOC|CANC>READY|PPMD1>READY");

  // Г is 5.00 sale-included: taken off the total; В 7.00 included stays in the price
  c.Status("PREP");
  EXPECT_EQ(c.Data(c.Line({.price = 2000, .groups = {4, 3}})), "FISC0000000000");
  EXPECT_EQ(Close(Comp(2000, 0, 1900)), (Fields{3, 1900, 0, 131, 100, 0, 0, 0, 0}));
}

TEST_F(SimReceipts, DiscountsDivisibleGoodsAndLongNames) {
  // the discounts of an aborted receipt were never given
  c.Expect("PREP>READY|" + c.Line({.groups = {2}, .discountDirection = '-', .discount = 300}) +
           ">READY|CANC>READY");
  c.Status("PREP");
  // 1.5 kg at 19.99 is 29.99; a 5.00 discount leaves 24.99; Б 20 % of it is 4.99
  SaleLine kilo{.quantity = 1500, .price = 1999, .divisible = true, .groups = {2}};
  kilo.discountDirection = '-';
  kilo.discount = 500;
  EXPECT_EQ(c.Data(c.Line(kilo)), "FISC0000000499");
  // a surcharge adds before taxes
  EXPECT_EQ(c.Data(c.Line({.groups = {2}, .discountDirection = '+', .discount = 100})),
            "FISC0000000220");
  // A discount above the line sum is refused. A long name follows the empty discount field,
  // within 31 characters on this model. Quantity 0 counts as one piece.
  c.Expect(c.Line({.price = 300, .groups = {2}, .discountDirection = '-', .discount = 301}) +
           ">SOFTBADDISC|" +
           c.Line({.name = "Молоко 2.5%", .price = 100, .longName = "пастеризоване"}) + ">READY|" +
           c.Line({.price = 100, .longName = std::string(32, 'x')}) + ">SOFTPARAM|" +
           c.Line({.quantity = 0, .price = 100}) + ">READY");

  // ledger: 2499 + 1100 + 100 + 100 sales; on total Б: (2499 + 1100) x 20 % = 719.8 -> 720
  EXPECT_EQ(Close(Comp(3799, 0, 4519))[1], 4519);
  const SimRegisters r = model.Registers();
  EXPECT_EQ((Fields{r.discounts, r.surcharges}), (Fields{500, 100}));

  // a generation 0 printer has no long-name field and takes two characters of department
  SimOptions gen0Options;
  gen0Options.model = SimModel::kGen0Var1;
  PrinterModel gen0(gen0Options);
  ModelClient g(gen0);
  g.Login();
  g.Expect("PREP1>READY|" + g.Line({.price = 100, .longName = "abc"}) +
           ">SOFTPARAM|PREP123>SOFTPROTOC|CANC>READY|PREP123>SOFTPARAM");
}

TEST_F(SimReceipts, InconsistentLinesAreRefused) {
  c.Status("PREP");
  // positions below are byte offsets: keep the name ASCII
  const std::string good = c.Line({.name = "Bread", .quantity = 2, .price = 500, .groups = {2}});
  // a group field whose rate or type does not match the programmed table
  // (the group letter takes two bytes in UTF-8: type at +2, rate at +3)
  std::string wrongRate = good, wrongType = good, letters = good;
  wrongRate.replace(41 + 6 + 3, 4, "1000");
  wrongType.replace(41 + 6 + 2, 1, "0");
  letters.replace(16, 1, "x");
  // a wrong sum, a divisible line summed as whole goods, those fields, an unprogrammed group
  c.Expect(good + ">READY|" +
           c.Line({.quantity = 2, .price = 500, .groups = {2}, .lineSum = 1001}) + ">SOFTCHECK|" +
           c.Line({.quantity = 1500, .price = 100, .divisible = true, .lineSum = 150000}) +
           ">SOFTCHECK|" + wrongRate + ">SOFTCHECK|" + wrongType + ">SOFTCHECK|" +
           c.Line({.groups = {8}}) + ">SOFTCHECK|" + letters + ">SOFTPARAM|" + good.substr(0, 60) +
           ">SOFTPARAM");
  // a receipt whose sums would not fit the ten digits of the closing reply
  const std::string huge = c.Line({.price = 999999999, .groups = {1}});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(c.Status(huge), "READY");
  EXPECT_EQ(c.Status(huge), "SOFTOVER");
  c.Expect("CANC>READY|PREP>READY|" + good + ">READY");
  EXPECT_EQ(c.Status(c.Line({.article = 9999})), "READY");
  // nothing of the refused lines reached the ledger
  EXPECT_EQ(c.Status(Comp(1000 + 1000, 0, 2000 + 200)), "READY");
}

TEST_F(SimReceipts, RegistersArticlesAndZReport) {
  c.Status("CAIOI0000010000");
  c.Status("PREP");
  c.Send(c.Line({.name = "Кава", .quantity = 2, .price = 2500, .groups = {2}, .article = 7}));
  c.Send(c.Line({.name = "Без податку", .price = 300}));
  c.Send(Comp(5300, 0, 0, 6300));  // paid by cheque: no cash moves
  c.Status("PREP");
  c.Send(c.Line({.name = "Кава", .price = 2500, .groups = {2}, .article = 7}, true));
  c.Send(Comp(0, 2500, 3000));
  c.Expect("CAIOO0000100000>SOFTNEED|CAIOO0000001000>READY");

  // rest, income, outcome, sales, return, total, cheque income and outcome
  EXPECT_EQ(c.Data("CCAS"),
            "CCAS" + Digits({10000 - 3000 - 1000, 10000, 1000, 6300, 3000, 3300, 0, 3000}, 11));

  std::string fiscal = c.Data("CFIS");
  ASSERT_EQ(fiscal.size(), 4u + 264);
  // total, tax2 total (turnover of Б), untaxed total, return, tax2 return
  const Fields all = Numbers(fiscal, 0, 12, 22);
  EXPECT_EQ((Fields{all[0], all[2], all[10], all[11], all[13]}),
            (Fields{6300, 5000, 300, 3000, 2500}));

  std::string article = c.Data("ARTD0007");
  ASSERT_EQ(article.size(), 4u + 57);
  EXPECT_EQ(article.substr(4, 4), "0007");
  EXPECT_EQ(SimCp866ToUtf8(article.substr(8, 4)), "Кава");
  EXPECT_EQ(article[32], '1');
  EXPECT_EQ(Numbers(article, 37, 10, 2), (Fields{1, 2500}));  // 2 sold, 1 returned
  c.Expect("ARTD0008>SOFTBADART|ARTD8>SOFTPARAM|NREP>READY");

  // An active article keeps its name, taxes and divisibility until the article report.
  const std::string coffee = c.Line({.name = "Кава", .price = 2500, .groups = {2}, .article = 7});
  const std::string tea = c.Line({.name = "Чай", .price = 2500, .groups = {2}, .article = 7});
  c.Expect("PREP>READY|" + tea + ">SOFTDIFART|" +
           c.Line({.name = "Кава", .price = 2500, .groups = {1}, .article = 7}) + ">SOFTDIFART|" +
           c.Line({.name = "Кава", .price = 2500, .divisible = true, .groups = {2}, .article = 7}) +
           ">SOFTDIFART|" + coffee + ">READY|" +
           c.Line({.name = "Сік", .price = 100, .article = 8}) + ">READY|" +
           c.Line({.name = "Вода", .price = 100, .article = 8}) +
           ">SOFTDIFART|CANC>READY|ARTZ>READY|PREP>READY|" + tea + ">READY|CANC>READY");

  // check numbers run on across the day; the drawer keeps its cash
  const SimRegisters r = model.Registers();
  EXPECT_EQ((Fields{r.zNumber, r.checkNumber, r.daySales, r.groupSales[1], r.cashRest}),
            (Fields{1, 2, 0, 0, 6000}));
  EXPECT_EQ(c.Data("CFIS").substr(4), std::string(264, '0'));
  // A return pays no more cash out than the drawer holds (60.00 now); a cheque may pay it.
  c.Expect("PREP>READY|" + c.Line({.price = 7000}, true) + ">READY|" + Comp(0, 7000, 7000) +
           ">SOFTNEED|" + Comp(0, 7000, 0, 7000) + ">READY");
  EXPECT_EQ(model.Registers().cashRest, 6000);
  // "IREN" is the older printers' form
  c.Expect(
      "FIRN00010001>READY|IREN00010001>SOFTCOMMAN|FIRP2024010120240131>READY|"
      "FIRP2024013120240101>SOFTPARAM");
}

TEST_F(SimReceipts, KeyPaperAndTheDayLimit) {
  model.SetKeyPosition('X');
  c.Expect("PREP>SOFTSLWORK|ZREP1>READY|NREP>SOFTSLNREP");
  model.SetKeyPosition('Z');
  c.Expect("ZREP1>SOFTSLZREP|NREP>READY");
  model.SetKeyPosition('O');
  c.Expect("KASS>SOFTSYSLOCK|CONf>READY");  // the key can still be read
  model.SetKeyPosition('R');

  model.SetPaperOut(true);
  c.Expect("PREP>HARDPAPER|KASS>READY");
  model.SetPaperOut(false);

  // 24 hours after the day's first receipt without a Z report
  EXPECT_EQ(c.Status("PREP"), "READY");
  c.Send(Comp(0, 0, 0));
  model.AdvanceClock(std::chrono::hours(24));
  c.Expect("PREP>SOFT24HOUR|NULL>SOFT24HOUR|ZREP1>READY|NREP>READY|PREP>READY");
}

TEST_F(SimReceipts, InjectedStatusesCopyBufferAndDevices) {
  model.InjectStatus("SOFTPARAM", false);
  EXPECT_EQ(c.Send("KASS"), Strings{"SOFTPARAM"});
  c.Status("PREP");
  model.InjectStatus("HARDPAPER", true);
  EXPECT_EQ(c.Send(Comp(0, 0, 0)).front(), "HARDPAPER");
  EXPECT_FALSE(model.ReceiptOpen());  // carried out after the word

  // a receipt of 111 lines warns once and cannot be copied
  c.Status("PREP");
  int warnings = 0;
  for (int i = 0; i < 111; ++i) {
    auto replies = c.Send(c.Line({.price = 1}));
    warnings += replies.front() == "SOFTCOPY";
    EXPECT_EQ(replies.back(), "READY");
  }
  EXPECT_EQ(warnings, 1);
  EXPECT_EQ(c.Status("COPY"), "SOFTPROTOC");  // not while the receipt is open
  c.Send(Comp(111, 0, 111));
  EXPECT_EQ(c.Status("COPY"), "SOFTCOPY");
  c.Status("NULL");
  EXPECT_EQ(c.Status("NULL"), "READY");

  // generation 1 display and cutter; the other generation's forms are unknown
  c.Expect(
      "DISp22       125>READY|DISp00          >READY|DISp>READY|"
      "DISP1Total           >SOFTCOMMAN|CUTR10>READY|CUTR2>SOFTPARAM");
  SimOptions gen0Options;
  gen0Options.model = SimModel::kGen0Var0;
  PrinterModel gen0(gen0Options);
  ModelClient g(gen0);
  g.Login();
  g.Expect(
      "DISP1Total           >READY|DISP2Total>SOFTPARAM|DISp>SOFTCOMMAN|CUTR10>SOFTCOMMAN|"
      "HEAD" +
      std::string(19, 'x') + ">SOFTPARAM|IREN00050012>READY");

  // setting the time of day moves the printer's clock
  EXPECT_EQ(c.Status("CTIM090500"), "READY");
  EXPECT_EQ(c.Data("GETD").substr(12, 4), "0905");
}

TEST(SimRobustness, RandomFramesNeverBreakThePrinterOrItsLedger) {
  PrinterModel model(SimOptions{});
  ModelClient c(model);
  c.Login();
  const char* mnemonics[] = {"PREP", "FISC", "BFIS", "COMP", "CANC", "CAIOI", "CAIOO", "ARTD",
                             "DISp", "CTIM", "FEED", "TEXT", "DBEG", "PRTX",  "ZREP1", "FIRN",
                             "FIRP", "UPAS", "HEAD", "FINF", "BCHN", "NULL",  "COPY",  "TMOD"};
  std::mt19937 random(20261206);
  const std::string good = SimUtf8ToCp866(c.Line({.price = 100, .groups = {2}}));
  for (int i = 0; i < 20000; ++i) {
    std::string text = mnemonics[random() % std::size(mnemonics)];
    if (random() % 3 == 0) {
      // a valid line with a few bytes changed
      text = good;
      for (int k = 0; k < 3; ++k) text[random() % text.size()] = static_cast<char>(random());
    } else {
      for (std::size_t k = 0, tail = random() % 120; k < tail; ++k) {
        text += random() % 2 ? static_cast<char>('0' + random() % 10) : static_cast<char>(random());
      }
    }
    ASSERT_FALSE(model.HandleInput({SimInput::Kind::kCommand, text}).messages.empty()) << i;
  }
  // whatever was accepted, the registers still add up
  const SimRegisters r = model.Registers();
  EXPECT_GE(std::accumulate(r.groupSales.begin(), r.groupSales.end(), r.untaxedSales), 0);
  EXPECT_EQ(r.cashRest, r.cashIncome - r.cashOutcome + r.checkIncome - r.checkOutcome);
  model.SetKeyPosition('R');
  c.Login();
  for (const char* command : {"CANC", "DEND"}) c.Status(command);
  EXPECT_EQ(c.Status("PREP"), "READY");
}

TEST(SimDocuments, TextBufferDocumentsAndTheControlTape) {
  const TempDir dir;
  SimOptions options;
  const std::string tapePath = options.tapePath = dir.Path() + "/tape";
  PrinterModel model(options);
  ModelClient c(model);
  c.Login("Марина");

  // nothing begun to print; no receipt while a document is open
  c.Expect("PRTX>SOFTPROTOC|CTXT>READY|TEXT000Дякуємо>READY|TEXT2>SOFTPARAM|TEXT110" +
           std::string(44, 'x') +
           ">SOFTPARAM|DBEG1>READY|PREP>SOFTPROTOC|PRTX>READY|DEND>READY|PREP>READY");

  c.Status("TEXT110Гарного дня");
  c.Send(c.Line(
      {.name = "Яблука", .quantity = 1250, .price = 3000, .divisible = true, .groups = {2}}));
  c.Send(Comp(3750, 0, 5000));
  c.Status("NREP");

  const std::string tape = ReadWholeFile(tapePath);
  for (const char* printed :
       {"СЛУЖБОВИЙ ДОКУМЕНТ", "Дякуємо", "ФІСКАЛЬНИЙ ЧЕК", "Яблука", "1.250 x 30.00",
        "45.00" /* 37.50 + 7.50 on-sale */, "РЕШТА", "Гарного дня", "КАСИР Марина", "Z-ЗВІТ № 1"}) {
    EXPECT_NE(tape.find(printed), std::string::npos) << printed;
  }
}

}  // namespace
}  // namespace vekta
