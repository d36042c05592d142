#include "fiscal/command_helpers.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "link/printer_link.h"
#include "link/status_table.h"
#include "platform/codepage.h"

namespace vekta::fiscal {

namespace {

constexpr int kUnsendableMessage = 6004;

}  // namespace

std::string ZeroPadded(std::int64_t value, std::size_t width) {
  std::string text = std::to_string(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text;
}

std::optional<std::int64_t> FieldNumber(std::string_view field) {
  while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (error != std::errc{} || end != field.data() + field.size()) return std::nullopt;
  return value;
}

std::string Text1251(std::string_view utf8) {
  return Utf8ToCp1251(utf8);
}

bool AwaitMessage(PrinterLink& link, int timeoutMs) {
  ReplyQueue& queue = link.Queue();
  Clock& clock = link.GetClock();
  const auto deadline = clock.Now() + std::chrono::milliseconds(timeoutMs);
  while (queue.IsEmpty()) {
    if (link.IsLost()) break;
    const auto now = clock.Now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<Clock::Duration>(deadline - now);
    // The event may be set for a moment without a message (a pop racing a push): wait again
    // for what is left of the time-out.
    if (!clock.WaitFor(queue.MessageEvent(), std::max(left, Clock::Duration(1)))) break;
    // Signalled with nothing queued: the reader woke us (the device may have vanished), or a
    // pop raced a push. Re-arm the event and look again.
    if (queue.IsEmpty()) queue.Rearm();
  }
  if (!queue.IsEmpty()) return true;
  link.CountTimeout();
  return false;
}

bool ClearOpenDocuments(PrinterLink& link) {
  link.AbortOpenReceipt();
  if (!link.AbortReceiptPerhapsOpen()) return false;
  if (link.IsTextDocumentOpen()) link.EndTextDocument();
  return true;
}

bool SendCommand(PrinterLink& link, const std::string& text) {
  const bool gone = !link.IsConnected() || link.IsLost();
  if (link.SendFrame(text)) return true;
  // A close in doubt that was asked about has set its reason: the printer is not done yet.
  if (link.IsCloseInDoubt() && !gone) return false;
  if (!link.IsConnected() || link.IsLost()) {
    link.RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
  } else {
    link.SetLastErrorText(link.Host().LoadString(kUnsendableMessage));
    if (link.ShowErrorMessages()) {
      link.Host().ShowMessageBox(link.LastErrorText(), MessageBoxStyle::kStopOk);
    }
  }
  return false;
}

bool RunCommand(PrinterLink& link, const std::string& text) {
  return (link.IsLost() || link.ReadyForOwnReply()) && SendCommand(link, text) &&
         link.WaitReadyOnce();
}

void CountLatency(PrinterLink& link, std::chrono::steady_clock::time_point sentAt) {
  const auto spent =
      std::chrono::duration_cast<std::chrono::milliseconds>(link.GetClock().Now() - sentAt);
  link.Stats().AddLatency(static_cast<std::uint64_t>(std::max<std::int64_t>(spent.count(), 0)));
}

bool AwaitReceiptReply(PrinterLink& link, int stepMs, std::chrono::steady_clock::time_point sentAt,
                       std::string_view ignoredWord,
                       const std::function<void(const std::string&)>& onData, bool* unanswered,
                       std::string_view dataWord) {
  bool answered = dataWord.empty() || !link.ReplyMayBeLate();
  bool dataCame = false;  // the command's own data reply, which tells it was carried out
  for (;;) {
    if (!AwaitMessage(link, stepMs)) {
      if (unanswered != nullptr) {
        *unanswered = true;
      } else {
        link.RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
      }
      return false;
    }
    const std::string message = PeekMessage(link);
    if (link.RecoverLogin(message)) continue;
    if (!ignoredWord.empty() && Holds(message, ignoredWord)) {
      link.Queue().Pop();
      continue;
    }
    if (IsErrorStatus(message) && !answered && unanswered != nullptr &&
        !Holds(message, kHarmlessStatus)) {
      // Before the command's own reply, after an earlier one timed out, a refusal may be that
      // earlier command's: whether this one was carried out, only the printer can tell.
      link.WriteLogLine("\"" + message + "\" before the reply to \"" + std::string(dataWord) +
                        "\": perhaps an earlier command's");
      link.Queue().Pop();
      *unanswered = true;
      return false;
    }
    if (IsErrorStatus(message) && dataCame) {
      // After the command's data a status word is no refusal of it: passed over, with a line.
      link.WriteLogLine("\"" + message + "\" after the reply to \"" + std::string(dataWord) +
                        "\": passed over");
      link.Queue().Pop();
      continue;
    }
    if (IsErrorStatus(message)) {
      if (!link.ReportPrinterStatus(message)) {
        // Behind a status word sent unasked the command's own data may follow: the caller
        // settles by what is queued after it.
        if (dataWord.empty()) {
          link.DrainQueue();
        } else {
          link.Queue().Pop();
        }
        CountLatency(link, sentAt);
        return false;
      }
      link.Queue().Pop();
      continue;
    }
    if (Holds(message, "READY")) {
      if (!answered) {
        link.WriteLogLine("\"READY\" before the reply to \"" + std::string(dataWord) +
                          "\": an earlier command's, passed over");
        link.Queue().Pop();
        continue;
      }
      if (!dataWord.empty()) link.LateRepliesCaughtUp();
      link.DrainQueue();
      CountLatency(link, sentAt);
      return true;
    }
    if (!dataWord.empty() && Holds(message, dataWord)) answered = dataCame = true;
    if (onData) onData(message);
    link.Queue().Pop();
  }
}

std::string PeekMessage(PrinterLink& link) {
  return std::string(link.Queue().Peek());
}

}  // namespace vekta::fiscal
