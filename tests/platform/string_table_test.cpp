#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/codepage.h"

namespace vekta {
namespace {

TEST(StringTableTest, EveryMessageTheProgramShowsIsPresent) {
  std::vector<int> ids = {100, 101, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112};
  for (int id = 1000; id <= 1017; ++id) {
    if (id != 1002) ids.push_back(id);
  }
  for (int id = 2000; id <= 2042; ++id) {
    if (id != 2038) ids.push_back(id);
  }
  for (int id = 3000; id <= 3015; ++id) {
    if (id != 3008 && id != 3009) ids.push_back(id);
  }
  for (int id : {4000, 4001, 4002, 4003, 4004, 4005, 4006, 4007, 4009, 4016, 4017, 4018, 4019, 4020,
                 4021, 4022, 4023}) {
    ids.push_back(id);
  }
  for (int id = 5003; id <= 5010; ++id) ids.push_back(id);
  ids.push_back(57344);

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
}

TEST(StringTableTest, TextsAreByteExact) {
  EXPECT_EQ(LoadString1251(1000), "\xD1\xF2\xE0\xF0\xF2 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xE8");
  EXPECT_EQ(LoadString1251(1017),
            "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF\xD0\xD1\xD2");
  EXPECT_EQ(LoadStringUtf8(2002),
            "Ключ находится в положении \"Отключено\". Для продолжения работы переведите ключ в "
            "рабочее положение.");
  // Trailing blanks belong to the text.
  EXPECT_EQ(LoadStringUtf8(2027),
            "Применение команд регистрации движения ГСМ к неактивным ТРК или резервуарам ");
  EXPECT_EQ(LoadStringUtf8(2028),
            "Обнаружено искажение основных фискальных реквизитов, записанных в ФП ");
  EXPECT_EQ(LoadStringUtf8(2035), "Превышено максимальное количество команд 'SETR'  (больше 5).");
  EXPECT_EQ(LoadStringUtf8(5004), "<tax index=\"%d\" date=\"%s\" type=\"%c\" value=\"%s\"/>");
  EXPECT_EQ(LoadStringUtf8(5009),
            "<?xml version=\"1.0\"?><vekta_taxes><taxes>%s</taxes></vekta_taxes>");
  EXPECT_EQ(LoadStringUtf8(3012),
            "Помилка при відкриванні комунікаціного порта. Можливо, інша програма вже використовує "
            "ції порт. Закрийте іншу програму та спробуйте ще раз.");
  EXPECT_EQ(LoadStringUtf8(4023), "Версія: %s");
  EXPECT_EQ(LoadStringUtf8(57344), "Керування ЕККР Orbis");
  EXPECT_EQ(LoadString1251(3001), Utf8ToCp1251("З'єднання з ЕККР"));
}

TEST(StringTableTest, UnknownIdGivesEmptyText) {
  for (int id : {0, -1, 99, 1002, 2038, 5011, 65535}) {
    EXPECT_EQ(LoadString1251(id), "") << id;
    EXPECT_EQ(LoadStringUtf8(id), "") << id;
  }
}

}  // namespace
}  // namespace vekta
