#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vekta {

// One tax group of the printer's tax table (a 14-character record of the "CNAL" reply).
struct TaxEntry {
  std::string date;      // converted to the local date form ("%x")
  char type = 0;         // '0' included, '1' on-sale, '2' sale-included; 0 for an empty record
  std::string rawValue;  // four digits, "2000"
  std::string value;     // "20.00"
};

// What the printer reports about itself ("CONf" and "CNAL"). Texts in Windows-1251.
struct PrinterConfig {
  std::string serialNumber;
  std::string fiscalNumber;
  std::string owner;
  std::string date;  // local date form ("%x")
  std::string time;  // local time form ("%X")
  std::string firmwareId;
  std::string secondDate;  // local date form
  char keyPosition = 0;    // 'R', 'X', 'Z', 'P' or 'O'
  std::int32_t maxArticles = 0;
  std::string moneyDate;  // local date form
  std::int32_t decPointPosition = 0;
  std::string moneyName;
  std::array<TaxEntry, 8> taxes;
};

}  // namespace vekta
