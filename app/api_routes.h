#pragma once

// The routes of the object protocol and of the operator endpoints: the checks every request
// passes first (token, Host, Origin, shutting down), which handler answers it, and on which
// thread. What may block (a call that talks to a printer, a lock wait, a file) runs on the
// call executors; the serving threads only route.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/call_executors.h"
#include "app/event_hub.h"
#include "app/http_message.h"
#include "app/object_backend.h"
#include "app/object_calls.h"
#include "app/object_table.h"
#include "app/server_config.h"

namespace vekta {

class SettingsStore;

struct ServerContext {
  ServerConfig config;
  ObjectBackend* backend = nullptr;
  ObjectTable* objects = nullptr;
  SettingsStore* settings = nullptr;
  bool startedOnDemand = false;
  std::string runMode = "normal";  // "normal", "embedding", "automation"
  // "Вихід з програми"; not offered when started on demand.
  std::function<void()> requestExit;
  // The status windows and recent messages, for GET /api/v1/status.
  std::function<nlohmann::json()> status;
  // The COM names of the ports that exist (ports of the in-process simulator included).
  std::function<std::vector<std::string>()> ports;
  // The page's event stream (GET /api/v1/events); none: the endpoint answers 404.
  EventHub* events = nullptr;
  // Answers an open prompt (POST /api/v1/prompts/{ID}); nullopt when the answer is taken.
  std::function<std::optional<ProtocolError>(const std::string& id, const nlohmann::json& answer)>
      answerPrompt;
};

class ApiRouter {
 public:
  // `connections` tells the metrics how many HTTP connections are open.
  ApiRouter(const ServerContext& context, CallExecutors& executors,
            std::function<std::size_t()> connections);
  ApiRouter(const ApiRouter&) = delete;
  ApiRouter& operator=(const ApiRouter&) = delete;

  // Answers through `respond`, at once or later from an executor; exactly once.
  void Handle(HttpRequest req, Respond respond);
  // From now on every request is answered 503; calls already running go on.
  void BeginClosing();
  // Returns when no request is running any more.
  void WaitForCalls();

  const ServerConfig& Config() const { return m_context.config; }
  void SetListenPort(int port) { m_context.config.listen.port = port; }

 private:
  using Handler = std::function<void(const HttpRequest&, const Respond&)>;
  using Answer = std::function<void(const HttpRequest&, HttpResponse&)>;
  struct Route {
    std::string method;
    std::vector<std::string> segments;  // "*" takes one segment of 1 to 100 characters
    Handler handler;
  };

  void AddRoutes();
  void Add(std::string method, const std::string& pattern, Handler handler);
  // A handler that answers on the serving thread: it must not block.
  Handler Inline(Answer answer);
  // A handler that answers on the pool.
  Handler OnPool(Answer answer);
  // Runs `answer`, turning whatever it throws into a logged 500.
  static void Guard(const HttpRequest& req, HttpResponse& res, const Answer& answer);
  // `parts` are the path's segments; `matches` keeps the whole path at [0].
  bool Match(const Route& route, const std::string& method, const std::vector<std::string>& parts,
             std::vector<std::string>& matches) const;
  // The request's checks; false (and `res` set) when refused.
  // Counts the request as running until EndRunning.
  bool Admit(const HttpRequest& req, HttpResponse& res);
  void EndRunning();
  void AllowOrigin(const HttpRequest& req, HttpResponse& res) const;
  void Preflight(const HttpRequest& req, HttpResponse& res);

  void Receipts(HttpResponse& res) const;
  void Ports(HttpResponse& res) const;
  void About(HttpResponse& res) const;
  void Exit(HttpResponse& res) const;
  void Events(const HttpRequest& req, HttpResponse& res);
  void AnswerPrompt(const HttpRequest& req, HttpResponse& res);
  nlohmann::json ConnectionsDocument();
  // Publishes the connection list when it differs from the one published last.
  void PublishConnectionsIfChanged();

  ServerContext m_context;
  CallExecutors& m_executors;
  std::function<std::size_t()> m_connections;
  ObjectCalls m_calls;
  std::vector<Route> m_routes;
  std::atomic<std::uint64_t> m_requests{0};
  std::atomic<std::uint64_t> m_refused{0};
  std::mutex m_runningMutex;
  std::condition_variable m_runningDone;
  int m_running = 0;       // guarded by m_runningMutex
  bool m_closing = false;  // guarded by m_runningMutex
  std::mutex m_connectionsMutex;
  nlohmann::json m_publishedConnections;  // guarded by m_connectionsMutex
};

// The version as the About box shows it: "1,5,0,15".
std::string VersionText();

}  // namespace vekta
