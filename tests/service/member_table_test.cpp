#include "service/member_table.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "service/dispatch.h"
#include "service/hresult.h"
#include "tests/service/recording_orbis.h"

namespace vekta {
namespace {

// The table's contents, member by member, are pinned by docs/reference.md's check; here, what
// must hold of every entry: each IOrbis member is bound to itself and whatever it sets as its out
// value comes back (the lowest long and an empty text included); a forwarded wrapper method
// takes as many [in] arguments as its target (InitEx keeps the host name for itself), and the
// wrapper has no [out] parameters, its values are function results.
TEST(MemberTable, EveryMemberOnceInDispidOrderBoundToItselfAndForwardedToAFittingTarget) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  RecordingOrbis object;
  object.number = std::numeric_limits<std::int32_t>::min();
  for (const InterfaceInfo* info : {&orbis, &wrapper}) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < info->members.size(); ++i) {
      const MemberInfo& member = info->members[i];
      SCOPED_TRACE(member.name);
      EXPECT_EQ(member.dispid, static_cast<int>(i + 1));
      EXPECT_TRUE(names.insert(member.name).second);
      const bool property = member.kind == MemberKind::kProperty;
      EXPECT_TRUE(!property || info == &wrapper);  // properties: wrapper only
      EXPECT_EQ(member.help.rfind(property ? "property " : "method ", 0), 0u) << member.help;
      EXPECT_EQ(member.help.find_first_of("\"|"), std::string::npos) << member.help;
      const ParamInfo* out = member.OutParam();
      if (info == &wrapper) {
        EXPECT_EQ(out, nullptr);
        EXPECT_NE(member.valueType, VarType::kVoid);
        if (member.forwardsToDispid == 0) continue;
        const MemberInfo* target = orbis.FindByDispid(member.forwardsToDispid);
        ASSERT_NE(target, nullptr);
        if (!property && member.name != "InitEx") {
          EXPECT_EQ(member.InCount(), target->InCount());
        }
        continue;
      }
      object.calls.clear();
      const OrbisCallResult result = InvokeOrbis(object, member, DefaultArgs(member));
      ASSERT_EQ(object.calls, std::vector<std::string>{member.name});
      ASSERT_EQ(result.outs.size(), out ? 1u : 0u);
      if (out == nullptr) continue;
      const Value expected =
          out->type == VarType::kLong ? Value(object.number) : Value(object.text);
      EXPECT_EQ(result.outs.at(out->name), expected);
    }
  }
}

TEST(Hresult, UnknownCodesHaveNoName) {
  EXPECT_EQ(HresultName(static_cast<HRESULT>(0x80001234u)), "");
}

}  // namespace
}  // namespace vekta
