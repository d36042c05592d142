#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace vekta {

// The printer's control tape as a text file: every printed document, in UTF-8, as a person
// would read it, appended whole.
class ControlTape {
 public:
  static constexpr int kWidth = 44;

  explicit ControlTape(std::string path);
  bool Enabled() const { return !m_path.empty(); }
  // Appends one document; each line is cut or kept as given, and a rule follows it.
  void Print(const std::vector<std::string>& lines);

  // Helpers for laying out lines (UTF-8).
  static std::string Center(const std::string& text);
  // `left` and `right` on one line, right flush.
  static std::string Columns(const std::string& left, const std::string& right);
  // 1234 kopecks as "12.34" (with a minus for negative sums).
  static std::string Money(long long kopecks);

 private:
  std::string m_path;
  std::mutex m_mutex;
};

}  // namespace vekta
