#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/codepage.h"

namespace vekta {
namespace {

// Every text is shown in a message box or written to the log in 1251, on one line.
TEST(StringTableTest, EveryTextIsOneLineOfValidUtf8ThatHasA1251Form) {
  int texts = 0;
  for (int id = -1; id <= 65535; ++id) {
    const std::string utf8 = LoadStringUtf8(id);
    const std::string text = LoadString1251(id);
    EXPECT_EQ(utf8.empty(), text.empty()) << id;
    if (utf8.empty()) continue;
    ++texts;
    EXPECT_TRUE(IsValidUtf8(utf8)) << id;
    // No character is lost to '?' on the way to 1251.
    EXPECT_EQ(std::count(text.begin(), text.end(), '?'), std::count(utf8.begin(), utf8.end(), '?'))
        << id;
    EXPECT_EQ(text.find_first_of("\t\r\n"), std::string::npos) << id;
  }
  EXPECT_GT(texts, 100);
}

}  // namespace
}  // namespace vekta
