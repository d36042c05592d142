#include "service/member_table.h"

#include <gtest/gtest.h>

#include <set>

#include "service/hresult.h"

namespace vekta {
namespace {

TEST(MemberTable, InterfacesHaveEveryMemberOnceInDispidOrder) {
  const InterfaceInfo& orbis = OrbisInterface();
  EXPECT_EQ(orbis.name, "IOrbis");
  EXPECT_EQ(orbis.help, "IOrbis Interface");
  ASSERT_EQ(orbis.members.size(), 67u);

  const InterfaceInfo& wrapper = VektaManagerInterface();
  EXPECT_EQ(wrapper.name, "IVektaManager");
  ASSERT_EQ(wrapper.members.size(), 69u);
  int properties = 0;
  for (const MemberInfo& member : wrapper.members) {
    if (member.kind == MemberKind::kProperty) ++properties;
  }
  EXPECT_EQ(properties, 7);

  // Both interfaces number their members 1, 2, 3... without gaps, and every name is unique.
  for (const InterfaceInfo* info : {&orbis, &wrapper}) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < info->members.size(); ++i) {
      EXPECT_EQ(info->members[i].dispid, static_cast<int>(i + 1)) << info->members[i].name;
      EXPECT_TRUE(names.insert(info->members[i].name).second) << info->members[i].name;
      // A help text is one plain sentence about its own member.
      const std::string& help = info->members[i].help;
      const std::string kind =
          info->members[i].kind == MemberKind::kMethod ? "method " : "property ";
      EXPECT_EQ(help.rfind(kind, 0), 0u) << help;
      EXPECT_EQ(help.find('"'), std::string::npos) << help;
      EXPECT_EQ(help.find('|'), std::string::npos) << help;
    }
  }
  EXPECT_EQ(orbis.members.back().name, "XReportAsync");
  EXPECT_EQ(wrapper.members.back().name, "ZReportAsync");
}

TEST(MemberTable, DispidsThatDifferBetweenTheInterfaces) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();
  struct Pair {
    int dispid;
    const char* orbisName;
    const char* wrapperName;
    int forwardsTo;
  };
  const Pair pairs[] = {
      {0x22, "GetArticleInfo", "GetArticleInfoXML", 0x23},
      {0x23, "GetArticleInfoXML", "GetArticleInfo", 0x22},
      {0x25, "GetCashInfo", "GetCashInfoXML", 0x26},
      {0x26, "GetCashInfoXML", "GetCashInfo", 0x25},
      {0x27, "GetFiscalInfo", "GetFiscalInfoXML", 0x28},
      {0x28, "GetFiscalInfoXML", "GetFiscalInfo", 0x27},
      {0x29, "GetTaxesInfo", "GetTaxesInfoXML", 0x2a},
      {0x2a, "GetTaxesInfoXML", "GetTaxesInfo", 0x29},
      {0x3f, "SetTaxesCalcMode", "ShowStatusDialogs", 0},
      {0x40, "SetShowErrorMessages", "SetTaxesCalcMode", 0x3f},
      {0x41, "GetLastErrorMessage", "InitEx", 0x1},
      {0x42, "ZReportAsync", "ShowErrorMessages", 0},
      {0x43, "XReportAsync", "LastErrorMessage", 0x41},
      {0x14, "GetCheckSum", "CheckSumm", 0x14},
      {0x17, "GetCheckReturnOnSaleTaxes", "CheckReturnOnSaleTaxes", 0x17},
  };
  for (const Pair& pair : pairs) {
    ASSERT_NE(orbis.FindByDispid(pair.dispid), nullptr);
    ASSERT_NE(wrapper.FindByDispid(pair.dispid), nullptr);
    EXPECT_EQ(orbis.FindByDispid(pair.dispid)->name, pair.orbisName);
    EXPECT_EQ(wrapper.FindByDispid(pair.dispid)->name, pair.wrapperName);
    EXPECT_EQ(wrapper.FindByDispid(pair.dispid)->forwardsToDispid, pair.forwardsTo)
        << pair.wrapperName;
  }
  EXPECT_EQ(wrapper.FindByName("XReportAsync")->dispid, 0x44);
  EXPECT_EQ(wrapper.FindByName("XReportAsync")->forwardsToDispid, 0x43);
  EXPECT_EQ(wrapper.FindByName("ZReportAsync")->forwardsToDispid, 0x42);
  EXPECT_EQ(wrapper.FindByName("ShowStatusDialogs")->setterForwardsToDispid, 0x8);
  EXPECT_EQ(wrapper.FindByName("ShowErrorMessages")->setterForwardsToDispid, 0x40);
  EXPECT_EQ(wrapper.FindByName("Done")->forwardsToDispid, 0);
  EXPECT_EQ(wrapper.FindByName("SetOnSaleTaxes")->forwardsToDispid, 0x1e);

  // Every forwarding target exists in IOrbis, and a forwarded method takes as many [in]
  // arguments as its target (InitEx adds the host name, which it keeps for itself).
  for (const MemberInfo& member : wrapper.members) {
    if (member.forwardsToDispid == 0) continue;
    const MemberInfo* target = orbis.FindByDispid(member.forwardsToDispid);
    ASSERT_NE(target, nullptr) << member.name;
    if (member.kind == MemberKind::kMethod && member.name != "InitEx") {
      EXPECT_EQ(member.InCount(), target->InCount()) << member.name;
    }
  }
}

TEST(MemberTable, ParametersTypesAndHelpTexts) {
  const InterfaceInfo& orbis = OrbisInterface();
  const InterfaceInfo& wrapper = VektaManagerInterface();

  const MemberInfo* fiscalLineEx = orbis.FindByName("FiscalLineEx");
  ASSERT_NE(fiscalLineEx, nullptr);
  ASSERT_EQ(fiscalLineEx->params.size(), 11u);
  EXPECT_EQ(fiscalLineEx->InCount(), 10u);
  EXPECT_EQ(fiscalLineEx->params[8].name, "DiscountName");
  EXPECT_EQ(fiscalLineEx->params[8].type, VarType::kBstr);
  ASSERT_NE(fiscalLineEx->OutParam(), nullptr);
  EXPECT_EQ(fiscalLineEx->OutParam()->name, "ThisLineSum");
  EXPECT_EQ(fiscalLineEx->OutParam()->type, VarType::kLong);

  const MemberInfo* byDate = orbis.FindByName("PeriodicalFiscalReportDate");
  ASSERT_EQ(byDate->params.size(), 2u);
  EXPECT_EQ(byDate->params[0].type, VarType::kDate);
  EXPECT_EQ(byDate->params[1].name, "DateTo");
  EXPECT_EQ(orbis.FindByName("GetPortNumber")->OutParam()->name, "pPortNumber");
  EXPECT_EQ(orbis.FindByName("Done")->OutParam(), nullptr);
  EXPECT_EQ(orbis.FindByName("FreeTextLine")->params[2].name, "UseBoldStyle");
  EXPECT_EQ(wrapper.FindByName("FreeTextLine")->params[2].name, "DoubleStrike");
  EXPECT_EQ(wrapper.FindByName("FiscalLine")->params[0].name, "GoodName");
  EXPECT_EQ(wrapper.FindByName("FiscalLineEx")->params[9].name, "Discount");

  // The wrapper has no [out] parameters: its values are function results.
  for (const MemberInfo& member : wrapper.members) {
    EXPECT_EQ(member.OutParam(), nullptr) << member.name;
    EXPECT_NE(member.valueType, VarType::kVoid) << member.name;
  }
  EXPECT_EQ(wrapper.FindByName("LastErrorMessage")->valueType, VarType::kBstr);
  EXPECT_EQ(wrapper.FindByName("GetPrinterKeyPosition")->valueType, VarType::kLong);
  EXPECT_EQ(wrapper.FindByName("LowGetNextPendingPrinterMessage")->valueType, VarType::kBstr);

  // Help texts are shown as they stand, misspellings and double blanks included.
  EXPECT_EQ(orbis.FindByName("GetPortNumber")->help,
            "method GetPortInit returns number of COM port wo which this interface connected");
  EXPECT_EQ(orbis.FindByName("GetCheckReturnOnSaleTaxes")->help,
            "method GetCheckReturnOnSaleTaxes. Returns check on-sale taxes sum collected by "
            "previous goods-retrun fiscal operations in  the current opened check");
  EXPECT_EQ(wrapper.FindByName("ShowErrorMessages")->help,
            "property ShowErrorMessages. Turn ON/OFF error messages whoeing to user");
  EXPECT_EQ(wrapper.FindByName("CheckSumm")->help, "property CheckSumm");
  EXPECT_EQ(orbis.FindByName("SetCheckMessagesMode")->help,
            "method SetCheckMessagesMode. Set check mode: 1-sales, 2-bus tickets, 3-lombards, "
            "3-bet businness");
  EXPECT_EQ(orbis.FindByName("GetArticleInfo")->help,
            "method GetArticleInfo. Returns article information in ARTD command format");

  EXPECT_EQ(orbis.FindByName("getcheckSum"), nullptr);  // names are case-sensitive
  EXPECT_EQ(orbis.FindByDispid(0x44), nullptr);
  EXPECT_STREQ(VarTypeName(VarType::kBstr), "BSTR");
  EXPECT_STREQ(VarTypeName(VarType::kDate), "DATE");
}

TEST(Hresult, HexAndNames) {
  EXPECT_EQ(HresultHex(E_FAIL), "0x80004005");
  EXPECT_EQ(HresultHex(S_OK), "0x00000000");
  EXPECT_EQ(HresultHex(CONTEXT_E_SYNCH_TIMEOUT), "0x8004E006");
  EXPECT_EQ(HresultName(E_FAIL), "E_FAIL");
  EXPECT_EQ(HresultName(E_OUTOFMEMORY), "E_OUTOFMEMORY");
  EXPECT_EQ(HresultName(RPC_S_SERVER_UNAVAILABLE), "RPC_S_SERVER_UNAVAILABLE");
  EXPECT_EQ(HresultName(static_cast<HRESULT>(0x80001234u)), "");
}

}  // namespace
}  // namespace vekta
