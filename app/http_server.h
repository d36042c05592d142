#pragma once

// The listener of the object protocol and the operator endpoints: event-driven, on Boost.Beast
// over Boost.Asio. A few serving threads read and write every connection; they never wait for
// a printer, a prompt or a lock, since the calls run on the call executors (app/api_routes.h).
// Deadlines: a request's headers within 10 s, its body within 30 s of them, and a keep-alive
// connection closed after 60 s without a request.

#include <memory>

#include "app/api_routes.h"

namespace vekta {

class HttpServer {
 public:
  explicit HttpServer(ServerContext context);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds the listen endpoint (port 0 picks a free one). False when it cannot, or when the
  // certificate or key of TLS cannot be read.
  bool Bind();
  int Port() const;
  // Serves until Stop(); run on its own thread.
  void Serve();
  void Stop();
  bool Tls() const;
  // From now on every request is answered 503; calls already running go on.
  void BeginClosing();
  // Returns when no request is running any more.
  void WaitForCalls();

  struct Impl;  // the listener and its sessions, in the source file

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vekta
