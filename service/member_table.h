#pragma once

// The one definition of both object interfaces: every member's dispid, name, parameters, help
// text and how it is called, in interface order. The dispatcher, the VektaManager wrapper, the
// client library, the type library document and vektactl all read it from here.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "service/hresult.h"

namespace vekta {

class IOrbis;

// long, BSTR (UTF-8) or DATE (OLE date).
using Value = std::variant<std::int32_t, std::string, double>;

// Calls one IOrbis member with its [in] arguments (checked against the table) and gives back the
// [out] value when the member set one (service/orbis_binding.h makes them).
using OrbisInvoker = HRESULT (*)(IOrbis& object, const std::vector<Value>& args,
                                 std::optional<Value>& out);

enum class VarType { kVoid, kLong, kBstr, kDate };
enum class ParamDir { kIn, kOutRetval };
enum class MemberKind { kMethod, kProperty };
// IVektaManager: how the wrapper runs a member. Most forward to an IOrbis member; Init, InitEx and
// Done make or let go the object it holds, and the pending-message read gives its own wait.
enum class Wrapping { kForward, kInit, kInitEx, kDone, kFixedWait };

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
  // IOrbis: how the member is called.
  OrbisInvoker invoke = nullptr;
  // IVektaManager: the IOrbis member it forwards to (for a property, the getter's), or 0.
  int forwardsToDispid = 0;
  // IVektaManager properties: the IOrbis member the setter forwards to, or 0.
  int setterForwardsToDispid = 0;
  Wrapping wrapping = Wrapping::kForward;
  // IVektaManager: the number a member gives when there is no object or its call fails.
  std::int32_t failureNumber = 0;
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
  const MemberInfo* FindByInvoker(OrbisInvoker invoke) const;
};

const InterfaceInfo& OrbisInterface();
const InterfaceInfo& VektaManagerInterface();

const char* VarTypeName(VarType type);  // "long", "BSTR", "DATE", "void"

}  // namespace vekta
