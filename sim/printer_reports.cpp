// Reports and the non-fiscal text documents.

#include "sim/printer_state.h"
#include "sim/sim_text.h"

namespace vekta {

namespace {

constexpr std::size_t kTextBufferLines = 500;
const char* const kGroupLetters[8] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"};

bool ValidDate(const std::string& text) {
  if (text.size() != 8 || !SimDigits(text)) return false;
  int month = std::stoi(text.substr(4, 2));
  int day = std::stoi(text.substr(6, 2));
  return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

}  // namespace

void PrinterModel::Impl::ClearDay() {
  SimRegisters& r = registers;
  std::int64_t checkNumber = r.checkNumber;
  std::int64_t zNumber = r.zNumber;
  std::int64_t cashRest = r.cashRest;
  r = SimRegisters{};
  r.checkNumber = checkNumber;
  r.zNumber = zNumber;
  r.cashRest = cashRest;
  shiftStart.reset();
}

void PrinterModel::Impl::AddDayLines(std::vector<std::string>& lines) const {
  const SimRegisters& r = registers;
  lines.push_back(ControlTape::Columns("ЧЕКІВ", std::to_string(r.receiptsToday)));
  lines.push_back(ControlTape::Columns("АНУЛЬОВАНО", std::to_string(r.cancelledToday)));
  lines.push_back(ControlTape::Columns("ПРОДАЖ", ControlTape::Money(r.daySales)));
  lines.push_back(ControlTape::Columns("ПОВЕРНЕННЯ", ControlTape::Money(r.dayReturns)));
  for (int g = 0; g < 8; ++g) {
    if (r.groupSales[g] == 0 && r.groupReturns[g] == 0) continue;
    lines.push_back(ControlTape::Columns(
        std::string("ОБОРОТ ") + kGroupLetters[g],
        ControlTape::Money(r.groupSales[g]) + " / " + ControlTape::Money(r.groupReturns[g])));
  }
  lines.push_back(ControlTape::Columns("ПОДАТОК НАРАХ.", ControlTape::Money(r.onSaleTaxes)));
  lines.push_back(ControlTape::Columns("ПОДАТОК ВКЛЮЧ.", ControlTape::Money(r.includedTaxes)));
  lines.push_back(ControlTape::Columns("ПОДАТОК УТРИМ.", ControlTape::Money(r.saleIncludedTaxes)));
  lines.push_back(ControlTape::Columns("ВНЕСЕНО", ControlTape::Money(r.cashIncome)));
  lines.push_back(ControlTape::Columns("ВИДАНО", ControlTape::Money(r.cashOutcome)));
  lines.push_back(ControlTape::Columns("В КАСІ", ControlTape::Money(r.cashRest)));
}

// "ZREP1": the day so far, clearing nothing.
void PrinterModel::Impl::XReport(const std::string& text, SimReply& reply) {
  if (text.substr(4) != "1") return SimStatus(reply, "SOFTPARAM");
  auto lines = DocumentHeader("X-ЗВІТ");
  AddDayLines(lines);
  auto footer = DocumentFooter("");
  lines.insert(lines.end(), footer.begin(), footer.end());
  PrintDocument(std::move(lines), reply);
  SimStatus(reply, "READY");
}

// "NREP": the day's report that closes the day.
void PrinterModel::Impl::ZReport(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  const SimRegisters& r = registers;
  auto lines = DocumentHeader("Z-ЗВІТ № " + std::to_string(r.zNumber + 1));
  AddDayLines(lines);
  auto footer = DocumentFooter("");
  lines.insert(lines.end(), footer.begin(), footer.end());
  zHistory.push_back({r.zNumber + 1, DateText(), r.daySales, r.dayReturns, r.receiptsToday});
  ++registers.zNumber;
  ClearDay();
  PrintDocument(std::move(lines), reply);
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::ArticleReport(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  auto lines = DocumentHeader("ЗВІТ ПО АРТИКУЛАХ");
  for (const auto& [number, a] : articles) {
    lines.push_back(std::to_string(number) + " " + SimCp866ToUtf8(a.name));
    lines.push_back(
        ControlTape::Columns("  " + std::to_string(a.soldQuantity), ControlTape::Money(a.saleSum)));
  }
  articles.clear();  // the report zeroes the articles: each may be programmed anew
  PrintDocument(std::move(lines), reply);
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::DiscountReport(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  auto lines = DocumentHeader("ЗВІТ ПО ЗНИЖКАХ/НАДБАВКАХ");
  lines.push_back(ControlTape::Columns("ЗНИЖКИ", ControlTape::Money(registers.discounts)));
  lines.push_back(ControlTape::Columns("НАДБАВКИ", ControlTape::Money(registers.surcharges)));
  PrintDocument(std::move(lines), reply);
  SimStatus(reply, "READY");
}

// The periodic reports over the Z reports taken, by number ("..N") or by date ("..P"): the
// short forms on the older printers, "FIR." on the newer ones.
void PrinterModel::Impl::PeriodicReport(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  bool newForm = text[0] == 'F';
  if (newForm != (generation == 1 && variant >= 3)) return SimStatus(reply, "SOFTCOMMAN");
  bool byNumber = text[3] == 'N';
  std::string from;
  std::string to;
  if (!arg.empty()) {
    std::size_t half = byNumber ? 4 : 8;
    if (arg.size() != 2 * half || !SimDigits(arg)) return SimStatus(reply, "SOFTPARAM");
    from = arg.substr(0, half);
    to = arg.substr(half);
    if (!byNumber && (!ValidDate(from) || !ValidDate(to))) return SimStatus(reply, "SOFTPARAM");
    if (from > to) return SimStatus(reply, "SOFTPARAM");
  }
  auto lines =
      DocumentHeader(byNumber ? "ПЕРІОДИЧНИЙ ЗВІТ ЗА НОМЕРАМИ" : "ПЕРІОДИЧНИЙ ЗВІТ ЗА ДАТАМИ");
  if (!arg.empty()) lines.push_back(ControlTape::Center(from + " - " + to));
  std::int64_t sales = 0;
  std::int64_t returns = 0;
  for (const auto& z : zHistory) {
    bool inRange =
        arg.empty() || (byNumber ? (z.zNumber >= std::stoll(from) && z.zNumber <= std::stoll(to))
                                 : (z.date >= from && z.date <= to));
    if (!inRange) continue;
    lines.push_back(ControlTape::Columns("Z № " + std::to_string(z.zNumber) + " " + z.date,
                                         ControlTape::Money(z.sales - z.returns)));
    sales += z.sales;
    returns += z.returns;
  }
  lines.push_back(ControlTape::Columns("ПРОДАЖ", ControlTape::Money(sales)));
  lines.push_back(ControlTape::Columns("ПОВЕРНЕННЯ", ControlTape::Money(returns)));
  PrintDocument(std::move(lines), reply);
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::ClearText(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  textBuffer.clear();
  SimStatus(reply, "READY");
}

// "TEXT": flags for after the fiscal part, journal and bold, then the line itself.
void PrinterModel::Impl::AddText(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg.size() < 3) return SimStatus(reply, "SOFTPARAM");
  for (int i = 0; i < 3; ++i) {
    if (arg[i] != '0' && arg[i] != '1') return SimStatus(reply, "SOFTPARAM");
  }
  std::string line = arg.substr(3);
  if (static_cast<int>(line.size()) > HeadLimit()) return SimStatus(reply, "SOFTPARAM");
  if (textBuffer.size() >= kTextBufferLines) return SimStatus(reply, "SOFTOVER");
  textBuffer.push_back({arg[0] == '1', arg[1] == '1', arg[2] == '1', line});
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::BeginDocument(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg != "0" && arg != "1") return SimStatus(reply, "SOFTPARAM");
  if (receipt || documentOpen) return SimStatus(reply, "SOFTPROTOC");
  documentOpen = true;
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::PrintText(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  // printing needs a begun document
  if (!documentOpen) return SimStatus(reply, "SOFTPROTOC");
  PrintTextDocument(reply);
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::EndDocument(const std::string& text, SimReply& reply) {
  if (text.size() > 4) return SimStatus(reply, "SOFTPARAM");
  // nothing to end is not an error
  if (documentOpen) PrintTextDocument(reply);
  SimStatus(reply, "READY");
}

// The text document from the buffer; the buffer empties and the document ends.
void PrinterModel::Impl::PrintTextDocument(SimReply& reply) {
  auto lines = DocumentHeader("СЛУЖБОВИЙ ДОКУМЕНТ");
  for (const auto& line : textBuffer) {
    lines.push_back((line.bold ? "**" : "") + SimCp866ToUtf8(line.text) + (line.bold ? "**" : ""));
  }
  auto footer = DocumentFooter("");
  lines.insert(lines.end(), footer.begin(), footer.end());
  PrintDocument(std::move(lines), reply);
  textBuffer.clear();
  documentOpen = false;
}

}  // namespace vekta
