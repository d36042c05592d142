#pragma once

// The [Server] settings of the daemon, read once at start, and the request checks that use
// them: the token for non-loopback peers, and the Host and Origin checks against DNS
// rebinding and cross-site requests from other web pages.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vekta {

class SettingsStore;

struct Endpoint {
  std::string host;  // without brackets: "127.0.0.1", "::1", "0.0.0.0", "pos.example"
  int port = 8460;
};

// "127.0.0.1:8460", "[::1]:8460", "localhost", "host:port". Nullopt when malformed.
std::optional<Endpoint> ParseEndpoint(const std::string& text, int defaultPort = 8460);

// "a, b,,c " gives {"a", "b", "c"}: the comma lists of the configuration.
std::vector<std::string> SplitList(const std::string& text);
bool IsLoopbackHost(const std::string& host);
// The peer address as the socket reports it ("127.0.0.1", "::1", "::ffff:127.0.0.1").
bool IsLoopbackPeer(const std::string& address);

struct ServerConfig {
  Endpoint listen{"127.0.0.1", 8460};
  std::string token;
  std::vector<std::string> allowedHosts;
  std::vector<std::string> allowedOrigins;  // empty: the server's own origin
  std::string certFile;
  std::string keyFile;
  // Threads for the calls that do not talk to a printer, and for the waits that must not hold
  // a port (a printer lock, pending messages, the connect dialog). Each port has its own.
  int workers = 64;
  // Open HTTP connections; one more is answered 503 and closed.
  int maxConnections = 1024;
  // Live objects of the object protocol; one more is refused with 503.
  int maxObjects = 10'000;
  // A connection's deadlines: a request's headers complete within headerDeadline (from the
  // connection's start, or from the first byte after an idle keep-alive wait), its body within
  // bodyDeadline of them; a keep-alive connection without a request is closed after
  // idleDeadline. Not settings: tests shorten them.
  std::chrono::milliseconds headerDeadline{10'000};
  std::chrono::milliseconds bodyDeadline{30'000};
  std::chrono::milliseconds idleDeadline{60'000};
  // How long a prompt waits for the page's answer before it takes its default.
  int promptTimeoutSeconds = 120;
  std::string logDirectory;

  bool Tls() const { return !certFile.empty() && !keyFile.empty(); }
  // "http://127.0.0.1:8460"
  std::string OwnOrigin() const;
};

// Reads [Server]; `listenOverride` (from --listen) wins over [Server] Listen. Sets `error` and
// returns nullopt for a Listen that cannot be parsed or a non-loopback Listen without a token.
std::optional<ServerConfig> LoadServerConfig(const SettingsStore& settings,
                                             const std::string& listenOverride, std::string& error);

struct RequestCheck {
  int status = 0;  // 0: allowed; else 401 or 403
  std::string reason;
};

// `authorization`, `host` and `origin` are the header values, empty when absent.
RequestCheck CheckRequest(const ServerConfig& config, const std::string& peerAddress,
                          const std::string& authorization, const std::string& host,
                          const std::string& origin);

bool ConstantTimeEquals(const std::string& a, const std::string& b);

}  // namespace vekta
