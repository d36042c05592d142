#pragma once

// Late-bound calls on the two object classes: a member of the member table plus arguments in
// order. The HTTP object protocol, vektactl and tests use these; the arguments have already been
// checked for count and type against the member's parameters.

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "service/hresult.h"
#include "service/member_table.h"

namespace vekta {

class IOrbis;
class VektaManager;

struct OrbisCallResult {
  HRESULT hr = S_OK;
  // The [out] values the member set, by parameter name (absent when left unset).
  std::map<std::string, Value> outs;
};

// S_OK when `args` fits the member's [in] parameters; else DISP_E_BADPARAMCOUNT or
// DISP_E_TYPEMISMATCH.
HRESULT CheckArguments(const MemberInfo& member, const std::vector<Value>& args);

// `args` holds the [in] arguments in parameter order. Arguments that do not fit give the
// protocol error code and reach no object; so does a member that is not IOrbis's.
OrbisCallResult InvokeOrbis(IOrbis& object, const MemberInfo& member,
                            const std::vector<Value>& args);

enum class InvokeKind { kMethod, kPropertyGet, kPropertyPut };

// A method call or property get gives the member's value; a property put gives no value
// (std::nullopt-like empty string is never used: the caller ignores the result of a put).
Value InvokeVektaManager(VektaManager& object, const MemberInfo& member, InvokeKind kind,
                         const std::vector<Value>& args);

}  // namespace vekta
