#pragma once

#include <string>

namespace vekta {

// The program's string table (resources/strings.tsv, compiled in). Texts in Windows-1251;
// an id without a text gives an empty text.
std::string LoadString1251(int id);
// The same text in UTF-8.
std::string LoadStringUtf8(int id);

}  // namespace vekta
