#include "sim/control_tape.h"

#include <cstdio>
#include <cstdlib>

#include "sim/sim_text.h"

namespace vekta {

ControlTape::ControlTape(std::string path) : m_path(std::move(path)) {}

void ControlTape::Print(const std::vector<std::string>& lines) {
  if (m_path.empty()) return;
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  text += std::string(kWidth, '-') + "\n";
  std::lock_guard<std::mutex> lock(m_mutex);
  // opened per document so that the file can be read, moved or truncated while we run
  if (FILE* f = std::fopen(m_path.c_str(), "a")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

std::string ControlTape::Center(const std::string& text) {
  std::size_t length = SimUtf8Length(text);
  if (length >= static_cast<std::size_t>(kWidth)) return text;
  return std::string((kWidth - length) / 2, ' ') + text;
}

std::string ControlTape::Columns(const std::string& left, const std::string& right) {
  std::size_t used = SimUtf8Length(left) + SimUtf8Length(right);
  std::size_t gap = used + 1 < static_cast<std::size_t>(kWidth) ? kWidth - used : 1;
  return left + std::string(gap, ' ') + right;
}

std::string ControlTape::Money(long long kopecks) {
  char buffer[32];
  long long a = std::llabs(kopecks);
  std::snprintf(buffer, sizeof buffer, "%s%lld.%02lld", kopecks < 0 ? "-" : "", a / 100, a % 100);
  return buffer;
}

}  // namespace vekta
