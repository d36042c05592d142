#include "app/argument_conversion.h"

#include <cstdio>
#include <limits>

namespace vekta {

namespace {

ProtocolError Fail(int status, HRESULT hr, std::string text) {
  return ProtocolError{status, hr, std::move(text)};
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::size_t Utf8Length(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++n;
  }
  return n;
}

std::vector<ParamInfo> InParameters(const MemberInfo& member, InvokeKind kind) {
  std::vector<ParamInfo> params;
  if (member.kind == MemberKind::kProperty) {
    if (kind == InvokeKind::kPropertyPut)
      params.push_back({"value", member.valueType, ParamDir::kIn});
    return params;
  }
  for (const ParamInfo& p : member.params) {
    if (p.dir == ParamDir::kIn) params.push_back(p);
  }
  return params;
}

std::optional<double> ParseOleDate(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  if (text.size() == 10) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) != 3) return std::nullopt;
  } else if (text.size() == 19 && text[10] == 'T') {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
        6) {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  if (text[4] != '-' || text[7] != '-') return std::nullopt;
  if (y < 100 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 ||
      mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
    return std::nullopt;
  }
  // OLE day 0 is 1899-12-30; the time is the fraction of the day, counted forwards also on the
  // days before, whose numbers count backwards: 1899-12-29T06:00:00 is -1.25, not -0.75.
  const long long days = DaysFromCivil(y, mo, d) - DaysFromCivil(1899, 12, 30);
  const double fraction = (h * 3600 + mi * 60 + s) / 86400.0;
  return static_cast<double>(days) + (days < 0 ? -fraction : fraction);
}

std::optional<Value> ConvertArgument(const ParamInfo& param, const nlohmann::json& arg,
                                     ProtocolError& error) {
  switch (param.type) {
    case VarType::kLong: {
      if (arg.is_boolean()) return Value(static_cast<std::int32_t>(arg.get<bool>() ? 1 : 0));
      if (arg.is_number_integer()) {
        if (arg.is_number_unsigned()) {
          const auto v = arg.get<std::uint64_t>();
          if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) break;
          return Value(static_cast<std::int32_t>(v));
        }
        const auto v = arg.get<std::int64_t>();
        if (v < std::numeric_limits<std::int32_t>::min() ||
            v > std::numeric_limits<std::int32_t>::max()) {
          break;
        }
        return Value(static_cast<std::int32_t>(v));
      }
      error = Fail(400, DISP_E_TYPEMISMATCH, param.name + ": a whole number is expected");
      return std::nullopt;
    }
    case VarType::kBstr:
      if (!arg.is_string()) {
        error = Fail(400, DISP_E_TYPEMISMATCH, param.name + ": a text is expected");
        return std::nullopt;
      }
      if (Utf8Length(arg.get_ref<const std::string&>()) > kMaxStringCharacters) {
        error = Fail(413, E_INVALIDARG, param.name + ": a text is limited to 4096 characters");
        return std::nullopt;
      }
      return Value(arg.get<std::string>());
    case VarType::kDate:
      if (arg.is_number()) {
        const double v = arg.get<double>();
        // OLE dates cover the years 100 to 9999: 1 January 100 at noon is -657434.5.
        if (!(v > -657435.0 && v < 2958466.0)) break;
        return Value(v);
      }
      if (arg.is_string()) {
        if (auto date = ParseOleDate(arg.get<std::string>())) return Value(*date);
      }
      error =
          Fail(400, DISP_E_TYPEMISMATCH,
               param.name + ": an OLE date, \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\" is expected");
      return std::nullopt;
    case VarType::kVoid:
      break;
  }
  error = Fail(400, DISP_E_OVERFLOW, param.name + ": the value is out of range");
  return std::nullopt;
}

std::optional<std::vector<Value>> ConvertArguments(const std::vector<ParamInfo>& params,
                                                   const nlohmann::json& args,
                                                   ProtocolError& error) {
  std::vector<Value> values;
  values.reserve(params.size());
  if (args.is_null()) {
    if (!params.empty()) {
      error = Fail(400, DISP_E_BADPARAMCOUNT,
                   "expected " + std::to_string(params.size()) + " arguments, got none");
      return std::nullopt;
    }
    return values;
  }
  if (args.is_array()) {
    if (args.size() != params.size()) {
      error = Fail(400, DISP_E_BADPARAMCOUNT,
                   "expected " + std::to_string(params.size()) + " arguments, got " +
                       std::to_string(args.size()));
      return std::nullopt;
    }
    for (std::size_t i = 0; i < params.size(); ++i) {
      auto v = ConvertArgument(params[i], args[i], error);
      if (!v) return std::nullopt;
      values.push_back(std::move(*v));
    }
    return values;
  }
  if (!args.is_object()) {
    error = Fail(400, DISP_E_TYPEMISMATCH, "arguments are an array or an object");
    return std::nullopt;
  }
  for (auto it = args.begin(); it != args.end(); ++it) {
    bool known = false;
    for (const ParamInfo& p : params) known = known || p.name == it.key();
    if (!known) {
      error = Fail(400, DISP_E_BADPARAMCOUNT, "unknown parameter " + it.key());
      return std::nullopt;
    }
  }
  for (const ParamInfo& p : params) {
    auto it = args.find(p.name);
    if (it == args.end()) {
      error = Fail(400, DISP_E_BADPARAMCOUNT, "missing parameter " + p.name);
      return std::nullopt;
    }
    auto v = ConvertArgument(p, *it, error);
    if (!v) return std::nullopt;
    values.push_back(std::move(*v));
  }
  return values;
}

nlohmann::json ValueToJson(const Value& value) {
  if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return std::get<double>(value);
}

}  // namespace vekta
