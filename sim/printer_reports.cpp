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

void PrinterModel::Impl::Report(const std::string& mnemonic, const std::string& text,
                                SimReply& reply) {
  auto refuse = [&reply](const char* word) { reply.messages.push_back(word); };
  std::string arg = text.substr(4);
  if (receipt || documentOpen) return refuse("SOFTPROTOC");
  const SimRegisters& r = registers;

  auto dayLines = [&](std::vector<std::string>& lines) {
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
    lines.push_back(
        ControlTape::Columns("ПОДАТОК УТРИМ.", ControlTape::Money(r.saleIncludedTaxes)));
    lines.push_back(ControlTape::Columns("ВНЕСЕНО", ControlTape::Money(r.cashIncome)));
    lines.push_back(ControlTape::Columns("ВИДАНО", ControlTape::Money(r.cashOutcome)));
    lines.push_back(ControlTape::Columns("В КАСІ", ControlTape::Money(r.cashRest)));
  };

  if (mnemonic == "ZREP") {
    if (arg != "1") return refuse("SOFTPARAM");
    auto lines = DocumentHeader("X-ЗВІТ");
    dayLines(lines);
    auto footer = DocumentFooter("");
    lines.insert(lines.end(), footer.begin(), footer.end());
    PrintDocument(std::move(lines), reply);
  } else if (mnemonic == "NREP") {
    if (!arg.empty()) return refuse("SOFTPARAM");
    auto lines = DocumentHeader("Z-ЗВІТ № " + std::to_string(r.zNumber + 1));
    dayLines(lines);
    auto footer = DocumentFooter("");
    lines.insert(lines.end(), footer.begin(), footer.end());
    zHistory.push_back({r.zNumber + 1, DateText(), r.daySales, r.dayReturns, r.receiptsToday});
    ++registers.zNumber;
    ClearDay();
    PrintDocument(std::move(lines), reply);
  } else if (mnemonic == "ARTZ") {
    if (!arg.empty()) return refuse("SOFTPARAM");
    auto lines = DocumentHeader("ЗВІТ ПО АРТИКУЛАХ");
    for (const auto& [number, a] : articles) {
      lines.push_back(std::to_string(number) + " " + SimCp866ToUtf8(a.name));
      lines.push_back(ControlTape::Columns("  " + std::to_string(a.soldQuantity),
                                           ControlTape::Money(a.saleSum)));
    }
    articles.clear();  // the report zeroes the articles: each may be programmed anew
    PrintDocument(std::move(lines), reply);
  } else if (mnemonic == "DIZV") {
    if (!arg.empty()) return refuse("SOFTPARAM");
    auto lines = DocumentHeader("ЗВІТ ПО ЗНИЖКАХ/НАДБАВКАХ");
    lines.push_back(ControlTape::Columns("ЗНИЖКИ", ControlTape::Money(r.discounts)));
    lines.push_back(ControlTape::Columns("НАДБАВКИ", ControlTape::Money(r.surcharges)));
    PrintDocument(std::move(lines), reply);
  } else {
    // periodic reports: the short forms on the older printers, "FIR." on the newer ones
    bool newForm = mnemonic[0] == 'F';
    if (newForm != (generation == 1 && variant >= 3)) return refuse("SOFTCOMMAN");
    bool byNumber = mnemonic[3] == 'N';
    std::string from;
    std::string to;
    if (!arg.empty()) {
      std::size_t half = byNumber ? 4 : 8;
      if (arg.size() != 2 * half || !SimDigits(arg)) return refuse("SOFTPARAM");
      from = arg.substr(0, half);
      to = arg.substr(half);
      if (!byNumber && (!ValidDate(from) || !ValidDate(to))) return refuse("SOFTPARAM");
      if (from > to) return refuse("SOFTPARAM");
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
  }
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::TextCommand(const std::string& mnemonic, const std::string& text,
                                     SimReply& reply) {
  auto refuse = [&reply](const char* word) { reply.messages.push_back(word); };
  std::string arg = text.substr(4);
  if (mnemonic == "CTXT") {
    if (!arg.empty()) return refuse("SOFTPARAM");
    textBuffer.clear();
  } else if (mnemonic == "TEXT") {
    if (arg.size() < 3) return refuse("SOFTPARAM");
    for (int i = 0; i < 3; ++i) {
      if (arg[i] != '0' && arg[i] != '1') return refuse("SOFTPARAM");
    }
    std::string line = arg.substr(3);
    if (static_cast<int>(line.size()) > HeadLimit()) return refuse("SOFTPARAM");
    if (textBuffer.size() >= kTextBufferLines) return refuse("SOFTOVER");
    textBuffer.push_back({arg[0] == '1', arg[1] == '1', arg[2] == '1', line});
  } else if (mnemonic == "DBEG") {
    if (arg != "0" && arg != "1") return refuse("SOFTPARAM");
    if (receipt || documentOpen) return refuse("SOFTPROTOC");
    documentOpen = true;
  } else if (mnemonic == "PRTX" || mnemonic == "DEND") {
    if (!arg.empty()) return refuse("SOFTPARAM");
    if (!documentOpen) {
      // nothing to end is not an error for DEND; printing needs a begun document
      if (mnemonic == "PRTX") return refuse("SOFTPROTOC");
    } else {
      auto lines = DocumentHeader("СЛУЖБОВИЙ ДОКУМЕНТ");
      for (const auto& line : textBuffer) {
        lines.push_back((line.bold ? "**" : "") + SimCp866ToUtf8(line.text) +
                        (line.bold ? "**" : ""));
      }
      auto footer = DocumentFooter("");
      lines.insert(lines.end(), footer.begin(), footer.end());
      PrintDocument(std::move(lines), reply);
      textBuffer.clear();
      documentOpen = false;
    }
  }
  reply.messages.push_back("READY");
}

}  // namespace vekta
