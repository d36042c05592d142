#include "app/server_config.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/settings_store.h"

namespace vekta {

namespace {

std::string Trim(const std::string& text) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const auto e = text.find_last_not_of(" \t");
  return text.substr(b, e - b + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The host part of a Host header: "name:port", "[::1]:port", "name".
std::string HostPart(const std::string& header) {
  if (auto ep = ParseEndpoint(header)) return Lower(ep->host);
  return Lower(header);
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    item = Trim(item);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

std::optional<Endpoint> ParseEndpoint(const std::string& text, int defaultPort) {
  Endpoint ep;
  ep.port = defaultPort;
  std::string rest;
  if (text.empty()) return std::nullopt;
  if (text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos || close == 1) return std::nullopt;
    ep.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return std::nullopt;
  } else {
    const auto colon = text.find(':');
    // A bare IPv6 address has several colons and no port.
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      ep.host = text.substr(0, colon);
      rest = text.substr(colon);
    } else {
      ep.host = text;
    }
  }
  if (ep.host.empty()) return std::nullopt;
  for (char c : ep.host) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
          c == '_')) {
      return std::nullopt;
    }
  }
  if (!rest.empty()) {
    const std::string digits = rest.substr(1);
    if (digits.empty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    ep.port = std::stoi(digits);
    if (ep.port < 1 || ep.port > 65535) return std::nullopt;
  }
  return ep;
}

bool IsLoopbackHost(const std::string& host) {
  const std::string h = Lower(host);
  in_addr address{};
  // An address, not a name that begins like one: anyone can point "127.0.0.1.attacker.example"
  // at this computer.
  return h == "localhost" || h == "::1" ||
         (h.rfind("127.", 0) == 0 && inet_pton(AF_INET, h.c_str(), &address) == 1);
}

bool IsLoopbackPeer(const std::string& address) {
  if (address == "::1") return true;
  if (address.rfind("127.", 0) == 0) return true;
  return address.rfind("::ffff:127.", 0) == 0;
}

std::string ServerConfig::OwnOrigin() const {
  const std::string host =
      listen.host.find(':') != std::string::npos ? "[" + listen.host + "]" : listen.host;
  return std::string(Tls() ? "https://" : "http://") + host + ":" + std::to_string(listen.port);
}

std::optional<ServerConfig> LoadServerConfig(const SettingsStore& settings,
                                             const std::string& listenOverride,
                                             std::string& error) {
  ServerConfig config;
  const std::string listen = listenOverride.empty()
                                 ? settings.ReadString("Server", "Listen", "127.0.0.1:8460")
                                 : listenOverride;
  auto ep = ParseEndpoint(listen);
  if (!ep) {
    error = "cannot parse the listen address \"" + listen + "\"";
    return std::nullopt;
  }
  config.listen = *ep;
  config.token = settings.ReadString("Server", "Token", "");
  config.allowedHosts = SplitList(settings.ReadString("Server", "AllowedHosts", ""));
  config.allowedOrigins = SplitList(settings.ReadString("Server", "AllowedOrigins", ""));
  config.certFile = settings.ReadString("Server", "CertFile", "");
  config.keyFile = settings.ReadString("Server", "KeyFile", "");
  // Half a TLS setting would serve plain HTTP where HTTPS was meant: refused, as is a file that
  // cannot be read (it would surface later as a listener that cannot be made).
  if (config.certFile.empty() != config.keyFile.empty()) {
    error = "[Server] CertFile and KeyFile go together: set both for HTTPS, or neither";
    return std::nullopt;
  }
  for (const std::string* file : {&config.certFile, &config.keyFile}) {
    if (!file->empty() && ::access(file->c_str(), R_OK) != 0) {
      error = "[Server] " + std::string(file == &config.certFile ? "CertFile " : "KeyFile ") +
              *file + ": " + std::strerror(errno);
      return std::nullopt;
    }
  }
  const auto clamped = [](std::uint32_t value, std::uint32_t min, std::uint32_t max) {
    return static_cast<int>(std::clamp(value, min, max));
  };
  config.workers = clamped(settings.ReadConfigDword("Server", "Workers", 64), 1, 1024);
  config.maxConnections =
      clamped(settings.ReadConfigDword("Server", "MaxConnections", 1024), 1, 100'000);
  config.maxObjects =
      clamped(settings.ReadConfigDword("Server", "MaxObjects", 10'000), 1, 1'000'000);
  config.promptTimeoutSeconds =
      clamped(settings.ReadConfigDword("Server", "PromptTimeoutSeconds", 120), 1, 86400);
  config.logDirectory = DefaultLogDirectory(settings);
  // A relative folder would follow the folder each start runs in (a client's, for a start on
  // demand): the receipt journal a killed run left would not be found by the next.
  if (config.logDirectory.front() != '/') {
    error = "[Server] LogDir " + config.logDirectory + " is not an absolute path";
    return std::nullopt;
  }
  if (!IsLoopbackHost(config.listen.host) && config.token.empty()) {
    error =
        "listening on " + config.listen.host + " lets other computers in; set [Server] Token first";
    return std::nullopt;
  }
  return config;
}

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

RequestCheck CheckRequest(const ServerConfig& config, const std::string& peerAddress,
                          const std::string& authorization, const std::string& host,
                          const std::string& origin) {
  bool validToken = false;
  if (!config.token.empty()) {
    const std::string kBearer = "Bearer ";
    if (!authorization.empty()) {
      validToken = authorization.rfind(kBearer, 0) == 0 &&
                   ConstantTimeEquals(authorization.substr(kBearer.size()), config.token);
      if (!validToken) return {401, "wrong token"};
    } else if (!IsLoopbackPeer(peerAddress)) {
      return {401, "a token is needed"};
    }
  }
  if (!validToken && !host.empty()) {
    const std::string h = HostPart(host);
    bool allowed = h == Lower(config.listen.host) || h == "localhost" || IsLoopbackHost(h);
    for (const auto& name : config.allowedHosts) allowed = allowed || h == Lower(name);
    if (!allowed) return {403, "Host " + host + " is not served here"};
  }
  if (!origin.empty()) {
    // The server's own page is always let in; AllowedOrigins adds the origins of web POS pages.
    const std::string o = Lower(origin);
    const std::string scheme = config.Tls() ? "https://" : "http://";
    const std::string port = ":" + std::to_string(config.listen.port);
    bool allowed = o == Lower(config.OwnOrigin()) || o == scheme + "localhost" + port ||
                   o == scheme + "127.0.0.1" + port || o == scheme + "[::1]" + port;
    for (const auto& allowedOrigin : config.allowedOrigins) {
      allowed = allowed || o == Lower(allowedOrigin);
    }
    if (!allowed) return {403, "Origin " + origin + " may not call this server"};
  }
  return {};
}

}  // namespace vekta
