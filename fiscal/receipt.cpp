// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

std::int64_t ReceiptSums::Total() const { return 0; }

short PrinterLink::OpenCheck(const std::string&) { return 0; }
short PrinterLink::OpenReturnCheck(const std::string&) { return 0; }
short PrinterLink::SetCurrentCheckDirection(std::int32_t) { return 0; }
std::int32_t PrinterLink::FiscalLineEx(const std::string&, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const std::string&, std::int32_t) { return 0; }
std::int32_t PrinterLink::FiscalLine(const std::string&, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return 0; }
std::int32_t PrinterLink::CloseCheckEx(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { return 0; }
std::int32_t PrinterLink::CloseCheck() { return 0; }
short PrinterLink::AbortCheck() { return 0; }
ReceiptSums PrinterLink::Sums() const { return {}; }
std::int32_t PrinterLink::GetCheckSum() const { return 0; }
std::int32_t PrinterLink::GetCheckOnSaleTaxes() const { return 0; }
std::int32_t PrinterLink::GetCheckReturnSum() const { return 0; }
std::int32_t PrinterLink::GetCheckReturnOnSaleTaxes() const { return 0; }
std::string PrinterLink::CheckResultText() const { return {}; }
std::string PrinterLink::CheckResultXml() const { return {}; }

}  // namespace vekta
