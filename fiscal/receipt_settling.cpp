// What a receipt leaves behind when its end is not known: the journal of its steps, a close
// whose reply did not come, and the receipts an earlier run left open, closing or in doubt.
// Each is settled from the printer's sales and return registers or from a late close reply.

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fiscal/command_helpers.h"
#include "fiscal/xml_documents.h"
#include "link/printer_link.h"
#include "link/status_table.h"

namespace vekta {

using fiscal::kInDoubtMessage;
using fiscal::kOtherPrinterMessage;
using fiscal::kPrinterFigureTolerance;
using fiscal::kReceiptWaitMs;

namespace {

// The receipts an earlier run left that this printer can tell about, newest first. Those of this
// port come first; another printer on it cannot tell what became of them, so they wait for
// their own. Only when this port left none does a printer whose device came under another COM
// number take what it left under the old one, one port's receipts at a time.
std::vector<ReceiptJournal::Entry> LeftForThisPrinter(std::vector<ReceiptJournal::Entry> rows,
                                                      int port, const std::string& serial) {
  std::erase_if(rows, [&serial](const ReceiptJournal::Entry& entry) {
    return !entry.serial.empty() && !serial.empty() && entry.serial != serial;
  });
  std::vector<ReceiptJournal::Entry> own;
  std::copy_if(rows.begin(), rows.end(), std::back_inserter(own),
               [port](const ReceiptJournal::Entry& entry) { return entry.port == port; });
  if (!own.empty() || rows.empty()) return own;
  const int from = rows.front().port;
  std::erase_if(rows, [from](const ReceiptJournal::Entry& entry) { return entry.port != from; });
  return rows;
}

// What one receipt moved the sales and return registers by (the pairs SalesRegisters cuts
// out): its total as the printer booked it. Empty when a field is not a number.
std::optional<std::int64_t> RegisterMovement(std::string_view before, std::string_view after) {
  constexpr std::size_t kField = 11;
  const auto field = [&](std::string_view pair, std::size_t index) -> std::optional<std::int64_t> {
    if (pair.size() < (index + 1) * kField) return std::nullopt;
    return fiscal::FieldNumber(pair.substr(index * kField, kField));
  };
  const auto salesBefore = field(before, 0);
  const auto returnsBefore = field(before, 1);
  const auto salesAfter = field(after, 0);
  const auto returnsAfter = field(after, 1);
  if (!salesBefore || !returnsBefore || !salesAfter || !returnsAfter) return std::nullopt;
  return (*salesAfter - *salesBefore) - (*returnsAfter - *returnsBefore);
}

}  // namespace

void PrinterLink::JournalClosing(std::int64_t total) {
  // The receipt's row with the register baseline is on disk before the close goes out: from it a
  // restarted server tells whether the close printed. Without a baseline only the closing mark
  // can tell, so that is waited for as well.
  if (m_receiptBaseline.empty()) JournalStep(ReceiptJournal::kClosing, total);
  if (m_journal) m_journal->Flush();
  if (!m_receiptBaseline.empty()) JournalStep(ReceiptJournal::kClosing, total);
}

std::string PrinterLink::SalesRegisters(std::string_view ccasData) {
  // eight fields of 11 characters: rest, income, outcome, sales, return, ... A reply of another
  // length lost or gained a byte on the line, and its fields are shifted: it tells nothing.
  constexpr std::size_t kReply = 88;
  constexpr std::size_t kSales = 33;
  constexpr std::size_t kSize = 22;
  return ccasData.size() == kReply ? std::string(ccasData.substr(kSales, kSize)) : "";
}

void PrinterLink::JournalOpened() {
  m_receiptBaseline.clear();
  m_journalRow.reset();
  m_receiptSerial = SerialNumber();
  m_receiptWentWithPrinter = false;
  if (!m_journal || !m_journal->IsOpen()) return;
  // The receipt is open whatever this query gets: an unanswered one is no error of the receipt's
  // to show (a box would hold the client's call). Without the baseline a close in doubt is
  // settled from a late close reply, or else taken as not printed.
  const bool quiet = m_quiet.exchange(true);
  const std::string lastError = LastErrorText();
  m_receiptBaseline = SalesRegisters(QueryPrinter("CCAS", "CCAS"));
  m_quiet = quiet;
  if (!m_receiptBaseline.empty()) {
    // Answered in order: whatever an earlier wait gave up on came before this reply.
    LateRepliesCaughtUp();
  } else {
    SetLastErrorText(lastError);
    WriteLogLine("The registers were not read at the receipt's open: no baseline to settle by");
  }
  m_journalRow = m_journal->Opened(m_portNumber, SerialNumber(), m_receiptBaseline);
}

void PrinterLink::JournalStep(const char* state, std::int64_t total, const std::string& note,
                              bool remarkable) {
  if (m_journal) m_journal->Update(m_journalRow, state, total, note, remarkable);
}

void PrinterLink::SettleJournal() {
  if (!m_journal || m_journalSettled) return;
  const std::string serial = SerialNumber();
  auto unsettled = m_journal->Unsettled(m_portNumber, serial);
  if (!unsettled) return;  // reported by the journal; tried again before the next receipt
  const std::vector<ReceiptJournal::Entry> left =
      LeftForThisPrinter(std::move(*unsettled), m_portNumber, serial);
  if (left.empty()) {
    m_journalSettled = true;
    return;
  }
  const bool moved = left.front().port != m_portNumber;  // left under another COM number
  // Only the newest can still be open on the printer (it holds one receipt at a time). Its
  // close went through when the sales or return register moved since it was opened: only that
  // receipt could move them. Otherwise "CANC" aborts it, if the printer still has it open.
  // The registers are asked even for a receipt journalled as open: its closing mark is written
  // after the close is sent, and may not have reached the disk.
  const ReceiptJournal::Entry& newest = left.front();
  bool printed = false;
  std::int64_t printedTotal = newest.total;
  if (!newest.baseline.empty()) {
    const std::string data = QueryPrinter("CCAS", "CCAS");
    if (data.empty()) return;  // cannot tell yet: asked again before the next receipt
    const std::string registers = SalesRegisters(data);
    if (registers.empty()) return;
    LateRepliesCaughtUp();  // answered in order: whatever came late came before
    printed = registers != newest.baseline;
    // The closing mark with the total is not waited for on disk: the registers tell it.
    if (printed) printedTotal = RegisterMovement(newest.baseline, registers).value_or(printedTotal);
    // Another port's receipt is this printer's only where its registers say so: unmoved, or
    // moved by the receipt's own total. Else it is another device's with the same number.
    if (moved && printed &&
        (newest.state == ReceiptJournal::kOpen ||
         std::llabs(printedTotal - newest.total) > kPrinterFigureTolerance)) {
      m_journalSettled = true;
      return;
    }
  } else if (moved || newest.state != ReceiptJournal::kOpen) {
    m_journalSettled = moved;  // another port's receipt without a baseline waits for its own
    return;                    // a close without a baseline cannot be told from the printer
  }
  if (!printed) {
    if (!SendFrame("CANC") || !WaitReady()) return;
  }
  m_journalSettled = true;
  JournalEarlierRunSettled(left, printed, printedTotal, moved);
}

void PrinterLink::JournalEarlierRunSettled(const std::vector<ReceiptJournal::Entry>& left,
                                           bool printed, std::int64_t printedTotal, bool moved) {
  const ReceiptJournal::Entry& newest = left.front();
  for (const ReceiptJournal::Entry& entry : left) {
    const bool closing = entry.state != ReceiptJournal::kOpen;
    const char* state = ReceiptJournal::kAborted;
    std::string note = "left by an earlier run" +
                       (moved ? " on COM" + std::to_string(entry.port) : std::string()) + "; ";
    if (&entry != &newest) {
      note += "a later receipt followed it";
    } else if (printed) {
      state = ReceiptJournal::kClosed;
      note += "printed: the printer's sales registers moved";
    } else {
      state = closing ? ReceiptJournal::kNotPrinted : ReceiptJournal::kAborted;
      note += "not closed on the printer: aborted";
    }
    m_journal->Update(entry.id, state, &entry == &newest ? printedTotal : entry.total, note, true);
    WriteLogLine("Receipt " + std::to_string(entry.id) + " of an earlier run: " + state + ", " +
                 note);
  }
  m_journal->Flush();  // settled on disk before the port goes on
}

void PrinterLink::TakeCloseReply(const std::string& message) {
  const CheckResultFields fields = ParseCheckResultFields(ReplyFrom(message, "COMP").substr(4));
  std::string text = FormatCheckResultText(fields);
  std::string xml = BuildCheckResultXml(fields);
  std::lock_guard<std::mutex> lock(m_stateMutex);
  m_checkResultText = std::move(text);
  m_checkResultXml = std::move(xml);
}

bool PrinterLink::ReceiptOfAnotherPrinter() const {
  if (!m_checkOpen.load() && !m_closeInDoubt.load()) return false;
  const std::string now = SerialNumber();
  return !m_receiptSerial.empty() && !now.empty() && now != m_receiptSerial;
}

void PrinterLink::LeaveReceiptToItsPrinter() {
  // Neither closed nor aborted here: its row is left in the journal for its own printer to
  // settle when it is connected again, and the client is told.
  WriteLogLine("The port now answers printer " + SerialNumber() + ", not " + m_receiptSerial +
               ": its receipt is left to that printer");
  m_checkOpen = false;
  m_closeInDoubt = false;
  m_settledClosed = false;
  m_journalRow.reset();
  RaiseError(kOtherPrinterMessage, MessageBoxStyle::kStopOk, " " + m_receiptSerial);
}

bool PrinterLink::SettleCloseInDoubt() {
  if (m_settlingClose) return true;
  if (std::exchange(m_receiptWentWithPrinter, false)) {
    LeaveReceiptToItsPrinter();
    return false;
  }
  if (!m_closeInDoubt.load()) return true;
  // The printer answers its commands in order: a close it carried out has its reply before the
  // reply to any later query. So a late close reply already queued settles it as printed; else
  // one read-only query ("CCAS") goes out, and what comes before its answer tells.
  m_settlingClose = true;
  bool printed = false;
  bool known = false;
  bool byFigures = false;  // else by the registers
  auto take = [&](const std::string& message) {
    if (!Holds(message, "COMP")) return false;
    TakeCloseReply(message);
    printed = known = byFigures = true;
    return true;
  };
  bool closeReadyTaken = false;  // the "READY" after the close's figures
  for (; !m_queue.IsEmpty(); m_queue.Pop()) {
    const std::string message(m_queue.Peek());
    if (!take(message) && known && Holds(message, "READY")) closeReadyTaken = true;
  }
  bool loggedOut = false;
  const std::uint64_t passed = m_owedAnswersPassed.load();
  bool asked = !known && WriteFrame("CCAS");
  bool queryCame = false;  // its answer came, if garbled
  while (asked && !known && WaitForMessage(kReceiptWaitMs)) {
    const std::string message(m_queue.Peek());
    m_queue.Pop();
    if (take(message)) continue;
    if (Holds(message, "CCAS")) {
      // No close reply came, but the registers tell a close whose reply was lost.
      queryCame = true;
      const std::string now = SalesRegisters(ReplyFrom(message, "CCAS").substr(4));
      if (now.empty()) continue;  // garbled on the line: asked again before the next command
      printed = !m_receiptBaseline.empty() && now != m_receiptBaseline;
      known = true;
      TakeClosingReady(kReceiptWaitMs);
    } else if (Holds(message, "SOFTPROTOC") && !loggedOut) {
      // Logged out: the printer was switched off and on, perhaps after it printed the receipt
      // and before its reply went out. Logged in again, its registers tell.
      loggedOut = true;
      asked = LogInAgain() && WriteFrame("CCAS");
    }
  }
  m_settlingClose = false;
  if (!known) {
    if (asked && !queryCame) RegisterAnswerOwed(passed);
    SetLastErrorText(Host().LoadString(kInDoubtMessage));
    return false;
  }
  m_closeInDoubt = false;
  TakeRepliesOwedAfterDoubt(asked && !queryCame, !asked && !closeReadyTaken, passed);
  JournalDoubtSettled(printed, byFigures, loggedOut);
  return true;
}

void PrinterLink::TakeRepliesOwedAfterDoubt(bool queryAnswerOwed, bool closeReadyOwed,
                                            std::uint64_t passed) {
  // Settled by the close's late figures, the printer still owes their "READY", and the query's
  // answer when it was asked: they come next, in order, and are taken here, so that the next
  // command does not take them for its own.
  if (queryAnswerOwed || closeReadyOwed) ExpectLateReplies();
  if (queryAnswerOwed) {
    if (!TakeQueryAnswer("CCAS", kReceiptWaitMs)) RegisterAnswerOwed(passed);
  } else if (closeReadyOwed) {
    TakeQueryAnswer("READY", kReceiptWaitMs);
  } else {
    LateRepliesCaughtUp();  // the printer answers in order: whatever came late came before
  }
}

void PrinterLink::JournalDoubtSettled(bool printed, bool byFigures, bool loggedOut) {
  if (loggedOut && !printed) {
    // The receipt the printer had not closed is gone with its session: nothing is left to close.
    m_checkOpen = false;
    WriteLogLine("The receipt in doubt was not printed: the printer was switched off before");
    JournalStep(ReceiptJournal::kNotPrinted, m_doubtTotal,
                "the printer was switched off before it closed the receipt", true);
  } else if (printed) {
    m_checkOpen = false;
    m_settledClosed = true;
    WriteLogLine(byFigures ? "The receipt in doubt was printed: its close reply came late"
                           : "The receipt in doubt was printed: the registers moved since it "
                             "was opened");
    JournalStep(ReceiptJournal::kClosed, m_doubtTotal,
                byFigures ? "late close reply: " + CheckResultText()
                          : "the registers moved since it was opened (its close reply was lost)",
                true);
  } else {
    WriteLogLine("The receipt in doubt was not printed: the printer never took its close");
    JournalStep(ReceiptJournal::kOpen, m_doubtTotal, "the printer never took the close", true);
  }
}

}  // namespace vekta
