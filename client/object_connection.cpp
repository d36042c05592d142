#include "client/object_connection.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <limits>
#include <random>
#include <type_traits>

namespace vekta {

namespace {

// The body as sent, or why it is not sent: a text that is not UTF-8 (a string in the printer's
// code page, say) would go out with its bytes replaced, and "????" would print on a fiscal
// receipt reported done. The body the server would refuse is refused here, with its answer.
bool Dump(const nlohmann::json& j, std::string& text, std::string& why) {
  try {
    text = j.is_null() ? "" : j.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const nlohmann::json::type_error& e) {
    why = std::string("the body is not valid UTF-8 (") + e.what() + ")";
    return false;
  }
  return true;
}

// Another server's answer is outside input: a member of an unexpected type is taken as absent.
template <typename T>
T MemberOr(const nlohmann::json& body, const char* key, T fallback) {
  const auto found = body.find(key);
  if (found == body.end()) return fallback;
  if constexpr (std::is_same_v<T, std::string>) {
    return found->is_string() ? found->get<std::string>() : fallback;
  } else {
    return found->is_number_integer() ? found->get<T>() : fallback;
  }
}

HRESULT ParseHresult(const nlohmann::json& value, HRESULT fallback) {
  if (!value.is_string()) return fallback;
  const std::string text = value.get<std::string>();
  try {
    return static_cast<HRESULT>(static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)));
  } catch (...) {
    return fallback;
  }
}

// httplib hands the read time-out to poll() in int milliseconds: a longer one would wrap.
constexpr std::chrono::milliseconds kLongestRead(std::numeric_limits<int>::max());

void SetReadTimeout(httplib::Client& client, std::chrono::milliseconds timeout) {
  timeout = std::clamp(timeout, std::chrono::milliseconds(0), kLongestRead);
  const auto sec = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(timeout - sec);
  client.set_read_timeout(static_cast<time_t>(sec.count()), static_cast<time_t>(usec.count()));
}

// A token goes only to a server whose certificate checks out, unless told otherwise.
void ConfigureTls(httplib::Client& client, const ServerAddress& address) {
  if (!address.tls) return;
  client.enable_server_certificate_verification(!address.insecure);
  if (!address.caFile.empty()) client.set_ca_cert_path(address.caFile.c_str());
}

}  // namespace

std::string NewIdempotencyKey() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t process = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  // A forked child counts on from its parent: its process id keeps its keys its own.
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%016llx-%ld-%llu",
                static_cast<unsigned long long>(process), static_cast<long>(::getpid()),
                static_cast<unsigned long long>(++counter));
  return buffer;
}

bool FitsHeaderLine(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

std::string ServerAddress::Url() const {
  const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return std::string(tls ? "https://" : "http://") + h + ":" + std::to_string(port);
}

std::optional<ServerAddress> ParseServerName(const std::string& text, int defaultPort) {
  ServerAddress address;
  address.port = defaultPort;
  std::string rest = text;
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\\')) rest.erase(0, 1);
  while (!rest.empty() && rest.back() == ' ') rest.pop_back();
  if (rest.rfind("https://", 0) == 0) {
    address.tls = true;
    rest = rest.substr(8);
  } else if (rest.rfind("http://", 0) == 0) {
    rest = rest.substr(7);
  }
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.empty()) return std::nullopt;
  std::string portText;
  if (rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos) return std::nullopt;
    address.host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return std::nullopt;
      portText = rest.substr(close + 2);
    }
  } else if (std::count(rest.begin(), rest.end(), ':') == 1) {
    const auto colon = rest.find(':');
    address.host = rest.substr(0, colon);
    portText = rest.substr(colon + 1);
  } else {
    address.host = rest;
  }
  if (address.host.empty()) return std::nullopt;
  for (char c : address.host) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
          c == ':')) {
      return std::nullopt;
    }
  }
  if (!portText.empty() || rest.back() == ':') {
    if (portText.empty() || portText.size() > 5 ||
        !std::all_of(portText.begin(), portText.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    address.port = std::stoi(portText);
    if (address.port < 1 || address.port > 65535) return std::nullopt;
  }
  return address;
}

namespace {

// A ping is answered at once; one that is not is tried again a third of a lease later.
constexpr std::chrono::milliseconds kPingWait = std::chrono::seconds(5);

std::unique_ptr<httplib::Client> MakeClient(const ServerAddress& address,
                                            std::chrono::milliseconds readTimeout) {
  auto client = std::make_unique<httplib::Client>(address.Url());
  client->set_connection_timeout(3, 0);
  SetReadTimeout(*client, readTimeout);
  client->set_write_timeout(10, 0);
  client->set_keep_alive(true);
  client->set_tcp_nodelay(true);
  ConfigureTls(*client, address);
  if (!address.token.empty()) client->set_bearer_token_auth(address.token.c_str());
  return client;
}

}  // namespace

ObjectConnection::ObjectConnection(ServerAddress address, std::chrono::seconds callTimeout)
    : m_address(std::move(address)),
      m_callTimeout(callTimeout),
      m_client(MakeClient(m_address, m_callTimeout)),
      m_pingClient(
          MakeClient(m_address, std::min<std::chrono::milliseconds>(m_callTimeout, kPingWait))) {}

ObjectConnection::~ObjectConnection() = default;

HttpAnswer ObjectConnection::Finish(const void* resultPtr,
                                    std::chrono::steady_clock::time_point started,
                                    std::chrono::milliseconds readTimeout) {
  const auto& result = *static_cast<const httplib::Result*>(resultPtr);
  HttpAnswer answer;
  if (!result) {
    const httplib::Error err = result.error();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    answer.error = httplib::to_string(err);
    if (err == httplib::Error::ConnectionTimeout ||
        (err == httplib::Error::Read && elapsed >= readTimeout - std::chrono::seconds(1))) {
      answer.hr = ERROR_TIMEOUT_HR;
    } else {
      answer.hr = RPC_S_SERVER_UNAVAILABLE;
    }
    return answer;
  }
  answer.status = result->status;
  answer.body = nlohmann::json::parse(result->body, nullptr, false);
  if (answer.body.is_discarded()) answer.body = result->body;
  if (answer.status >= 200 && answer.status < 300) return answer;
  HRESULT fallback = E_FAIL;
  if (answer.status == 401 || answer.status == 403) fallback = E_ACCESSDENIED;
  if (answer.status == 404) fallback = RPC_E_DISCONNECTED;
  if (answer.body.is_object()) {
    answer.hr = ParseHresult(answer.body.value("hresult", nlohmann::json()), fallback);
    answer.error = MemberOr<std::string>(answer.body, "error", "");
  } else {
    answer.hr = fallback;
    answer.error = "HTTP " + std::to_string(answer.status);
  }
  if (answer.status == 401) answer.hr = E_ACCESSDENIED;
  return answer;
}

HttpAnswer ObjectConnection::Get(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto started = std::chrono::steady_clock::now();
  auto result = m_client->Get(path.c_str());
  return Finish(&result, started, m_callTimeout);
}

HttpAnswer ObjectConnection::Send(const std::string& method, const std::string& path,
                                  const nlohmann::json& body, const std::string& idempotencyKey) {
  return Request(method, path, body, idempotencyKey, m_callTimeout);
}

HttpAnswer ObjectConnection::Request(const std::string& method, const std::string& path,
                                     const nlohmann::json& body, const std::string& idempotencyKey,
                                     std::chrono::milliseconds readTimeout) {
  std::string text, why;
  if (!Dump(body, text, why)) return HttpAnswer{E_INVALIDARG, 400, nlohmann::json(), why};
  if (!FitsHeaderLine(idempotencyKey)) {
    return HttpAnswer{E_INVALIDARG, 400, nlohmann::json(),
                      "the Idempotency-Key must be printable ASCII"};
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  httplib::Headers headers;
  if (!idempotencyKey.empty()) headers.emplace("Idempotency-Key", idempotencyKey);
  if (readTimeout != m_callTimeout) SetReadTimeout(*m_client, readTimeout);
  const auto started = std::chrono::steady_clock::now();
  httplib::Result result = method == "DELETE" ? m_client->Delete(path.c_str(), headers)
                           : method == "PUT"
                               ? m_client->Put(path.c_str(), headers, text, "application/json")
                               : m_client->Post(path.c_str(), headers, text, "application/json");
  if (readTimeout != m_callTimeout) SetReadTimeout(*m_client, m_callTimeout);
  return Finish(&result, started, readTimeout);
}

bool ObjectConnection::Healthy(std::chrono::milliseconds timeout) {
  httplib::Client probe(m_address.Url());
  const auto sec = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(timeout - sec);
  probe.set_connection_timeout(static_cast<time_t>(sec.count()), static_cast<time_t>(usec.count()));
  probe.set_read_timeout(static_cast<time_t>(sec.count()), static_cast<time_t>(usec.count()));
  ConfigureTls(probe, m_address);
  if (!m_address.token.empty()) probe.set_bearer_token_auth(m_address.token.c_str());
  auto result = probe.Get("/healthz");
  return result && result->status == 200;
}

HRESULT ObjectConnection::CreateObject(const std::string& progid, std::int64_t leaseMs,
                                       std::string& objectId, std::int64_t* grantedLeaseMs) {
  nlohmann::json body = {{"progid", progid}};
  if (leaseMs > 0) body["leaseMs"] = leaseMs;
  HttpAnswer answer = Send("POST", "/api/v1/objects", body);
  if (Failed(answer.hr)) return answer.hr;
  if (!answer.body.is_object() || !answer.body.contains("object") ||
      !answer.body["object"].is_string()) {
    return E_UNEXPECTED;
  }
  objectId = answer.body["object"].get<std::string>();
  if (grantedLeaseMs) *grantedLeaseMs = MemberOr<std::int64_t>(answer.body, "leaseMs", leaseMs);
  return S_OK;
}

HttpAnswer ObjectConnection::Call(const std::string& objectId, const std::string& member,
                                  const nlohmann::json& args, const std::string& idempotencyKey,
                                  std::chrono::milliseconds extraWait) {
  // The server is silent while the member waits: the answer is due only after the wait.
  const auto wait = std::clamp(extraWait, std::chrono::milliseconds(0), kLongestRead);
  return Request("POST", "/api/v1/objects/" + objectId + "/call/" + member, args, idempotencyKey,
                 std::min<std::chrono::milliseconds>(m_callTimeout + wait, kLongestRead));
}

HttpAnswer ObjectConnection::CallOnce(const std::string& objectId, const std::string& member,
                                      const nlohmann::json& args, std::string idempotencyKey,
                                      std::chrono::milliseconds extraWait) {
  if (idempotencyKey.empty()) idempotencyKey = NewIdempotencyKey();
  HttpAnswer answer = Call(objectId, member, args, idempotencyKey, extraWait);
  if (answer.status == 0) {
    // The answer was lost on the way: ask again under the same key, so that a call that did
    // run is answered from the server's record and not run twice.
    answer = Call(objectId, member, args, idempotencyKey, extraWait);
  }
  return answer;
}

HRESULT ObjectConnection::BesideCalls(bool release, const std::string& objectId) {
  // On a connection of its own: behind a long call (a prompt, a lock wait) a ping would come
  // too late for the leases of the objects that wait for it, and a release would wait for the
  // call it is there to end.
  std::lock_guard<std::mutex> lock(m_pingMutex);
  const std::string path = "/api/v1/objects/" + objectId;
  const auto started = std::chrono::steady_clock::now();
  auto result = release ? m_pingClient->Delete(path.c_str())
                        : m_pingClient->Post((path + "/ping").c_str(), httplib::Headers{}, "",
                                             "application/json");
  return Finish(&result, started, std::min<std::chrono::milliseconds>(m_callTimeout, kPingWait)).hr;
}

HRESULT ObjectConnection::Ping(const std::string& objectId) {
  return BesideCalls(false, objectId);
}

HRESULT ObjectConnection::ReleaseBesideCall(const std::string& objectId) {
  return BesideCalls(true, objectId);
}

HRESULT ObjectConnection::Release(const std::string& objectId) {
  return Send("DELETE", "/api/v1/objects/" + objectId, nullptr).hr;
}

}  // namespace vekta
