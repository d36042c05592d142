#pragma once

// Talks to a PrinterModel directly, in UTF-8, and builds command texts field by field the way
// the host lays them out (written here again from the wire layout, not taken from the link).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "sim/printer_model.h"
#include "sim/sim_text.h"

namespace vekta::test {

inline std::string Zeros(std::int64_t value, std::size_t width) {
  const std::string digits = std::to_string(value);
  return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

inline std::string PadTo(std::string utf8, std::size_t width) {
  while (SimUtf8Length(utf8) < width) utf8 += ' ';
  return utf8;
}

struct SaleLine {
  std::string name = "Хліб";
  std::int64_t quantity = 1;
  std::int64_t price = 1000;
  bool divisible = false;
  std::vector<int> groups{};  // 1..8
  int article = 0;
  char discountDirection = 0;  // '-' or '+'
  std::string discountName = "Знижка";
  std::int64_t discount = 0;
  std::string longName{};
  std::int64_t lineSum = -1;  // -1: computed as the host computes it
};

class ModelClient {
 public:
  explicit ModelClient(PrinterModel& model) : m_model(model) {}

  // Replies of one command, in UTF-8.
  std::vector<std::string> Send(const std::string& utf8) {
    std::vector<std::string> out;
    for (const auto& m :
         m_model.HandleInput({SimInput::Kind::kCommand, SimUtf8ToCp866(utf8)}).messages) {
      out.push_back(SimCp866ToUtf8(m));
    }
    return out;
  }
  // The last reply word ("READY", "SOFT...").
  std::string Status(const std::string& utf8) {
    auto replies = Send(utf8);
    return replies.empty() ? std::string() : replies.back();
  }
  // The first reply (data) of a command, in DOS 866.
  std::string Data(const std::string& utf8) {
    auto replies = Send(utf8);
    return replies.empty() ? std::string() : SimUtf8ToCp866(replies.front());
  }
  // Each command answered with its expected last reply word: "CMD>WORD|CMD>WORD...".
  void Expect(const std::string& script) {
    for (std::size_t start = 0; start < script.size();) {
      const std::size_t end = std::min(script.find('|', start), script.size());
      const std::string step = script.substr(start, end - start);
      const std::size_t arrow = step.rfind('>');
      EXPECT_EQ(Status(step.substr(0, arrow)), step.substr(arrow + 1)) << step;
      start = end + 1;
    }
  }
  void ExpectEach(std::initializer_list<std::pair<std::string, std::string>> exchanges) {
    for (const auto& [command, status] : exchanges) EXPECT_EQ(Status(command), status) << command;
  }
  std::string Login(const std::string& name = "Оля", const std::string& password = "7777777777") {
    return Status("UPAS" + PadTo(name, 10) + password);
  }

  // The FISC (or BFIS) text for a line, with the group fields from the printer's own table.
  std::string Line(const SaleLine& f, bool isReturn = false) {
    auto taxes = m_model.Taxes();
    static const char* const kLetters[8] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"};
    const std::int64_t q = f.quantity < 1 ? 1 : f.quantity;
    const std::int64_t sum =
        f.lineSum >= 0 ? f.lineSum : (f.divisible ? (q * f.price + 500) / 1000 : q * f.price);
    std::string text = std::string(isReturn ? "BFIS" : "FISC") + PadTo(f.name, 12) + Zeros(sum, 9) +
                       Zeros(f.price, 9) + Zeros(f.quantity < 0 ? 0 : f.quantity, 5) +
                       (f.divisible ? "0" : "1") + "0";
    for (int g = 1; g <= 8; ++g) {
      if (std::find(f.groups.begin(), f.groups.end(), g) == f.groups.end()) {
        text += "000000";
        continue;
      }
      text += kLetters[g - 1];
      text += taxes[g - 1].type == 0 ? '0' : taxes[g - 1].type;
      text += Zeros(taxes[g - 1].rate, 4);
    }
    text += Zeros(f.article, 4);
    if (f.discountDirection != 0) {
      text += f.discountDirection + PadTo(f.discountName, 13) + Zeros(f.discount, 9);
    }
    if (!f.longName.empty()) {
      if (f.discountDirection == 0) text += std::string(23, '0');
      text += f.longName;
    }
    return text;
  }

  static std::string Comp(std::int64_t sales, std::int64_t returns, std::int64_t cash,
                          std::int64_t payCheck = 0, std::int64_t credit = 0,
                          std::int64_t packing = 0) {
    return "COMP" + Zeros(sales, 10) + Zeros(returns, 10) + Zeros(packing, 10) +
           Zeros(payCheck, 10) + Zeros(credit, 10) + Zeros(cash, 10);
  }

  // The nine numbers of a "COMP" reply.
  static std::vector<std::int64_t> CompFields(const std::string& reply) {
    std::vector<std::int64_t> fields;
    for (std::size_t i = 4; i + 10 <= reply.size(); i += 10) {
      fields.push_back(std::stoll(reply.substr(i, 10)));
    }
    return fields;
  }

 private:
  PrinterModel& m_model;
};

}  // namespace vekta::test
