// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

std::string PrinterLink::GetArticleInfo(std::int32_t) { return {}; }
std::string PrinterLink::GetPrinterTime() { return {}; }
std::string PrinterLink::GetCashInfo() { return {}; }
std::string PrinterLink::GetFiscalInfo() { return {}; }
std::string PrinterLink::GetTaxesInfo() { return {}; }
int PrinterLink::GetPrinterKeyPosition() { return 0; }

}  // namespace vekta
