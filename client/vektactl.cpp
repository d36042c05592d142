// vektactl: the command-line client of a VektaManager server.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "client/lease_keeper.h"
#include "client/object_connection.h"
#include "client/remote_orbis.h"
#include "client/server_launcher.h"
#include "platform/codepage.h"
#include "service/member_table.h"

namespace vekta {
namespace {

using nlohmann::json;

constexpr const char* kUsage =
    "Usage: vektactl [OPTIONS] COMMAND [ARGS...]\n"
    "\n"
    "Options:\n"
    "  --server NAME     the server: \"name\", \"name:port\", \"\\\\name\" or a URL\n"
    "                    (default $VEKTA_SERVER, else 127.0.0.1:8460)\n"
    "  --token TOKEN     bearer token for a server on another computer ($VEKTA_TOKEN)\n"
    "  --cacert FILE     HTTPS: check the server's certificate against FILE\n"
    "  --insecure        HTTPS: do not check the server's certificate\n"
    "  --json            print whole JSON answers\n"
    "  --version         the version\n"
    "  --help            this text\n"
    "\n"
    "Objects:\n"
    "  create [Orbis|VektaManager] [--lease MS]   create an object, print its id\n"
    "  call [--class Orbis|VektaManager] [--object ID] [--key KEY] MEMBER [ARG...]\n"
    "                    call any member; ARG is a value in parameter order or NAME=VALUE;\n"
    "                    without --object a new object is made for the one call.\n"
    "                    A VektaManager property is read without ARG, set with one\n"
    "  release ID        final release of an object\n"
    "  ping ID           renew an object's lease\n"
    "  members [Orbis|VektaManager]   the members with their parameters\n"
    "\n"
    "Test client (cashier \"Kassir123456789\", password \"7777777777\", caller "
    "\"VektaManTester\"):\n"
    "  connect [--port N]                 create an object, Init it, print its id\n"
    "  show-port --object ID              \"Port number is N\"\n"
    "  send [--object ID|--port N] TEXT   send a raw command, print replies until READY\n"
    "  fetch-xml [--object ID|--port N]   the printer configuration as XML\n"
    "  test-receipt [--object ID|--port N]   the test receipt (two lines of \"Колбаска\")\n"
    "  connect-print-disconnect [--port N]   a receipt of one line, its sum on the display\n"
    "  disconnect --object ID             release the object\n"
    "\n"
    "Operator:\n"
    "  connections       the connection list\n"
    "  ports             the COM ports that exist\n"
    "  status            status windows and recent messages\n"
    "  about             product, version and run mode\n"
    "  settings [SaveToLog=0|1] [KeepLogFiles=DAYS]   show or set the log settings (2-4096 days)\n"
    "  typelib           the type library\n"
    "  health            exit 0 when the server answers\n"
    "  exit              end the server (\"Вихід з програми\")\n";

struct Options {
  std::string server;
  std::string token;
  std::string caFile;
  bool insecure = false;
  bool json = false;
};

std::string Dump(const json& j, int indent = -1) {
  return j.dump(indent, ' ', false, json::error_handler_t::replace);
}

// The test client's message boxes, on standard output.
void Box(const std::string& text) {
  std::cout << text << std::endl;
}

std::string Hex(HRESULT hr) {
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "0x%X", static_cast<unsigned>(hr));
  return buffer;
}

// The "ok" of a call's answer; nullopt when there is none that is true or false.
std::optional<bool> OkOf(const json& body) {
  if (!body.is_object()) return std::nullopt;
  const auto ok = body.find("ok");
  if (ok == body.end() || !ok->is_boolean()) return std::nullopt;
  return ok->get<bool>();
}

// Ids go into URL paths: only the form the server issues, 32 lowercase hexadecimal digits, is
// passed on, so that an id cannot name another path or member.
bool CheckObjectId(const std::string& id) {
  const bool wellFormed = id.size() == 32 && std::all_of(id.begin(), id.end(), [](char c) {
                            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                          });
  if (!wellFormed) {
    std::cerr << "vektactl: \"" << id
              << "\" is not an object id (32 hexadecimal digits, as create and connect print)\n";
  }
  return wellFormed;
}

class Ctl {
 public:
  Ctl(Options options, std::vector<std::string> args)
      : m_options(std::move(options)), m_args(std::move(args)) {}

  int Run();

 private:
  std::optional<ServerAddress> Address(const std::string& name) {
    auto address = ParseServerName(name.empty() ? "127.0.0.1" : name);
    if (address) {
      address->token = m_options.token;
      address->caFile = m_options.caFile;
      address->insecure = m_options.insecure;
    }
    return address;
  }
  std::shared_ptr<ObjectConnection> Connect(bool startOnDemand);
  // Takes "--name VALUE" out of the arguments.
  std::optional<std::string> TakeOption(const std::string& name);
  int PrintAnswer(const HttpAnswer& answer);
  int Fail(const HttpAnswer& answer);

  int Create();
  int Call();
  std::optional<json> CallArguments(const MemberInfo& member);
  int Members();
  int Settings();
  int Simple(const std::string& method, const std::string& path);
  int Connections();

  // Test client.
  // As the test client's CoCreateInstanceEx: the registered server is started if need be, and a
  // failure is shown.
  HRESULT CreateTestObject(std::unique_ptr<RemoteOrbis>& object);
  // Nullptr and the exit status in `rc` when there is no object to use.
  std::unique_ptr<RemoteOrbis> Attach(int& rc);
  int TestConnect();
  int ShowPort();
  int SendRaw();
  int FetchXml();
  int TestReceipt();
  int ConnectPrintDisconnect();

  Options m_options;
  std::vector<std::string> m_args;
  // Pings the test client's objects while a command runs.
  std::shared_ptr<LeaseKeeper> m_keeper = std::make_shared<LeaseKeeper>();
};

std::optional<std::string> Ctl::TakeOption(const std::string& name) {
  for (std::size_t i = 0; i < m_args.size(); ++i) {
    if (m_args[i] == name && i + 1 < m_args.size()) {
      std::string value = m_args[i + 1];
      m_args.erase(m_args.begin() + static_cast<long>(i),
                   m_args.begin() + static_cast<long>(i) + 2);
      return value;
    }
    if (m_args[i].rfind(name + "=", 0) == 0) {
      std::string value = m_args[i].substr(name.size() + 1);
      m_args.erase(m_args.begin() + static_cast<long>(i));
      return value;
    }
  }
  return std::nullopt;
}

std::shared_ptr<ObjectConnection> Ctl::Connect(bool startOnDemand) {
  auto address = Address(m_options.server);
  if (!address) {
    std::cerr << "vektactl: cannot read the server name \"" << m_options.server << "\"\n";
    return nullptr;
  }
  if (startOnDemand) {
    std::string error;
    ServerLauncher launcher;
    launcher.EnsureServer(*address, error);  // a failure shows in the request that follows
  }
  return std::make_shared<ObjectConnection>(*address);
}

int Ctl::Fail(const HttpAnswer& answer) {
  std::cerr << "vektactl: " << (answer.error.empty() ? "failed" : answer.error) << " ("
            << Hex(answer.hr) << ")\n";
  return 1;
}

int Ctl::PrintAnswer(const HttpAnswer& answer) {
  if (answer.status == 0 || answer.status >= 300) return Fail(answer);
  if (m_options.json || !answer.body.is_object()) {
    std::cout << (answer.body.is_string() ? answer.body.get<std::string>() : Dump(answer.body, 2))
              << std::endl;
    const auto ok = OkOf(answer.body);
    return ok.has_value() && !*ok ? 1 : 0;
  }
  const json& b = answer.body;
  if (b.contains("value")) {
    const json& v = b["value"];
    if (v.is_string()) {
      std::cout << v.get<std::string>() << std::endl;
    } else if (!v.is_null()) {
      std::cout << Dump(v) << std::endl;
    }
    return 0;
  }
  if (b.contains("hresult") && b.contains("ok")) {
    const auto ok = OkOf(b);
    const auto out = b.find("out");
    if (!ok || (out != b.end() && !out->is_object() && !out->is_null())) {
      std::cerr << "vektactl: the server's answer is malformed: " << Dump(b) << "\n";
      return 1;
    }
    const json& name = b.contains("hresultName") ? b["hresultName"] : b["hresult"];
    std::cout << (name.is_string() ? name.get<std::string>() : Dump(name)) << std::endl;
    if (out != b.end() && out->is_object()) {
      for (auto it = out->begin(); it != out->end(); ++it) {
        std::cout << it.key() << "=" << (it->is_string() ? it->get<std::string>() : Dump(*it))
                  << std::endl;
      }
    }
    return *ok ? 0 : 1;
  }
  std::cout << Dump(b, 2) << std::endl;
  return 0;
}

int Ctl::Simple(const std::string& method, const std::string& path) {
  auto connection = Connect(false);
  if (!connection) return 2;
  if (method == "GET") return PrintAnswer(connection->Get(path));
  return PrintAnswer(connection->Send(method, path, nullptr));
}

// The list as the main window shows it: port (" LOCKED"), serial number, client.
int Ctl::Connections() {
  if (m_options.json) return Simple("GET", "/api/v1/connections");
  auto connection = Connect(false);
  if (!connection) return 2;
  HttpAnswer answer = connection->Get("/api/v1/connections");
  if (answer.status != 200 || !answer.body.contains("rows")) return Fail(answer);
  for (const auto& row : answer.body["rows"]) {
    std::string line;
    for (const auto& cell : row) {
      // A client names itself: a control byte in its name would reach the terminal (an escape
      // sequence, a row or column of its own making).
      std::string text = cell.is_string() ? cell.get<std::string>() : "";
      std::replace_if(text.begin(), text.end(), IsControlByte, '?');
      line += (line.empty() ? "" : "\t") + text;
    }
    std::cout << line << "\n";
  }
  return 0;
}

int Ctl::Create() {
  const auto lease = TakeOption("--lease");
  const std::string cls = m_args.empty() ? "Orbis" : m_args[0];
  auto connection = Connect(true);
  if (!connection) return 2;
  json body = {{"class", cls}};
  if (cls.find('.') != std::string::npos) body = {{"progid", cls}};
  if (lease) body["leaseMs"] = std::atoll(lease->c_str());
  HttpAnswer answer = connection->Send("POST", "/api/v1/objects", body);
  if (answer.status != 201) return Fail(answer);
  if (m_options.json) return PrintAnswer(answer);
  std::cout << answer.body["object"].get<std::string>() << std::endl;
  return 0;
}

// A command-line word as the parameter's type wants it.
std::optional<json> TypedArgument(const ParamInfo& param, const std::string& text) {
  switch (param.type) {
    case VarType::kLong: {
      if (text == "true") return json(1);
      if (text == "false") return json(0);
      char* end = nullptr;
      const long long v = std::strtoll(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0') return std::nullopt;
      return json(v);
    }
    case VarType::kDate: {
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (!text.empty() && *end == '\0') return json(v);
      return json(text);
    }
    default:
      return json(text);
  }
}

// How long a member waits on the server by its argument, beyond the call time-out, as the
// client library reckons it: a lock wait given up here would go on there, and take the printer's
// lock for a caller that has gone. VektaManager reads pending messages with a short wait of its
// own.
std::chrono::milliseconds ServerWait(const MemberInfo& member, bool orbis, const json& args) {
  if (member.params.empty() || (!orbis && member.name != "LockPrinter")) {
    return std::chrono::milliseconds(0);
  }
  const std::string& first = member.params.front().name;
  const json arg = args.is_array() ? (args.empty() ? json() : args[0])
                                   : (args.contains(first) ? args[first] : json());
  if (!arg.is_number_integer()) return std::chrono::milliseconds(0);
  return RemoteOrbis::ServerWait(member.name, arg.get<std::int64_t>());
}

// Whether `cls` names Orbis (true) or VektaManager (false); neither is said on stderr.
std::optional<bool> IsOrbisClass(const std::string& cls) {
  if (cls == "Orbis" || cls == "VektaManager.Orbis" || cls == "VektaManager.Orbis.1") return true;
  if (cls == "VektaManager" || cls == "VektaManager.Application") return false;
  std::cerr << "vektactl: no class " << cls << " (Orbis or VektaManager)\n";
  return std::nullopt;
}

// The words after the member's name as the call's arguments: in order, or by name as
// "Name=value" (after which all are by name). Nullopt, with the reason said, when they do not fit.
std::optional<json> Ctl::CallArguments(const MemberInfo& member) {
  std::vector<ParamInfo> params;
  if (member.kind == MemberKind::kProperty) {
    if (m_args.size() > 1) params.push_back({"value", member.valueType, ParamDir::kIn});
  } else {
    for (const auto& p : member.params) {
      if (p.dir == ParamDir::kIn) params.push_back(p);
    }
  }
  json args = json::array();
  json named = json::object();
  for (std::size_t i = 1; i < m_args.size(); ++i) {
    const std::string& word = m_args[i];
    const auto eq = word.find('=');
    const ParamInfo* param = nullptr;
    std::string value = word;
    if (eq != std::string::npos) {
      for (const auto& p : params) {
        if (p.name == word.substr(0, eq)) param = &p;
      }
      if (param) value = word.substr(eq + 1);
    }
    const bool byName = param != nullptr;  // else a text that holds '=' is taken as it stands
    if (!param && args.size() < params.size() && named.empty()) param = &params[args.size()];
    if (!param) {
      std::cerr << "vektactl: " << member.name << " takes " << params.size() << " arguments\n";
      return std::nullopt;
    }
    auto typed = TypedArgument(*param, value);
    if (!typed) {
      std::cerr << "vektactl: " << param->name << " is a whole number, not \"" << value << "\"\n";
      return std::nullopt;
    }
    if (!byName) {
      args.push_back(*typed);
    } else {
      named[param->name] = *typed;
    }
  }
  if (!named.empty()) {
    for (std::size_t i = 0; i < args.size(); ++i) named[params[i].name] = args[i];
    args = named;
  }
  return args;
}

int Ctl::Call() {
  const std::string cls = TakeOption("--class").value_or("Orbis");
  auto objectId = TakeOption("--object");
  const std::string key = TakeOption("--key").value_or("");
  if (m_args.empty()) {
    std::cerr << "vektactl: call needs a member name\n";
    return 2;
  }
  if (objectId && !CheckObjectId(*objectId)) return 2;
  if (!FitsHeaderLine(key)) {
    std::cerr << "vektactl: the key must be printable ASCII (it goes in a header line)\n";
    return 2;
  }
  const std::optional<bool> orbisClass = IsOrbisClass(cls);
  if (!orbisClass) return 2;
  const bool orbis = *orbisClass;
  const InterfaceInfo& info = orbis ? OrbisInterface() : VektaManagerInterface();
  const std::string name = m_args[0];
  const MemberInfo* member = info.FindByName(name);
  if (!member) {
    std::cerr << "vektactl: " << info.name << " has no member " << name << "\n";
    return 2;
  }
  const std::optional<json> args = CallArguments(*member);
  if (!args) return 2;
  auto connection = Connect(true);
  if (!connection) return 2;
  bool own = false;
  if (!objectId) {
    std::string id;
    const HRESULT hr =
        connection->CreateObject(orbis ? "VektaManager.Orbis" : "VektaManager.Application", 0, id);
    if (Failed(hr)) {
      std::cerr << "vektactl: cannot create the object (" << Hex(hr) << ")\n";
      return 1;
    }
    objectId = id;
    own = true;
  }
  const int rc = PrintAnswer(
      connection->CallOnce(*objectId, name, *args, key, ServerWait(*member, orbis, *args)));
  if (own) connection->Release(*objectId);
  return rc;
}

int Ctl::Members() {
  const std::string cls = m_args.empty() ? "Orbis" : m_args[0];
  const std::optional<bool> orbisClass = IsOrbisClass(cls);
  if (!orbisClass) return 2;
  const bool orbis = *orbisClass;
  const InterfaceInfo& info = orbis ? OrbisInterface() : VektaManagerInterface();
  for (const MemberInfo& m : info.members) {
    char dispid[16];
    std::snprintf(dispid, sizeof(dispid), "0x%02x", m.dispid);
    std::cout << dispid << " " << m.name;
    if (m.kind == MemberKind::kProperty) {
      std::cout << " (property " << VarTypeName(m.valueType) << ")";
    } else {
      std::cout << "(";
      bool first = true;
      for (const auto& p : m.params) {
        std::cout << (first ? "" : ", ") << (p.dir == ParamDir::kIn ? "" : "[out] ")
                  << VarTypeName(p.type) << " " << p.name;
        first = false;
      }
      std::cout << ")";
    }
    std::cout << "  " << m.help << "\n";
  }
  return 0;
}

int Ctl::Settings() {
  auto connection = Connect(false);
  if (!connection) return 2;
  if (m_args.empty()) return PrintAnswer(connection->Get("/api/v1/settings"));
  json body = json::object();
  for (const auto& word : m_args) {
    const auto eq = word.find('=');
    const std::string name = word.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : word.substr(eq + 1);
    char* end = nullptr;
    const long long v = std::strtoll(value.c_str(), &end, 10);
    if (eq == std::string::npos || value.empty() || *end != '\0' ||
        (name != "SaveToLog" && name != "KeepLogFiles")) {
      std::cerr << "vektactl: settings take SaveToLog=0|1 and KeepLogFiles=DAYS\n";
      return 2;
    }
    // "5" is no switch: taken as on, a typo for a number of days would turn logging on
    if (name == "SaveToLog" && v != 0 && v != 1) {
      std::cerr << "vektactl: SaveToLog is 0 (off) or 1 (on)\n";
      return 2;
    }
    if (name == "KeepLogFiles" && (v < 2 || v > 4096)) {
      std::cerr << "vektactl: KeepLogFiles must be a whole number of days from 2 to 4096\n";
      return 2;
    }
    if (name == "SaveToLog") {
      body[name] = v == 1;
    } else {
      body[name] = v;
    }
  }
  return PrintAnswer(connection->Send("PUT", "/api/v1/settings", body));
}

// The port of --port (1 by default) as the test client's box takes it: a whole number from 1 to
// 16, or nullopt with the box's text ("3x" is no port 3, nor "abc" port 0, the connect dialog).
std::optional<std::int32_t> TestPort(const std::optional<std::string>& text) {
  std::int32_t port = 1;
  if (text) {
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), port);
    if (error != std::errc() || end != text->data() + text->size()) port = 0;
  }
  if (port >= 1 && port <= 16) return port;
  Box("Please enter an integer between 1 and 16.");
  return std::nullopt;
}

HRESULT Ctl::CreateTestObject(std::unique_ptr<RemoteOrbis>& object) {
  auto connection = Connect(true);
  const HRESULT hr =
      connection ? RemoteOrbis::Create(connection, object, m_keeper) : RPC_S_SERVER_UNAVAILABLE;
  if (Failed(hr)) Box("CoCreateInstanceEx failed: " + Hex(hr) + "\n");
  return hr;
}

// The object of --object ID, or a new one connected as "Підключитися до ЕККР" does.
std::unique_ptr<RemoteOrbis> Ctl::Attach(int& rc) {
  rc = 1;
  const auto portText = TakeOption("--port");
  if (auto id = TakeOption("--object")) {
    if (!CheckObjectId(*id)) {
      rc = 2;
      return nullptr;
    }
    // The object of an earlier connect: it stays on the server after this command.
    auto address = Address(m_options.server);
    if (!address) return nullptr;
    rc = 0;
    return RemoteOrbis::AttachExisting(std::make_shared<ObjectConnection>(*address), *id);
  }
  const auto port = TestPort(portText);
  if (!port) {
    rc = 2;
    return nullptr;
  }
  std::unique_ptr<RemoteOrbis> object;
  if (Failed(CreateTestObject(object))) return nullptr;
  if (Failed(object->Init(*port, "Kassir123456789", "7777777777", 0, "VektaManTester"))) {
    Box("Init failed");
  }
  rc = 0;
  return object;
}

int Ctl::TestConnect() {
  const auto port = TestPort(TakeOption("--port"));
  if (!port) return 2;
  auto connection = Connect(true);
  if (!connection) return 2;
  std::string id;
  const HRESULT hr = connection->CreateObject("VektaManager.Orbis", 0, id);
  if (Failed(hr)) {
    Box("CoCreateInstanceEx failed: " + Hex(hr) + "\n");
    return 1;
  }
  HttpAnswer answer = connection->CallOnce(
      id, "Init", json::array({*port, "Kassir123456789", "7777777777", 0, "VektaManTester"}));
  const bool attached = answer.status == 200 && OkOf(answer.body).value_or(false);
  if (!attached) Box("Init failed");
  // The object lives on the server until disconnect or the end of its lease, attached or not
  // (Init may be tried again on it); the exit status says whether it is.
  std::cout << id << std::endl;
  return attached ? 0 : 1;
}

int Ctl::ShowPort() {
  const auto id = TakeOption("--object");
  if (!id) {
    std::cerr << "vektactl: show-port needs --object ID (from connect)\n";
    return 2;
  }
  if (!CheckObjectId(*id)) return 2;
  auto connection = Connect(false);
  if (!connection) return 2;
  HttpAnswer answer = connection->CallOnce(*id, "GetPortNumber", nullptr);
  if (answer.status == 0 || answer.status >= 300) return Fail(answer);
  long port = 0;
  if (answer.body.contains("out") && answer.body["out"].contains("pPortNumber")) {
    port = answer.body["out"]["pPortNumber"].get<long>();
  } else if (answer.body.contains("out") && !answer.body["out"].empty()) {
    port = answer.body["out"].begin()->get<long>();
  }
  Box("Port number is " + std::to_string(port));
  return 0;
}

int Ctl::SendRaw() {
  int rc = 0;
  auto object = Attach(rc);
  if (rc != 0) return rc;
  if (m_args.empty()) {
    std::cerr << "vektactl: send needs the command text\n";
    return 2;
  }
  const std::string command = m_args[0];
  // Characters, not bytes: a Cyrillic letter is two bytes here and one on the printer's line.
  if (std::count_if(command.begin(), command.end(),
                    [](unsigned char c) { return (c & 0xC0) != 0x80; }) > 100) {
    Box("Enter no more than 100 characters.");
    return 2;
  }
  if (Failed(object->LockPrinter(3000))) {
    Box("Unable to lock printer. Printer is locked by another application");
    return 1;
  }
  if (Failed(object->LowSendMessageToPrinter(command))) {
    Box("Unable to send message to printer");
    rc = 1;
  } else {
    for (;;) {
      std::string reply;
      if (Failed(object->LowGetNextPendingPrinterMessage(3000, &reply))) {
        reply.clear();
        Box("[ERROR] Faled to retrieve LowGetNextPendingPrinterMessage");
        rc = 1;
      }
      if (!reply.empty()) std::cout << reply << "\r\n" << std::flush;
      std::string upper = reply;
      std::transform(upper.begin(), upper.end(), upper.begin(),
                     [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      if (reply.empty() || upper == "READY") break;
    }
  }
  object->UnlockPrinter();
  return rc;
}

int Ctl::FetchXml() {
  int rc = 0;
  auto object = Attach(rc);
  if (rc != 0) return rc;
  if (Failed(object->LockPrinter(3000))) {
    Box("Unable to lock printer. Printer is locked by another application");
    return 1;
  }
  std::string xml;
  if (Succeeded(object->GetPrinterConfigXML(0, &xml))) {
    if (!xml.empty()) std::cout << xml << "\r\n";
  } else {
    Box("[ERROR] Faled to retrieve GetPrinterConfigXML");
    rc = 1;
  }
  object->UnlockPrinter();
  return rc;
}

int Ctl::TestReceipt() {
  int rc = 0;
  auto object = Attach(rc);
  if (rc != 0) return rc;
  if (Failed(object->LockPrinter(3000))) {
    Box("Unable to lock printer. Printer is locked by another application");
    return 1;
  }
  std::int32_t sum = 0;
  // Every step is tried, as the test client does, and the server reports printer errors
  // itself; the exit status says whether the receipt was printed.
  object->OpenCheck("Бакалея");
  object->FiscalLineEx("Колбаска", 2, 123, 0, 1, 0, 100, 0, "", 0, &sum);
  object->SetCurrentCheckDirection(0);
  object->FiscalLineEx("Колбаска", 1, 123, 0, 1, 0, 100, 0, "", 0, &sum);
  const bool closed = Succeeded(object->CloseCheck(&sum)) && sum > 0;
  object->UnlockPrinter();
  return closed ? 0 : 1;
}

int Ctl::ConnectPrintDisconnect() {
  const auto port = TestPort(TakeOption("--port"));
  if (!port) return 2;
  std::unique_ptr<RemoteOrbis> object;
  if (Failed(CreateTestObject(object))) return 1;
  int rc = 0;
  if (Failed(object->Init(*port, "Test", "7777777777", 1, "Test App"))) {
    Box("Init failed");
    return 1;
  }
  if (Failed(object->LockPrinter(3000))) {
    Box("Принтер занят другим приложением");
    return 1;
  }
  std::int32_t sum = 0;
  std::int32_t line = 0;
  const char* failed = nullptr;
  HRESULT hr = object->OpenCheck("Бакалея");
  if (Failed(hr)) {
    failed = "OpenCheck";
  } else if (Failed(hr = object->FiscalLineEx("Колбаска", 1, 123, 0, 1, 0, 100, 0, "", 0, &line)) ||
             line <= 0) {
    failed = "FiscalLineEx";
    // closed, it would print an empty receipt; left open, it holds the printer
    object->AbortCheck();
  } else if (Failed(hr = object->CloseCheck(&sum)) || sum <= 0) {
    // The close answers S_OK whatever the printer said: its sum tells (-1 not printed, 0 no
    // receipt was open).
    failed = "CloseCheck";
  }
  if (failed != nullptr) {
    // The printer's reason, and the code only where the call itself failed (a close the printer
    // refused answers S_OK).
    std::string why;
    const bool printerSaid = !Failed(hr) || hr == E_FAIL;  // else the call did not get through
    if (printerSaid && Failed(object->GetLastErrorMessage(&why))) why.clear();
    std::cerr << "vektactl: " << failed << " failed";
    if (Failed(hr)) std::cerr << " (" << Hex(hr) << ")";
    std::cerr << (why.empty() ? "" : ": ") << why << "\n";
    rc = 1;
  } else {
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", sum * 0.01);
    object->PutToDisplay("СУМА", text);
    std::cout << "СУМА " << text << std::endl;
  }
  object->UnlockPrinter();
  return rc;
}

int Ctl::Run() {
  if (m_args.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string command = m_args[0];
  m_args.erase(m_args.begin());
  if (command == "create") return Create();
  if (command == "call") return Call();
  if (command == "members") return Members();
  if (command == "release" || command == "disconnect" || command == "ping") {
    auto id = command == "disconnect" ? TakeOption("--object") : std::nullopt;
    if (!id && !m_args.empty()) id = m_args[0];
    if (!id) {
      std::cerr << "vektactl: " << command << " needs an object id\n";
      return 2;
    }
    if (!CheckObjectId(*id)) return 2;
    if (command == "ping") return Simple("POST", "/api/v1/objects/" + *id + "/ping");
    return Simple("DELETE", "/api/v1/objects/" + *id);
  }
  if (command == "connect") return TestConnect();
  if (command == "show-port") return ShowPort();
  if (command == "send") return SendRaw();
  if (command == "fetch-xml") return FetchXml();
  if (command == "test-receipt") return TestReceipt();
  if (command == "connect-print-disconnect") return ConnectPrintDisconnect();
  if (command == "connections") return Connections();
  if (command == "ports") return Simple("GET", "/api/v1/ports");
  if (command == "status") return Simple("GET", "/api/v1/status");
  if (command == "about") return Simple("GET", "/api/v1/about");
  if (command == "typelib") return Simple("GET", "/api/v1/typelib");
  if (command == "health") return Simple("GET", "/healthz");
  if (command == "exit") return Simple("POST", "/api/v1/app/exit");
  if (command == "settings") return Settings();
  std::cerr << "vektactl: unknown command " << command << "\n\n" << kUsage;
  return 2;
}

}  // namespace
}  // namespace vekta

int main(int argc, char** argv) {
  vekta::Options options;
  if (const char* server = std::getenv("VEKTA_SERVER")) options.server = server;
  if (const char* token = std::getenv("VEKTA_TOKEN")) options.token = token;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--server" || arg == "--token" || arg == "--cacert") && i + 1 < argc) {
      (arg == "--server"  ? options.server
       : arg == "--token" ? options.token
                          : options.caFile) = argv[++i];
    } else if (arg == "--insecure") {
      options.insecure = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << vekta::kUsage;
      return 0;
    } else if (arg == "--version") {
      std::cout << "vektactl " VEKTA_VERSION "\n";
      return 0;
    } else {
      args.push_back(arg);
    }
  }
  try {
    return vekta::Ctl(options, args).Run();
  } catch (const nlohmann::json::exception& e) {
    // the few answers read without a look at their shape first (an object's id, a port number)
    std::cerr << "vektactl: the server's answer is malformed (" << e.what() << ")\n";
    return 1;
  }
}
