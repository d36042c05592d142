#pragma once

// The XML documents returned to clients: printer configuration, taxes, article, cash and fiscal
// registers, and the result of the last closed receipt. Each is one line filled from the
// string-table templates 5003-5010; texts in and out are Windows-1251.
//
// Every value is escaped (&amp; &lt; &gt; &quot;), so that an article name or an owner holding
// one of those characters still gives a well-formed document.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/printer_config.h"

namespace vekta {

// The nine numbers of a receipt's closing reply, in reply order: check number, total, on-sale
// taxes, included taxes, sale-included taxes, return, return on-sale taxes, return included
// taxes, return sale-included taxes.
using CheckResultFields = std::array<std::int64_t, 9>;

// Escapes one attribute value. Control bytes other than tab, CR and LF, which no XML document
// may hold, become '?'.
std::string EscapeXmlValue(std::string_view value);

// From the configuration stored in the link.
std::string BuildConfigXml(const PrinterConfig& config);
std::string BuildTaxesXml(const PrinterConfig& config);

// From reply data (the reply text after its four command letters). Fields are cut at fixed
// positions; a short reply gives shorter or empty values, never a failure.
std::string BuildArticleXml(std::string_view articleData);    // "ARTD"
std::string BuildCashInfoXml(std::string_view cashData);      // "CCAS"
std::string BuildFiscalInfoXml(std::string_view fiscalData);  // "CFIS"

// Reads the nine 10-character fields of a closing reply's data as strtoll does (leading blanks,
// an optional sign, digits up to the first other character); a missing field reads 0.
CheckResultFields ParseCheckResultFields(std::string_view compData);
// "125;1500;0;250;0;0;0;0;0"
std::string FormatCheckResultText(const CheckResultFields& fields);
std::string BuildCheckResultXml(const CheckResultFields& fields);

}  // namespace vekta
