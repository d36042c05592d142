#include "link/printer_link.h"
#include "link/status_table.h"

namespace vekta {

bool PrinterLink::ReportPrinterStatus(const std::string& reply) {
  const StatusRow* row = FindStatusRow(reply);
  const bool harmless = row != nullptr && row->word == kHarmlessStatus;
  const std::string rowText = row != nullptr ? m_host.LoadString(row->messageId) : std::string();
  m_stats.CountErrorStatus(row != nullptr ? std::string(row->word) : std::string("OTHER"));

  m_host.BringMainWindowToTop();
  if (row == nullptr) {
    SetLastErrorText(reply);
  } else if (!harmless) {
    SetLastErrorText(rowText);
  }
  // "HARDSENSOR" leaves the last error as it was, and showing it would repeat an old error.
  if (!harmless && BoxesShown()) {
    const std::string text = LastErrorText();
    if (!text.empty()) m_host.ShowMessageBox(text, MessageBoxStyle::kStopOk);
  }
  LogError(reply);
  LogError(rowText);
  return harmless;
}

MessageBoxResult PrinterLink::RaiseError(int messageId, MessageBoxStyle style,
                                         const std::string& suffix) {
  const std::string text = m_host.LoadString(messageId) + suffix;
  SetLastErrorText(text);
  if (!BoxesShown()) return MessageBoxResult::kCancel;
  return m_host.ShowMessageBox(text, style);
}

void PrinterLink::SetLastErrorText(std::string text) {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  m_lastErrorText = std::move(text);
}

std::string PrinterLink::LastErrorText() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_lastErrorText;
}

std::string PrinterLink::TakeLastErrorText() {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  std::string text;
  text.swap(m_lastErrorText);
  return text;
}

}  // namespace vekta
