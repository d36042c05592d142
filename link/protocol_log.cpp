// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

void PrinterLink::OpenLog() { }
void PrinterLink::WriteLogLine(std::string_view) { }
void PrinterLink::LogMessageId(int) { }
void PrinterLink::LogError(std::string_view) { }
void PrinterLink::LogErrorId(int) { }
void PrinterLink::LogSent(std::string_view) { }
void PrinterLink::LogReceived(std::string_view) { }
void PrinterLink::CloseLog() { }
void PrinterLink::PurgeOldLogs() { }
std::string PrinterLink::LogFilePath() const { return {}; }

}  // namespace vekta
