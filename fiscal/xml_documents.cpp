#include "fiscal/xml_documents.h"

#include <cctype>
#include <initializer_list>
#include <vector>

#include "platform/string_table.h"

namespace vekta {

namespace {

constexpr int kConfigHeadTemplate = 5003;
constexpr int kTaxTemplate = 5004;
constexpr int kConfigTailTemplate = 5005;
constexpr int kArticleTemplate = 5006;
constexpr int kCashTemplate = 5007;
constexpr int kFiscalTemplate = 5008;
constexpr int kTaxesTemplate = 5009;
constexpr int kCheckResultTemplate = 5010;

// Fills the printf-style conversions of a template ("%s", "%c", "%d", "%ld"...) in order with
// values that are already text. The values never go through printf: a template and its values
// that do not match leave a conversion empty instead of reading past the arguments.
std::string FillTemplate(std::string_view text, const std::vector<std::string>& values) {
  std::string out;
  out.reserve(text.size() + 64);
  std::size_t next = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < text.size() && !std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
    while (j < text.size() && (text[j] == 'l' || text[j] == 'h')) ++j;
    if (j >= text.size()) break;
    if (next < values.size()) out += values[next];
    ++next;
    i = j;
  }
  return out;
}

std::string Field(std::string_view data, std::size_t pos, std::size_t length) {
  if (pos >= data.size()) return {};
  return std::string(data.substr(pos, length));
}

bool IsBlankOnly(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

std::string CharValue(char c) {
  return c == '\0' ? std::string() : std::string(1, c);
}

bool IsProgrammedTax(const TaxEntry& tax) {
  return tax.type == '0' || tax.type == '1' || tax.type == '2';
}

std::string TaxElements(const PrinterConfig& config) {
  const std::string tmpl = LoadString1251(kTaxTemplate);
  std::string out;
  for (std::size_t i = 0; i < config.taxes.size(); ++i) {
    const TaxEntry& tax = config.taxes[i];
    if (!IsProgrammedTax(tax)) continue;
    out += FillTemplate(tmpl, {std::to_string(i), EscapeXmlValue(tax.date), CharValue(tax.type),
                               EscapeXmlValue(tax.value)});
  }
  return out;
}

std::string FixedFieldsDocument(int templateId, std::string_view data,
                                std::initializer_list<std::pair<std::size_t, std::size_t>> fields) {
  std::vector<std::string> values;
  values.reserve(fields.size());
  for (const auto& [pos, length] : fields)
    values.push_back(EscapeXmlValue(Field(data, pos, length)));
  return FillTemplate(LoadString1251(templateId), values);
}

}  // namespace

std::string EscapeXmlValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out.push_back('?');
        } else {
          out.push_back(c);
        }
    }
  }
  return out;
}

std::string BuildConfigXml(const PrinterConfig& config) {
  std::string owner = config.owner;
  for (char& c : owner) {
    if (c == '"') c = '\'';
  }
  const std::string fiscalNumber = IsBlankOnly(config.fiscalNumber) ? "" : config.fiscalNumber;
  if (IsBlankOnly(owner)) owner.clear();
  std::string out =
      FillTemplate(LoadString1251(kConfigHeadTemplate),
                   {EscapeXmlValue(config.serialNumber), EscapeXmlValue(fiscalNumber),
                    EscapeXmlValue(owner), EscapeXmlValue(config.date), EscapeXmlValue(config.time),
                    EscapeXmlValue(CharValue(config.keyPosition)),
                    std::to_string(config.maxArticles), EscapeXmlValue(config.moneyDate),
                    std::to_string(config.decPointPosition), EscapeXmlValue(config.moneyName)});
  out += TaxElements(config);
  out += LoadString1251(kConfigTailTemplate);
  return out;
}

std::string BuildTaxesXml(const PrinterConfig& config) {
  return FillTemplate(LoadString1251(kTaxesTemplate), {TaxElements(config)});
}

std::string BuildArticleXml(std::string_view articleData) {
  return FixedFieldsDocument(kArticleTemplate, articleData,
                             {{0, 4}, {4, 24}, {28, 1}, {29, 8}, {37, 10}, {47, 10}});
}

std::string BuildCashInfoXml(std::string_view cashData) {
  return FixedFieldsDocument(
      kCashTemplate, cashData,
      {{0, 11}, {11, 11}, {22, 11}, {33, 11}, {44, 11}, {55, 11}, {66, 11}, {77, 11}});
}

std::string BuildFiscalInfoXml(std::string_view fiscalData) {
  // Fields 9 and 20 of the reply are not part of the document.
  std::vector<std::string> values;
  for (std::size_t k = 0; k < 22; ++k) {
    if (k == 9 || k == 20) continue;
    values.push_back(EscapeXmlValue(Field(fiscalData, 12 * k, 12)));
  }
  return FillTemplate(LoadString1251(kFiscalTemplate), values);
}

CheckResultFields ParseCheckResultFields(std::string_view compData) {
  CheckResultFields fields{};
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const std::string field = Field(compData, 10 * k, 10);
    std::size_t i = 0;
    while (i < field.size() && std::isspace(static_cast<unsigned char>(field[i]))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
      negative = field[i] == '-';
      ++i;
    }
    std::int64_t value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
      value = value * 10 + (field[i] - '0');
    }
    fields[k] = negative ? -value : value;
  }
  return fields;
}

std::string FormatCheckResultText(const CheckResultFields& fields) {
  std::string out;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    if (k > 0) out.push_back(';');
    out += std::to_string(fields[k]);
  }
  return out;
}

std::string BuildCheckResultXml(const CheckResultFields& fields) {
  std::vector<std::string> values;
  for (std::int64_t value : fields) values.push_back(std::to_string(value));
  return FillTemplate(LoadString1251(kCheckResultTemplate), values);
}

}  // namespace vekta
