#pragma once

// One HTTP connection to a VektaManager server and the object protocol requests on it. Every
// failure becomes the HRESULT a COM client would see: no server 0x800706BA, refused token
// 0x80070005, time-out 0x800705B4, a released object 0x80010108, and the server's own code for
// a refused request.

#include <chrono>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "service/hresult.h"

namespace httplib {
class Client;
}

namespace vekta {

struct ServerAddress {
  std::string host = "127.0.0.1";
  int port = 8460;
  bool tls = false;
  std::string token;  // sent as Authorization: Bearer when set
  // HTTPS: the server's certificate is checked against the system's CAs, or this file's.
  std::string caFile;
  bool insecure = false;  // skip the check (a test server's self-signed certificate)

  std::string Url() const;
  static ServerAddress At(std::string host, int port, bool tls = false, std::string token = "") {
    ServerAddress a;
    a.host = std::move(host);
    a.port = port;
    a.tls = tls;
    a.token = std::move(token);
    return a;
  }
};

// "name", "name:port", "\\name", "\\name:port", "http://name:port", "https://name:port";
// the backslashes are dropped. Nullopt for an empty or malformed name.
std::optional<ServerAddress> ParseServerName(const std::string& text, int defaultPort = 8460);

// A key no other call of any process makes: this process's random part, its id and a count.
std::string NewIdempotencyKey();

// Whether a header line can carry `value`: printable ASCII only (a line break would add lines
// of its own to the request).
bool FitsHeaderLine(std::string_view value);

struct HttpAnswer {
  HRESULT hr = S_OK;  // transport or protocol failure; S_OK when the server answered 2xx
  int status = 0;
  nlohmann::json body;
  std::string error;  // the server's error text, or what went wrong on the way
};

class ObjectConnection {
 public:
  explicit ObjectConnection(ServerAddress address,
                            std::chrono::seconds callTimeout = std::chrono::seconds(180));
  ~ObjectConnection();
  ObjectConnection(const ObjectConnection&) = delete;
  ObjectConnection& operator=(const ObjectConnection&) = delete;

  // A wait without end: the longest read the HTTP library can wait for (about 24 days).
  static constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();

  const ServerAddress& Address() const { return m_address; }

  HttpAnswer Get(const std::string& path);
  HttpAnswer Send(const std::string& method, const std::string& path, const nlohmann::json& body,
                  const std::string& idempotencyKey = "");
  // The answer of GET /healthz within `timeout`.
  bool Healthy(std::chrono::milliseconds timeout);

  // The object protocol.
  HRESULT CreateObject(const std::string& progid, std::int64_t leaseMs, std::string& objectId,
                       std::int64_t* grantedLeaseMs = nullptr);
  // `extraWait`: how long the member may wait on the server by its argument, on top of the
  // call time-out.
  HttpAnswer Call(const std::string& objectId, const std::string& member,
                  const nlohmann::json& args, const std::string& idempotencyKey = "",
                  std::chrono::milliseconds extraWait = std::chrono::milliseconds(0));
  // The call under `idempotencyKey` (a fresh one when empty), asked for once more under the
  // same key when its answer was lost on the way: a call that ran is answered from the
  // server's record, not run twice.
  HttpAnswer CallOnce(const std::string& objectId, const std::string& member,
                      const nlohmann::json& args, std::string idempotencyKey = "",
                      std::chrono::milliseconds extraWait = std::chrono::milliseconds(0));
  HRESULT Ping(const std::string& objectId);
  HRESULT Release(const std::string& objectId);
  // The same on the ping connection, beside a call still waiting for its answer (that call's
  // wait on the server ends with the object).
  HRESULT ReleaseBesideCall(const std::string& objectId);

 private:
  HttpAnswer Request(const std::string& method, const std::string& path, const nlohmann::json& body,
                     const std::string& idempotencyKey, std::chrono::milliseconds readTimeout);
  HttpAnswer Finish(const void* result, std::chrono::steady_clock::time_point started,
                    std::chrono::milliseconds readTimeout);
  // A ping or a release on the ping connection.
  HRESULT BesideCalls(bool release, const std::string& objectId);

  ServerAddress m_address;
  std::chrono::seconds m_callTimeout;
  std::mutex m_mutex;                         // one request at a time on the connection
  std::unique_ptr<httplib::Client> m_client;  // guarded by m_mutex
  std::mutex m_pingMutex;
  std::unique_ptr<httplib::Client> m_pingClient;  // guarded by m_pingMutex: pings only
};

}  // namespace vekta
