#pragma once

#include <array>
#include <string_view>

namespace vekta {

// One row of the printer's status words: the word found in a reply and its string-table text.
struct StatusRow {
  std::string_view word;
  int messageId;
};

// In the order the rows are tried; the first word found in a reply wins.
extern const std::array<StatusRow, 42> kStatusTable;

// The first row whose word occurs in the reply, or nullptr.
const StatusRow* FindStatusRow(std::string_view reply);

// A reply that holds "SOFT", "HARD" or "SHUTDOWN" reports an error.
bool IsErrorStatus(std::string_view reply);

// The one status word after which a command may go on.
inline constexpr std::string_view kHarmlessStatus = "HARDSENSOR";

}  // namespace vekta
