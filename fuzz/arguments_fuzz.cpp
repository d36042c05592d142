// The checks every call of the object protocol passes before it reaches an object: JSON
// arguments against a member's parameters. Whatever the body holds, either every argument comes
// out with its parameter's type and within the protocol's limits, or the call is refused with a
// client error and a reason; and every value turns back into JSON.

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

#include "app/argument_conversion.h"
#include "fuzz/fuzz_check.h"
#include "platform/codepage.h"

namespace {

using namespace vekta;

const MemberInfo& PickMember(std::uint8_t selector) {
  const InterfaceInfo& iface = selector & 0x80 ? VektaManagerInterface() : OrbisInterface();
  return iface.members[(selector & 0x7F) % iface.members.size()];
}

void CheckValue(const ParamInfo& param, const Value& value) {
  switch (param.type) {
    case VarType::kLong:
      FUZZ_CHECK(std::holds_alternative<std::int32_t>(value), "a long parameter got no long");
      break;
    case VarType::kBstr: {
      FUZZ_CHECK(std::holds_alternative<std::string>(value), "a text parameter got no text");
      const std::string& text = std::get<std::string>(value);
      FUZZ_CHECK(IsValidUtf8(text), "a text argument is not UTF-8");
      FUZZ_CHECK(Utf8Length(text) <= kMaxStringCharacters, "a text argument is over the limit");
      break;
    }
    case VarType::kDate: {
      FUZZ_CHECK(std::holds_alternative<double>(value), "a date parameter got no date");
      FUZZ_CHECK(std::isfinite(std::get<double>(value)), "a date argument is not a number");
      break;
    }
    case VarType::kVoid:
      FUZZ_CHECK(false, "a parameter of no type");
  }
  // the answer side turns every value back into JSON that can be sent
  FUZZ_CHECK(!ValueToJson(value).dump().empty(), "a value gave no JSON");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const MemberInfo& member = PickMember(data[0]);
  InvokeKind kind = InvokeKind::kMethod;
  if (member.kind == MemberKind::kProperty) {
    kind = data[1] & 1 ? InvokeKind::kPropertyPut : InvokeKind::kPropertyGet;
  }
  const std::string body(reinterpret_cast<const char*>(data) + 2, size - 2);

  if (const auto date = ParseOleDate(body)) {
    // 1 January 100 to 31 December 9999
    FUZZ_CHECK(*date > -657435.0 && *date < 2958466.0, "a date out of the OLE range");
  }

  const nlohmann::json args = nlohmann::json::parse(body, nullptr, false);
  if (args.is_discarded()) return 0;
  const std::vector<ParamInfo> params = InParameters(member, kind);
  ProtocolError error;
  const auto values = ConvertArguments(params, args, error);
  if (!values) {
    FUZZ_CHECK(error.status >= 400 && error.status < 500, "a refusal that is no client error");
    FUZZ_CHECK(!error.text.empty(), "a refusal without a reason");
    FUZZ_CHECK(error.hresult < 0, "a refusal with a success code");
    return 0;
  }
  FUZZ_CHECK(values->size() == params.size(), "the arguments do not match the parameters");
  for (std::size_t i = 0; i < params.size(); ++i) CheckValue(params[i], (*values)[i]);
  return 0;
}
