#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace vekta {
namespace {

// Windows-1251 0x80..0xFF as Unicode. 0x98 has no character in 1251; it keeps U+0098 so that
// every byte survives a trip through UTF-8.
constexpr std::array<char16_t, 128> kCp1251Unicode = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

// 1251 0x80..0xFF to 866. Ukrainian І, і, Ґ, ґ, which 866 lacks, take their nearest letters.
constexpr std::array<std::uint8_t, 128> kCp1251To866 = {
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0xFF, 0xF6, 0xF7, 0x3F, 0xFD, 0x83, 0x3F, 0x3F, 0xF0, 0x3F, 0xF2, 0x3F, 0x3F, 0x3F, 0x3F, 0xF4,
    0xF8, 0x3F, 0x49, 0x69, 0xA3, 0x3F, 0x3F, 0xFA, 0xF1, 0xFC, 0xF3, 0x3F, 0x3F, 0x3F, 0x3F, 0xF5,
    0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF};

// 866 0x80..0xFF to 1251; the pseudo-graphics have no 1251 character.
constexpr std::array<std::uint8_t, 128> kCp866To1251 = {
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
    0xA8, 0xB8, 0xAA, 0xBA, 0xAF, 0xBF, 0xA1, 0xA2, 0xB0, 0x3F, 0xB7, 0x3F, 0xB9, 0xA4, 0x3F, 0xA0};

// Upper-case partners of the 1251 letters above 0x7F (Cyrillic, Ukrainian, Belarusian, Serbian
// and Macedonian).
constexpr std::array<std::pair<std::uint8_t, std::uint8_t>, 15> kUpperExtras = {{{0x83, 0x81},
                                                                                 {0x90, 0x80},
                                                                                 {0x9A, 0x8A},
                                                                                 {0x9C, 0x8C},
                                                                                 {0x9D, 0x8D},
                                                                                 {0x9E, 0x8E},
                                                                                 {0x9F, 0x8F},
                                                                                 {0xA2, 0xA1},
                                                                                 {0xB3, 0xB2},
                                                                                 {0xB4, 0xA5},
                                                                                 {0xB8, 0xA8},
                                                                                 {0xBA, 0xAA},
                                                                                 {0xBC, 0xA3},
                                                                                 {0xBE, 0xBD},
                                                                                 {0xBF, 0xAF}}};

constexpr std::array<std::uint8_t, 256> MakeUpperTable() {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<std::uint8_t>(i);
  for (int i = 'a'; i <= 'z'; ++i) table[i] = static_cast<std::uint8_t>(i - 'a' + 'A');
  for (int i = 0xE0; i <= 0xFF; ++i) table[i] = static_cast<std::uint8_t>(i - 0x20);
  for (const auto& [lower, upper] : kUpperExtras) table[lower] = upper;
  return table;
}
constexpr std::array<std::uint8_t, 256> kUpper1251 = MakeUpperTable();

struct UnicodeTo1251 {
  char16_t code;
  std::uint8_t byte;
};

constexpr std::array<UnicodeTo1251, 128> MakeReverseTable() {
  std::array<UnicodeTo1251, 128> table{};
  for (int i = 0; i < 128; ++i) {
    table[i] = {kCp1251Unicode[i], static_cast<std::uint8_t>(0x80 + i)};
  }
  std::sort(table.begin(), table.end(),
            [](const UnicodeTo1251& a, const UnicodeTo1251& b) { return a.code < b.code; });
  return table;
}
constexpr std::array<UnicodeTo1251, 128> kUnicodeTo1251 = MakeReverseTable();

char EncodeCp1251(char32_t code) {
  if (code < 0x80) return static_cast<char>(code);
  if (code >= 0x0410 && code <= 0x044F) return static_cast<char>(code - 0x0410 + 0xC0);  // А..я
  auto it = std::lower_bound(
      kUnicodeTo1251.begin(), kUnicodeTo1251.end(), code,
      [](const UnicodeTo1251& entry, char32_t value) { return entry.code < value; });
  if (it != kUnicodeTo1251.end() && it->code == code) return static_cast<char>(it->byte);
  return '?';
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[pos]. Returns its length, or 0 when the bytes there are
// not a well-formed sequence (overlong forms, surrogates and code points above U+10FFFF are
// refused); then one byte is skipped.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  std::uint8_t lead = byte(pos);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  std::size_t length;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    std::uint8_t next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string MapBytes(std::string_view text, const std::array<std::uint8_t, 128>& table) {
  std::string out(text);
  for (char& c : out) {
    auto b = static_cast<std::uint8_t>(c);
    if (b >= 0x80) c = static_cast<char>(table[b - 0x80]);
  }
  return out;
}

}  // namespace

std::string Cp1251ToCp866(std::string_view text) {
  return MapBytes(text, kCp1251To866);
}

std::string Cp866ToCp1251(std::string_view text) {
  return MapBytes(text, kCp866To1251);
}

std::string Cp1251ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    auto b = static_cast<std::uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kCp1251Unicode[b - 0x80]});
  }
  return out;
}

std::string Utf8ToCp1251(std::string_view text, bool* valid) {
  if (valid) *valid = true;
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t code = 0;
    std::size_t length = DecodeUtf8(text, pos, code);
    if (length == 0) {
      if (valid) *valid = false;
      out += '?';
      ++pos;
      continue;
    }
    out += EncodeCp1251(code);
    pos += length;
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t code = 0;
    std::size_t length = DecodeUtf8(text, pos, code);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string ToUpper1251(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(kUpper1251[static_cast<std::uint8_t>(c)]);
  return out;
}

}  // namespace vekta
