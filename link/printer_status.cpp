// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

bool PrinterLink::ReportPrinterStatus(const std::string&) { return false; }
MessageBoxResult PrinterLink::RaiseError(int, MessageBoxStyle, const std::string&) { return MessageBoxResult::kCancel; }
void PrinterLink::SetLastErrorText(std::string) { }
std::string PrinterLink::LastErrorText() const { return {}; }
std::string PrinterLink::TakeLastErrorText() { return {}; }

}  // namespace vekta
