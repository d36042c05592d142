#pragma once

// The HTTP/JSON object protocol and the operator endpoints, on cpp-httplib.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/event_hub.h"
#include "app/object_backend.h"
#include "app/object_table.h"
#include "app/protocol_error.h"
#include "app/server_config.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vekta {

class SettingsStore;

constexpr std::size_t kMaxBodyBytes = 64 * 1024;

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

class HttpServer {
 public:
  explicit HttpServer(ServerContext context);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listen endpoint (port 0 picks a free one). False when it cannot.
  bool Bind();
  int Port() const { return m_port; }
  // Serves until Stop(); run on its own thread.
  void Serve();
  void Stop();
  bool Tls() const;
  // From now on every request is answered 503; calls already running go on.
  void BeginClosing();
  // Returns when no request is running any more.
  void WaitForCalls();

 private:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  Handler Guarded(Handler handler);
  // CORS: the answer to an allowed Origin says it may be read; OPTIONS answers a preflight.
  static void AllowOrigin(const httplib::Request& req, httplib::Response& res);
  void Preflight(const httplib::Request& req, httplib::Response& res);
  void RegisterRoutes();

  void CreateObject(const httplib::Request& req, httplib::Response& res);
  void CallByName(const httplib::Request& req, httplib::Response& res);
  void CallByDispid(const httplib::Request& req, httplib::Response& res);
  void Ping(const httplib::Request& req, httplib::Response& res);
  void ReleaseObject(const httplib::Request& req, httplib::Response& res);
  void Connections(const httplib::Request& req, httplib::Response& res);
  void Metrics(const httplib::Request& req, httplib::Response& res);
  void GetSettings(const httplib::Request& req, httplib::Response& res);
  void PutSettings(const httplib::Request& req, httplib::Response& res);
  void About(const httplib::Request& req, httplib::Response& res);
  void Exit(const httplib::Request& req, httplib::Response& res);
  void Events(const httplib::Request& req, httplib::Response& res);
  void AnswerPrompt(const httplib::Request& req, httplib::Response& res);
  nlohmann::json ConnectionsDocument();
  // Publishes the connection list when it differs from the one published last.
  void PublishConnectionsIfChanged();

  ServerContext m_context;
  std::unique_ptr<httplib::Server> m_server;
  int m_port = 0;
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
