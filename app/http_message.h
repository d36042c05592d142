#pragma once

// A request and its answer as the handlers of the object protocol see them, apart from the
// HTTP library that carries them, with the helpers every handler uses for JSON bodies.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/protocol_error.h"

namespace vekta {

constexpr std::size_t kMaxBodyBytes = 64 * 1024;
constexpr const char* kJsonType = "application/json; charset=utf-8";

struct HttpRequest {
  std::string method;  // "GET", "POST"...
  std::string path;    // the target without its query
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string remoteAddress;         // "127.0.0.1", "::1"
  std::vector<std::string> matches;  // the route's captures; [0] is the whole path

  // The first header of that name, in any case; empty when absent.
  std::string Header(std::string_view name) const;
};

// A body that is written as it comes (the page's event stream), chunk by chunk, until it ends
// or the peer goes.
class ResponseStream {
 public:
  virtual ~ResponseStream() = default;
  // Appends what is ready to `out`. False when the stream is over.
  virtual bool Take(std::string& out) = 0;
  // `wake` is called, on any thread, whenever there may be something to take.
  virtual void SetWake(std::function<void()> wake) = 0;
  // Called at every heartbeat in which nothing was written: the text that shows the peer
  // (and the server, by a failed write) that the stream is alive.
  virtual std::string Heartbeat() = 0;
};

struct HttpResponse {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string contentType;
  std::string body;
  std::shared_ptr<ResponseStream> stream;  // set: the body is streamed, `body` is unused
  bool close = false;                      // the connection ends after this answer

  void SetHeader(std::string name, std::string value);
  void SetContent(std::string text, std::string type);
};

// Hands a finished answer back to the connection; callable from any thread, once.
using Respond = std::function<void(HttpResponse)>;

std::string Dump(const nlohmann::json& j);
void SendJson(HttpResponse& res, int status, const nlohmann::json& body);
void SendError(HttpResponse& res, const ProtocolError& error);
void SendError(HttpResponse& res, int status, HRESULT hr, std::string text);

// The request body as JSON: null when empty. Refuses (and answers) invalid UTF-8, malformed
// JSON and a body that does not say it is JSON.
bool ParseBody(const HttpRequest& req, HttpResponse& res, nlohmann::json& out);

// The path of a request target: without its query, %XX decoded.
std::string PathOf(std::string_view target);
// An answer to a request that cannot be read; the connection ends after it.
HttpResponse ErrorAnswer(int status, std::string text);

// A JSON whole number from `min` to `max`; nullopt for anything else (another type, a fraction,
// a number outside the range however large).
std::optional<std::int64_t> WholeNumberIn(const nlohmann::json& value, std::int64_t min,
                                          std::int64_t max);

}  // namespace vekta
