#include "platform/string_table.h"

#include <charconv>
#include <cstddef>
#include <string_view>
#include <unordered_map>

#include "platform/codepage.h"

namespace vekta {
namespace embedded {
extern const unsigned char kStringsTsv[];
extern const std::size_t kStringsTsvSize;
}  // namespace embedded

namespace {

// id -> UTF-8 text, parsed once from the compiled-in table. Lines that are not
// "number<TAB>text" are skipped; blanks at the end of a text belong to it.
const std::unordered_map<int, std::string>& Utf8Table() {
  static const std::unordered_map<int, std::string> table = [] {
    std::unordered_map<int, std::string> result;
    std::string_view rest(reinterpret_cast<const char*>(embedded::kStringsTsv),
                          embedded::kStringsTsvSize);
    while (!rest.empty()) {
      std::size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      std::size_t tab = line.find('\t');
      if (tab == std::string_view::npos || tab == 0) continue;
      int id = 0;
      auto [ptr, ec] = std::from_chars(line.data(), line.data() + tab, id);
      if (ec != std::errc() || ptr != line.data() + tab) continue;
      result[id] = std::string(line.substr(tab + 1));
    }
    return result;
  }();
  return table;
}

const std::unordered_map<int, std::string>& Cp1251Table() {
  static const std::unordered_map<int, std::string> table = [] {
    std::unordered_map<int, std::string> result;
    for (const auto& [id, text] : Utf8Table()) result[id] = Utf8ToCp1251(text);
    return result;
  }();
  return table;
}

}  // namespace

std::string LoadString1251(int id) {
  const auto& table = Cp1251Table();
  auto it = table.find(id);
  return it == table.end() ? std::string() : it->second;
}

std::string LoadStringUtf8(int id) {
  const auto& table = Utf8Table();
  auto it = table.find(id);
  return it == table.end() ? std::string() : it->second;
}

}  // namespace vekta
