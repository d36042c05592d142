#include "service/member_table.h"

#include <gtest/gtest.h>

#include <set>

#include "service/hresult.h"

namespace vekta {
namespace {

TEST(MemberTable, InterfacesHaveEveryMemberOnceInDispidOrderWithPlainHelp) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  EXPECT_EQ(orbis.name, "IOrbis");
  EXPECT_EQ(orbis.help, "IOrbis Interface");
  EXPECT_EQ(wrapper.name, "IVektaManager");
  ASSERT_EQ(orbis.members.size(), 67u);
  ASSERT_EQ(wrapper.members.size(), 69u);
  EXPECT_EQ(orbis.members.back().name, "XReportAsync");
  EXPECT_EQ(wrapper.members.back().name, "ZReportAsync");

  int properties = 0;
  for (const InterfaceInfo* info : {&orbis, &wrapper}) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < info->members.size(); ++i) {
      const MemberInfo& member = info->members[i];
      EXPECT_EQ(member.dispid, static_cast<int>(i + 1)) << member.name;
      EXPECT_TRUE(names.insert(member.name).second) << member.name;
      const bool property = member.kind == MemberKind::kProperty;
      if (property) ++properties;
      EXPECT_EQ(member.help.rfind(property ? "property " : "method ", 0), 0u) << member.help;
      EXPECT_EQ(member.help.find_first_of("\"|"), std::string::npos) << member.help;
    }
  }
  EXPECT_EQ(properties, 7);  // all on the wrapper
}

TEST(MemberTable, TheWrapperForwardsOnlyToMembersThatTakeItsArguments) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  // Which dispid names what, and where the wrapper forwards, is pinned member by member by
  // docs/reference.md's check; here, what must hold of every entry.
  EXPECT_EQ(orbis.FindByName("getcheckSum"), nullptr);  // names are case-sensitive
  EXPECT_EQ(orbis.FindByDispid(0x44), nullptr);

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

TEST(MemberTable, ParametersValueTypesAndHelpTextsAsClientsSeeThem) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  const MemberInfo* fiscalLineEx = orbis.FindByName("FiscalLineEx");
  ASSERT_EQ(fiscalLineEx->params.size(), 11u);
  EXPECT_EQ(fiscalLineEx->InCount(), 10u);
  EXPECT_EQ(fiscalLineEx->params[8].type, VarType::kBstr);
  ASSERT_NE(fiscalLineEx->OutParam(), nullptr);
  EXPECT_EQ(fiscalLineEx->OutParam()->name, "ThisLineSum");
  EXPECT_EQ(fiscalLineEx->OutParam()->type, VarType::kLong);
  EXPECT_EQ(orbis.FindByName("PeriodicalFiscalReportDate")->params[0].type, VarType::kDate);
  EXPECT_EQ(orbis.FindByName("Done")->OutParam(), nullptr);
  // Names clients pass arguments by, where the two interfaces differ.
  EXPECT_EQ(orbis.FindByName("FreeTextLine")->params[2].name, "UseBoldStyle");
  EXPECT_EQ(wrapper.FindByName("FreeTextLine")->params[2].name, "DoubleStrike");
  EXPECT_EQ(wrapper.FindByName("FiscalLine")->params[0].name, "GoodName");
  EXPECT_EQ(wrapper.FindByName("FiscalLineEx")->params[9].name, "Discount");
  EXPECT_EQ(wrapper.FindByName("LastErrorMessage")->valueType, VarType::kBstr);
  EXPECT_EQ(wrapper.FindByName("GetPrinterKeyPosition")->valueType, VarType::kLong);

  EXPECT_STREQ(VarTypeName(VarType::kBstr), "BSTR");
  EXPECT_STREQ(VarTypeName(VarType::kDate), "DATE");
}

TEST(Hresult, HexAndNames) {
  EXPECT_EQ(HresultHex(S_OK), "0x00000000");
  EXPECT_EQ(HresultHex(CONTEXT_E_SYNCH_TIMEOUT), "0x8004E006");
  EXPECT_EQ(HresultName(E_FAIL), "E_FAIL");
  EXPECT_EQ(HresultName(RPC_S_SERVER_UNAVAILABLE), "RPC_S_SERVER_UNAVAILABLE");
  EXPECT_EQ(HresultName(static_cast<HRESULT>(0x80001234u)), "");
}

}  // namespace
}  // namespace vekta
