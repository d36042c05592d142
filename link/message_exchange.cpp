// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

bool PrinterLink::SendFrame(const std::string&) { return false; }
bool PrinterLink::WaitReady() { return false; }
bool PrinterLink::PollStatus() { return false; }
int PrinterLink::ProbeReady() { return 0; }
std::string PrinterLink::QueryPrinter(const std::string&, const std::string&) { return {}; }
std::string PrinterLink::TakePendingMessage(int) { return {}; }
void PrinterLink::ReplaceStatusWindow(int, const std::string&) { }
void PrinterLink::DeleteStatusWindow() { }

}  // namespace vekta
