// Information queries: one command each, answered by a data reply that QueryPrinter takes.

#include <cstdint>
#include <string_view>

#include "fiscal/command_helpers.h"
#include "link/printer_link.h"

namespace vekta {

std::string PrinterLink::GetArticleInfo(std::int32_t article32) {
  const std::int16_t article = static_cast<std::int16_t>(article32);
  if (article < 1 || article > Config().maxArticles) return {};
  const std::string number = fiscal::ZeroPadded(article, 4).substr(0, 4);
  // The reply starts with its article's number: the late reply of an earlier query that timed
  // out is another article's, and not this one's data.
  return QueryPrinter("ARTD" + number, "ARTD", kQueryWaitMs, [article](std::string_view data) {
    const auto index = fiscal::FieldNumber(data.substr(0, 4));
    return index && *index != article;
  });
}

std::string PrinterLink::GetPrinterTime() {
  return QueryPrinter("GETD", "GETD");
}

std::string PrinterLink::GetCashInfo() {
  return QueryPrinter("CCAS", "CCAS");
}

std::string PrinterLink::GetFiscalInfo() {
  return QueryPrinter("CFIS", "CFIS");
}

std::string PrinterLink::GetTaxesInfo() {
  return QueryPrinter("CNAL", "CNAL");
}

int PrinterLink::GetPrinterKeyPosition() {
  if (!ReadConfiguration()) return -1;
  switch (Config().keyPosition) {
    case 'R':
      return 1;
    case 'X':
      return 2;
    case 'Z':
      return 3;
    case 'P':
      return 4;
    default:
      return 0;
  }
}

}  // namespace vekta
