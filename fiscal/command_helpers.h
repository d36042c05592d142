#pragma once

// Small helpers shared by the fiscal operations (fiscal/ only).

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace vekta {

class PrinterLink;

namespace fiscal {

// The reply wait of a receipt's steps after its open, per message.
constexpr int kReceiptWaitMs = 3000;
// The close of a receipt that may or may not have printed.
constexpr int kInDoubtMessage = 6000;
// No reply in time, or no link.
constexpr int kNoLinkMessage = 1003;
// A command the printer may have carried out before it was switched off and on.
constexpr int kCommandInDoubtMessage = 6006;
// The receipt of a printer that went from the port, followed by its serial number.
constexpr int kOtherPrinterMessage = 6007;
// How far the printer's own tax figures may stand from the link's (its rounding), in kopecks.
constexpr std::int64_t kPrinterFigureTolerance = 3;

// The decimal text of `value` with '0' put in front up to `width` characters; never cut.
std::string ZeroPadded(std::int64_t value, std::size_t width);
// The number in a reply's fixed field, blanks in front; empty when the rest is not all digits
// (an optional sign included).
std::optional<std::int64_t> FieldNumber(std::string_view field);

// The first `limit` bytes of `text` (all of it when shorter or when limit is negative).
inline std::string CutTo(const std::string& text, int limit) {
  if (limit < 0 || text.size() <= static_cast<std::size_t>(limit)) return text;
  return text.substr(0, static_cast<std::size_t>(limit));
}

// The same, as the printer is to print it: each control byte (below 0x20, and 0x7F) becomes a
// blank, so that no client text feeds the paper or starts a sequence of the mechanism inside a
// field of fixed width.
inline std::string PrintedText(const std::string& text, int limit) {
  std::string printed = CutTo(text, limit);
  std::replace_if(printed.begin(), printed.end(), IsControlByte, ' ');
  return printed;
}

// A UTF-8 literal of the source in the link's code page.
std::string Text1251(std::string_view utf8);

// Waits until the link's reply queue holds a message, up to `timeoutMs`. False on time-out, at
// once when the device has vanished. Counts the time-out in the link's statistics.
bool AwaitMessage(PrinterLink& link, int timeoutMs);

// An open receipt is aborted and an open text document ended before a command that must not
// land inside them. False, with the reason, when the printer does not answer the abort of a
// receipt an unanswered open may have left (PrinterLink::AbortReceiptPerhapsOpen).
bool ClearOpenDocuments(PrinterLink& link);

// Sends the command; when the frame cannot carry it or the port is gone, reports 1003 as the
// reply wait would and returns false, so that the caller fails without waiting.
bool SendCommand(PrinterLink& link, const std::string& text);

// A device command or a text document's step that waits for its own "READY". A refusal still
// queued (an asynchronous report's, say) is reported before the command goes out, and an
// earlier command's late "READY" is put behind it: either, waited for after it, would be taken
// as the command's own ("PPMD" switched the taxes behind the link's back; a refused copy passed
// for printed; a "DBEG" left the document begun on the printer with the flag clear, and every
// receipt refused). A command that prints past its wait is asked about, not reported failed.
// Over a lost line nothing is queued, and sending says so.
bool RunCommand(PrinterLink& link, const std::string& text);

// Counts the time since `sentAt` in the link's command latency histogram.
void CountLatency(PrinterLink& link, std::chrono::steady_clock::time_point sentAt);

// The reply wait of the receipt commands, in steps of `stepMs` per message: a time-out reports
// 1003; a message holding `ignoredWord` (when not empty) is popped and passed over; any other
// error status (as the link's status table tells it: "SOFFPOSNO" too, though it lacks "SOFT")
// goes to ReportPrinterStatus (refused: the queue is drained and the wait fails); "READY" drains
// the queue and succeeds; every other message is shown to `onData` and popped.
// With `unanswered` given, a reply that never came (a time-out, or the device went away) is
// not reported but flagged there, for the caller to tell. With `dataWord` given, and an earlier
// wait of the link timed out (its reply may still come), the command's "READY" is the one after
// a message holding that word: a "READY" before it is passed over as the earlier command's, and
// an error status before it leaves the reply in doubt (flagged in `unanswered`); one after the
// message holding that word is passed over (the command was carried out). A refusal then
// leaves what came behind the status word queued.
bool AwaitReceiptReply(PrinterLink& link, int stepMs, std::chrono::steady_clock::time_point sentAt,
                       std::string_view ignoredWord,
                       const std::function<void(const std::string&)>& onData = {},
                       bool* unanswered = nullptr, std::string_view dataWord = {});

// The oldest queued message, copied.
std::string PeekMessage(PrinterLink& link);

}  // namespace fiscal
}  // namespace vekta
