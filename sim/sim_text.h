#pragma once

#include <string>
#include <string_view>

namespace vekta {

// The printer's own code page is DOS 866; the control tape and the control channel are UTF-8.
// The simulator keeps its own table so that a fault in the host's tables cannot hide on both
// sides of the wire.
std::string SimCp866ToUtf8(std::string_view text);
// A character that 866 cannot show becomes '?'.
std::string SimUtf8ToCp866(std::string_view text);
// Number of characters of a UTF-8 text (for padding tape lines).
std::size_t SimUtf8Length(std::string_view text);

}  // namespace vekta
