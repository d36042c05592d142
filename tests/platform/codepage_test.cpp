#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace vekta {
namespace {

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

TEST(CodepageTest, PrinterCodePageKeepsRussianAndUkrainianLetters) {
  // "Привіт, ҐАЗДА! Ёж їсть є ў" in 1251.
  const std::string text =
      "\xCF\xF0\xE8\xE2\xB3\xF2, \xA5\xC0\xC7\xC4\xC0! \xA8\xE6 \xBF\xF1\xF2\xFC \xBA \xA2";
  const std::string oem = Cp1251ToCp866(text);
  EXPECT_EQ(oem,
            "\x8F\xE0\xA8\xA2i\xE2, \x83\x80\x87\x84\x80! \xF0\xA6 \xF5\xE1\xE2\xEC \xF3 \xF7");
  // Only the best-fit letters change on the way back.
  EXPECT_EQ(Cp866ToCp1251(oem),
            "\xCF\xF0\xE8\xE2i\xF2, \xC3\xC0\xC7\xC4\xC0! \xA8\xE6 \xBF\xF1\xF2\xFC \xBA \xA2");
  EXPECT_EQ(Cp1251ToCp866("\xB2\xB3\xA5\xB4"), "Ii\x83\xA3");

  // Every 1251 letter A..я and ASCII, NUL included, survive the trip unchanged.
  std::string letters;
  for (int i = 0; i < 0x80; ++i) letters += static_cast<char>(i);
  for (int i = 0xC0; i <= 0xFF; ++i) letters += static_cast<char>(i);
  EXPECT_EQ(Cp866ToCp1251(Cp1251ToCp866(letters)), letters);

  // What 866 cannot show becomes '?': Serbian letters, typographic quotes, dashes.
  EXPECT_EQ(Cp1251ToCp866("\x80\xAB\x97\xBB"), "????");
  // 866 pseudo-graphics have no 1251 character.
  EXPECT_EQ(Cp866ToCp1251("\xB0\xC4\xDB\xFE"), "????");
}

TEST(CodepageTest, Utf8RoundTripAndInvalidInput) {
  const std::string all = AllBytes();
  const std::string utf8 = Cp1251ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  bool valid = false;
  EXPECT_EQ(Utf8ToCp1251(utf8, &valid), all);
  EXPECT_TRUE(valid);

  // With the round trip above this holds for the way back too.
  EXPECT_EQ(Cp1251ToUtf8("\xCA\xE0\xF1\xE0 \x88 \xB9 \xA5\xB3\xBF\xE6"), "Каса € № Ґіїж");

  // Valid UTF-8 outside 1251: '?' per character, still valid.
  EXPECT_EQ(Utf8ToCp1251("a中b😀c", &valid), "a?b?c");
  EXPECT_TRUE(valid);

  const std::pair<std::string, std::string> invalid[] = {
      {"\x80", "?"},                 // continuation without a lead byte
      {"ab\xD0", "ab?"},             // truncated at the end
      {"\xD0\x41", "?A"},            // lead byte followed by ASCII
      {"\xC0\xAF", "??"},            // overlong '/'
      {"\xE0\x80\xAF", "???"},       // overlong, three bytes
      {"\xED\xA0\x80", "???"},       // surrogate half
      {"\xF4\x90\x80\x80", "????"},  // above U+10FFFF
      {"\xFF", "?"},                 // never a UTF-8 byte
      {"\xD0\x9A\xC3", "\xCA?"},     // good letter, then a cut one
  };
  for (const auto& [input, expected] : invalid) {
    valid = true;
    EXPECT_EQ(Utf8ToCp1251(input, &valid), expected) << expected;
    EXPECT_FALSE(valid) << expected;
    EXPECT_FALSE(IsValidUtf8(input)) << expected;
  }
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
}

TEST(CodepageTest, UpperCaseCoversCyrillic) {
  EXPECT_EQ(ToUpper1251("ready 1a"), "READY 1A");
  // а..я, ё, і, ї, є, ґ, ў, ђ, ј, ѕ
  EXPECT_EQ(ToUpper1251("\xE0\xFF\xB8\xB3\xBF\xBA\xB4\xA2\x90\xBC\xBE"),
            "\xC0\xDF\xA8\xB2\xAF\xAA\xA5\xA1\x80\xA3\xBD");
  // Upper-case letters, digits and signs stay as they are; µ has no 1251 capital.
  const std::string unchanged = "\xC0\xDF\xA8\xB2 09-\xB9\xB5\xAB";
  EXPECT_EQ(ToUpper1251(unchanged), unchanged);
  // Only letters change, each into a letter that upper case keeps.
  const std::string upper = ToUpper1251(AllBytes());
  for (int i = 0; i < 256; ++i) {
    const auto before = static_cast<unsigned char>(i);
    const auto after = static_cast<unsigned char>(upper[i]);
    if (before != after) {
      EXPECT_TRUE((before >= 'a' && before <= 'z') || before >= 0x80) << i;
      EXPECT_EQ(ToUpper1251(std::string(1, static_cast<char>(after)))[0], upper[i]) << i;
    }
  }
}

}  // namespace
}  // namespace vekta
