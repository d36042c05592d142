#include "sim/printer_model.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "tests/sim/model_client.h"

namespace vekta {
namespace {

using test::ModelClient;
using test::SaleLine;
using Strings = std::vector<std::string>;

// Model detection as the host does it, written from the description of the serial number and
// firmware id; the simulator must land in the generation and variant it was asked for.
std::pair<int, int> Detect(const std::string& serial, const std::string& firmware) {
  std::string code =
      (serial[0] >= '0' && serial[0] <= '9') ? serial.substr(0, 3) : serial.substr(2, 3);
  if (code == "040" || code == "041" || code == "042") return {0, 0};
  if (code == "440" || code == "441") return {0, 1};
  if ((code == "450" || code == "460") && firmware == "vTTs") return {1, 2};
  if ((code == "500" || code == "460") && (firmware == "UMTM" || firmware == "NFPR")) {
    return {1, 3};
  }
  return {1, 4};
}

TEST(SimLogin, RefusesBeforeLoginAndChecksThePassword) {
  SimOptions options;
  options.password = "1234567890";
  PrinterModel model(options);
  ModelClient c(model);

  EXPECT_EQ(c.Status("CONf"), "SOFTPROTOC");
  EXPECT_EQ(c.Status("XXXX"), "SOFTPROTOC");
  EXPECT_EQ(c.Login("Оля", "7777777777"), "SOFTUPAS");
  EXPECT_FALSE(model.LoggedIn());
  EXPECT_EQ(c.Login("Оля", "123456789"), "SOFTUPAS");  // one character short
  EXPECT_EQ(c.Login("Оля", "1234567890"), "READY");
  EXPECT_TRUE(model.LoggedIn());
  EXPECT_EQ(SimCp866ToUtf8(model.Cashier()), "Оля");
  EXPECT_EQ(c.Status("XXXX"), "SOFTCOMMAN");
  EXPECT_EQ(c.Status("CONF"), "SOFTCOMMAN");  // case matters on the wire

  // a short password padded with blanks by the host matches a short configured one
  SimOptions shortPassword;
  shortPassword.password = "123456";
  PrinterModel other(shortPassword);
  ModelClient d(other);
  EXPECT_EQ(d.Login("Касир", "123456    "), "READY");

  // modes
  EXPECT_EQ(c.Status("PPMD"), "READY");
  EXPECT_TRUE(model.TaxesPerLine());
  EXPECT_EQ(c.Status("PPMD1"), "READY");
  EXPECT_FALSE(model.TaxesPerLine());
  EXPECT_EQ(c.Status("PPMD2"), "SOFTPARAM");
}

TEST(SimLogin, ConfigurationAndTaxTableLayouts) {
  for (const char* name : {"0.0", "0.1", "1.2", "1.3", "1.4"}) {
    SimOptions options;
    ASSERT_TRUE(ParseSimModel(name, options.model));
    PrinterModel model(options);
    ModelClient c(model);
    ASSERT_EQ(c.Login(), "READY");
    auto replies = c.Send("CONf");
    ASSERT_EQ(replies.size(), 2u) << name;
    EXPECT_EQ(replies[1], "READY");
    std::string conf = SimUtf8ToCp866(replies[0]);
    ASSERT_EQ(conf.size(), 152u) << name;
    EXPECT_EQ(conf.substr(0, 4), "CONf");
    auto [generation, variant] = Detect(conf.substr(4, 10), conf.substr(110, 4));
    EXPECT_EQ(generation, SimModelGeneration(options.model)) << name;
    EXPECT_EQ(variant, SimModelVariant(options.model)) << name;
    EXPECT_EQ(conf[74], '1');  // registration
    EXPECT_EQ(conf[148], '2');
    for (int pos : {60, 114, 140}) {
      std::string date = conf.substr(pos, 8);
      EXPECT_TRUE(date >= "20000101" && date <= "29991231") << pos << " " << date;
    }
    EXPECT_EQ(SimCp866ToUtf8(conf.substr(149, 3)), "ГРН");
  }

  // the serial number and firmware may be given; letters first shift the model code
  SimOptions options;
  options.serialNumber = "AB46012345";
  options.firmwareId = "NFPR";
  PrinterModel model(options);
  ModelClient c(model);
  c.Login();
  std::string conf = SimUtf8ToCp866(c.Data("CONf"));
  EXPECT_EQ(conf.substr(4, 10), "AB46012345");
  EXPECT_EQ(Detect(conf.substr(4, 10), conf.substr(110, 4)), std::make_pair(1, 3));

  // key digits
  const std::pair<char, char> keys[] = {{'R', '1'}, {'X', '2'}, {'Z', '4'}, {'P', '8'}, {'O', '0'}};
  for (auto [key, digit] : keys) {
    model.SetKeyPosition(key);
    EXPECT_EQ(SimUtf8ToCp866(c.Data("CONf"))[74], digit) << key;
  }
  model.SetKeyPosition('R');

  std::string cnal = SimUtf8ToCp866(c.Data("CNAL"));
  ASSERT_EQ(cnal.size(), 4u + 8 * 14);
  EXPECT_EQ(cnal.substr(0, 4), "CNAL");
  std::string types;
  for (int i = 0; i < 8; ++i) {
    std::string record = cnal.substr(4 + 14 * i, 14);
    if (record[0] == '0') {
      EXPECT_EQ(record, std::string(14, '0'));
      continue;
    }
    types += record[9];
    EXPECT_TRUE(record.substr(10, 4) >= "0001" && record.substr(10, 4) <= "9999");
  }
  // every tax type is programmed in some group
  for (char type : {'0', '1', '2'}) EXPECT_NE(types.find(type), std::string::npos) << type;
  EXPECT_EQ(cnal.substr(4 + 14, 14), "20240101 12000");  // Б: 20.00 on-sale
}

class SimReceipts : public ::testing::Test {
 protected:
  SimReceipts() : model(SimOptions{}), c(model) { c.Login(); }
  PrinterModel model;
  ModelClient c;
};

TEST_F(SimReceipts, LineReplyCarriesTheOnSaleTaxAndCloseGivesNineFields) {
  EXPECT_EQ(c.Status("PREPВідділ"), "READY");
  // Б is 20.00 on-sale: 3 x 10.50 = 31.50, tax 6.30
  auto replies = c.Send(c.Line({.quantity = 3, .price = 1050, .groups = {2}}));
  EXPECT_EQ(replies, (Strings{"FISC0000000630", "READY"}));
  // А is 20.00 included: no on-sale tax in the reply, same mnemonic for a return line
  replies = c.Send(c.Line({.price = 1000, .groups = {1}}, true));
  EXPECT_EQ(replies, (Strings{"FISC0000000000", "READY"}));

  // sales 3150 + 630 on-sale; return 1000: total 2780
  EXPECT_EQ(c.Status(ModelClient::Comp(3150, 1000, 2779)), "SOFTCHECK");  // a kopeck short
  EXPECT_EQ(c.Status(ModelClient::Comp(3151, 1000, 5000)), "SOFTCHECK");  // not its ledger
  replies = c.Send(ModelClient::Comp(3150, 1000, 3000));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].size(), 4u + 9 * 10);
  EXPECT_EQ(ModelClient::CompFields(replies[0]),
            (std::vector<std::int64_t>{1, 3780, 630, 0, 0, 1000, 0, 167, 0}));
  EXPECT_EQ(replies[1], "READY");
  EXPECT_FALSE(model.ReceiptOpen());

  SimRegisters r = model.Registers();
  EXPECT_EQ(r.checkNumber, 1);
  EXPECT_EQ(r.daySales, 3780);
  EXPECT_EQ(r.dayReturns, 1000);
  EXPECT_EQ(r.cashRest, 2780);  // change of 2.20 given back
  EXPECT_EQ(r.groupSales[1], 3150);
  EXPECT_EQ(r.groupReturns[0], 1000);
  EXPECT_EQ(r.returnIncludedTaxes, 167);

  // a fiscal line or close without an open receipt is out of sequence
  EXPECT_EQ(c.Status(c.Line({.groups = {2}})), "SOFTPROTOC");
  EXPECT_EQ(c.Status(ModelClient::Comp(0, 0, 0)), "SOFTPROTOC");
}

TEST_F(SimReceipts, TaxesOnTheTotalDifferFromTaxesPerLine) {
  // Д is 10.00 on-sale: two lines of 0.15 give 0.01 + 0.01 per line, 0.03 on the total
  auto receipt = [&](Strings& out) {
    c.Status("PREP");
    c.Send(c.Line({.price = 15, .groups = {5}}));
    c.Send(c.Line({.price = 15, .groups = {5}}));
    out = c.Send(ModelClient::Comp(30, 0, 100));
  };
  Strings perTotal;
  receipt(perTotal);
  EXPECT_EQ(ModelClient::CompFields(perTotal.at(0))[2], 3);
  EXPECT_EQ(ModelClient::CompFields(perTotal.at(0))[1], 33);

  ASSERT_EQ(c.Status("PPMD"), "READY");
  Strings perLine;
  receipt(perLine);
  EXPECT_EQ(ModelClient::CompFields(perLine.at(0))[2], 2);
  EXPECT_EQ(ModelClient::CompFields(perLine.at(0))[1], 32);

  // the mode cannot change under an open receipt
  c.Status("PREP");
  EXPECT_EQ(c.Status("PPMD1"), "SOFTPROTOC");
  EXPECT_EQ(c.Status("CANC"), "READY");

  // Г is 5.00 sale-included: taken off the total; В 7.00 included stays in the price
  ASSERT_EQ(c.Status("PPMD1"), "READY");
  c.Status("PREP");
  EXPECT_EQ(c.Send(c.Line({.price = 2000, .groups = {4, 3}}))[0], "FISC0000000000");
  auto replies = c.Send(ModelClient::Comp(2000, 0, 1900));
  EXPECT_EQ(ModelClient::CompFields(replies.at(0)),
            (std::vector<std::int64_t>{3, 1900, 0, 131, 100, 0, 0, 0, 0}));
}

TEST_F(SimReceipts, DiscountsDivisibleGoodsAndLongNames) {
  c.Status("PREP");
  // 1.5 kg at 19.99 is 29.99; a 5.00 discount leaves 24.99; Б 20 % of it is 4.99
  auto replies = c.Send(c.Line({.quantity = 1500,
                                .price = 1999,
                                .divisible = true,
                                .groups = {2},
                                .discountDirection = '-',
                                .discount = 500}));
  EXPECT_EQ(replies.at(0), "FISC0000000499");
  // a surcharge adds before taxes
  replies =
      c.Send(c.Line({.price = 1000, .groups = {2}, .discountDirection = '+', .discount = 100}));
  EXPECT_EQ(replies.at(0), "FISC0000000220");
  // a discount above the line sum is refused
  EXPECT_EQ(
      c.Status(c.Line({.price = 300, .groups = {2}, .discountDirection = '-', .discount = 301})),
      "SOFTBADDISC");
  // a long name after the empty discount field, within 31 characters on this model
  EXPECT_EQ(c.Status(c.Line({.name = "Молоко 2.5%", .price = 100, .longName = "пастеризоване"})),
            "READY");
  EXPECT_EQ(c.Status(c.Line({.price = 100, .longName = std::string(32, 'x')})), "SOFTPARAM");
  // quantity 0 counts as one piece
  EXPECT_EQ(c.Status(c.Line({.quantity = 0, .price = 100})), "READY");

  // ledger: 2499 + 1100 + 100 + 100 sales; on total Б: (2499 + 1100) x 20 % = 719.8 -> 720
  replies = c.Send(ModelClient::Comp(3799, 0, 4519));
  EXPECT_EQ(ModelClient::CompFields(replies.at(0))[1], 4519);
  EXPECT_EQ(model.Registers().discounts, 500);
  EXPECT_EQ(model.Registers().surcharges, 100);

  // a generation 0 printer has no long-name field
  SimOptions old;
  old.model = SimModel::kGen0Var1;
  PrinterModel gen0(old);
  ModelClient g(gen0);
  g.Login();
  g.Status("PREP1");
  EXPECT_EQ(g.Status(g.Line({.price = 100, .longName = "abc"})), "SOFTPARAM");
  EXPECT_EQ(g.Status("PREP123"), "SOFTPROTOC");  // already open
  g.Status("CANC");
  EXPECT_EQ(g.Status("PREP123"), "SOFTPARAM");  // two characters at most on generation 0
}

TEST_F(SimReceipts, InconsistentLinesAreRefused) {
  c.Status("PREP");
  // positions below are byte offsets: keep the name ASCII
  std::string good = c.Line({.name = "Bread", .quantity = 2, .price = 500, .groups = {2}});
  EXPECT_EQ(c.Status(good), "READY");
  EXPECT_EQ(c.Status(c.Line({.quantity = 2, .price = 500, .groups = {2}, .lineSum = 1001})),
            "SOFTCHECK");
  // a divisible line summed as whole goods
  EXPECT_EQ(
      c.Status(c.Line({.quantity = 1500, .price = 100, .divisible = true, .lineSum = 150000})),
      "SOFTCHECK");
  // a group field whose rate or type does not match the programmed table
  // (the group letter takes two bytes in UTF-8: type at +2, rate at +3)
  std::string wrongRate = good;
  wrongRate.replace(41 + 6 + 3, 4, "1000");
  EXPECT_EQ(c.Status(wrongRate), "SOFTCHECK");
  std::string wrongType = good;
  wrongType.replace(41 + 6 + 2, 1, "0");
  EXPECT_EQ(c.Status(wrongType), "SOFTCHECK");
  // an unprogrammed group
  EXPECT_EQ(c.Status(c.Line({.groups = {8}})), "SOFTCHECK");
  // malformed fields
  std::string letters = good;
  letters.replace(16, 1, "x");
  EXPECT_EQ(c.Status(letters), "SOFTPARAM");
  EXPECT_EQ(c.Status(good.substr(0, 60)), "SOFTPARAM");
  // a receipt whose sums would not fit the ten digits of the closing reply
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(c.Status(c.Line({.price = 999999999, .groups = {1}})), "READY");
  }
  EXPECT_EQ(c.Status(c.Line({.price = 999999999, .groups = {1}})), "SOFTOVER");
  EXPECT_EQ(c.Status("CANC"), "READY");
  c.Status("PREP");
  EXPECT_EQ(c.Status(good), "READY");
  EXPECT_EQ(c.Status(c.Line({.article = 9999})), "READY");
  // nothing of the refused lines reached the ledger
  auto replies = c.Send(ModelClient::Comp(1000 + 1000, 0, 2000 + 200));
  EXPECT_EQ(replies.back(), "READY");
}

TEST_F(SimReceipts, RegistersArticlesAndZReport) {
  c.Status("CAIOI0000010000");
  c.Status("PREP");
  c.Send(c.Line({.name = "Кава", .quantity = 2, .price = 2500, .groups = {2}, .article = 7}));
  c.Send(c.Line({.name = "Без податку", .price = 300}));
  c.Send(ModelClient::Comp(5300, 0, 0, 6300));  // paid by cheque: no cash moves
  c.Status("PREP");
  c.Send(c.Line({.name = "Кава", .price = 2500, .groups = {2}, .article = 7}, true));
  c.Send(ModelClient::Comp(0, 2500, 3000));
  EXPECT_EQ(c.Status("CAIOO0000100000"), "SOFTNEED");
  EXPECT_EQ(c.Status("CAIOO0000001000"), "READY");

  std::string cash = SimUtf8ToCp866(c.Data("CCAS"));
  ASSERT_EQ(cash.size(), 4u + 88);
  auto field = [](const std::string& data, int offset, int width) {
    return std::stoll(data.substr(4 + offset, width));
  };
  EXPECT_EQ(field(cash, 0, 11), 10000 - 3000 - 1000);  // rest
  EXPECT_EQ(field(cash, 11, 11), 10000);               // income
  EXPECT_EQ(field(cash, 22, 11), 1000);                // outcome
  EXPECT_EQ(field(cash, 33, 11), 6300);                // sales
  EXPECT_EQ(field(cash, 44, 11), 3000);                // return
  EXPECT_EQ(field(cash, 55, 11), 3300);                // total
  EXPECT_EQ(field(cash, 66, 11), 0);
  EXPECT_EQ(field(cash, 77, 11), 3000);

  std::string fiscal = SimUtf8ToCp866(c.Data("CFIS"));
  ASSERT_EQ(fiscal.size(), 4u + 264);
  EXPECT_EQ(field(fiscal, 0, 12), 6300);
  EXPECT_EQ(field(fiscal, 24, 12), 5000);   // tax2_total: turnover of Б
  EXPECT_EQ(field(fiscal, 120, 12), 300);   // untaxed_total
  EXPECT_EQ(field(fiscal, 132, 12), 3000);  // return
  EXPECT_EQ(field(fiscal, 156, 12), 2500);  // tax2_return

  std::string article = SimUtf8ToCp866(c.Data("ARTD0007"));
  ASSERT_EQ(article.size(), 4u + 57);
  EXPECT_EQ(article.substr(4, 4), "0007");
  EXPECT_EQ(SimCp866ToUtf8(article.substr(8, 4)), "Кава");
  EXPECT_EQ(article[32], '1');
  EXPECT_EQ(field(article, 37, 10), 1);  // 2 sold, 1 returned
  EXPECT_EQ(field(article, 47, 10), 2500);
  EXPECT_EQ(c.Status("ARTD0008"), "SOFTBADART");
  EXPECT_EQ(c.Status("ARTD8"), "SOFTPARAM");

  EXPECT_EQ(c.Status("NREP"), "READY");
  SimRegisters r = model.Registers();
  EXPECT_EQ(r.zNumber, 1);
  EXPECT_EQ(r.checkNumber, 2);  // check numbers run on across the day
  EXPECT_EQ(r.daySales, 0);
  EXPECT_EQ(r.groupSales[1], 0);
  EXPECT_EQ(r.cashRest, 6000);  // the drawer keeps its cash
  fiscal = SimUtf8ToCp866(c.Data("CFIS"));
  EXPECT_EQ(fiscal.substr(4), std::string(264, '0'));
  EXPECT_EQ(c.Status("FIRN00010001"), "READY");
  EXPECT_EQ(c.Status("IREN00010001"), "SOFTCOMMAN");  // the older printers' form
  EXPECT_EQ(c.Status("FIRP2024010120240131"), "READY");
  EXPECT_EQ(c.Status("FIRP2024013120240101"), "SOFTPARAM");
}

TEST_F(SimReceipts, KeyPaperPowerAndTheDayLimit) {
  model.SetKeyPosition('X');
  EXPECT_EQ(c.Status("PREP"), "SOFTSLWORK");
  EXPECT_EQ(c.Status("ZREP1"), "READY");
  EXPECT_EQ(c.Status("NREP"), "SOFTSLNREP");
  model.SetKeyPosition('Z');
  EXPECT_EQ(c.Status("ZREP1"), "SOFTSLZREP");
  EXPECT_EQ(c.Status("NREP"), "READY");
  model.SetKeyPosition('O');
  EXPECT_EQ(c.Status("KASS"), "SOFTSYSLOCK");
  EXPECT_EQ(c.Status("CONf"), "READY");  // the key can still be read
  model.SetKeyPosition('R');

  model.SetPaperOut(true);
  EXPECT_EQ(c.Status("PREP"), "HARDPAPER");
  EXPECT_EQ(c.Status("KASS"), "READY");
  model.SetPaperOut(false);
  EXPECT_EQ(c.Status("PREP"), "READY");
  c.Send(c.Line({.price = 100}));

  // power lost mid-receipt: the receipt is gone and the cashier must log in again
  model.SetPower(false);
  EXPECT_TRUE(c.Send("KASS").empty());
  model.SetPower(true);
  EXPECT_FALSE(model.ReceiptOpen());
  EXPECT_EQ(c.Status("KASS"), "SOFTPROTOC");
  c.Login();

  // a cancelled receipt counts nothing
  c.Status("PREP");
  c.Send(c.Line({.price = 100}));
  EXPECT_EQ(c.Status("CANC"), "READY");
  EXPECT_EQ(model.Registers().checkNumber, 0);
  EXPECT_EQ(model.Registers().daySales, 0);

  // 24 hours after the day's first receipt without a Z report
  c.Status("PREP");
  c.Send(ModelClient::Comp(0, 0, 0));
  model.AdvanceClock(std::chrono::hours(24));
  EXPECT_EQ(c.Status("PREP"), "SOFT24HOUR");
  EXPECT_EQ(c.Status("NULL"), "SOFT24HOUR");
  EXPECT_EQ(c.Status("ZREP1"), "READY");
  EXPECT_EQ(c.Status("NREP"), "READY");
  EXPECT_EQ(c.Status("PREP"), "READY");
}

TEST_F(SimReceipts, InjectedStatusesCopyBufferAndDevices) {
  model.InjectStatus("SOFTPARAM", false);
  EXPECT_EQ(c.Send("KASS"), Strings{"SOFTPARAM"});
  c.Status("PREP");
  model.InjectStatus("HARDPAPER", true);
  EXPECT_EQ(c.Send(ModelClient::Comp(0, 0, 0)).front(), "HARDPAPER");
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
  c.Send(ModelClient::Comp(111, 0, 111));
  EXPECT_EQ(c.Status("COPY"), "SOFTCOPY");
  c.Status("NULL");
  EXPECT_EQ(c.Status("NULL"), "READY");

  // generation 1 display and cutter; the other generation's forms are unknown
  EXPECT_EQ(c.Status("DISp22       125"), "READY");
  EXPECT_EQ(c.Status("DISp00          "), "READY");
  EXPECT_EQ(c.Status("DISp"), "READY");
  EXPECT_EQ(c.Status("DISP1Total           "), "SOFTCOMMAN");
  EXPECT_EQ(c.Status("CUTR10"), "READY");
  EXPECT_EQ(c.Status("CUTR2"), "SOFTPARAM");
  SimOptions old;
  old.model = SimModel::kGen0Var0;
  PrinterModel gen0(old);
  ModelClient g(gen0);
  g.Login();
  EXPECT_EQ(g.Status("DISP1Total           "), "READY");
  EXPECT_EQ(g.Status("DISP2Total"), "SOFTPARAM");
  EXPECT_EQ(g.Status("DISp"), "SOFTCOMMAN");
  EXPECT_EQ(g.Status("CUTR10"), "SOFTCOMMAN");
  EXPECT_EQ(g.Status("HEAD" + std::string(19, 'x')), "SOFTPARAM");
  EXPECT_EQ(g.Status("IREN00050012"), "READY");

  // the other device commands and their ranges
  EXPECT_EQ(c.Status("CTIM090500"), "READY");
  EXPECT_EQ(SimUtf8ToCp866(c.Data("GETD")).substr(12, 4), "0905");
  EXPECT_EQ(c.Status("CTIM240000"), "SOFTPARAM");
  EXPECT_EQ(c.Status("FEED255"), "READY");
  EXPECT_EQ(c.Status("FEED256"), "SOFTPARAM");
  EXPECT_EQ(c.Status("TMOD3"), "READY");
  EXPECT_EQ(c.Status("TMOD4"), "SOFTPARAM");
  EXPECT_EQ(c.Status("DEPTВідді"), "READY");
  EXPECT_EQ(c.Status("DEPTВідділ"), "SOFTPARAM");
  EXPECT_EQ(c.Status("HEAD" + std::string(43, 'x')), "READY");
  EXPECT_EQ(c.Status("BCHN123"), "READY");
  EXPECT_EQ(c.Status("FINFДовга назва"), "SOFTPROTOC");  // only inside a receipt
  for (const char* command : {"KASS", "DSTR1", "TABL", "TABL1", "PPOD", "PPOD1", "ARTZ", "DIZV"}) {
    EXPECT_EQ(c.Status(command), "READY") << command;
  }
}

TEST(SimRobustness, RandomFramesNeverBreakThePrinterOrItsLedger) {
  PrinterModel model(SimOptions{});
  ModelClient c(model);
  c.Login();
  const char* mnemonics[] = {"PREP", "FISC", "BFIS", "COMP", "CANC", "CAIOI", "CAIOO", "ARTD",
                             "DISp", "CTIM", "FEED", "TEXT", "DBEG", "PRTX",  "ZREP1", "FIRN",
                             "FIRP", "UPAS", "HEAD", "FINF", "BCHN", "NULL",  "COPY",  "TMOD"};
  std::mt19937 random(20261206);
  std::string good = c.Line({.price = 100, .groups = {2}});
  for (int i = 0; i < 20000; ++i) {
    std::string text = mnemonics[random() % std::size(mnemonics)];
    if (random() % 3 == 0) {
      // a valid line with a few bytes changed
      text = SimUtf8ToCp866(good);
      for (int k = 0; k < 3; ++k) text[random() % text.size()] = static_cast<char>(random());
    } else {
      std::size_t tail = random() % 120;
      for (std::size_t k = 0; k < tail; ++k) {
        text += random() % 2 ? static_cast<char>('0' + random() % 10) : static_cast<char>(random());
      }
    }
    SimReply reply = model.HandleInput({SimInput::Kind::kCommand, text});
    ASSERT_FALSE(reply.messages.empty()) << i;
  }
  // whatever was accepted, the registers still add up
  SimRegisters r = model.Registers();
  std::int64_t turnover = r.untaxedSales;
  for (auto v : r.groupSales) turnover += v;
  EXPECT_GE(turnover, 0);
  EXPECT_EQ(r.cashRest, r.cashIncome - r.cashOutcome + r.checkIncome - r.checkOutcome);
  model.SetKeyPosition('R');
  c.Login();
  c.Status("CANC");
  c.Status("DEND");
  EXPECT_EQ(c.Status("PREP"), "READY");
}

TEST(SimDocuments, TextBufferDocumentsAndTheControlTape) {
  std::string tapePath = ::testing::TempDir() + "orbis-sim-tape-" + std::to_string(getpid());
  std::remove(tapePath.c_str());
  SimOptions options;
  options.tapePath = tapePath;
  PrinterModel model(options);
  ModelClient c(model);
  c.Login("Марина");

  EXPECT_EQ(c.Status("PRTX"), "SOFTPROTOC");  // nothing begun
  EXPECT_EQ(c.Status("CTXT"), "READY");
  EXPECT_EQ(c.Status("TEXT000Дякуємо"), "READY");
  EXPECT_EQ(c.Status("TEXT2"), "SOFTPARAM");
  EXPECT_EQ(c.Status("TEXT110" + std::string(44, 'x')), "SOFTPARAM");
  EXPECT_EQ(c.Status("DBEG1"), "READY");
  EXPECT_EQ(c.Status("PREP"), "SOFTPROTOC");  // a document is open
  EXPECT_EQ(c.Status("PRTX"), "READY");
  EXPECT_EQ(c.Status("DEND"), "READY");
  EXPECT_EQ(c.Status("PREP"), "READY");

  c.Status("TEXT110Гарного дня");
  c.Send(c.Line(
      {.name = "Яблука", .quantity = 1250, .price = 3000, .divisible = true, .groups = {2}}));
  c.Send(ModelClient::Comp(3750, 0, 5000));
  c.Status("NREP");

  std::ifstream in(tapePath);
  std::stringstream text;
  text << in.rdbuf();
  std::string tape = text.str();
  EXPECT_NE(tape.find("СЛУЖБОВИЙ ДОКУМЕНТ"), std::string::npos);
  EXPECT_NE(tape.find("Дякуємо"), std::string::npos);
  EXPECT_NE(tape.find("ФІСКАЛЬНИЙ ЧЕК"), std::string::npos);
  EXPECT_NE(tape.find("Яблука"), std::string::npos);
  EXPECT_NE(tape.find("1.250 x 30.00"), std::string::npos);
  EXPECT_NE(tape.find("45.00"), std::string::npos);  // 37.50 + 7.50 on-sale
  EXPECT_NE(tape.find("РЕШТА"), std::string::npos);
  EXPECT_NE(tape.find("Гарного дня"), std::string::npos);
  EXPECT_NE(tape.find("КАСИР Марина"), std::string::npos);
  EXPECT_NE(tape.find("Z-ЗВІТ № 1"), std::string::npos);
  std::remove(tapePath.c_str());
}

}  // namespace
}  // namespace vekta
