#pragma once

// Talks to a PrinterModel directly, in UTF-8, and builds command texts field by field the way
// the host lays them out (written here again from the wire layout, not taken from the link).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/printer_model.h"
#include "sim/sim_text.h"

namespace vekta::test {

inline std::string Zeros(std::int64_t value, int width) {
  std::string digits = std::to_string(value);
  return std::string(digits.size() < static_cast<std::size_t>(width) ? width - digits.size() : 0,
                     '0') +
         digits;
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
    SimInput input;
    input.kind = SimInput::Kind::kCommand;
    input.text = SimUtf8ToCp866(utf8);
    auto reply = m_model.HandleInput(input);
    std::vector<std::string> out;
    for (const auto& m : reply.messages) out.push_back(SimCp866ToUtf8(m));
    return out;
  }
  // The last reply word ("READY", "SOFT...").
  std::string Status(const std::string& utf8) {
    auto replies = Send(utf8);
    return replies.empty() ? std::string() : replies.back();
  }
  // The first reply (data) of a command.
  std::string Data(const std::string& utf8) {
    auto replies = Send(utf8);
    return replies.empty() ? std::string() : replies.front();
  }
  std::string Login(const std::string& name = "Оля", const std::string& password = "7777777777") {
    std::string padded = name;
    while (SimUtf8Length(padded) < 10) padded += ' ';
    return Status("UPAS" + padded + password);
  }

  // The FISC (or BFIS) text for a line, with the group fields from the printer's own table.
  std::string Line(const SaleLine& fields, bool isReturn = false) {
    auto taxes = m_model.Taxes();
    static const char* const kLetters[8] = {"А", "Б", "В", "Г", "Д", "Е", "Ж", "З"};
    std::int64_t q = fields.quantity < 1 ? 1 : fields.quantity;
    std::int64_t sum = fields.lineSum >= 0 ? fields.lineSum
                                           : (fields.divisible ? (q * fields.price + 500) / 1000
                                                               : q * fields.price);
    std::string name = fields.name;
    while (SimUtf8Length(name) < 12) name += ' ';
    std::string text =
        std::string(isReturn ? "BFIS" : "FISC") + name + Zeros(sum, 9) + Zeros(fields.price, 9) +
        Zeros(fields.quantity < 0 ? 0 : fields.quantity, 5) + (fields.divisible ? "0" : "1") + "0";
    for (int g = 1; g <= 8; ++g) {
      bool used = false;
      for (int x : fields.groups) used = used || x == g;
      if (!used) {
        text += "000000";
        continue;
      }
      text += kLetters[g - 1];
      text += taxes[g - 1].type == 0 ? '0' : taxes[g - 1].type;
      text += Zeros(taxes[g - 1].rate, 4);
    }
    text += Zeros(fields.article, 4);
    if (fields.discountDirection != 0) {
      std::string dn = fields.discountName;
      while (SimUtf8Length(dn) < 13) dn += ' ';
      text += fields.discountDirection + dn + Zeros(fields.discount, 9);
    }
    if (!fields.longName.empty()) {
      if (fields.discountDirection == 0) text += "0" + std::string(13, '0') + std::string(9, '0');
      text += fields.longName;
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
