#pragma once

#include <string>
#include <string_view>

namespace vekta {

// The server works in Windows-1251 inside, the printer speaks DOS 866 on the wire, and clients
// speak UTF-8. All tables are fixed.

// 1251 to 866. A 1251 letter that 866 lacks takes its nearest letter (І→I, і→i, Ґ→Г, ґ→г);
// anything else unmappable becomes '?'. Bytes below 0x80 are unchanged.
std::string Cp1251ToCp866(std::string_view text);
// 866 to 1251; an 866 byte 1251 cannot show becomes '?'.
std::string Cp866ToCp1251(std::string_view text);

std::string Cp1251ToUtf8(std::string_view text);
// A character outside 1251 becomes '?'. Invalid UTF-8 sequences also give '?' and clear *valid.
std::string Utf8ToCp1251(std::string_view text, bool* valid = nullptr);
bool IsValidUtf8(std::string_view text);

// Upper case in 1251, Cyrillic letters included.
std::string ToUpper1251(std::string_view text);

// A control byte of a single-byte code page: below 0x20, or DEL.
inline bool IsControlByte(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == '\x7F';
}

}  // namespace vekta
