#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/codepage.h"

namespace vekta {
namespace {

TEST(StringTableTest, EveryMessageTheProgramShowsIsPresentAndUnknownIdsAreEmpty) {
  std::vector<int> ids = {100, 101, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 4009, 57344};
  for (const auto& [from, to] : std::vector<std::pair<int, int>>{
           {1000, 1017}, {2000, 2042}, {3000, 3015}, {4000, 4007}, {4016, 4023}, {5003, 5010}}) {
    for (int id = from; id <= to; ++id) {
      if (id != 1002 && id != 2038 && id != 3008 && id != 3009) ids.push_back(id);
    }
  }
  for (int id : ids) {
    const std::string utf8 = LoadStringUtf8(id);
    EXPECT_FALSE(utf8.empty()) << id;
    EXPECT_TRUE(IsValidUtf8(utf8)) << id;
    // Every character has a place in 1251: no '?' appears on conversion.
    const std::string text = LoadString1251(id);
    EXPECT_EQ(std::count(text.begin(), text.end(), '?'), std::count(utf8.begin(), utf8.end(), '?'))
        << id;
    EXPECT_EQ(text.find_first_of("\t\r\n"), std::string::npos) << id;
  }
  for (int id : {0, -1, 99, 1002, 2038, 5011, 65535}) {
    EXPECT_EQ(LoadString1251(id), "") << id;
    EXPECT_EQ(LoadStringUtf8(id), "") << id;
  }
}

}  // namespace
}  // namespace vekta
