#include "service/dispatch.h"

#include "service/vekta_manager.h"

namespace vekta {

Value InvokeVektaManager(VektaManager& object, const MemberInfo& member, InvokeKind kind,
                         const std::vector<Value>& args) {
  const MemberInfo* known = VektaManagerInterface().FindByDispid(member.dispid);
  if (known == nullptr || known->name != member.name) return FailureValue(member);
  if (known->kind == MemberKind::kProperty) {
    if (kind == InvokeKind::kPropertyGet && args.empty()) return object.Get(*known);
    if (kind == InvokeKind::kPropertyPut && args.size() == 1) {
      object.Put(*known, args[0]);
      return std::int32_t{0};
    }
    return FailureValue(*known);
  }
  if (kind != InvokeKind::kMethod || Failed(CheckArguments(*known, args))) {
    return FailureValue(*known);
  }
  return object.Run(*known, args);
}

}  // namespace vekta
