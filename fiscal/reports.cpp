// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

short PrinterLink::XReport() { return 0; }
short PrinterLink::XReportAsync() { return 0; }
short PrinterLink::ZReport() { return 0; }
short PrinterLink::ZReportAsync() { return 0; }
short PrinterLink::ArticleReport() { return 0; }
short PrinterLink::DiscountReport() { return 0; }
short PrinterLink::PeriodicalFiscalReport(std::int32_t, std::int32_t) { return 0; }
short PrinterLink::PeriodicalFiscalReportDate(double, double) { return 0; }
short PrinterLink::NullCheck() { return 0; }

}  // namespace vekta
