#pragma once

// The one definition of both object interfaces: every member's dispid, name, parameters and help
// text, in interface order. The dispatcher, the type library document, the client library and
// vektactl all read it from here.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vekta {

enum class VarType { kVoid, kLong, kBstr, kDate };
enum class ParamDir { kIn, kOutRetval };
enum class MemberKind { kMethod, kProperty };

struct ParamInfo {
  std::string name;
  VarType type = VarType::kLong;
  ParamDir dir = ParamDir::kIn;
};

struct MemberInfo {
  int dispid = 0;
  std::string name;
  MemberKind kind = MemberKind::kMethod;
  std::vector<ParamInfo> params;  // for a property: none
  // IVektaManager: the type of the value (or of the property). IOrbis: kVoid (the result is
  // the HRESULT with the [out, retval] parameter).
  VarType valueType = VarType::kVoid;
  std::string help;
  // IVektaManager: the IOrbis member it forwards to (for a property, the getter's), or 0.
  int forwardsToDispid = 0;
  // IVektaManager properties: the IOrbis member the setter forwards to, or 0.
  int setterForwardsToDispid = 0;
  // IOrbis: the call runs on its port's command executor, in turn with the port's other
  // calls. False for the members that answer from what the link already holds, and for those
  // that wait without holding the port (a printer lock, pending messages): they run beside a
  // long report.
  bool runsOnPort = true;

  std::size_t InCount() const;
  const ParamInfo* OutParam() const;  // the [out, retval] parameter, if any
};

struct InterfaceInfo {
  std::string name;  // "IOrbis", "IVektaManager"
  std::string help;  // "IOrbis Interface"
  std::vector<MemberInfo> members;

  const MemberInfo* FindByName(std::string_view name) const;  // exact, case-sensitive
  const MemberInfo* FindByDispid(int dispid) const;
};

const InterfaceInfo& OrbisInterface();
const InterfaceInfo& VektaManagerInterface();

const char* VarTypeName(VarType type);  // "long", "BSTR", "DATE", "void"

}  // namespace vekta
