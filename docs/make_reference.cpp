// make_reference: the reference of both object interfaces (docs/reference.md) in Markdown, from
// the member table and the result codes the server answers with.
//   make_reference          prints it
//   make_reference FILE     writes it to FILE

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/argument_conversion.h"
#include "app/http_server.h"
#include "app/object_table.h"
#include "app/typelib_document.h"
#include "service/hresult.h"
#include "service/member_table.h"

namespace vekta {
namespace {

// A table cell: a '|' would end the cell, a line break the row.
std::string Cell(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '|') {
      out += "\\|";
    } else if (c == '\n' || c == '\r') {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

std::string Code(const std::string& text) {
  return "`" + text + "`";
}

std::string Dispid(int dispid) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%02X (%d)", static_cast<unsigned>(dispid), dispid);
  return text;
}

std::string Named(HRESULT hr) {
  return Code(HresultName(hr)) + " " + HresultHex(hr);
}

std::string Parameters(const MemberInfo& m) {
  if (m.params.empty()) return "none";
  std::string text;
  for (const ParamInfo& p : m.params) {
    if (!text.empty()) text += ", ";
    text += p.dir == ParamDir::kIn ? "[in] " : "[out, retval] ";
    text += std::string(VarTypeName(p.type)) + " " + Code(p.name);
  }
  return text;
}

// A property is got without arguments and put with one value.
std::string PropertyParameters(const MemberInfo& m) {
  return std::string("get: none; put: [in] ") + VarTypeName(m.valueType) + " `value`";
}

std::string OrbisName(int dispid) {
  const MemberInfo* target = OrbisInterface().FindByDispid(dispid);
  return target ? Code(target->name) + " " + Dispid(dispid) : "dispid " + Dispid(dispid);
}

// What an IVektaManager method gives back, from the IOrbis member it forwards to.
std::string ForwardedValue(const MemberInfo& m) {
  const MemberInfo* target = OrbisInterface().FindByDispid(m.forwardsToDispid);
  if (target == nullptr) return "";
  if (const ParamInfo* out = target->OutParam()) return "; value: its " + Code(out->name);
  return "; value: 1 on success, else 0";
}

std::string Forwarding(const MemberInfo& m) {
  if (m.kind == MemberKind::kProperty) {
    const std::string none = m.valueType == VarType::kBstr ? "\"\"" : "0";
    std::string get = m.forwardsToDispid != 0 ? "get: IOrbis " + OrbisName(m.forwardsToDispid)
                                              : "get: not forwarded, reads " + none;
    if (m.forwardsToDispid != 0) {
      const MemberInfo* target = OrbisInterface().FindByDispid(m.forwardsToDispid);
      if (target && target->OutParam()) get += " (its " + Code(target->OutParam()->name) + ")";
    }
    const std::string put = m.setterForwardsToDispid != 0
                                ? "put: IOrbis " + OrbisName(m.setterForwardsToDispid)
                                : "put: not forwarded, ignored";
    return get + "; " + put;
  }
  if (m.forwardsToDispid == 0) return "not forwarded (the wrapper's own)";
  return "IOrbis " + OrbisName(m.forwardsToDispid) + ForwardedValue(m);
}

void Classes(std::ostream& out) {
  out << "## Classes\n\n"
         "| Class | ProgIDs | Class id | Interface |\n"
         "|---|---|---|---|\n"
      << "| Orbis | `VektaManager.Orbis.1`, `VektaManager.Orbis` | " << Code(kOrbisClassId)
      << " | IOrbis " << Code(kIOrbisId) << ", dual |\n"
      << "| VektaManager | `VektaManager.Application` | " << Code(kVektaManagerClassId)
      << " | IVektaManager " << Code(kIVektaManagerId) << ", dispinterface |\n\n"
      << "Type library " << Code(kTypeLibId)
      << " version 1.0 (`GET /api/v1/typelib`, and `typelib.json` beside the registration).\n\n";
}

void Calling(std::ostream& out) {
  out << "## Calling a member\n\n"
         "- By name: `POST /api/v1/objects/ID/call/MEMBER`, the body the [in] arguments as an "
         "array in parameter order or an object by parameter name (no body, `[]` or `{}` for "
         "none).\n"
         "- By dispid: `POST /api/v1/objects/ID/invoke` "
         "`{\"dispid\":17,\"args\":[...],\"kind\":\"method\"}`; `kind` is `method` (the "
         "default), `propget` or `propput`. A property may be got with `method` and a method "
         "called with `propget`, as late-binding clients do; `propput` is for properties "
         "only.\n"
         "- An IVektaManager property is read by a call without arguments and set by a call "
         "with one (`[5]` or `{\"value\":5}`).\n"
         "- long: a JSON integer from -2147483648 to 2147483647; `true` and `false` are 1 and "
         "0.\n"
         "- BSTR: a JSON string of at most "
      << kMaxStringCharacters
      << " characters (UTF-8; the server converts it to the printer's code pages, a character "
         "they lack becomes \"?\").\n"
         "- DATE: an OLE date (days since 1899-12-30, the fraction the time of day, years 100 to "
         "9999), or \"YYYY-MM-DD\" or \"YYYY-MM-DDTHH:MM:SS\".\n"
         "- A request body holds at most "
      << kMaxBodyBytes / 1024
      << " KiB. An object lives until `DELETE /api/v1/objects/ID` or until its lease runs out "
         "(default "
      << kDefaultLeaseMs / 1000 << " s, `leaseMs` at creation up to " << kMaxLeaseMs
      << "); every call and `POST /api/v1/objects/ID/ping` renews it.\n"
         "- `Idempotency-Key: KEY` (at most 200 characters) on a call: a repeat with the same "
         "key on the same object gets the stored answer (header `Idempotent-Replay: true`) and "
         "runs nothing; the same key with another member or other arguments is refused (422). "
         "An object keeps the answers of its last "
      << ObjectTable::kMaxStoredResponses << " keys.\n\n";
}

void Results(std::ostream& out) {
  out << "## Results and HRESULTs\n\n"
         "### IOrbis\n\n"
         "A completed call answers 200 with "
         "`{\"hresult\":\"0x80004005\",\"hresultName\":\"E_FAIL\",\"ok\":false,"
         "\"out\":{\"ThisLineSum\":-1}}`. `ok` is true for a success code (S_OK); `out` holds "
         "the [out, retval] value by parameter name when the member set it, and is `{}` "
         "otherwise. `hresultName` is the code in hex where it has no name.\n\n"
         "- "
      << Named(S_OK)
      << ": done.\n"
         "- "
      << Named(E_FAIL)
      << ": the object is not attached to a printer (no `Init`, after `Done`, a failed `Init`, "
         "or the server has closed the port), or the printer did not carry the operation out, "
         "or a query gave no text. The reason is in `GetLastErrorMessage` (which takes it: the "
         "next read finds it empty) and, when error messages are shown, in a message box on "
         "the operator's page.\n"
         "- "
      << Named(E_INVALIDARG)
      << ": `Init` with a `PortNumber` below 1 or an empty `CallerApplicationName`; "
         "`LowSendMessageToPrinter` with a text the printer's frame cannot carry (over 251 "
         "bytes in the printer's code page, or holding the bytes 0xFD or 0xFE): nothing is "
         "sent.\n"
         "- "
      << Named(CONTEXT_E_SYNCH_TIMEOUT)
      << ": `LockPrinter` waited its whole time-out while another object held the printer "
         "(-1 waits without limit). Only `LockPrinter` looks at the lock.\n"
         "- "
      << Named(E_OUTOFMEMORY)
      << ": the server ran out of memory on the call.\n\n"
         "Out values worth knowing:\n\n"
         "- `FiscalLine`, `FiscalLineEx`: `ThisLineSum` is -1 with E_FAIL; 0 with S_OK for a "
         "line turned down without an error from the printer.\n"
         "- `CloseCheck`, `CloseCheckEx`: S_OK whenever the object is attached; `CheckSum` "
         "tells the outcome: the receipt's total when it was printed, 0 or -1 when it was not. "
         "-1 is also a close *in doubt* (its reply did not come in time): the next call on the "
         "port first finds out from the printer whether it was printed, and a repeated close "
         "then returns the total of the receipt printed or closes it.\n"
         "- `GetCheckSum`, `GetCheckOnSaleTaxes`, `GetCheckReturnSum`, "
         "`GetCheckReturnOnSaleTaxes`: the running sums of the receipt, without a word to the "
         "printer; 0 with E_FAIL when the object is not attached.\n"
         "- `LowGetNextPendingPrinterMessage`: S_OK with an empty `TextMessage` when nothing "
         "came within the time-out.\n\n"
         "### IVektaManager\n\n"
         "A completed call answers 200 with `{\"value\":...}` (a number or a text); a property "
         "put answers `{\"value\":null}`. IVektaManager answers no HRESULT: its methods call "
         "the IOrbis member in the *Forwards to* column on an Orbis object of their own, made "
         "by `Init` (on this server) or `InitEx` (on the server `RemoteHostName` names: "
         "\"name\", \"name:port\" or \"\\\\name\", port 8460 unless given).\n\n"
         "- A member forwarded to an IOrbis member without an out value gives 1 when that "
         "call succeeded, else 0.\n"
         "- A member forwarded to one with an out value gives that value when the call "
         "succeeded, else 0 for a long (-1 for `GetPrinterKeyPosition`) and \"\" for a BSTR.\n"
         "- Before `Init`, after `Done` or a failed `Init`, every member gives that failure "
         "value. `Init` and `InitEx` give 1 when connected, `Done` 1 when it released an "
         "object.\n"
         "- `LowGetNextPendingPrinterMessage` waits 3000 ms whatever `TimeoutInMilliseconds` "
         "says.\n"
         "- `InitEx` with `ShowStatusDialogs` not 0 shows why it failed in a message box.\n\n"
         "### Refused requests\n\n"
         "A request that does not fit is refused before anything runs (no printer is "
         "reached, nothing changes) with `{\"error\":TEXT,\"hresult\":\"0x...\"}`:\n\n"
         "| HTTP | hresult | when |\n"
         "|---|---|---|\n"
      << "| 400 | " << Named(DISP_E_UNKNOWNNAME)
      << " | no such member (by name or dispid), or a method called as `propput` |\n"
      << "| 400 | " << Named(DISP_E_BADPARAMCOUNT)
      << " | a wrong number of arguments, an unknown or a missing parameter name |\n"
      << "| 400 | " << Named(DISP_E_TYPEMISMATCH)
      << " | an argument of the wrong type; arguments neither an array nor an object |\n"
      << "| 400 | " << Named(DISP_E_OVERFLOW)
      << " | a number outside its type's range; `leaseMs` outside 1 to " << kMaxLeaseMs << " |\n"
      << "| 400 | " << Named(E_INVALIDARG)
      << " | malformed JSON, invalid UTF-8, an `Idempotency-Key` over 200 characters |\n"
      << "| 400 | " << Named(REGDB_E_CLASSNOTREG)
      << " | `POST /api/v1/objects` for no such class |\n"
      << "| 401 | " << Named(E_ACCESSDENIED)
      << " | a token is needed (a peer on another computer) or the token is wrong |\n"
      << "| 403 | " << Named(E_ACCESSDENIED)
      << " | a `Host` or `Origin` this server does not answer (see docs/operations.md) |\n"
      << "| 404 | " << Named(RPC_E_DISCONNECTED) << " | no such object: unknown, released or its "
      << "lease ran out |\n"
      << "| 413 | " << Named(E_INVALIDARG) << " | a body over " << kMaxBodyBytes / 1024
      << " KiB, a text over " << kMaxStringCharacters << " characters |\n"
      << "| 415 | " << Named(E_INVALIDARG) << " | a body that is not `application/json` |\n"
      << "| 422 | " << Named(E_INVALIDARG)
      << " | an `Idempotency-Key` used before on this object for another call |\n"
      << "| 500 | " << Named(E_UNEXPECTED) << " | a fault inside the server |\n"
      << "| 503 | " << Named(RPC_S_SERVER_UNAVAILABLE) << " | the server is shutting down |\n\n"
      << "The C++ client library (`client/`) and `InitEx` report a server they cannot use as "
      << Named(RPC_S_SERVER_UNAVAILABLE) << " (no server), " << Named(E_ACCESSDENIED)
      << " (token refused) or " << Named(ERROR_TIMEOUT_HR) << " (no answer in time).\n\n";
}

void Interface(std::ostream& out, const InterfaceInfo& info, bool forwards) {
  out << "## " << info.name << "\n\n"
      << Cell(info.help) << ": " << info.members.size() << " members. Help texts are the type "
      << "library's own, spelling included.\n\n";
  if (forwards) {
    out << "| Dispid | Member | Kind | Parameters | Value | Forwards to | Help |\n"
           "|---|---|---|---|---|---|---|\n";
  } else {
    out << "| Dispid | Member | Kind | Parameters | Value | Help |\n"
           "|---|---|---|---|---|---|\n";
  }
  for (const MemberInfo& m : info.members) {
    const bool property = m.kind == MemberKind::kProperty;
    const std::string value = forwards ? VarTypeName(m.valueType) : std::string("HRESULT");
    out << "| " << Dispid(m.dispid) << " | " << Code(m.name) << " | "
        << (property ? "property" : "method") << " | "
        << (property ? PropertyParameters(m) : Parameters(m)) << " | " << value << " | ";
    if (forwards) out << Forwarding(m) << " | ";
    out << Cell(m.help) << " |\n";
  }
  out << "\n";
}

void Reference(std::ostream& out) {
  out << "# VektaManager object reference\n\n"
         "<!-- Made by docs/make_reference.cpp from the member table (service/member_table.cpp)."
         " Do not edit: change the table or the program and refresh this file with\n"
         "     cmake --build BUILD --target docs_reference_update -->\n\n"
         "Both interfaces that `vektamanager` serves over its HTTP/JSON object protocol, "
         "member by member, with the result rules of each. `vektactl members Orbis` (or "
         "`VektaManager`) lists the same members; `GET /api/v1/typelib` is the same table as "
         "JSON.\n\n";
  Classes(out);
  Calling(out);
  Results(out);
  Interface(out, OrbisInterface(), false);
  Interface(out, VektaManagerInterface(), true);
}

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  std::ostringstream text;
  vekta::Reference(text);
  if (argc < 2) {
    std::cout << text.str();
    return std::cout ? 0 : 1;
  }
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << text.str();
  file.close();
  if (!file) {
    std::cerr << "make_reference: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
