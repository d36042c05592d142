// Device control: display, drawer, cutter, feed, print and receipt modes, head and bottom lines,
// cash movements, clock, return check number and long names. One command each, "READY" ends it.

#include <cstdint>
#include <string>

#include "fiscal/command_helpers.h"
#include "link/printer_link.h"
#include "link/status_table.h"
#include "platform/codepage.h"

namespace vekta {

using fiscal::ClearOpenDocuments;
using fiscal::CutTo;
using fiscal::kCommandInDoubtMessage;
using fiscal::kNoLinkMessage;
using fiscal::kReceiptWaitMs;
using fiscal::PrintedText;
using fiscal::SendCommand;
using fiscal::Text1251;
using fiscal::ZeroPadded;

namespace {

constexpr int kBadTimeMessage = 3015;
constexpr std::size_t kDisplayLineGen0 = 16;
constexpr std::size_t kDisplayNumberWidth = 10;

std::int16_t Low16(std::int32_t value) {
  return static_cast<std::int16_t>(value);
}

short Run(PrinterLink& link, const std::string& command) {
  return fiscal::RunCommand(link, command) ? 1 : 0;
}

std::string TwoDigits(std::int16_t value) {
  return ZeroPadded(value, 2);
}

bool IsNumberChar(char c) {
  return (c >= '0' && c <= '9') || c == '.';
}

// The label code of the generation 1 indicator: 1 price, 2 sum, 3 change, 0 none. The I of
// "ВАРТIСТЬ" and "ЦIНА" is the Latin capital I, as the indicator firmware expects.
char DisplayLabel(const std::string& upper1251) {
  static const std::string kGroups[3][5] = {
      {Text1251("ВАРТIСТЬ"), Text1251("СТОИМОСТЬ"), "PRICE", Text1251("ЦIНА"), Text1251("ЦЕНА")},
      {Text1251("СУМА"), Text1251("СУММА"), "SUM", "", ""},
      {Text1251("ЗДАЧА"), Text1251("СДАЧА"), "CASH", "", ""},
  };
  for (int group = 0; group < 3; ++group) {
    for (const std::string& word : kGroups[group]) {
      if (!word.empty() && upper1251.find(word) != std::string::npos) {
        return static_cast<char>('1' + group);
      }
    }
  }
  return '0';
}

}  // namespace

short PrinterLink::OpenCashBox() {
  return Run(*this, "KASS");
}

short PrinterLink::CheckCopy() {
  if (IsCheckOpen() || IsTextDocumentOpen()) return 0;
  return Run(*this, "COPY");
}

short PrinterLink::CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) {
  if (ModelGeneration() != 1) return 0;
  return Run(*this, std::string("CUTR") + (Low16(cutterOn) != 0 ? '1' : '0') +
                        (Low16(beepOn) != 0 ? '1' : '0'));
}

short PrinterLink::Feed(std::int32_t linesToFeed) {
  std::int16_t lines = Low16(linesToFeed);
  if (lines < 0 || lines > 255) lines = 0;
  return Run(*this, "FEED" + std::to_string(lines));
}

short PrinterLink::SetPrintingDoubleWidth(std::int32_t on) {
  return Run(*this, Low16(on) != 0 ? "DSTR1" : "DSTR0");
}

short PrinterLink::SetTableMode(std::int32_t on) {
  return Run(*this, Low16(on) > 0 ? "TABL1" : "TABL");
}

short PrinterLink::SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) {
  return Run(*this, Low16(taxesPrintMode) != 0 ? "PPOD1" : "PPOD");
}

short PrinterLink::SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) {
  // The flag follows the command actually sent, so that a negative value (sent as "PPMD", per
  // line) does not leave the link recomputing taxes on the totals behind the printer's back.
  const bool onTotal = saleTaxesOnTotal > 0;
  const short result = Run(*this, onTotal ? "PPMD1" : "PPMD");
  if (result != 0) m_taxesPerLine = !onTotal;
  return result;
}

bool PrinterLink::ReadyForOwnReply() {
  if (!PollStatus()) return false;
  if (!ReplyMayBeLate()) return true;
  const int waitMs = m_lateReplyPrints ? kCatchUpWaitMs : kReceiptWaitMs;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::uint64_t passed = m_owedAnswersPassed.load();
    const std::string answer = QueryPrinter("CCAS", "CCAS", waitMs);
    if (!SalesRegisters(answer).empty()) {
      LateRepliesCaughtUp();
      return true;
    }
    if (!answer.empty()) continue;  // garbled on the line: it tells nothing, and is asked again
    if (m_queryRefusal.empty()) return false;  // no answer in time: counted as owed
    // A status word came first: the earlier command's refusal, or a harmless word
    // ("HARDSENSOR"), and then the query's answer is still to come, or the query's refusal. It
    // is counted as owed. A refusal is why nothing goes out; after a harmless word the query is
    // asked again.
    RegisterAnswerOwed(passed);
    if (!ReportPrinterStatus(m_queryRefusal)) return false;
  }
  RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
  return false;
}

bool PrinterLink::WaitReadyOnce() {
  bool unanswered = false;
  if (WaitReady(&unanswered)) return true;
  if (!unanswered) return false;
  const std::uint64_t passed = m_owedAnswersPassed.load();
  if (m_lost.load() || !WriteFrame("CCAS")) {
    ReportNoAnswer();
    return false;
  }
  CountTimeout();
  WriteLogLine("No reply in time: the printer is asked whether it carried the command out");
  for (;;) {
    if (!WaitForMessage(kCatchUpWaitMs)) {
      RegisterAnswerOwed(passed);
      RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
      return false;
    }
    const std::string message(m_queue.Peek());
    if (IsErrorStatus(message)) {
      m_queue.Pop();
      if (Holds(message, "SOFTPROTOC")) {
        // The command's refusal, when the printer is still logged in: the query's answer came
        // before the configuration's, and is passed over with it.
        if (!PrinterForgotLogin()) {
          ReportPrinterStatus(message);
          return false;
        }
        // Switched off and on meanwhile, the printer has lost its login and refuses the query:
        // whether it carried the command out before, nothing tells. Told it was refused, the
        // client would do it again (cash moved twice, a second Z report).
        WriteLogLine(
            "The printer was switched off and on before it answered: whether it "
            "carried the command out is not known");
        LogInAgain();
        RaiseError(kCommandInDoubtMessage, MessageBoxStyle::kStopOk);
        return false;
      }
      if (ReportPrinterStatus(message)) continue;
      // The command's refusal; the query's answer follows.
      if (!TakeQueryAnswer("CCAS", kQueryWaitMs)) RegisterAnswerOwed(passed);
      return false;
    }
    m_queue.Pop();
    if (message.rfind("CCAS", 0) == 0) {
      TakeClosingReady(kQueryWaitMs);
      LateRepliesCaughtUp();
      WriteLogLine("The printer answered the query but not the command: its reply was lost");
      RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
      return false;
    }
    if (!Holds(message, "READY")) continue;
    WriteLogLine("The command's \"READY\" came after its wait: it was carried out");
    RecordReplyLatency();
    if (!TakeQueryAnswer("CCAS", kQueryWaitMs)) RegisterAnswerOwed(passed);
    return true;
  }
}

short PrinterLink::MoveCash(std::int32_t moveDirection, std::int32_t cashSum) {
  // Cash moves once. A refusal still queued from an earlier command is reported before the
  // movement goes out: taken for the movement's own, the client would move the cash again. An
  // earlier command's late "READY" is put behind first.
  if (!ReadyForOwnReply()) return 0;
  // The direction travels in its own letter; a negative sum would put a sign inside the
  // zero-padded field, so its magnitude is sent.
  const std::int64_t magnitude = cashSum < 0 ? -static_cast<std::int64_t>(cashSum) : cashSum;
  const std::string command =
      std::string("CAIO") + (Low16(moveDirection) > 0 ? 'I' : 'O') + ZeroPadded(magnitude, 10);
  return SendCommand(*this, command) && WaitReadyOnce() ? 1 : 0;
}

short PrinterLink::SetReturnCheckNumber(std::int32_t checkNumber) {
  return Run(*this, "BCHN" + std::to_string(checkNumber));
}

short PrinterLink::SetCheckMessagesMode(std::int32_t mode) {
  std::int16_t value = Low16(mode);
  if (value < 0 || value > 3) value = 0;
  if (!ClearOpenDocuments(*this)) return 0;
  return Run(*this, "TMOD" + std::to_string(value));
}

short PrinterLink::SetDeptAlias(const std::string& alias) {
  return Run(*this, "DEPT" + PrintedText(alias, 5));
}

short PrinterLink::SetCheckHeadLine(const std::string& text) {
  return Run(*this, "HEAD" + PrintedText(text, LineLimit()));
}

short PrinterLink::SetCheckBottomLine(const std::string& text) {
  return Run(*this, "BOTM" + PrintedText(text, LineLimit()));
}

short PrinterLink::SetInternalTime(std::int32_t hours32, std::int32_t minutes32,
                                   std::int32_t seconds32) {
  const std::int16_t hours = Low16(hours32);
  const std::int16_t minutes = Low16(minutes32);
  const std::int16_t seconds = Low16(seconds32);
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59) {
    RaiseError(kBadTimeMessage, MessageBoxStyle::kExclamationOk);
    return 0;
  }
  if (!ClearOpenDocuments(*this)) return 0;
  return Run(*this, "CTIM" + TwoDigits(hours) + TwoDigits(minutes) + TwoDigits(seconds));
}

short PrinterLink::LongName(const std::string& longName) {
  if (!IsCheckOpen()) return 0;
  return Run(*this, "FINF" + PrintedText(longName, LongNameLimit()));
}

short PrinterLink::PutToDisplay(const std::string& line1, const std::string& line2) {
  if (ModelGeneration() == 0) {
    auto fit = [](const std::string& line) {
      std::string text = PrintedText(line, kDisplayLineGen0);
      if (!text.empty()) text.append(kDisplayLineGen0 - text.size(), ' ');
      return text;
    };
    const std::string first = fit(line1);
    const std::string second = fit(line2);
    if (first.empty() && second.empty()) return Run(*this, "DISP");
    short result = 0;
    if (!first.empty()) {
      result = Run(*this, "DISP1" + first);
      if (result == 0) return 0;
    }
    if (!second.empty()) result = Run(*this, "DISP2" + second);
    return result;
  }

  if (line1.empty() && line2.empty()) return Run(*this, "DISp");
  std::string joined = ToUpper1251(line1 + line2);
  for (char& c : joined) {
    if (c == ',') c = '.';
  }

  std::string number;
  const std::size_t start = joined.find_first_of("0123456789.");
  if (start != std::string::npos) {
    bool seenPoint = false;
    for (std::size_t i = start; i < joined.size() && IsNumberChar(joined[i]); ++i) {
      if (joined[i] == '.') {
        if (seenPoint) break;
        seenPoint = true;
      }
      number.push_back(joined[i]);
    }
  }
  if (number.size() > kDisplayNumberWidth) number.resize(kDisplayNumberWidth);

  int pointIndicator = 0;
  const std::size_t point = number.find('.');
  if (point != std::string::npos) {
    number.insert(0, kDisplayNumberWidth + 1 - number.size(), ' ');
    const std::size_t padded = number.find('.');
    pointIndicator = static_cast<int>(kDisplayNumberWidth + 1 - padded);
    number.erase(padded, 1);
  } else {
    number.insert(0, kDisplayNumberWidth - number.size(), ' ');
  }
  return Run(*this,
             std::string("DISp") + DisplayLabel(joined) + std::to_string(pointIndicator) + number);
}

}  // namespace vekta
