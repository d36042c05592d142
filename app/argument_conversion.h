#pragma once

// JSON arguments to the typed values of a member's [in] parameters, and results back to JSON.
// Everything is checked before a call is made, so a bad request never reaches a printer.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/protocol_error.h"
#include "service/dispatch.h"
#include "service/member_table.h"

namespace vekta {

constexpr std::size_t kMaxStringCharacters = 4096;

// The [in] parameters of `member` for the call kind. A property put takes one value named
// "value" of the property's type; a property get takes none.
std::vector<ParamInfo> InParameters(const MemberInfo& member, InvokeKind kind);

// `args` is null (no arguments), an array in parameter order, or an object by parameter name.
// Sets `error` and returns nullopt when the arguments do not fit.
std::optional<std::vector<Value>> ConvertArguments(const std::vector<ParamInfo>& params,
                                                   const nlohmann::json& args,
                                                   ProtocolError& error);

std::optional<Value> ConvertArgument(const ParamInfo& param, const nlohmann::json& arg,
                                     ProtocolError& error);

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS" as an OLE date (days since 1899-12-30).
std::optional<double> ParseOleDate(const std::string& text);

nlohmann::json ValueToJson(const Value& value);

// Characters of a UTF-8 text (code points); the text is already valid.
std::size_t Utf8Length(const std::string& text);

}  // namespace vekta
