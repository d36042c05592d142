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
  if (receipt || documentOpen) {
    reply.messages.push_back("SOFTPROTOC");
    return;
  }
  std::string department = text.substr(4);
  if (department.size() > (generation == 0 ? 2u : 15u)) {
    reply.messages.push_back("SOFTPARAM");
    return;
  }
  StartShiftIfNeeded();
  receipt.emplace();
  receipt->department = department;
  pendingLongName.clear();
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::FiscalLine(const std::string& text, SimReply& reply) {
  auto refuse = [&reply](const char* word) { reply.messages.push_back(word); };
  if (!receipt) return refuse("SOFTPROTOC");
  bool isReturn = text.compare(0, 4, "BFIS") == 0;
  if (text.size() < kLineFields) return refuse("SOFTPARAM");
  std::string name = text.substr(4, 12);
  std::string sumText = text.substr(16, 9);
  std::string priceText = text.substr(25, 9);
  std::string quantityText = text.substr(34, 5);
  char divisibility = text[39];
  std::string articleText = text.substr(89, 4);
  if (!SimDigits(sumText) || !SimDigits(priceText) || !SimDigits(quantityText) ||
      !SimDigits(articleText) || (divisibility != '0' && divisibility != '1') || text[40] != '0') {
    return refuse("SOFTPARAM");
  }
  bool divisible = divisibility == '0';

  std::array<bool, 8> inGroup{};
  std::string groupLetters;
  for (int g = 0; g < 8; ++g) {
    std::string field = text.substr(41 + 6 * g, 6);
    if (field == "000000") continue;
    std::string rateText = field.substr(2);
    if (field[0] != GroupLetter866(g) || !SimDigits(rateText)) return refuse("SOFTPARAM");
    // the line must name the group as it is programmed: a host with a stale table is refused
    if (taxes[g].type == 0 || field[1] != taxes[g].type || std::stoi(rateText) != taxes[g].rate) {
      return refuse("SOFTCHECK");
    }
    inGroup[g] = true;
    groupLetters += field[0];
  }

  int article = std::stoi(articleText);
  if (article > MaxArticles()) return refuse("SOFTBADART");

  std::string rest = text.substr(kLineFields);
  char direction = 0;
  std::string discountName;
  std::int64_t discount = 0;
  if (!rest.empty() && (rest[0] == '-' || rest[0] == '+' || rest[0] == '0')) {
    if (rest.size() < 23 || !SimDigits(rest.substr(14, 9))) return refuse("SOFTPARAM");
    if (rest[0] == '0') {
      // the empty discount field that comes before a long name
      if (rest.substr(0, 23) != std::string(23, '0')) return refuse("SOFTPARAM");
    } else {
      direction = rest[0];
      discountName = rest.substr(1, 13);
      discount = std::stoll(rest.substr(14, 9));
    }
    rest.erase(0, 23);
  }
  std::string longName = rest;
  if (!longName.empty() &&
      (FiscalLongNameLimit() == 0 || static_cast<int>(longName.size()) > FiscalLongNameLimit())) {
    return refuse("SOFTPARAM");
  }

  std::int64_t quantity = std::stoll(quantityText);
  std::int64_t price = std::stoll(priceText);
  std::int64_t lineSum = std::stoll(sumText);
  // a quantity of 0 counts as one piece (or one thousandth)
  if (SimLineSum(std::max<std::int64_t>(quantity, 1), price, divisible) != lineSum) {
    return refuse("SOFTCHECK");
  }
  if (direction == '-' && discount > lineSum) return refuse("SOFTBADDISC");
  std::int64_t sum = lineSum + (direction == '-' ? -discount : direction == '+' ? discount : 0);

  std::string fullName = Trimmed(name + longName);
  if (!pendingLongName.empty()) fullName = pendingLongName;
  if (article > 0 && ArticleChanged(article, fullName.substr(0, 24), divisibility, groupLetters)) {
    return refuse("SOFTDIFART");
  }

  // the closing reply carries each sum in ten digits: a receipt may not outgrow them, taxes
  // (at most the sum itself) included
  std::int64_t ledger = isReturn ? receipt->returnSum : receipt->salesSum;
  if ((ledger + sum) * 2 >= kMaxReceiptSum) return refuse("SOFTOVER");

  std::int64_t onSale = 0;
  std::int64_t saleIncluded = 0;
  std::int64_t included = 0;
  bool taxed = false;
  for (int g = 0; g < 8; ++g) {
    if (!inGroup[g]) continue;
    taxed = true;
    (isReturn ? receipt->groupReturns : receipt->groupSales)[g] += sum;
    switch (taxes[g].type) {
      case '0':
        included += SimLineIncludedTax(sum, taxes[g].rate);
        break;
      case '1':
        onSale += SimLineAddedTax(sum, taxes[g].rate);
        break;
      case '2':
        saleIncluded += SimLineAddedTax(sum, taxes[g].rate);
        break;
    }
  }
  if (!taxed) (isReturn ? receipt->untaxedReturns : receipt->untaxedSales) += sum;
  if (isReturn) {
    receipt->returnSum += sum;
    receipt->returnOnSale += onSale;
    receipt->returnSaleIncluded += saleIncluded;
    receipt->returnIncluded += included;
  } else {
    receipt->salesSum += sum;
    receipt->onSale += onSale;
    receipt->saleIncluded += saleIncluded;
    receipt->included += included;
  }
  if (direction == '-') registers.discounts += discount;
  if (direction == '+') registers.surcharges += discount;

  pendingLongName.clear();
  if (article > 0) {
    SimArticle sold;
    sold.name = fullName.substr(0, 24);
    sold.divisibility = divisibility;
    sold.taxes = groupLetters;
    sold.soldQuantity = isReturn ? -quantity : quantity;
    sold.saleSum = isReturn ? -sum : sum;
    receipt->articles.emplace_back(article, sold);
  }

  std::string letters;
  for (int g = 0; g < 8; ++g) {
    if (inGroup[g]) letters += kGroupLetters[g];
  }
  auto& lines = receipt->tape;
  lines.push_back((isReturn ? "ПОВЕРНЕННЯ " : "") + SimCp866ToUtf8(fullName));
  lines.push_back(
      ControlTape::Columns("  " + Quantity(quantity, divisible) + " x " + ControlTape::Money(price),
                           ControlTape::Money(lineSum) + " " + (letters.empty() ? "-" : letters)));
  if (direction != 0) {
    lines.push_back(
        ControlTape::Columns(std::string(direction == '-' ? "  ЗНИЖКА " : "  НАДБАВКА ") +
                                 SimCp866ToUtf8(Trimmed(discountName)),
                             (direction == '-' ? "-" : "+") + ControlTape::Money(discount)));
  }
  ++receipt->lines;
  reply.printedLines += direction != 0 ? 3 : 2;

  if (receipt->lines > kCopyLimit && !receipt->copyWarned) {
    // the copy buffer is full from here on; the host may go on with the receipt
    receipt->copyWarned = true;
    reply.messages.push_back("SOFTCOPY");
  }
  reply.messages.push_back("FISC" + SimPadded(onSale, 10));
  reply.messages.push_back("READY");
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

void PrinterModel::Impl::CloseReceipt(const std::string& text, SimReply& reply) {
  auto refuse = [&reply](const char* word) { reply.messages.push_back(word); };
  if (!receipt) return refuse("SOFTPROTOC");
  if (text.size() != 4 + 6 * 10) return refuse("SOFTPARAM");
  std::array<std::int64_t, 6> field{};
  for (int i = 0; i < 6; ++i) {
    std::string digits = text.substr(4 + 10 * i, 10);
    if (!SimDigits(digits)) return refuse("SOFTPARAM");
    field[i] = std::stoll(digits);
  }
  auto [sales, returns, packing, payCheck, credit, cash] = field;
  SimReceipt& r = *receipt;
  if (sales != r.salesSum || returns != r.returnSum) return refuse("SOFTCHECK");

  std::int64_t onSale = r.onSale;
  std::int64_t saleIncluded = r.saleIncluded;
  std::int64_t returnOnSale = r.returnOnSale;
  std::int64_t returnSaleIncluded = r.returnSaleIncluded;
  if (!taxesPerLine) {
    onSale = saleIncluded = returnOnSale = returnSaleIncluded = 0;
    for (int g = 0; g < 8; ++g) {
      if (taxes[g].type == '1') {
        onSale += SimTotalTax(r.groupSales[g], taxes[g].rate);
        returnOnSale += SimTotalTax(r.groupReturns[g], taxes[g].rate);
      } else if (taxes[g].type == '2') {
        saleIncluded += SimTotalTax(r.groupSales[g], taxes[g].rate);
        returnSaleIncluded += SimTotalTax(r.groupReturns[g], taxes[g].rate);
      }
    }
  }
  std::int64_t salesPart = r.salesSum + onSale - saleIncluded;
  std::int64_t returnPart = r.returnSum + returnOnSale - returnSaleIncluded;
  std::int64_t total = salesPart - returnPart;
  std::int64_t paid = packing + payCheck + credit + cash;
  if (paid < std::llabs(total)) return refuse("SOFTCHECK");

  std::int64_t nonCash = packing + payCheck + credit;
  std::int64_t change = 0;
  if (total >= 0) {
    std::int64_t cashIn = std::max<std::int64_t>(0, total - nonCash);
    change = std::max<std::int64_t>(0, cash - cashIn);
    registers.checkIncome += cashIn;
    registers.cashRest += cashIn;
  } else {
    std::int64_t cashOut = std::max<std::int64_t>(0, -total - nonCash);
    // a return pays its cash out of the drawer, which cannot give what it does not hold
    if (cashOut > registers.cashRest) return refuse("SOFTNEED");
    registers.checkOutcome += cashOut;
    registers.cashRest -= cashOut;
  }

  ++registers.checkNumber;
  ++registers.receiptsToday;
  registers.daySales += salesPart;
  registers.dayReturns += returnPart;
  for (int g = 0; g < 8; ++g) {
    registers.groupSales[g] += r.groupSales[g];
    registers.groupReturns[g] += r.groupReturns[g];
  }
  registers.untaxedSales += r.untaxedSales;
  registers.untaxedReturns += r.untaxedReturns;
  registers.onSaleTaxes += onSale;
  registers.saleIncludedTaxes += saleIncluded;
  registers.includedTaxes += r.included;
  registers.returnOnSaleTaxes += returnOnSale;
  registers.returnSaleIncludedTaxes += returnSaleIncluded;
  registers.returnIncludedTaxes += r.returnIncluded;
  for (auto& [number, sold] : r.articles) {
    SimArticle& a = articles[number];
    a.name = sold.name;
    a.divisibility = sold.divisibility;
    a.taxes = sold.taxes;
    a.soldQuantity += sold.soldQuantity;
    a.saleSum += sold.saleSum;
  }

  // the printed receipt
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
  if (r.salesSum > 0)
    lines.push_back(ControlTape::Columns("ПРОДАЖ", ControlTape::Money(salesPart)));
  if (r.returnSum > 0) {
    lines.push_back(ControlTape::Columns("ПОВЕРНЕННЯ", ControlTape::Money(returnPart)));
  }
  lines.push_back(ControlTape::Columns("СУМА", ControlTape::Money(total)));
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
  if (cash > 0) lines.push_back(ControlTape::Columns("ГОТІВКА", ControlTape::Money(cash)));
  if (payCheck > 0) lines.push_back(ControlTape::Columns("ЧЕК", ControlTape::Money(payCheck)));
  if (credit > 0) lines.push_back(ControlTape::Columns("КРЕДИТ", ControlTape::Money(credit)));
  if (packing > 0) lines.push_back(ControlTape::Columns("ТАРА", ControlTape::Money(packing)));
  if (change > 0) lines.push_back(ControlTape::Columns("РЕШТА", ControlTape::Money(change)));
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

  std::string answer = "COMP";
  for (std::int64_t value : {registers.checkNumber, salesPart, onSale, r.included, saleIncluded,
                             returnPart, returnOnSale, r.returnIncluded, returnSaleIncluded}) {
    answer += SimPadded(value, 10);
  }
  receipt.reset();
  textBuffer.clear();
  returnCheckNumber.clear();
  reply.messages.push_back(answer);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::CancelReceipt(SimReply& reply) {
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

void PrinterModel::Impl::NullReceipt(SimReply& reply) {
  if (receipt || documentOpen) {
    reply.messages.push_back("SOFTPROTOC");
    return;
  }
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

void PrinterModel::Impl::Copy(SimReply& reply) {
  if (receipt || documentOpen || !haveLastReceipt) {
    reply.messages.push_back("SOFTPROTOC");
    return;
  }
  if (lastReceiptLines > kCopyLimit) {
    reply.messages.push_back("SOFTCOPY");
    return;
  }
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

void PrinterModel::Impl::CashRegisters(SimReply& reply) {
  const SimRegisters& r = registers;
  std::string answer = "CCAS";
  for (std::int64_t value : {r.cashRest, r.cashIncome, r.cashOutcome, r.daySales, r.dayReturns,
                             r.daySales - r.dayReturns, r.checkIncome, r.checkOutcome}) {
    answer += SimPadded(value, 11);
  }
  reply.messages.push_back(answer);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::FiscalRegisters(SimReply& reply) {
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
