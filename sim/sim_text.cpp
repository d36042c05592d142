#include "sim/sim_text.h"

#include <array>
#include <cstdint>

namespace vekta {

namespace {

// Code points of 866 bytes 0x80..0xFF; box-drawing characters keep their real shapes.
constexpr std::array<std::uint16_t, 128> kHigh866 = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char CodePointTo866(std::uint32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  // Ukrainian letters 866 lacks take their nearest look-alike, as the host does.
  if (cp == 0x0406) return 'I';
  if (cp == 0x0456) return 'i';
  if (cp == 0x0490) cp = 0x0413;
  if (cp == 0x0491) cp = 0x0433;
  for (std::size_t i = 0; i < kHigh866.size(); ++i) {
    if (kHigh866[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string SimCp866ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b < 0x80 ? b : kHigh866[b - 0x80]);
  }
  return out;
}

std::string SimUtf8ToCp866(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0;
    std::size_t extra = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool valid = i + extra < text.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      auto cb = static_cast<unsigned char>(text[i + k]);
      if ((cb & 0xC0) != 0x80) {
        valid = false;
      } else {
        cp = (cp << 6) | (cb & 0x3F);
      }
    }
    if (!valid) {
      out += '?';
      ++i;
      continue;
    }
    out += CodePointTo866(cp);
    i += extra + 1;
  }
  return out;
}

std::size_t SimUtf8Length(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

}  // namespace vekta
