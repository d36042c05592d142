#include "app/api_routes.h"

#include "app/event_stream.h"
#include "app/metrics_text.h"
#include "app/settings_api.h"
#include "app/typelib_document.h"
#include "app/web_assets.h"
#include "link/headless_link_host.h"
#include "link/receipt_journal.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"

namespace vekta {

namespace {

using nlohmann::json;

constexpr int kMessageUnknownPrinter = 107;
constexpr int kMessageVersionLine = 4023;
constexpr std::size_t kMaxPages = 16;
constexpr std::size_t kMaxCapture = 100;

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 1;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (parts.size() == 1 && parts[0].empty()) parts.clear();  // "/"
  return parts;
}

}  // namespace

std::string VersionText() {
  std::string v = VEKTA_VERSION;
  for (char& c : v) {
    if (c == '.') c = ',';
  }
  return v;
}

ApiRouter::ApiRouter(const ServerContext& context, CallExecutors& executors,
                     std::function<std::size_t()> connections)
    : m_context(context),
      m_executors(executors),
      m_connections(std::move(connections)),
      m_calls(*context.backend, *context.objects, executors,
              [this] { PublishConnectionsIfChanged(); }) {
  context.objects->SetMaxObjects(static_cast<std::size_t>(context.config.maxObjects));
  AddRoutes();
}

void ApiRouter::Add(std::string method, const std::string& pattern, Handler handler) {
  m_routes.push_back({std::move(method), Segments(pattern), std::move(handler)});
}

void ApiRouter::Guard(const HttpRequest& req, HttpResponse& res, const Answer& answer) {
  try {
    answer(req, res);
  } catch (...) {
    const std::string where = req.method + " " + req.path.substr(0, 200);
    LogCaught(where.c_str());
    res = HttpResponse{};
    SendError(res, 500, E_UNEXPECTED, "internal error");
  }
}

ApiRouter::Handler ApiRouter::Inline(Answer answer) {
  return [answer = std::move(answer)](const HttpRequest& req, const Respond& respond) {
    HttpResponse res;
    Guard(req, res, answer);
    respond(std::move(res));
  };
}

ApiRouter::Handler ApiRouter::OnPool(Answer answer) {
  return [this, answer = std::move(answer)](const HttpRequest& req, const Respond& respond) {
    const bool posted = m_executors.Post(0, [req, respond, answer] {
      HttpResponse res;
      Guard(req, res, answer);
      respond(std::move(res));
    });
    if (!posted) {
      HttpResponse res;
      SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
      respond(std::move(res));
    }
  };
}

void ApiRouter::AddRoutes() {
  const auto calls = [this](void (ObjectCalls::*member)(const HttpRequest&, const Respond&)) {
    return [this, member](const HttpRequest& req, const Respond& respond) {
      (m_calls.*member)(req, respond);
    };
  };
  Add("POST", "/api/v1/objects", calls(&ObjectCalls::Create));
  Add("POST", "/api/v1/objects/*/call/*", calls(&ObjectCalls::CallByName));
  Add("POST", "/api/v1/objects/*/invoke", calls(&ObjectCalls::CallByDispid));
  Add("POST", "/api/v1/objects/*/ping", calls(&ObjectCalls::Ping));
  Add("DELETE", "/api/v1/objects/*", calls(&ObjectCalls::Release));
  Add("GET", "/api/v1/events",
      OnPool([this](const HttpRequest& req, HttpResponse& res) { Events(req, res); }));
  Add("POST", "/api/v1/prompts/*",
      OnPool([this](const HttpRequest& req, HttpResponse& res) { AnswerPrompt(req, res); }));
  // The operator's page: the main window at "/", its files under "/web/".
  const Handler page = Inline([](const HttpRequest& req, HttpResponse& res) {
    const WebAsset* asset = FindWebAsset(req.path);
    if (!asset) return SendError(res, 404, E_INVALIDARG, "no such resource");
    for (const auto& [name, value] : WebAssetHeaders()) res.SetHeader(name, value);
    res.SetContent(std::string(asset->body.data(), asset->body.size()),
                   std::string(asset->contentType));
  });
  Add("GET", "/", page);
  Add("GET", "/web/*", page);
  Add("GET", "/api/v1/typelib",
      Inline([](const HttpRequest&, HttpResponse& res) { SendJson(res, 200, TypeLibDocument()); }));
  // A server that takes no more objects (one started on demand, its last object gone) is not
  // one to create them on: a client waits for the next.
  Add("GET", "/healthz", Inline([this](const HttpRequest&, HttpResponse& res) {
        if (m_context.objects->Closed()) {
          return SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
        }
        res.SetContent("ok\n", "text/plain");
      }));
  Add("GET", "/metrics", OnPool([this](const HttpRequest&, HttpResponse& res) {
        const ServerCounters counters{m_context.objects->Count(), m_requests.load(),
                                      m_refused.load(), m_connections ? m_connections() : 0,
                                      m_executors.Pending()};
        res.SetContent(MetricsText(*m_context.backend, counters), "text/plain; version=0.0.4");
      }));
  Add("GET", "/api/v1/connections", OnPool([this](const HttpRequest&, HttpResponse& res) {
        SendJson(res, 200, ConnectionsDocument());
      }));
  // The receipts that were in doubt or left by an earlier run, and how each was settled.
  Add("GET", "/api/v1/receipts",
      OnPool([this](const HttpRequest&, HttpResponse& res) { Receipts(res); }));
  Add("GET", "/api/v1/status", OnPool([this](const HttpRequest&, HttpResponse& res) {
        SendJson(res, 200, m_context.status ? m_context.status() : json::object());
      }));
  Add("GET", "/api/v1/ports",
      OnPool([this](const HttpRequest&, HttpResponse& res) { Ports(res); }));
  Add("GET", "/api/v1/settings", OnPool([this](const HttpRequest&, HttpResponse& res) {
        AnswerGetSettings(*m_context.settings, res);
      }));
  Add("PUT", "/api/v1/settings", OnPool([this](const HttpRequest& req, HttpResponse& res) {
        AnswerPutSettings(*m_context.settings, req, res);
      }));
  Add("GET", "/api/v1/about",
      Inline([this](const HttpRequest&, HttpResponse& res) { About(res); }));
  Add("POST", "/api/v1/app/exit",
      Inline([this](const HttpRequest&, HttpResponse& res) { Exit(res); }));
}

bool ApiRouter::Match(const Route& route, const std::string& method,
                      const std::vector<std::string>& parts,
                      std::vector<std::string>& matches) const {
  if (route.method != method || parts.size() != route.segments.size()) return false;
  matches.resize(1);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (route.segments[i] == "*") {
      if (parts[i].empty() || parts[i].size() > kMaxCapture) return false;
      matches.push_back(parts[i]);
    } else if (route.segments[i] != parts[i]) {
      return false;
    }
  }
  return true;
}

void ApiRouter::Handle(HttpRequest req, Respond respond) {
  if (req.method == "OPTIONS") {
    HttpResponse res;
    Preflight(req, res);
    return respond(std::move(res));
  }
  // The path is split once; each route then compares its segments.
  const std::vector<std::string> parts = Segments(req.path);
  req.matches.assign(1, req.path);
  const Route* route = nullptr;
  for (const Route& r : m_routes) {
    if (Match(r, req.method, parts, req.matches)) {
      route = &r;
      break;
    }
  }
  HttpResponse res;
  if (!route) {
    // Refused as the checks would refuse it, else as unknown: nothing runs either way.
    if (Admit(req, res)) {
      SendError(res, 404, E_INVALIDARG, "no such resource");
      EndRunning();
    }
    return respond(std::move(res));
  }
  if (!Admit(req, res)) return respond(std::move(res));
  // The answer says who may read it, and the call counts as running until it is answered.
  auto headers = res.headers;
  route->handler(req, [this, headers, respond](HttpResponse answer) {
    for (const auto& [name, value] : headers) answer.SetHeader(name, value);
    respond(std::move(answer));
    EndRunning();
  });
}

void ApiRouter::EndRunning() {
  std::lock_guard<std::mutex> lock(m_runningMutex);
  if (--m_running == 0) m_runningDone.notify_all();
}

bool ApiRouter::Admit(const HttpRequest& req, HttpResponse& res) {
  ++m_requests;
  const RequestCheck check =
      CheckRequest(m_context.config, req.remoteAddress, req.Header("Authorization"),
                   req.Header("Host"), req.Header("Origin"));
  if (check.status != 0) {
    ++m_refused;
    SendError(res, check.status, E_ACCESSDENIED, check.reason);
    if (check.status == 401) res.SetHeader("WWW-Authenticate", "Bearer");
    return false;
  }
  AllowOrigin(req, res);
  std::lock_guard<std::mutex> lock(m_runningMutex);
  if (m_closing) {
    SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
    return false;
  }
  ++m_running;
  return true;
}

void ApiRouter::AllowOrigin(const HttpRequest& req, HttpResponse& res) const {
  // An origin that passed the check may read the answer (a web POS page calling with fetch).
  const std::string origin = req.Header("Origin");
  if (origin.empty()) return;
  res.SetHeader("Access-Control-Allow-Origin", origin);
  res.SetHeader("Vary", "Origin");
  res.SetHeader("Access-Control-Expose-Headers", "Idempotent-Replay");
}

void ApiRouter::Preflight(const HttpRequest& req, HttpResponse& res) {
  // A browser asks before a call from another origin, without the token (it never sends
  // credentials on a preflight): Host and Origin decide; the call itself still needs the token.
  ServerConfig withoutToken = m_context.config;
  withoutToken.token.clear();
  const std::string origin = req.Header("Origin");
  const RequestCheck check =
      CheckRequest(withoutToken, req.remoteAddress, "", req.Header("Host"), origin);
  if (origin.empty() || check.status != 0) {
    ++m_refused;
    SendError(res, origin.empty() ? 400 : check.status, E_ACCESSDENIED,
              origin.empty() ? "a preflight names its Origin" : check.reason);
    return;
  }
  AllowOrigin(req, res);
  res.SetHeader("Access-Control-Allow-Methods", "GET, POST, PUT, DELETE");
  res.SetHeader("Access-Control-Allow-Headers", "Content-Type, Idempotency-Key, Authorization");
  res.SetHeader("Access-Control-Max-Age", "600");
  res.status = 204;
}

void ApiRouter::BeginClosing() {
  {
    std::lock_guard<std::mutex> lock(m_runningMutex);
    m_closing = true;
  }
  // ends every stream, and with the last page gone every open prompt takes its default
  if (m_context.events) m_context.events->Close();
}

void ApiRouter::WaitForCalls() {
  std::unique_lock<std::mutex> lock(m_runningMutex);
  m_runningDone.wait(lock, [this] { return m_running == 0; });
}

void ApiRouter::Receipts(HttpResponse& res) const {
  json receipts = json::array();
  const std::string dir = m_context.config.logDirectory;
  const std::string path = dir.empty() ? "" : dir + "/receipts.sqlite";
  // why it cannot be read goes to the daemon's log: the page shows the 500's text only
  ReceiptJournal journal(path, true, WriteProblemLine);
  const auto settled = journal.Settled(200);
  if (!settled) return SendError(res, 500, E_FAIL, "the receipt journal cannot be read: " + path);
  for (const ReceiptJournal::Entry& e : *settled) {
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
}

void ApiRouter::Ports(HttpResponse& res) const {
  std::vector<std::string> ports;
  if (m_context.ports) {
    ports = m_context.ports();
  } else if (m_context.settings) {
    ports = m_context.settings->ExistingPorts();
  }
  SendJson(res, 200, {{"ports", ports}});
}

void ApiRouter::About(HttpResponse& res) const {
  std::string versionLine = LoadStringUtf8(kMessageVersionLine);
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

void ApiRouter::Exit(HttpResponse& res) const {
  if (m_context.startedOnDemand || !m_context.requestExit) {
    SendError(res, 409, E_ACCESSDENIED, "started on demand: the process ends with its last object");
    return;
  }
  SendJson(res, 202, {{"exiting", true}});
  m_context.requestExit();
}

void ApiRouter::Events(const HttpRequest& req, HttpResponse& res) {
  if (!m_context.events) return SendError(res, 404, E_INVALIDARG, "no such resource");
  // A stream is a watching page, and a prompt then waits for an answer. Another web site's frame
  // loads the stream as a navigation, without an Origin for the checks to refuse: the browser
  // names it as another site's. A page of an allowed origin asks with its Origin.
  const std::string site = req.Header("Sec-Fetch-Site");
  if (req.Header("Origin").empty() && !site.empty() && site != "same-origin" && site != "none") {
    return SendError(res, 403, E_ACCESSDENIED,
                     "the event stream is for the server's own page, not for another site's");
  }
  if (m_context.events->Subscribers() >= kMaxPages) {
    return SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "too many pages are watching");
  }
  auto subscription = m_context.events->Subscribe([this]() -> std::vector<StreamEvent> {
    // Not taken as the list last published: the other pages may not have seen it yet.
    return {{"state", m_context.status ? m_context.status() : json::object()},
            {"connections", ConnectionsDocument()}};
  });
  if (!subscription) {
    return SendError(res, 503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down");
  }
  res.SetHeader("Cache-Control", "no-cache");
  res.SetHeader("X-Accel-Buffering", "no");
  res.contentType = "text/event-stream";
  // The subscription ends with the stream, whether the hub closed or the page left.
  res.stream = std::make_shared<EventStream>(std::move(subscription), [this] {
    m_executors.Post(0, [this] { PublishConnectionsIfChanged(); });
  });
}

void ApiRouter::AnswerPrompt(const HttpRequest& req, HttpResponse& res) {
  json body;
  if (!ParseBody(req, res, body)) return;
  if (!m_context.answerPrompt) return SendError(res, 404, E_INVALIDARG, "no such open prompt");
  const std::string& id = req.matches[1];
  if (auto refused = m_context.answerPrompt(id, body)) return SendError(res, *refused);
  json taken = {{"prompt", id}};
  if (body.contains("button")) taken["button"] = body["button"];
  if (body.contains("stopCountdown")) taken["countdownStopped"] = true;
  SendJson(res, 200, taken);
}

json ApiRouter::ConnectionsDocument() {
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

void ApiRouter::PublishConnectionsIfChanged() {
  if (!m_context.events || m_context.events->Subscribers() == 0) return;
  std::lock_guard<std::mutex> lock(m_connectionsMutex);
  json doc = ConnectionsDocument();
  if (doc == m_publishedConnections) return;
  m_publishedConnections = doc;
  m_context.events->Publish("connections", doc);
}

}  // namespace vekta
