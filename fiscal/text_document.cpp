// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

short PrinterLink::OpenTextDocument() { return 0; }
short PrinterLink::FreeTextLine(std::int32_t, std::int32_t, std::int32_t, const std::string&) { return 0; }
short PrinterLink::ClearFreeTextLines() { return 0; }
short PrinterLink::CloseTextDocument(std::int32_t) { return 0; }
short PrinterLink::EndTextDocument() { return 0; }

}  // namespace vekta
