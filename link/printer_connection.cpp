// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

short PrinterLink::Connect(const std::string&, const std::string&, const std::string&) { return 0; }
short PrinterLink::Login(const std::string&, const std::string&, bool&) { return 0; }
bool PrinterLink::ReadConfiguration() { return false; }
void PrinterLink::DetectModel(const PrinterConfig&) { }
std::string PrinterLink::GetConfigText() { return {}; }
PrinterConfig PrinterLink::Config() const { return {}; }
std::string PrinterLink::SerialNumber() const { return {}; }
int PrinterLink::LineLimit() const { return 0; }
int PrinterLink::LongNameLimit() const { return 0; }

}  // namespace vekta
