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
// must hold of every entry.
TEST(MemberTable, InterfacesHaveEveryMemberOnceInDispidOrderWithPlainHelp) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  for (const InterfaceInfo* info : {&orbis, &wrapper}) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < info->members.size(); ++i) {
      const MemberInfo& member = info->members[i];
      EXPECT_EQ(member.dispid, static_cast<int>(i + 1)) << member.name;
      EXPECT_TRUE(names.insert(member.name).second) << member.name;
      const bool property = member.kind == MemberKind::kProperty;
      EXPECT_TRUE(!property || info == &wrapper) << member.name;  // properties: wrapper only
      EXPECT_EQ(member.help.rfind(property ? "property " : "method ", 0), 0u) << member.help;
      EXPECT_EQ(member.help.find_first_of("\"|"), std::string::npos) << member.help;
    }
  }
}

TEST(MemberTable, TheWrapperForwardsOnlyToMembersThatTakeItsArguments) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  // A forwarded method takes as many [in] arguments as its target (InitEx keeps the host
  // name for itself); the wrapper has no [out] parameters, its values are function results.
  for (const MemberInfo& member : wrapper.members) {
    EXPECT_EQ(member.OutParam(), nullptr) << member.name;
    EXPECT_NE(member.valueType, VarType::kVoid) << member.name;
    if (member.forwardsToDispid == 0) continue;
    const MemberInfo* target = orbis.FindByDispid(member.forwardsToDispid);
    ASSERT_NE(target, nullptr) << member.name;
    if (member.kind == MemberKind::kMethod && member.name != "InitEx") {
      EXPECT_EQ(member.InCount(), target->InCount()) << member.name;
    }
  }
}

// Each entry's binding calls that very member, and whatever it sets as its out value comes back,
// the lowest long and an empty text included.
TEST(MemberTable, EveryOrbisMemberIsBoundToItselfAndItsOutValueComesBackAsSet) {
  RecordingOrbis orbis;
  orbis.number = std::numeric_limits<std::int32_t>::min();
  for (const MemberInfo& member : OrbisInterface().members) {
    orbis.calls.clear();
    const OrbisCallResult result = InvokeOrbis(orbis, member, DefaultArgs(member));
    ASSERT_EQ(orbis.calls, std::vector<std::string>{member.name});
    const ParamInfo* out = member.OutParam();
    ASSERT_EQ(result.outs.size(), out ? 1u : 0u) << member.name;
    if (out == nullptr) continue;
    const Value expected = out->type == VarType::kLong ? Value(orbis.number) : Value(orbis.text);
    EXPECT_EQ(result.outs.at(out->name), expected) << member.name;
  }
}

TEST(Hresult, UnknownCodesHaveNoName) {
  EXPECT_EQ(HresultName(static_cast<HRESULT>(0x80001234u)), "");
}

}  // namespace
}  // namespace vekta
