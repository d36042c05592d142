#include "service/dispatch.h"
#include "service/i_orbis.h"

namespace vekta {

namespace {

bool Matches(const Value& value, VarType type) {
  switch (type) {
    case VarType::kLong:
      return std::holds_alternative<std::int32_t>(value);
    case VarType::kBstr:
      return std::holds_alternative<std::string>(value);
    case VarType::kDate:
      return std::holds_alternative<double>(value);
    case VarType::kVoid:
      break;
  }
  return false;
}

}  // namespace

HRESULT CheckArguments(const MemberInfo& member, const std::vector<Value>& args) {
  if (args.size() != member.InCount()) return DISP_E_BADPARAMCOUNT;
  std::size_t next = 0;
  for (const ParamInfo& param : member.params) {
    if (param.dir != ParamDir::kIn) continue;
    if (!Matches(args[next++], param.type)) return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

OrbisCallResult InvokeOrbis(IOrbis& object, const MemberInfo& member,
                            const std::vector<Value>& args) {
  OrbisCallResult result;
  const MemberInfo* known = OrbisInterface().FindByDispid(member.dispid);
  if (known == nullptr || known->name != member.name || known->invoke == nullptr) {
    result.hr = DISP_E_UNKNOWNNAME;
    return result;
  }
  result.hr = CheckArguments(*known, args);
  if (Failed(result.hr)) return result;
  std::optional<Value> out;
  result.hr = known->invoke(object, args, out);
  if (const ParamInfo* param = known->OutParam(); param != nullptr && out) {
    result.outs.emplace(param->name, std::move(*out));
  }
  return result;
}

}  // namespace vekta
