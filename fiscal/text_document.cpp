// The non-fiscal text document: the printer keeps the lines in its text buffer ("CTXT" empties
// it, "TEXT" adds a line), "DBEG" begins a document and "PRTX" prints the buffered lines into it.

#include <cstdint>
#include <utility>

#include "fiscal/command_helpers.h"
#include "link/printer_link.h"

namespace vekta {

using fiscal::PrintedText;
using fiscal::RunCommand;

namespace {

constexpr int kEndTextDocumentTitle = 3010;
// The lines of a text document that a power cycle took from the printer.
constexpr int kTextLinesLostMessage = 6008;

bool On(std::int32_t flag) {
  return static_cast<std::int16_t>(flag) != 0;
}

// The text document is ended before the receipt is aborted here; receipts and reports clear in
// the other order.
bool ClearOpenDocuments(PrinterLink& link) {
  if (link.IsTextDocumentOpen()) link.EndTextDocument();
  link.AbortOpenReceipt();
  return link.AbortReceiptPerhapsOpen();
}

}  // namespace

short PrinterLink::OpenTextDocument() {
  if (!ClearOpenDocuments(*this)) return 0;
  return ClearFreeTextLines();
}

short PrinterLink::ClearFreeTextLines() {
  if (!RunCommand(*this, "CTXT")) return 0;
  m_textLinesBuffered = false;
  m_textLinesLost = false;
  return 1;
}

short PrinterLink::FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                                std::int32_t useBoldStyle, const std::string& textMessage) {
  std::string command = "TEXT";
  command += On(placeBeforeFiscalPart) ? '0' : '1';  // the digit means "after the fiscal part"
  command += On(printOnJornal) ? '1' : '0';
  command += On(useBoldStyle) ? '1' : '0';
  command += PrintedText(textMessage, LineLimit());
  if (!RunCommand(*this, command)) return 0;
  m_textLinesBuffered = true;
  return 1;
}

short PrinterLink::CloseTextDocument(std::int32_t printOnJornal) {
  // The printer was switched off and on since the lines were added: printed, the document would
  // come out without them. The client is told once, and adds them again.
  const auto linesLost = [this] {
    if (!std::exchange(m_textLinesLost, false)) return false;
    RaiseError(kTextLinesLostMessage, MessageBoxStyle::kStopOk);
    return true;
  };
  if (linesLost()) return 0;
  if (!ClearOpenDocuments(*this)) return 0;
  // After a refused begin nothing is printed, not even into a document an earlier refused
  // "DEND" left begun (the flag stays set for that one).
  if (!RunCommand(*this, On(printOnJornal) ? "DBEG1" : "DBEG0")) return 0;
  DeleteStatusWindow();
  m_textDocumentOpen = true;
  if (m_textLinesLost) {
    EndTextDocument();  // lost as the begin went out: the document begun is ended empty
    linesLost();
    return 0;
  }
  // A document the printer did not print stays begun there, and it would refuse every receipt
  // until the document ends: the flag stays set, so that the next receipt, report or ClosePort
  // sends "DEND" first.
  const bool printed = RunCommand(*this, "PRTX");
  if (printed) m_textDocumentOpen = false;
  if (linesLost()) return 0;
  return printed ? 1 : 0;
}

short PrinterLink::EndTextDocument() {
  if (!m_textDocumentOpen.load()) return 0;
  ReplaceStatusWindow(kEndTextDocumentTitle);
  const bool ok = RunCommand(*this, "DEND");
  if (ok) m_textDocumentOpen = false;
  DeleteStatusWindow();
  return ok ? 1 : 0;
}

}  // namespace vekta
