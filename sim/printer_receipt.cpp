// Receipts, cash movements and the registers they feed.
//
// Receipt arithmetic: a line's sum is checked against quantity and price, a discount or
// surcharge moves it, and its taxes come from the programmed table. The receipt's sales part is
// sales + on-sale taxes - sale-included taxes, its return part likewise, and its total is the
// sales part minus the return part. With taxes on the total (the default) the on-sale and
// sale-included taxes are recomputed at the close per group, rounded half up.

#include <algorithm>
#include <cstdlib>

#include "sim/printer_state.h"
#include "sim/sim_text.h"
#include "sim/tax_math.h"

namespace vekta {

namespace {

constexpr std::size_t kLineFields = 93;  // mnemonic to article, without the optional parts
constexpr int kCopyLimit = 110;          // lines the copy buffer holds
constexpr std::int64_t kMaxReceiptSum = 10000000000LL;
const char* const kGroupLetters[8] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"};

char GroupLetter866(int group) {
  return static_cast<char>(0x80 + group);
}

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string Quantity(std::int64_t quantity, bool divisible) {
  if (!divisible) return std::to_string(quantity);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%lld.%03lld", static_cast<long long>(quantity / 1000),
                static_cast<long long>(quantity % 1000));
  return buffer;
}

}  // namespace

void PrinterModel::Impl::StartShiftIfNeeded() {
  if (!shiftStart) shiftStart = Now();
}

bool PrinterModel::Impl::ShiftTooLong() const {
  return shiftStart && Now() - *shiftStart >= std::chrono::hours(24);
}

std::vector<std::string> PrinterModel::Impl::DocumentHeader(const std::string& title) const {
  std::vector<std::string> lines;
  if (!headLine.empty()) lines.push_back(ControlTape::Center(SimCp866ToUtf8(headLine)));
  lines.push_back(ControlTape::Center(SimCp866ToUtf8(Trimmed(owner))));
  lines.push_back(ControlTape::Columns("ЗН " + serial, "ФН " + fiscalNumber));
  lines.push_back(ControlTape::Center(title));
  return lines;
}

std::vector<std::string> PrinterModel::Impl::DocumentFooter(const std::string& numberLine) const {
  std::vector<std::string> lines;
  if (!bottomLine.empty()) lines.push_back(ControlTape::Center(SimCp866ToUtf8(bottomLine)));
  std::string date = DateText();
  std::string time = TimeText();
  lines.push_back(ControlTape::Columns(
      numberLine, date.substr(6, 2) + "." + date.substr(4, 2) + "." + date.substr(0, 4) + " " +
                      time.substr(0, 2) + ":" + time.substr(2, 2) + ":" + time.substr(4, 2)));
  lines.push_back(ControlTape::Columns("КАСИР " + SimCp866ToUtf8(cashier), "ЗН " + serial));
  return lines;
}

void PrinterModel::Impl::PrintDocument(std::vector<std::string> lines, SimReply& reply) {
  reply.printedLines += static_cast<int>(lines.size());
  tape->Print(lines);
}

void PrinterModel::Impl::OpenReceipt(const std::string& text, SimReply& reply) {
  std::string department = text.substr(4);
  if (department.size() > (generation == 0 ? 2u : 15u)) return SimStatus(reply, "SOFTPARAM");
  StartShiftIfNeeded();
  receipt.emplace();
  receipt->department = department;
  pendingLongName.clear();
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::ReturnCheckNumber(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (!SimDigits(arg) || arg.size() > 10) return SimStatus(reply, "SOFTPARAM");
  returnCheckNumber = arg;
  SimStatus(reply, "READY");
}

// "FINF": the full name of the next goods line.
void PrinterModel::Impl::NextLongName(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (!receipt) return SimStatus(reply, "SOFTPROTOC");
  if (arg.empty() || static_cast<int>(arg.size()) > LongNameLimit()) {
    return SimStatus(reply, "SOFTPARAM");
  }
  pendingLongName = arg;
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::FiscalLine(const std::string& text, SimReply& reply) {
  if (!receipt) return SimStatus(reply, "SOFTPROTOC");
  SimGoodsLine line;
  if (const char* refusal = ReadGoodsLine(text, line)) return SimStatus(reply, refusal);
  if (const char* refusal = CheckGoodsLine(line)) return SimStatus(reply, refusal);
  std::int64_t onSale = BookGoodsLine(line);
  PrintGoodsLine(line, reply);
  ++receipt->lines;
  if (receipt->lines > kCopyLimit && !receipt->copyWarned) {
    // the copy buffer is full from here on; the host may go on with the receipt
    receipt->copyWarned = true;
    reply.messages.push_back("SOFTCOPY");
  }
  reply.messages.push_back("FISC" + SimPadded(onSale, 10));
  SimStatus(reply, "READY");
}

// The fields of a goods line, each checked for its form; nullptr when all are well formed.
const char* PrinterModel::Impl::ReadGoodsLine(const std::string& text, SimGoodsLine& line) const {
  line.isReturn = text.compare(0, 4, "BFIS") == 0;
  if (text.size() < kLineFields) return "SOFTPARAM";
  std::string sumText = text.substr(16, 9);
  std::string priceText = text.substr(25, 9);
  std::string quantityText = text.substr(34, 5);
  std::string articleText = text.substr(89, 4);
  line.divisibility = text[39];
  if (!SimDigits(sumText) || !SimDigits(priceText) || !SimDigits(quantityText) ||
      !SimDigits(articleText) || (line.divisibility != '0' && line.divisibility != '1') ||
      text[40] != '0') {
    return "SOFTPARAM";
  }
  line.name = text.substr(4, 12);
  line.lineSum = std::stoll(sumText);
  line.price = std::stoll(priceText);
  line.quantity = std::stoll(quantityText);
  line.divisible = line.divisibility == '0';
  if (const char* refusal = ReadLineGroups(text, line)) return refusal;
  line.article = std::stoi(articleText);
  if (line.article > MaxArticles()) return "SOFTBADART";
  return ReadLineTail(text, line);
}

// The eight tax group fields: each empty, or the group as the printer has it programmed.
const char* PrinterModel::Impl::ReadLineGroups(const std::string& text, SimGoodsLine& line) const {
  for (int g = 0; g < 8; ++g) {
    std::string field = text.substr(41 + 6 * g, 6);
    if (field == "000000") continue;
    std::string rateText = field.substr(2);
    if (field[0] != GroupLetter866(g) || !SimDigits(rateText)) return "SOFTPARAM";
    // the line must name the group as it is programmed: a host with a stale table is refused
    if (taxes[g].type == 0 || field[1] != taxes[g].type || std::stoi(rateText) != taxes[g].rate) {
      return "SOFTCHECK";
    }
    line.inGroup[g] = true;
    line.groupLetters += field[0];
  }
  return nullptr;
}

// What may follow the article: a discount or surcharge (or its empty field), then a long name.
const char* PrinterModel::Impl::ReadLineTail(const std::string& text, SimGoodsLine& line) const {
  std::string rest = text.substr(kLineFields);
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+' || rest[0] == '0')) {
    if (rest.size() < 23 || !SimDigits(rest.substr(14, 9))) return "SOFTPARAM";
    if (rest[0] == '0') {
      // the empty discount field that comes before a long name
      if (rest.substr(0, 23) != std::string(23, '0')) return "SOFTPARAM";
    } else {
      line.direction = rest[0];
      line.discountName = rest.substr(1, 13);
      line.discount = std::stoll(rest.substr(14, 9));
    }
    rest.erase(0, 23);
  }
  line.longName = rest;
  if (!rest.empty() &&
      (FiscalLongNameLimit() == 0 || static_cast<int>(rest.size()) > FiscalLongNameLimit())) {
    return "SOFTPARAM";
  }
  return nullptr;
}

// The line against its own sums, its article and what the receipt can still take.
const char* PrinterModel::Impl::CheckGoodsLine(SimGoodsLine& line) const {
  // a quantity of 0 counts as one piece (or one thousandth)
  if (SimLineSum(std::max<std::int64_t>(line.quantity, 1), line.price, line.divisible) !=
      line.lineSum) {
    return "SOFTCHECK";
  }
  if (line.direction == '-' && line.discount > line.lineSum) return "SOFTBADDISC";
  line.sum = line.lineSum + (line.direction == '-'   ? -line.discount
                             : line.direction == '+' ? line.discount
                                                     : 0);
  line.fullName = Trimmed(line.name + line.longName);
  if (!pendingLongName.empty()) line.fullName = pendingLongName;
  if (line.article > 0 && ArticleChanged(line.article, line.fullName.substr(0, 24),
                                         line.divisibility, line.groupLetters)) {
    return "SOFTDIFART";
  }
  // the closing reply carries each sum in ten digits: a receipt may not outgrow them, taxes
  // (at most the sum itself) included
  std::int64_t ledger = line.isReturn ? receipt->returnSum : receipt->salesSum;
  if ((ledger + line.sum) * 2 >= kMaxReceiptSum) return "SOFTOVER";
  return nullptr;
}

bool PrinterModel::Impl::ArticleChanged(int number, const std::string& name, char divisibility,
                                        const std::string& groupLetters) const {
  auto differs = [&](const SimArticle& a) {
    return a.name != name || a.divisibility != divisibility || a.taxes != groupLetters;
  };
  // an article is active from its first sale until the article report clears it, and earlier
  // lines of the open receipt count too
  for (const auto& [n, sold] : receipt->articles) {
    if (n == number && differs(sold)) return true;
  }
  auto found = articles.find(number);
  return found != articles.end() && differs(found->second);
}

// Adds the line to the receipt: its sum and taxes per group, its article, its discount.
// Returns the line's on-sale tax.
std::int64_t PrinterModel::Impl::BookGoodsLine(const SimGoodsLine& line) {
  std::int64_t onSale = 0;
  std::int64_t saleIncluded = 0;
  std::int64_t included = 0;
  bool taxed = false;
  for (int g = 0; g < 8; ++g) {
    if (!line.inGroup[g]) continue;
    taxed = true;
    (line.isReturn ? receipt->groupReturns : receipt->groupSales)[g] += line.sum;
    switch (taxes[g].type) {
      case '0':
        included += SimLineIncludedTax(line.sum, taxes[g].rate);
        break;
      case '1':
        onSale += SimLineAddedTax(line.sum, taxes[g].rate);
        break;
      case '2':
        saleIncluded += SimLineAddedTax(line.sum, taxes[g].rate);
        break;
    }
  }
  if (!taxed) (line.isReturn ? receipt->untaxedReturns : receipt->untaxedSales) += line.sum;
  if (line.isReturn) {
    receipt->returnSum += line.sum;
    receipt->returnOnSale += onSale;
    receipt->returnSaleIncluded += saleIncluded;
    receipt->returnIncluded += included;
  } else {
    receipt->salesSum += line.sum;
    receipt->onSale += onSale;
    receipt->saleIncluded += saleIncluded;
    receipt->included += included;
  }
  if (line.direction == '-') receipt->discounts += line.discount;
  if (line.direction == '+') receipt->surcharges += line.discount;
  pendingLongName.clear();
  if (line.article > 0) {
    SimArticle sold;
    sold.name = line.fullName.substr(0, 24);
    sold.divisibility = line.divisibility;
    sold.taxes = line.groupLetters;
    sold.soldQuantity = line.isReturn ? -line.quantity : line.quantity;
    sold.saleSum = line.isReturn ? -line.sum : line.sum;
    receipt->articles.emplace_back(line.article, sold);
  }
  return onSale;
}

// The line's two or three lines on the receipt, printed as it is registered.
void PrinterModel::Impl::PrintGoodsLine(const SimGoodsLine& line, SimReply& reply) {
  std::string letters;
  for (int g = 0; g < 8; ++g) {
    if (line.inGroup[g]) letters += kGroupLetters[g];
  }
  auto& lines = receipt->tape;
  lines.push_back((line.isReturn ? "ПОВЕРНЕННЯ " : "") + SimCp866ToUtf8(line.fullName));
  lines.push_back(ControlTape::Columns(
      "  " + Quantity(line.quantity, line.divisible) + " x " + ControlTape::Money(line.price),
      ControlTape::Money(line.lineSum) + " " + (letters.empty() ? "-" : letters)));
  if (line.direction != 0) {
    lines.push_back(ControlTape::Columns(
        std::string(line.direction == '-' ? "  ЗНИЖКА " : "  НАДБАВКА ") +
            SimCp866ToUtf8(Trimmed(line.discountName)),
        (line.direction == '-' ? "-" : "+") + ControlTape::Money(line.discount)));
  }
  reply.printedLines += line.direction != 0 ? 3 : 2;
}

void PrinterModel::Impl::CloseReceipt(const std::string& text, SimReply& reply) {
  if (!receipt) return SimStatus(reply, "SOFTPROTOC");
  SimPayment payment;
  if (const char* refusal = ReadPayment(text, payment)) return SimStatus(reply, refusal);
  const SimReceiptTotals totals = ReceiptTotals();
  if (const char* refusal = TakePayment(totals, payment)) return SimStatus(reply, refusal);
  BookReceipt(totals);
  PrintReceipt(totals, payment, reply);
  const SimReceipt& r = *receipt;
  std::string answer = "COMP";
  for (std::int64_t value :
       {registers.checkNumber, totals.salesPart, totals.onSale, r.included, totals.saleIncluded,
        totals.returnPart, totals.returnOnSale, r.returnIncluded, totals.returnSaleIncluded}) {
    answer += SimPadded(value, 10);
  }
  receipt.reset();
  textBuffer.clear();
  returnCheckNumber.clear();
  reply.messages.push_back(answer);
  SimStatus(reply, "READY");
}

// The six sums of "COMP"; the host's sales and returns must be the receipt's own.
const char* PrinterModel::Impl::ReadPayment(const std::string& text, SimPayment& payment) const {
  if (text.size() != 4 + 6 * 10) return "SOFTPARAM";
  std::array<std::int64_t, 6> field{};
  for (int i = 0; i < 6; ++i) {
    std::string digits = text.substr(4 + 10 * i, 10);
    if (!SimDigits(digits)) return "SOFTPARAM";
    field[i] = std::stoll(digits);
  }
  auto [sales, returns, packing, payCheck, credit, cash] = field;
  payment = {sales, returns, packing, payCheck, credit, cash, 0};
  if (sales != receipt->salesSum || returns != receipt->returnSum) return "SOFTCHECK";
  return nullptr;
}

SimReceiptTotals PrinterModel::Impl::ReceiptTotals() const {
  const SimReceipt& r = *receipt;
  SimReceiptTotals t;
  if (taxesPerLine) {
    t.onSale = r.onSale;
    t.saleIncluded = r.saleIncluded;
    t.returnOnSale = r.returnOnSale;
    t.returnSaleIncluded = r.returnSaleIncluded;
  } else {
    for (int g = 0; g < 8; ++g) {
      if (taxes[g].type == '1') {
        t.onSale += SimTotalTax(r.groupSales[g], taxes[g].rate);
        t.returnOnSale += SimTotalTax(r.groupReturns[g], taxes[g].rate);
      } else if (taxes[g].type == '2') {
        t.saleIncluded += SimTotalTax(r.groupSales[g], taxes[g].rate);
        t.returnSaleIncluded += SimTotalTax(r.groupReturns[g], taxes[g].rate);
      }
    }
  }
  t.salesPart = r.salesSum + t.onSale - t.saleIncluded;
  t.returnPart = r.returnSum + t.returnOnSale - t.returnSaleIncluded;
  t.total = t.salesPart - t.returnPart;
  return t;
}

// Moves the cash the receipt takes in or pays out, and works out the change.
const char* PrinterModel::Impl::TakePayment(const SimReceiptTotals& totals, SimPayment& payment) {
  std::int64_t nonCash = payment.packing + payment.payCheck + payment.credit;
  if (nonCash + payment.cash < std::llabs(totals.total)) return "SOFTCHECK";
  if (totals.total >= 0) {
    std::int64_t cashIn = std::max<std::int64_t>(0, totals.total - nonCash);
    payment.change = std::max<std::int64_t>(0, payment.cash - cashIn);
    registers.checkIncome += cashIn;
    registers.cashRest += cashIn;
  } else {
    std::int64_t cashOut = std::max<std::int64_t>(0, -totals.total - nonCash);
    // a return pays its cash out of the drawer, which cannot give what it does not hold
    if (cashOut > registers.cashRest) return "SOFTNEED";
    registers.checkOutcome += cashOut;
    registers.cashRest -= cashOut;
  }
  return nullptr;
}

// The closed receipt in the day's registers and its articles in theirs.
void PrinterModel::Impl::BookReceipt(const SimReceiptTotals& totals) {
  const SimReceipt& r = *receipt;
  ++registers.checkNumber;
  ++registers.receiptsToday;
  registers.daySales += totals.salesPart;
  registers.dayReturns += totals.returnPart;
  for (int g = 0; g < 8; ++g) {
    registers.groupSales[g] += r.groupSales[g];
    registers.groupReturns[g] += r.groupReturns[g];
  }
  registers.untaxedSales += r.untaxedSales;
  registers.discounts += r.discounts;
  registers.surcharges += r.surcharges;
  registers.untaxedReturns += r.untaxedReturns;
  registers.onSaleTaxes += totals.onSale;
  registers.saleIncludedTaxes += totals.saleIncluded;
  registers.includedTaxes += r.included;
  registers.returnOnSaleTaxes += totals.returnOnSale;
  registers.returnSaleIncludedTaxes += totals.returnSaleIncluded;
  registers.returnIncludedTaxes += r.returnIncluded;
  for (auto& [number, sold] : r.articles) {
    SimArticle& a = articles[number];
    a.name = sold.name;
    a.divisibility = sold.divisibility;
    a.taxes = sold.taxes;
    a.soldQuantity += sold.soldQuantity;
    a.saleSum += sold.saleSum;
  }
}

// The whole receipt on the tape, kept for the copy; only what follows the goods lines is
// printed now.
void PrinterModel::Impl::PrintReceipt(const SimReceiptTotals& totals, const SimPayment& payment,
                                      SimReply& reply) {
  const SimReceipt& r = *receipt;
  bool returnReceipt = r.salesSum == 0 && r.returnSum > 0;
  auto lines = DocumentHeader(returnReceipt ? "ВИДАТКОВИЙ ЧЕК" : "ФІСКАЛЬНИЙ ЧЕК");
  if (!r.department.empty()) lines.push_back("ВІДДІЛ " + SimCp866ToUtf8(r.department));
  if (!returnCheckNumber.empty() && r.returnSum > 0) {
    lines.push_back("ПОВЕРНЕННЯ ПО ЧЕКУ № " + returnCheckNumber);
  }
  for (const auto& line : textBuffer) {
    if (!line.afterFiscalPart) lines.push_back(SimCp866ToUtf8(line.text));
  }
  lines.insert(lines.end(), r.tape.begin(), r.tape.end());
  lines.push_back(std::string(ControlTape::kWidth, '='));
  auto sumLine = [&lines](const char* label, std::int64_t sum) {
    lines.push_back(ControlTape::Columns(label, ControlTape::Money(sum)));
  };
  if (r.salesSum > 0) sumLine("ПРОДАЖ", totals.salesPart);
  if (r.returnSum > 0) sumLine("ПОВЕРНЕННЯ", totals.returnPart);
  sumLine("СУМА", totals.total);
  AddTaxLines(lines);
  if (payment.cash > 0) sumLine("ГОТІВКА", payment.cash);
  if (payment.payCheck > 0) sumLine("ЧЕК", payment.payCheck);
  if (payment.credit > 0) sumLine("КРЕДИТ", payment.credit);
  if (payment.packing > 0) sumLine("ТАРА", payment.packing);
  if (payment.change > 0) sumLine("РЕШТА", payment.change);
  for (const auto& line : textBuffer) {
    if (line.afterFiscalPart) lines.push_back(SimCp866ToUtf8(line.text));
  }
  auto footer = DocumentFooter("ЧЕК № " + std::to_string(registers.checkNumber));
  lines.insert(lines.end(), footer.begin(), footer.end());
  lastReceiptTape = lines;
  lastReceiptLines = r.lines;
  haveLastReceipt = true;
  PrintDocument(std::move(lines), reply);
  // the goods lines went through the print head as they were registered
  reply.printedLines -= static_cast<int>(r.tape.size());
}

// One line a tax group the receipt touched: its rate, its kind and the tax on its balance.
void PrinterModel::Impl::AddTaxLines(std::vector<std::string>& lines) const {
  const SimReceipt& r = *receipt;
  for (int g = 0; g < 8; ++g) {
    std::int64_t base = r.groupSales[g] - r.groupReturns[g];
    if (r.groupSales[g] == 0 && r.groupReturns[g] == 0) continue;
    std::int64_t tax = 0;
    if (taxes[g].type == '0') {
      tax = SimLineIncludedTax(base, taxes[g].rate);
    } else {
      tax = SimTotalTax(base, taxes[g].rate);
    }
    lines.push_back(ControlTape::Columns(std::string("ПДВ ") + kGroupLetters[g] + " " +
                                             ControlTape::Money(taxes[g].rate) + "%" +
                                             (taxes[g].type == '1'   ? " (нарах.)"
                                              : taxes[g].type == '2' ? " (утрим.)"
                                                                     : ""),
                                         ControlTape::Money(tax)));
  }
}

void PrinterModel::Impl::CancelReceipt(const std::string&, SimReply& reply) {
  if (receipt) {
    auto lines = DocumentHeader("ЧЕК АНУЛЬОВАНО");
    lines.insert(lines.end(), receipt->tape.begin(), receipt->tape.end());
    auto footer = DocumentFooter("АНУЛЬОВАНО");
    lines.insert(lines.end(), footer.begin(), footer.end());
    PrintDocument(std::move(lines), reply);
    reply.printedLines -= static_cast<int>(receipt->tape.size());
    ++registers.cancelledToday;
    receipt.reset();
    pendingLongName.clear();
  }
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::NullReceipt(const std::string&, SimReply& reply) {
  StartShiftIfNeeded();
  ++registers.checkNumber;
  ++registers.receiptsToday;
  auto lines = DocumentHeader("НУЛЬОВИЙ ЧЕК");
  lines.push_back(ControlTape::Columns("СУМА", ControlTape::Money(0)));
  auto footer = DocumentFooter("ЧЕК № " + std::to_string(registers.checkNumber));
  lines.insert(lines.end(), footer.begin(), footer.end());
  PrintDocument(std::move(lines), reply);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::Copy(const std::string&, SimReply& reply) {
  if (!haveLastReceipt) return SimStatus(reply, "SOFTPROTOC");
  if (lastReceiptLines > kCopyLimit) return SimStatus(reply, "SOFTCOPY");
  std::vector<std::string> lines{ControlTape::Center("*** КОПІЯ ***")};
  lines.insert(lines.end(), lastReceiptTape.begin(), lastReceiptTape.end());
  lines.push_back(ControlTape::Center("*** КОПІЯ ***"));
  PrintDocument(std::move(lines), reply);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::CashInOut(const std::string& text, SimReply& reply) {
  auto refuse = [&reply](const char* word) { reply.messages.push_back(word); };
  if (text.size() != 15 || (text[4] != 'I' && text[4] != 'O') || !SimDigits(text.substr(5))) {
    return refuse("SOFTPARAM");
  }
  if (receipt || documentOpen) return refuse("SOFTPROTOC");
  bool in = text[4] == 'I';
  std::int64_t amount = std::stoll(text.substr(5));
  if (!in && amount > registers.cashRest) return refuse("SOFTNEED");
  StartShiftIfNeeded();
  if (in) {
    registers.cashIncome += amount;
    registers.cashRest += amount;
  } else {
    registers.cashOutcome += amount;
    registers.cashRest -= amount;
  }
  auto lines = DocumentHeader(in ? "СЛУЖБОВЕ ВНЕСЕННЯ" : "СЛУЖБОВА ВИДАЧА");
  lines.push_back(ControlTape::Columns("СУМА", ControlTape::Money(amount)));
  lines.push_back(ControlTape::Columns("В КАСІ", ControlTape::Money(registers.cashRest)));
  auto footer = DocumentFooter("");
  lines.insert(lines.end(), footer.begin(), footer.end());
  PrintDocument(std::move(lines), reply);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::CashRegisters(const std::string&, SimReply& reply) {
  const SimRegisters& r = registers;
  std::string answer = "CCAS";
  for (std::int64_t value : {r.cashRest, r.cashIncome, r.cashOutcome, r.daySales, r.dayReturns,
                             r.daySales - r.dayReturns, r.checkIncome, r.checkOutcome}) {
    answer += SimPadded(value, 11);
  }
  reply.messages.push_back(answer);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::FiscalRegisters(const std::string&, SimReply& reply) {
  const SimRegisters& r = registers;
  std::string answer = "CFIS" + SimPadded(r.daySales, 12);
  for (std::int64_t value : r.groupSales) answer += SimPadded(value, 12);
  answer += SimPadded(0, 12);
  answer += SimPadded(r.untaxedSales, 12);
  answer += SimPadded(r.dayReturns, 12);
  for (std::int64_t value : r.groupReturns) answer += SimPadded(value, 12);
  answer += SimPadded(0, 12);
  answer += SimPadded(r.untaxedReturns, 12);
  reply.messages.push_back(answer);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::ArticleInfo(const std::string& text, SimReply& reply) {
  std::string digits = text.substr(4);
  if (digits.size() != 4 || !SimDigits(digits)) {
    reply.messages.push_back("SOFTPARAM");
    return;
  }
  int number = std::stoi(digits);
  auto found = articles.find(number);
  if (number < 1 || number > MaxArticles() || found == articles.end()) {
    reply.messages.push_back("SOFTBADART");
    return;
  }
  const SimArticle& a = found->second;
  std::string answer = "ARTD" + digits;
  std::string name = a.name;
  name.resize(24, ' ');
  std::string taxLetters = a.taxes;
  taxLetters.resize(8, ' ');
  answer += name;
  answer += a.divisibility;
  answer += taxLetters;
  answer += SimPadded(a.soldQuantity, 10);
  answer += SimPadded(a.saleSum, 10);
  reply.messages.push_back(answer);
  reply.messages.push_back("READY");
}

}  // namespace vekta
