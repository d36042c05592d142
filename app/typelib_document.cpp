#include "app/typelib_document.h"

#include "service/member_table.h"

namespace vekta {

namespace {

nlohmann::json InterfaceDocument(const InterfaceInfo& info, const char* iid, bool dual) {
  nlohmann::json members = nlohmann::json::array();
  for (const MemberInfo& m : info.members) {
    nlohmann::json params = nlohmann::json::array();
    for (const ParamInfo& p : m.params) {
      params.push_back({{"name", p.name},
                        {"type", VarTypeName(p.type)},
                        {"dir", p.dir == ParamDir::kIn ? "in" : "out,retval"}});
    }
    nlohmann::json member = {{"dispid", m.dispid},
                             {"name", m.name},
                             {"kind", m.kind == MemberKind::kMethod ? "method" : "property"},
                             {"params", params},
                             {"type", VarTypeName(m.valueType)},
                             {"help", m.help}};
    if (m.forwardsToDispid != 0) member["forwardsTo"] = m.forwardsToDispid;
    if (m.setterForwardsToDispid != 0) member["setterForwardsTo"] = m.setterForwardsToDispid;
    members.push_back(std::move(member));
  }
  return {{"name", info.name},
          {"iid", iid},
          {"help", info.help},
          {"dispatch", dual ? "dual" : "dispinterface"},
          {"members", members}};
}

}  // namespace

nlohmann::json TypeLibDocument() {
  return {
      {"name", "VektaManager"},
      {"version", "1.0"},
      {"libid", kTypeLibId},
      {"classes",
       nlohmann::json::array({{{"name", "Orbis"},
                               {"clsid", kOrbisClassId},
                               {"description", "Orbis Class"},
                               {"progids", {"VektaManager.Orbis.1", "VektaManager.Orbis"}},
                               {"interface", "IOrbis"}},
                              {{"name", "VektaManager"},
                               {"clsid", kVektaManagerClassId},
                               {"description", "VektaManager"},
                               {"progids", {"VektaManager.Application"}},
                               {"interface", "IVektaManager"}}})},
      {"interfaces", nlohmann::json::array(
                         {InterfaceDocument(OrbisInterface(), kIOrbisId, true),
                          InterfaceDocument(VektaManagerInterface(), kIVektaManagerId, false)})}};
}

}  // namespace vekta
