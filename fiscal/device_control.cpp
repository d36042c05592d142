// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

short PrinterLink::OpenCashBox() { return 0; }
short PrinterLink::CheckCopy() { return 0; }
short PrinterLink::CutAndBeep(std::int32_t, std::int32_t) { return 0; }
short PrinterLink::Feed(std::int32_t) { return 0; }
short PrinterLink::SetPrintingDoubleWidth(std::int32_t) { return 0; }
short PrinterLink::SetTableMode(std::int32_t) { return 0; }
short PrinterLink::SetOnSaleTaxesPrintMode(std::int32_t) { return 0; }
short PrinterLink::SetTaxesCalcMode(std::int32_t) { return 0; }
short PrinterLink::MoveCash(std::int32_t, std::int32_t) { return 0; }
short PrinterLink::SetReturnCheckNumber(std::int32_t) { return 0; }
short PrinterLink::SetCheckMessagesMode(std::int32_t) { return 0; }
short PrinterLink::SetDeptAlias(const std::string&) { return 0; }
short PrinterLink::SetCheckHeadLine(const std::string&) { return 0; }
short PrinterLink::SetCheckBottomLine(const std::string&) { return 0; }
short PrinterLink::SetInternalTime(std::int32_t, std::int32_t, std::int32_t) { return 0; }
short PrinterLink::LongName(const std::string&) { return 0; }
short PrinterLink::PutToDisplay(const std::string&, const std::string&) { return 0; }

}  // namespace vekta
