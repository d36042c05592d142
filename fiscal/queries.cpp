// Information queries: one command each, answered by a data reply that QueryPrinter takes.

#include <algorithm>
#include <charconv>
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
    std::string_view field = data.substr(0, std::min<std::size_t>(4, data.size()));
    const auto first = field.find_first_not_of(' ');
    if (first == std::string_view::npos) return false;
    field = field.substr(first, field.find_last_not_of(' ') + 1 - first);
    std::int32_t index = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), index);
    return error == std::errc() && end == field.data() + field.size() && index != article;
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
