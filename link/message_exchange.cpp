#include <algorithm>
#include <utility>
#include <vector>

#include "link/printer_link.h"
#include "link/status_table.h"
#include "platform/codepage.h"

namespace vekta {

namespace {

constexpr std::uint8_t kFrameStart = 0xFD;
constexpr std::uint8_t kFrameEnd = 0xFE;
// The length byte is text + 1: beyond 251 bytes it would read as 0xFD, 0xFE or overflow, and the
// printer would cut the frame in the wrong place.
constexpr std::size_t kMaxCommand = 251;

constexpr int kReadyWaitMs = 3000;
constexpr int kPollWaitMs = 5;
constexpr int kProbeWaitMs = 200;

// The text as it goes on the wire (DOS 866) fits one frame.
bool FrameCarriesOem(const std::string& oem) {
  return oem.size() <= kMaxCommand && std::none_of(oem.begin(), oem.end(), [](char c) {
           const auto byte = static_cast<std::uint8_t>(c);
           return byte == kFrameStart || byte == kFrameEnd;
         });
}

}  // namespace

bool PrinterLink::SendFrame(const std::string& text) {
  if (!m_portOpen.load() || m_lost.load() || text.size() > kMaxCommand) return false;
  if (!SettleCloseInDoubt()) return false;
  DropStaleReplies();
  m_lastCommand = text;
  m_loginRecovered = false;
  return WriteFrame(text);
}

void PrinterLink::DropStaleReplies() {
  // What is queued now answers an earlier command (a "READY" after a wait that timed out, the
  // end of an asynchronous report): this command's wait must not take it for its own. An error
  // status stays, with everything after it, for the wait or PollStatus to report.
  while (!m_queue.IsEmpty() && !IsErrorStatus(std::string(m_queue.Peek()))) {
    m_queue.Pop();
  }
}

bool PrinterLink::FrameCarries(const std::string& text) {
  return FrameCarriesOem(Cp1251ToCp866(text));
}

bool PrinterLink::WriteFrame(const std::string& text) {
  if (!m_portOpen.load() || m_lost.load()) return false;
  const std::string oem = Cp1251ToCp866(text);
  if (!FrameCarriesOem(oem)) return false;
  LogSent(text);
  std::vector<std::uint8_t> frame;
  frame.reserve(oem.size() + 3);
  frame.push_back(kFrameStart);
  frame.insert(frame.end(), oem.begin(), oem.end());
  frame.push_back(static_cast<std::uint8_t>(oem.size() + 1));
  frame.push_back(kFrameEnd);
  m_sentAt = m_clock.Now();
  ++m_stats.commandsSent;
  if (m_port->WriteAll(frame.data(), frame.size())) return true;
  // A write that fails (the device went away, or stopped taking bytes) loses the link now: the
  // reader may only see the hang-up later, and the next call must reconnect, not wait.
  MarkLost("a write to the device failed");
  return false;
}

bool PrinterLink::PassThroughFrame(const std::string& text) {
  if (!WriteFrame(text)) return false;
  ExpectLateReplies(true);  // it may be a report
  return true;
}

void PrinterLink::MarkLost(const char* why) {
  // The reason is on record before anyone can see the link as lost.
  if (!m_lossReported.exchange(true)) {
    ReportPortProblem(m_portName + " (" + m_devicePath + "): " + why);
    m_lost = true;
  }
  m_queue.WakeWaiters();
}

void PrinterLink::ReportPortProblem(const std::string& text) {
  WriteLogLine(text);
  m_host.ReportPortProblem(text);
}

bool PrinterLink::WaitForMessage(int timeoutMs) {
  const Clock::TimePoint deadline = m_clock.Now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (m_lost.load()) return false;
    if (!m_queue.IsEmpty()) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_clock.Now());
    if (left.count() <= 0) return false;
    if (!m_clock.WaitFor(m_queue.MessageEvent(), left)) return !m_lost.load() && !m_queue.IsEmpty();
    if (m_queue.IsEmpty() && !m_lost.load()) m_queue.Rearm();  // a stale wake from a lost device
  }
}

void PrinterLink::CountTimeout() {
  ++m_stats.timeouts;
  ExpectLateReplies();
}

void PrinterLink::ReportNoAnswer() {
  CountTimeout();
  RaiseError(1003, MessageBoxStyle::kStopOk);
}

void PrinterLink::RecordReplyLatency() {
  const auto spent =
      std::chrono::duration_cast<std::chrono::milliseconds>(m_clock.Now() - m_sentAt);
  m_stats.AddLatency(static_cast<std::uint64_t>(spent.count() < 0 ? 0 : spent.count()));
}

bool PrinterLink::WaitReady(bool* unanswered) {
  for (;;) {
    if (!WaitForMessage(kReadyWaitMs)) {
      if (unanswered != nullptr) {
        *unanswered = true;
      } else {
        ReportNoAnswer();
      }
      return false;
    }
    const std::string message(m_queue.Peek());
    if (RecoverLogin(message)) continue;
    if (IsErrorStatus(message)) {
      if (!ReportPrinterStatus(message)) {
        m_queue.Drain();
        RecordReplyLatency();
        return false;
      }
      m_queue.Pop();
      continue;
    }
    if (Holds(message, "READY")) {
      m_queue.Drain();
      RecordReplyLatency();
      return true;
    }
    m_queue.Pop();  // a data reply or an unsolicited message
  }
}

bool PrinterLink::PollStatus() {
  // A late close reply is not an unasked message to pass over.
  if (!SettleCloseInDoubt()) return false;
  for (;;) {
    if (m_lost.load()) {
      ReportNoAnswer();
      return false;
    }
    // Nothing queued and nothing on its way: no reason to wait.
    if (m_queue.IsEmpty() && !m_frameArriving.load()) return true;
    if (!WaitForMessage(kPollWaitMs)) {
      if (!m_lost.load()) return true;
      ReportNoAnswer();
      return false;
    }
    const std::string message(m_queue.Peek());
    if (IsErrorStatus(message) && !ReportPrinterStatus(message)) {
      m_queue.Drain();
      return false;
    }
    m_queue.Pop();
  }
}

int PrinterLink::ProbeReady() {
  for (;;) {
    if (!WaitForMessage(kProbeWaitMs)) return m_lost.load() ? -1 : 0;
    const std::string message(m_queue.Peek());
    // A refused command ("SOFT...") left over from before the wake-up does not stop the probe.
    if (Holds(message, "HARD") || Holds(message, "SHUTDOWN")) {
      if (!ReportPrinterStatus(message)) {
        m_queue.Drain();
        return -1;
      }
      m_queue.Pop();
      continue;
    }
    if (Holds(message, "READY")) {
      m_queue.Drain();
      return 1;
    }
    m_queue.Pop();
  }
}

std::string PrinterLink::QueryPrinter(const std::string& command, const std::string& mnemonic,
                                      int waitMs,
                                      const std::function<bool(std::string_view)>& ofAnother) {
  m_queryRefusal.clear();
  const std::uint64_t passed = m_owedAnswersPassed.load();
  if (!SendFrame(command)) {
    if (!m_portOpen.load() || m_lost.load()) ReportNoAnswer();
    return {};
  }
  for (;;) {
    if (!WaitForMessage(waitMs)) {
      if (mnemonic == "CCAS") {
        const bool passedOver = m_owedAnswersPassed.load() != passed;
        RegisterAnswerOwed(passed);
        // The answer passed over as owed meanwhile was this query's (see RegisterAnswerOwed).
        if (passedOver) {
          std::lock_guard<std::mutex> lock(m_passedMutex);
          return m_passedAnswer.size() > 4 ? m_passedAnswer.substr(4) : std::string();
        }
      }
      ReportNoAnswer();
      return {};
    }
    const std::string message(m_queue.Peek());
    // The data reply begins with its mnemonic. Its text (an article's name) may hold "SOFT" or
    // "HARD" and is no status word for that.
    const bool reply = message.rfind(mnemonic, 0) == 0;
    if (!reply && RecoverLogin(message)) continue;
    if (!reply && IsErrorStatus(message)) {
      // A refused query is not reported: the caller only learns that there is no data.
      m_queryRefusal = message;
      m_queue.Drain();
      RecordReplyLatency();
      return {};
    }
    if (reply || Holds(message, mnemonic)) {
      const std::string_view from = ReplyFrom(message, mnemonic);
      std::string data(from.size() > 4 ? from.substr(4) : std::string_view());
      m_queue.Pop();
      if (ofAnother && ofAnother(data)) continue;  // its "READY" is passed over next
      TakeClosingReady(kQueryWaitMs);
      RecordReplyLatency();
      return data;
    }
    m_queue.Pop();
  }
}

void PrinterLink::RegisterAnswerOwed(std::uint64_t passedBefore) {
  if (m_lost.load()) return;
  if (m_owedAnswersPassed.load() == passedBefore) {
    ++m_registerAnswersOwed;
    return;
  }
  // An owed answer was passed over while this one was waited for, and this one did not come:
  // the printer answers, so what was passed over was this one's, and what is still counted will
  // not come either (lost on the line, or asked of a printer that was silent).
  m_registerAnswersOwed = 0;
}

void PrinterLink::ForgetOwedAnswers() {
  m_registerAnswersOwed = 0;
  m_passOwedReady = false;
}

bool PrinterLink::PassOverOwedAnswer(const std::string& text) {
  if (m_passOwedReady.load()) {
    if (Holds(text, "READY")) {
      m_passOwedReady = false;
      return true;
    }
    if (!IsErrorStatus(text)) m_passOwedReady = false;  // a status word may come between
  }
  if (text.rfind("CCAS", 0) != 0) return false;
  int owed = m_registerAnswersOwed.load();
  while (owed > 0 && !m_registerAnswersOwed.compare_exchange_weak(owed, owed - 1)) {
  }
  if (owed <= 0) return false;
  {
    std::lock_guard<std::mutex> lock(m_passedMutex);
    m_passedAnswer = text;
  }
  ++m_owedAnswersPassed;
  m_passOwedReady = true;
  WriteLogLine("A register answer that came after its wait: passed over");
  return true;
}

bool PrinterLink::TakeQueryAnswer(std::string_view mnemonic, int waitMs) {
  while (WaitForMessage(waitMs) && !IsErrorStatus(std::string(m_queue.Peek()))) {
    const bool answer = m_queue.Peek().rfind(mnemonic, 0) == 0;
    m_queue.Pop();
    if (!answer) continue;
    if (mnemonic != "READY") TakeClosingReady(waitMs);
    // The printer answers in order: whatever came late came before this answer.
    LateRepliesCaughtUp();
    return true;
  }
  return false;
}

void PrinterLink::TakeClosingReady(int timeoutMs) {
  // The data reply of a query is followed by the printer's "READY". Frames are handed over one
  // by one, so it may still be on the line: it is taken here, or the next command would take it
  // for its own. An error status is left queued for the next wait to report.
  for (;;) {
    if (m_queue.IsEmpty() && !WaitForMessage(timeoutMs)) return;
    const std::string message(m_queue.Peek());
    if (IsErrorStatus(message)) return;
    m_queue.Pop();
    if (Holds(message, "READY")) {
      m_queue.Drain();
      return;
    }
  }
}

std::string PrinterLink::TakePendingMessage(int timeoutMs) {
  if (m_queue.IsEmpty() && !WaitForMessage(timeoutMs < 0 ? 0 : timeoutMs)) {
    if (m_lost.load()) SetLastErrorText(m_host.LoadString(1003));
    return {};
  }
  std::string message(m_queue.Peek());
  m_queue.Pop();
  return message;
}

void PrinterLink::ReplaceStatusWindow(int titleId, const std::string& titleSuffix) {
  DeleteStatusWindow();
  if (!ShowStatusWindows()) return;
  std::unique_ptr<StatusWindow> window = m_host.CreateStatusWindow(*this);
  if (!window) return;
  window->SetTitleLine(m_host.LoadString(titleId) + titleSuffix);
  window->SetGoodsLine("");
  window->SetSumLine("");
  window->Show();
  m_statusWindow = std::move(window);
}

void PrinterLink::DeleteStatusWindow() {
  m_statusWindow.reset();
}

}  // namespace vekta
