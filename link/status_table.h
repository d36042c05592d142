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

// Whether a reply holds `word` anywhere: a data reply and a status word may share a frame.
inline bool Holds(std::string_view reply, std::string_view word) {
  return reply.find(word) != std::string_view::npos;
}

// A reply that holds `mnemonic`, from the mnemonic on. A noise byte 0xFD on the line starts a
// frame early, and the bytes before the printer's own start byte come in front of the reply:
// its fields count from its mnemonic, not from the frame's start.
inline std::string_view ReplyFrom(std::string_view reply, std::string_view mnemonic) {
  const auto at = reply.find(mnemonic);
  return at == std::string_view::npos ? reply : reply.substr(at);
}

}  // namespace vekta
