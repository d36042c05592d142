#include "app/http_server.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <sstream>

#include "app/argument_conversion.h"
#include "app/typelib_document.h"
#include "app/web_assets.h"
#include "link/link_stats.h"
#include "link/receipt_journal.h"
#include "platform/codepage.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"

namespace vekta {

namespace {

using nlohmann::json;

constexpr const char* kJsonType = "application/json; charset=utf-8";
constexpr std::size_t kMaxIdempotencyKey = 200;
constexpr int kMessageUnknownPrinter = 107;
// A page that has gone is noticed only when a write to it fails: the stream writes at least
// this often, so that a prompt does not wait long for a page that is no longer there.
constexpr auto kStreamHeartbeat = std::chrono::seconds(1);
constexpr std::size_t kMaxPages = 16;

std::string Dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SendJson(httplib::Response& res, int status, const json& body) {
  res.status = status;
  res.set_content(Dump(body), kJsonType);
}

void SendError(httplib::Response& res, const ProtocolError& error) {
  SendJson(res, error.status, {{"error", error.text}, {"hresult", HresultHex(error.hresult)}});
}

void SendError(httplib::Response& res, int status, HRESULT hr, std::string text) {
  SendError(res, ProtocolError{status, hr, std::move(text)});
}

// The request body as JSON: null when empty. Refuses invalid UTF-8, malformed JSON and a body
// that does not say it is JSON.
bool ParseBody(const httplib::Request& req, httplib::Response& res, json& out) {
  if (req.body.empty()) {
    out = nullptr;
    return true;
  }
  const std::string type = req.get_header_value("Content-Type");
  if (type.rfind("application/json", 0) != 0) {
    SendError(res, 415, E_INVALIDARG, "the body must be application/json");
    return false;
  }
  if (!IsValidUtf8(req.body)) {
    SendError(res, 400, E_INVALIDARG, "the body is not valid UTF-8");
    return false;
  }
  out = json::parse(req.body, nullptr, false);
  if (out.is_discarded()) {
    SendError(res, 400, E_INVALIDARG, "malformed JSON");
    return false;
  }
  return true;
}

const char* ClassName(ObjectClass cls) {
  return cls == ObjectClass::kOrbis ? "Orbis" : "VektaManager";
}

const InterfaceInfo& InterfaceOf(ObjectClass cls) {
  return cls == ObjectClass::kOrbis ? OrbisInterface() : VektaManagerInterface();
}

std::optional<ObjectClass> ClassFromName(const std::string& progid) {
  if (progid == "VektaManager.Orbis" || progid == "VektaManager.Orbis.1" || progid == "Orbis") {
    return ObjectClass::kOrbis;
  }
  if (progid == "VektaManager.Application" || progid == "VektaManager") {
    return ObjectClass::kVektaManager;
  }
  return std::nullopt;
}

bool IsEmptyArgs(const json& args) {
  return args.is_null() || ((args.is_array() || args.is_object()) && args.empty());
}

// Runs one checked call and renders its envelope.
StoredResponse RunCall(ServedObject& object, const MemberInfo& member, InvokeKind kind,
                       const std::vector<Value>& args) {
  if (object.Class() == ObjectClass::kOrbis) {
    OrbisCallResult r = object.CallOrbis(member, args);
    json out = json::object();
    for (const auto& [name, value] : r.outs) out[name] = ValueToJson(value);
    std::string name = HresultName(r.hr);
    if (name.empty()) name = HresultHex(r.hr);
    return {200,
            Dump({{"hresult", HresultHex(r.hr)},
                  {"hresultName", name},
                  {"ok", Succeeded(r.hr)},
                  {"out", out}}),
            {}};
  }
  Value v = object.CallVektaManager(member, kind, args);
  if (kind == InvokeKind::kPropertyPut) return {200, Dump({{"value", nullptr}}), {}};
  return {200, Dump({{"value", ValueToJson(v)}}), {}};
}

// Keeps a call-in-flight mark on an object for the length of a request.
class CallScope {
 public:
  CallScope(ObjectTable& table, std::shared_ptr<ObjectTable::Entry> entry)
      : m_table(table), m_entry(std::move(entry)) {}
  ~CallScope() {
    if (m_entry) m_table.EndCall(m_entry);
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  ObjectTable& m_table;
  std::shared_ptr<ObjectTable::Entry> m_entry;
};

void Dispatch(ObjectTable& objects, const httplib::Request& req, httplib::Response& res,
              const std::string& id,
              const std::function<const MemberInfo*(ObjectClass, const json&, InvokeKind&, json&,
                                                    ProtocolError&)>& resolve) {
  json body;
  if (!ParseBody(req, res, body)) return;
  const std::string key = req.get_header_value("Idempotency-Key");
  if (key.size() > kMaxIdempotencyKey) {
    SendError(res, 400, E_INVALIDARG, "Idempotency-Key is limited to 200 characters");
    return;
  }
  auto found = objects.Find(id);
  if (!found) {
    SendError(res, 404, RPC_E_DISCONNECTED, "no such object (unknown or released)");
    return;
  }
  ProtocolError error;
  InvokeKind kind = InvokeKind::kMethod;
  json args;
  const MemberInfo* member = resolve(found->object->Class(), body, kind, args, error);
  if (!member) {
    SendError(res, error);
    return;
  }
  auto values = ConvertArguments(InParameters(*member, kind), args, error);
  if (!values) {
    SendError(res, error);
    return;
  }
  // Only a request that fits counts as a call: it renews the lease and keeps the object alive.
  auto entry = objects.BeginCall(id);
  if (!entry) {
    SendError(res, 404, RPC_E_DISCONNECTED, "no such object (unknown or released)");
    return;
  }
  CallScope scope(objects, entry);
  StoredResponse response;
  {
    std::lock_guard<std::mutex> lock(entry->callMutex);
    // A key stands for one call: a repeat of that call gets its answer, any other call with the
    // same key is refused, since answering it from the record would report as done a call
    // that never ran.
    json call = json::array();
    for (const auto& value : *values) call.push_back(ValueToJson(value));
    const std::string fingerprint = std::to_string(member->dispid) + ":" +
                                    std::to_string(static_cast<int>(kind)) + ":" + call.dump();
    auto stored = key.empty() ? entry->idempotent.end() : entry->idempotent.find(key);
    if (stored != entry->idempotent.end() && stored->second.call != fingerprint) {
      SendError(res, 422, E_INVALIDARG,
                "Idempotency-Key was already used on this object for another call (another "
                "member or other arguments): nothing was run");
      return;
    }
    if (stored != entry->idempotent.end()) {
      response = stored->second;
      res.set_header("Idempotent-Replay", "true");
    } else {
      response = RunCall(*entry->object, *member, kind, *values);
      response.call = fingerprint;
      if (!key.empty()) {
        entry->idempotent.emplace(key, response);
        entry->idempotentOrder.push_back(key);
        if (entry->idempotentOrder.size() > ObjectTable::kMaxStoredResponses) {
          entry->idempotent.erase(entry->idempotentOrder.front());
          entry->idempotentOrder.pop_front();
        }
      }
    }
  }
  res.status = response.status;
  res.set_content(response.body, kJsonType);
}

}  // namespace

std::string VersionText() {
  std::string v = VEKTA_VERSION;
  for (char& c : v) {
    if (c == '.') c = ',';
  }
  return v;
}

HttpServer::HttpServer(ServerContext context) : m_context(std::move(context)) {
  const ServerConfig& config = m_context.config;
  if (config.Tls()) {
    m_server =
        std::make_unique<httplib::SSLServer>(config.certFile.c_str(), config.keyFile.c_str());
  } else {
    m_server = std::make_unique<httplib::Server>();
  }
  const int workers = config.workers;
  m_server->new_task_queue = [workers] {
    return new httplib::ThreadPool(static_cast<std::size_t>(workers));
  };
  // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, which would let a second
  // server bind the same port and take half of the first one's clients.
  m_server->set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  // Small answers must not wait for the peer's delayed acknowledgement (40 ms a call).
  m_server->set_tcp_nodelay(true);
  m_server->set_payload_max_length(kMaxBodyBytes);
  m_server->set_keep_alive_max_count(10000);
  // Each open connection holds a worker while it waits for its next request: an idle client
  // gives its worker back after 5 s.
  m_server->set_keep_alive_timeout(5);
  // A call may wait on a printer for a long report; the socket must not give up first.
  m_server->set_read_timeout(30, 0);
  m_server->set_write_timeout(30, 0);
  m_server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return;
    if (res.status == 413) {
      SendError(res, 413, E_INVALIDARG, "the body is limited to 64 KiB");
    } else if (res.status == 404) {
      SendError(res, 404, E_INVALIDARG, "no such resource");
    } else {
      SendError(res, res.status, E_INVALIDARG, "HTTP " + std::to_string(res.status));
    }
  });
  m_server->set_exception_handler(
      [](const httplib::Request& req, httplib::Response& res, std::exception_ptr caught) {
        try {
          if (caught) std::rethrow_exception(caught);
        } catch (...) {
          const std::string where = req.method + " " + req.path.substr(0, 200);
          LogCaught(where.c_str());
        }
        SendError(res, 500, E_UNEXPECTED, "internal error");
      });
  RegisterRoutes();
}

HttpServer::~HttpServer() {
  Stop();
}

bool HttpServer::Tls() const {
  return m_context.config.Tls();
}

bool HttpServer::Bind() {
  if (!m_server->is_valid()) return false;
  const ServerConfig& config = m_context.config;
  if (config.listen.port == 0) {
    m_port = m_server->bind_to_any_port(config.listen.host.c_str());
    // The own origin of the Origin check is the port actually bound.
    m_context.config.listen.port = m_port;
    return m_port > 0;
  }
  if (!m_server->bind_to_port(config.listen.host.c_str(), config.listen.port)) return false;
  m_port = config.listen.port;
  return true;
}

void HttpServer::Serve() {
  m_server->listen_after_bind();
}

void HttpServer::Stop() {
  if (m_context.events) m_context.events->Close();
  if (m_server) m_server->stop();
}

HttpServer::Handler HttpServer::Guarded(Handler handler) {
  return [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
    ++m_requests;
    const RequestCheck check =
        CheckRequest(m_context.config, req.remote_addr, req.get_header_value("Authorization"),
                     req.get_header_value("Host"), req.get_header_value("Origin"));
    if (check.status != 0) {
      ++m_refused;
      SendError(res, check.status, E_ACCESSDENIED, check.reason);
      if (check.status == 401) res.set_header("WWW-Authenticate", "Bearer");
      return;
    }
    AllowOrigin(req, res);
    {
      std::lock_guard<std::mutex> lock(m_runningMutex);
      if (m_closing) {
        SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
        return;
      }
      ++m_running;
    }
    struct Done {
      HttpServer& server;
      ~Done() {
        std::lock_guard<std::mutex> lock(server.m_runningMutex);
        if (--server.m_running == 0) server.m_runningDone.notify_all();
      }
    } done{*this};
    handler(req, res);
  };
}

void HttpServer::AllowOrigin(const httplib::Request& req, httplib::Response& res) {
  // An origin that passed the check may read the answer (a web POS page calling with fetch).
  const std::string origin = req.get_header_value("Origin");
  if (origin.empty()) return;
  res.set_header("Access-Control-Allow-Origin", origin);
  res.set_header("Vary", "Origin");
  res.set_header("Access-Control-Expose-Headers", "Idempotent-Replay");
}

void HttpServer::Preflight(const httplib::Request& req, httplib::Response& res) {
  // A browser asks before a call from another origin, without the token (it never sends
  // credentials on a preflight): Host and Origin decide; the call itself still needs the token.
  ServerConfig withoutToken = m_context.config;
  withoutToken.token.clear();
  const std::string origin = req.get_header_value("Origin");
  const RequestCheck check =
      CheckRequest(withoutToken, req.remote_addr, "", req.get_header_value("Host"), origin);
  if (origin.empty() || check.status != 0) {
    ++m_refused;
    SendError(res, origin.empty() ? 400 : check.status, E_ACCESSDENIED,
              origin.empty() ? "a preflight names its Origin" : check.reason);
    return;
  }
  AllowOrigin(req, res);
  res.set_header("Access-Control-Allow-Methods", "GET, POST, PUT, DELETE");
  res.set_header("Access-Control-Allow-Headers", "Content-Type, Idempotency-Key, Authorization");
  res.set_header("Access-Control-Max-Age", "600");
  res.status = 204;
}

void HttpServer::BeginClosing() {
  {
    std::lock_guard<std::mutex> lock(m_runningMutex);
    m_closing = true;
  }
  // ends every stream, and with the last page gone every open prompt takes its default
  if (m_context.events) m_context.events->Close();
}

void HttpServer::WaitForCalls() {
  std::unique_lock<std::mutex> lock(m_runningMutex);
  m_runningDone.wait(lock, [this] { return m_running == 0; });
}

void HttpServer::RegisterRoutes() {
  using namespace std::placeholders;
  httplib::Server& s = *m_server;
  const std::string obj = "/api/v1/objects/([^/]{1,100})";
  // Attaching, detaching and locking change the connection list that pages watch.
  auto objectCall = [this](Handler handler) {
    return Guarded(
        [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
          handler(req, res);
          PublishConnectionsIfChanged();
        });
  };
  s.Options(".*", std::bind(&HttpServer::Preflight, this, _1, _2));
  s.Post("/api/v1/objects", objectCall(std::bind(&HttpServer::CreateObject, this, _1, _2)));
  s.Post(obj + "/call/([^/]{1,100})", objectCall(std::bind(&HttpServer::CallByName, this, _1, _2)));
  s.Post(obj + "/invoke", objectCall(std::bind(&HttpServer::CallByDispid, this, _1, _2)));
  s.Post(obj + "/ping", Guarded(std::bind(&HttpServer::Ping, this, _1, _2)));
  s.Delete(obj, objectCall(std::bind(&HttpServer::ReleaseObject, this, _1, _2)));
  s.Get("/api/v1/events", Guarded(std::bind(&HttpServer::Events, this, _1, _2)));
  s.Post("/api/v1/prompts/([^/]{1,100})",
         Guarded(std::bind(&HttpServer::AnswerPrompt, this, _1, _2)));
  // The operator's page: the main window at "/", its files under "/web/".
  auto page = Guarded([](const httplib::Request& req, httplib::Response& res) {
    const WebAsset* asset = FindWebAsset(req.path);
    if (!asset) {
      SendError(res, 404, E_INVALIDARG, "no such resource");
      return;
    }
    for (const auto& [name, value] : WebAssetHeaders()) res.set_header(name, value);
    res.set_content(asset->body.data(), asset->body.size(), std::string(asset->contentType));
  });
  s.Get("/", page);
  s.Get("/web/([^/]{1,64})", page);
  s.Get("/api/v1/typelib", Guarded([](const httplib::Request&, httplib::Response& res) {
          SendJson(res, 200, TypeLibDocument());
        }));
  s.Get("/healthz", Guarded([](const httplib::Request&, httplib::Response& res) {
          res.set_content("ok\n", "text/plain");
        }));
  s.Get("/metrics", Guarded(std::bind(&HttpServer::Metrics, this, _1, _2)));
  s.Get("/api/v1/connections", Guarded(std::bind(&HttpServer::Connections, this, _1, _2)));
  // The receipts that were in doubt or left by an earlier run, and how each was settled.
  s.Get("/api/v1/receipts", Guarded([this](const httplib::Request&, httplib::Response& res) {
          json receipts = json::array();
          const std::string dir = m_context.config.logDirectory;
          ReceiptJournal journal(dir.empty() ? "" : dir + "/receipts.sqlite", true);
          for (const ReceiptJournal::Entry& e : journal.Settled(200)) {
            receipts.push_back({{"id", e.id},
                                {"port", e.port},
                                {"serialNumber", e.serial},
                                {"state", e.state},
                                {"total", e.total},
                                {"settled", e.note},
                                {"opened", e.opened},
                                {"updated", e.updated}});
          }
          SendJson(res, 200, json{{"receipts", receipts}});
        }));
  s.Get("/api/v1/status", Guarded([this](const httplib::Request&, httplib::Response& res) {
          SendJson(res, 200, m_context.status ? m_context.status() : json::object());
        }));
  s.Get("/api/v1/ports", Guarded([this](const httplib::Request&, httplib::Response& res) {
          std::vector<std::string> ports;
          if (m_context.ports) {
            ports = m_context.ports();
          } else if (m_context.settings) {
            ports = m_context.settings->ExistingPorts();
          }
          SendJson(res, 200, {{"ports", ports}});
        }));
  s.Get("/api/v1/settings", Guarded(std::bind(&HttpServer::GetSettings, this, _1, _2)));
  s.Put("/api/v1/settings", Guarded(std::bind(&HttpServer::PutSettings, this, _1, _2)));
  s.Get("/api/v1/about", Guarded(std::bind(&HttpServer::About, this, _1, _2)));
  s.Post("/api/v1/app/exit", Guarded(std::bind(&HttpServer::Exit, this, _1, _2)));
}

void HttpServer::CreateObject(const httplib::Request& req, httplib::Response& res) {
  json body;
  if (!ParseBody(req, res, body)) return;
  if (!body.is_object()) {
    SendError(res, 400, E_INVALIDARG, "expected {\"progid\":...} or {\"class\":...}");
    return;
  }
  std::optional<ObjectClass> cls;
  std::string name;
  for (const char* field : {"progid", "class"}) {
    auto it = body.find(field);
    if (it == body.end()) continue;
    if (!it->is_string()) {
      SendError(res, 400, DISP_E_TYPEMISMATCH, std::string(field) + ": a text is expected");
      return;
    }
    name = it->get<std::string>();
    cls = ClassFromName(name);
    if (!cls) {
      SendError(res, 400, REGDB_E_CLASSNOTREG, "no class " + name.substr(0, 100));
      return;
    }
  }
  if (!cls) {
    SendError(res, 400, E_INVALIDARG, "expected {\"progid\":...} or {\"class\":...}");
    return;
  }
  std::int64_t leaseMs = kDefaultLeaseMs;
  if (auto it = body.find("leaseMs"); it != body.end()) {
    if (!it->is_number_integer()) {
      SendError(res, 400, DISP_E_TYPEMISMATCH, "leaseMs: a whole number is expected");
      return;
    }
    if (it->is_number_unsigned()
            ? it->get<std::uint64_t>() > static_cast<std::uint64_t>(kMaxLeaseMs)
            : (it->get<std::int64_t>() < 1 || it->get<std::int64_t>() > kMaxLeaseMs)) {
      SendError(res, 400, DISP_E_OVERFLOW, "leaseMs: from 1 to 86400000");
      return;
    }
    leaseMs = it->get<std::int64_t>();
    if (leaseMs < 1) {
      SendError(res, 400, DISP_E_OVERFLOW, "leaseMs: from 1 to 86400000");
      return;
    }
  }
  auto object = m_context.backend->Create(*cls);
  if (!object) {
    SendError(res, 500, E_FAIL, "the object cannot be created");
    return;
  }
  const std::string id = m_context.objects->Add(std::move(object), leaseMs);
  SendJson(res, 201, {{"object", id}, {"class", ClassName(*cls)}, {"leaseMs", leaseMs}});
}

void HttpServer::CallByName(const httplib::Request& req, httplib::Response& res) {
  const std::string name = req.matches[2];
  Dispatch(
      *m_context.objects, req, res, req.matches[1],
      [&name](ObjectClass cls, const json& body, InvokeKind& kind, json& args,
              ProtocolError& error) -> const MemberInfo* {
        const MemberInfo* member = InterfaceOf(cls).FindByName(name);
        if (!member) {
          error = {400, DISP_E_UNKNOWNNAME, "no member " + name + " in " + InterfaceOf(cls).name};
          return nullptr;
        }
        args = body;
        kind = InvokeKind::kMethod;
        if (member->kind == MemberKind::kProperty) {
          kind = IsEmptyArgs(body) ? InvokeKind::kPropertyGet : InvokeKind::kPropertyPut;
          if (kind == InvokeKind::kPropertyGet) args = nullptr;
          // {"value":5} or [5] puts the property.
        }
        return member;
      });
}

void HttpServer::CallByDispid(const httplib::Request& req, httplib::Response& res) {
  Dispatch(
      *m_context.objects, req, res, req.matches[1],
      [](ObjectClass cls, const json& body, InvokeKind& kind, json& args,
         ProtocolError& error) -> const MemberInfo* {
        if (!body.is_object() || !body.contains("dispid") || !body["dispid"].is_number_integer()) {
          error = {400, DISP_E_TYPEMISMATCH, "expected {\"dispid\":N,\"args\":[...]}"};
          return nullptr;
        }
        const auto dispid = body["dispid"].get<std::int64_t>();
        const MemberInfo* member = dispid > 0 && dispid < 0x10000
                                       ? InterfaceOf(cls).FindByDispid(static_cast<int>(dispid))
                                       : nullptr;
        if (!member) {
          error = {
              400, DISP_E_UNKNOWNNAME,
              "no member with dispid " + std::to_string(dispid) + " in " + InterfaceOf(cls).name};
          return nullptr;
        }
        std::string kindText = "method";
        if (auto it = body.find("kind"); it != body.end()) {
          if (!it->is_string()) {
            error = {400, DISP_E_TYPEMISMATCH, "kind: method, propget or propput"};
            return nullptr;
          }
          kindText = it->get<std::string>();
        }
        args = body.contains("args") ? body["args"] : json(nullptr);
        const bool property = member->kind == MemberKind::kProperty;
        if (kindText == "method" || kindText == "propget") {
          // A late-binding client may get a property with a method call and call a
          // method with no arguments as a property get.
          kind = property ? InvokeKind::kPropertyGet : InvokeKind::kMethod;
        } else if (kindText == "propput" && property) {
          kind = InvokeKind::kPropertyPut;
        } else {
          error = {400, DISP_E_UNKNOWNNAME,
                   member->name + " cannot be called as " + kindText.substr(0, 20)};
          return nullptr;
        }
        return member;
      });
}

void HttpServer::Ping(const httplib::Request& req, httplib::Response& res) {
  if (!m_context.objects->Renew(req.matches[1])) {
    SendError(res, 404, RPC_E_DISCONNECTED, "no such object (unknown or released)");
    return;
  }
  SendJson(res, 200, {{"object", std::string(req.matches[1])}});
}

void HttpServer::ReleaseObject(const httplib::Request& req, httplib::Response& res) {
  if (!m_context.objects->Release(req.matches[1])) {
    SendError(res, 404, RPC_E_DISCONNECTED, "no such object (unknown or released)");
    return;
  }
  res.status = 204;
}

void HttpServer::Connections(const httplib::Request&, httplib::Response& res) {
  SendJson(res, 200, ConnectionsDocument());
}

json HttpServer::ConnectionsDocument() {
  const std::string unknown = LoadStringUtf8(kMessageUnknownPrinter).empty()
                                  ? "НЕВІДОМИЙ"
                                  : LoadStringUtf8(kMessageUnknownPrinter);
  json connections = json::array();
  json rows = json::array();
  for (const ConnectionInfo& c : m_context.backend->Connections()) {
    connections.push_back({{"port", c.port},
                           {"locked", c.locked},
                           {"serialNumber", c.serialNumber},
                           {"clients", c.clients}});
    const std::string portText = "COM" + std::to_string(c.port) + (c.locked ? " LOCKED" : "");
    const std::string serial = c.serialNumber.empty() ? unknown : c.serialNumber;
    const std::string first = c.clients.empty() || c.clients[0].empty() ? unknown : c.clients[0];
    rows.push_back({portText, serial, first});
    for (std::size_t i = 1; i < c.clients.size(); ++i) {
      rows.push_back({"", "", c.clients[i].empty() ? unknown : c.clients[i]});
    }
  }
  return {{"connections", connections}, {"rows", rows}};
}

void HttpServer::PublishConnectionsIfChanged() {
  if (!m_context.events || m_context.events->Subscribers() == 0) return;
  std::lock_guard<std::mutex> lock(m_connectionsMutex);
  json doc = ConnectionsDocument();
  if (doc == m_publishedConnections) return;
  m_publishedConnections = doc;
  m_context.events->Publish("connections", doc);
}

void HttpServer::Events(const httplib::Request&, httplib::Response& res) {
  if (!m_context.events) {
    SendError(res, 404, E_INVALIDARG, "no such resource");
    return;
  }
  // Each page holds a worker for as long as it watches: enough must stay for the calls and for
  // the answers to the prompts that hold them.
  const std::size_t maxPages =
      std::min<std::size_t>(kMaxPages, static_cast<std::size_t>(m_context.config.workers - 1) / 2);
  if (m_context.events->Subscribers() >= maxPages) {
    SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "too many pages are watching");
    return;
  }
  std::shared_ptr<EventHub::Subscription> subscription =
      m_context.events->Subscribe([this]() -> std::vector<StreamEvent> {
        // Not taken as the list last published: the other pages may not have seen it yet.
        return {{"state", m_context.status ? m_context.status() : json::object()},
                {"connections", ConnectionsDocument()}};
      });
  if (!subscription) {
    SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
    return;
  }
  res.set_header("Cache-Control", "no-cache");
  res.set_header("X-Accel-Buffering", "no");
  // The subscription ends with the response, whether the stream ended or the page left.
  res.set_chunked_content_provider(
      "text/event-stream", [this, subscription](std::size_t, httplib::DataSink& sink) {
        std::vector<StreamEvent> events;
        if (!subscription->Next(
                std::chrono::duration_cast<std::chrono::milliseconds>(kStreamHeartbeat), events)) {
          sink.done();
          return true;
        }
        if (events.empty()) {
          // lease ends and lost links change the list without a request
          PublishConnectionsIfChanged();
          const std::string beat = ":\n\n";
          return sink.write(beat.data(), beat.size());
        }
        std::string text;
        for (const StreamEvent& e : events) text += FormatStreamEvent(e);
        return sink.write(text.data(), text.size());
      });
}

void HttpServer::AnswerPrompt(const httplib::Request& req, httplib::Response& res) {
  json body;
  if (!ParseBody(req, res, body)) return;
  if (!m_context.answerPrompt) {
    SendError(res, 404, E_INVALIDARG, "no such open prompt");
    return;
  }
  const std::string id = req.matches[1];
  if (auto refused = m_context.answerPrompt(id, body)) {
    SendError(res, *refused);
    return;
  }
  json taken = {{"prompt", id}};
  if (body.contains("button")) taken["button"] = body["button"];
  if (body.contains("stopCountdown")) taken["countdownStopped"] = true;
  SendJson(res, 200, taken);
}

void HttpServer::Metrics(const httplib::Request&, httplib::Response& res) {
  std::ostringstream out;
  out << "# HELP vekta_commands_sent_total Commands sent to the printer.\n"
         "# TYPE vekta_commands_sent_total counter\n";
  std::ostringstream replies, timeouts, drops, errors, latency;
  replies << "# HELP vekta_replies_total Messages received from the printer.\n"
             "# TYPE vekta_replies_total counter\n";
  timeouts << "# HELP vekta_timeouts_total Waits for a reply that timed out.\n"
              "# TYPE vekta_timeouts_total counter\n";
  drops << "# HELP vekta_queue_drops_total Received messages dropped by a full reply queue.\n"
           "# TYPE vekta_queue_drops_total counter\n";
  errors << "# HELP vekta_error_statuses_total Error status words from the printer.\n"
            "# TYPE vekta_error_statuses_total counter\n";
  latency << "# HELP vekta_command_latency_ms Time from a command to its outcome.\n"
             "# TYPE vekta_command_latency_ms histogram\n";
  std::size_t clients = 0;
  for (const auto& c : m_context.backend->Connections()) clients += c.clients.size();
  m_context.backend->VisitLinkStats([&](std::int32_t port, LinkStats& stats) {
    const std::string label = "{port=\"COM" + std::to_string(port) + "\"";
    out << "vekta_commands_sent_total" << label << "} " << stats.commandsSent.load() << "\n";
    replies << "vekta_replies_total" << label << "} " << stats.repliesReceived.load() << "\n";
    timeouts << "vekta_timeouts_total" << label << "} " << stats.timeouts.load() << "\n";
    drops << "vekta_queue_drops_total" << label << "} " << stats.queueDrops.load() << "\n";
    for (const auto& [word, count] : stats.ErrorStatuses()) {
      std::string safe;
      for (char c : word) {
        if (c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20) safe.push_back(c);
      }
      errors << "vekta_error_statuses_total" << label << ",word=\"" << safe << "\"} " << count
             << "\n";
    }
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i < stats.latencyBuckets.size(); ++i) {
      cumulative += stats.latencyBuckets[i].load();
      const std::string le = i < LinkStats::kLatencyBoundsMs.size()
                                 ? std::to_string(LinkStats::kLatencyBoundsMs[i])
                                 : "+Inf";
      latency << "vekta_command_latency_ms_bucket" << label << ",le=\"" << le << "\"} "
              << cumulative << "\n";
    }
    latency << "vekta_command_latency_ms_sum" << label << "} " << stats.latencySumMs.load() << "\n"
            << "vekta_command_latency_ms_count" << label << "} " << stats.latencyCount.load()
            << "\n";
  });
  out << replies.str() << timeouts.str() << drops.str() << errors.str() << latency.str();
  out << "# HELP vekta_objects Live objects of the object protocol.\n"
         "# TYPE vekta_objects gauge\n"
      << "vekta_objects " << m_context.objects->Count() << "\n"
      << "# HELP vekta_clients Client attachments to printer ports.\n"
         "# TYPE vekta_clients gauge\n"
      << "vekta_clients " << clients << "\n"
      << "# HELP vekta_http_requests_total Requests to the object protocol.\n"
         "# TYPE vekta_http_requests_total counter\n"
      << "vekta_http_requests_total " << m_requests.load() << "\n"
      << "# HELP vekta_http_refused_total Requests refused for token, Host or Origin.\n"
         "# TYPE vekta_http_refused_total counter\n"
      << "vekta_http_refused_total " << m_refused.load() << "\n";
  res.set_content(out.str(), "text/plain; version=0.0.4");
}

void HttpServer::GetSettings(const httplib::Request&, httplib::Response& res) {
  SettingsStore& s = *m_context.settings;
  SendJson(res, 200, {{"SaveToLog", ReadSaveToLog(s)}, {"KeepLogFiles", ReadKeepLogFiles(s)}});
}

void HttpServer::PutSettings(const httplib::Request& req, httplib::Response& res) {
  json body;
  if (!ParseBody(req, res, body)) return;
  if (!body.is_object()) {
    SendError(res, 400, E_INVALIDARG, "expected {\"SaveToLog\":...,\"KeepLogFiles\":...}");
    return;
  }
  std::optional<bool> save;
  std::optional<std::uint32_t> days;
  for (auto it = body.begin(); it != body.end(); ++it) {
    if (it.key() == "SaveToLog") {
      if (it->is_boolean()) {
        save = it->get<bool>();
      } else if (it->is_number_integer() && (*it == 0 || *it == 1)) {
        save = *it == 1;
      } else {
        SendError(res, 400, DISP_E_TYPEMISMATCH, "SaveToLog is true or false");
        return;
      }
    } else if (it.key() == "KeepLogFiles") {
      if (!it->is_number_integer()) {
        SendError(res, 400, DISP_E_TYPEMISMATCH,
                  "KeepLogFiles must be a whole number of days from 2 to 4096");
        return;
      }
      if (it->is_number_unsigned()
              ? it->get<std::uint64_t>() > 4096
              : (it->get<std::int64_t>() < 2 || it->get<std::int64_t>() > 4096)) {
        SendError(res, 400, DISP_E_OVERFLOW,
                  "KeepLogFiles must be a whole number of days from 2 to 4096");
        return;
      }
      days = it->get<std::uint32_t>();
      if (*days < 2) {
        SendError(res, 400, DISP_E_OVERFLOW,
                  "KeepLogFiles must be a whole number of days from 2 to 4096");
        return;
      }
    } else {
      SendError(res, 400, DISP_E_UNKNOWNNAME, "no setting " + it.key().substr(0, 100));
      return;
    }
  }
  SettingsStore& s = *m_context.settings;
  bool ok = true;
  if (save) ok = s.WriteConfigDword("CurrentConfig", "SaveToLog", *save ? 1 : 0) && ok;
  if (days) ok = s.WriteConfigDword("CurrentConfig", "KeepLogFiles", *days) && ok;
  if (!ok) {
    SendError(res, 500, E_FAIL, "the settings file cannot be written: " + s.Path());
    return;
  }
  GetSettings(req, res);
}

void HttpServer::About(const httplib::Request&, httplib::Response& res) {
  std::string versionLine = LoadStringUtf8(4023);
  const auto pos = versionLine.find("%s");
  if (pos == std::string::npos) {
    versionLine = "Версія: " + VersionText();
  } else {
    versionLine.replace(pos, 2, VersionText());
  }
  SendJson(res, 200,
           {{"product", "VektaManager"},
            {"version", VersionText()},
            {"versionLine", versionLine},
            {"runMode", m_context.runMode},
            {"startedOnDemand", m_context.startedOnDemand}});
}

void HttpServer::Exit(const httplib::Request&, httplib::Response& res) {
  if (m_context.startedOnDemand || !m_context.requestExit) {
    SendError(res, 409, E_ACCESSDENIED, "started on demand: the process ends with its last object");
    return;
  }
  SendJson(res, 202, {{"exiting", true}});
  m_context.requestExit();
}

}  // namespace vekta
