// The object protocol as a client reaches it: any request on any route, over loopback HTTP to a
// real server with objects that answer at once. Whatever comes, the server answers; it never
// fails inside a handler (500), and every answer of the API is a JSON document.
//
// Input: a route byte, a header byte, then a name (the member, object id, prompt id or path of
// the route), a newline and the body.

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/http_server.h"
#include "fuzz/fuzz_check.h"
#include "link/link_stats.h"
#include "platform/settings_store.h"

namespace {

using namespace vekta;

// Objects that answer every call at once and keep nothing.
class QuietBackend final : public ObjectBackend {
 public:
  std::unique_ptr<ServedObject> Create(ObjectClass cls) override {
    return std::make_unique<Object>(cls);
  }
  std::vector<ConnectionInfo> Connections() override { return {{3, true, "AB12345678", {"POS"}}}; }
  void VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) override {
    visit(3, m_stats);
  }

 private:
  class Object final : public ServedObject {
   public:
    explicit Object(ObjectClass cls) : m_class(cls) {}
    ObjectClass Class() const override { return m_class; }
    OrbisCallResult CallOrbis(const MemberInfo& member, const std::vector<Value>&) override {
      OrbisCallResult result;
      if (const ParamInfo* out = member.OutParam()) {
        result.outs[out->name] = out->type == VarType::kBstr   ? Value(std::string("Сума"))
                                 : out->type == VarType::kDate ? Value(45000.5)
                                                               : Value(std::int32_t{7});
      }
      return result;
    }
    Value CallVektaManager(const MemberInfo& member, InvokeKind,
                           const std::vector<Value>&) override {
      if (member.valueType == VarType::kBstr) return Value(std::string("Сума"));
      return Value(std::int32_t{7});
    }

   private:
    ObjectClass m_class;
  };
  LinkStats m_stats;
};

// Bytes outside the unreserved set are percent-encoded, so that any name reaches the handler.
std::string PathPart(const std::string& raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : raw) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// A header value cannot carry line breaks or NULs on the wire.
std::string HeaderValue(const std::string& raw) {
  std::string out;
  for (const char c : raw) {
    if (c != '\r' && c != '\n' && c != '\0') out += c;
  }
  return out;
}

class Harness {
 public:
  Harness() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    m_dir = std::string(base) + "/vekta-http-fuzz-" + std::to_string(::getpid());
    std::filesystem::create_directories(m_dir);
    m_settings = std::make_unique<SettingsStore>(m_dir + "/vektamanager.ini");
    ServerContext context;
    context.config.listen = {"127.0.0.1", 0};
    context.backend = &m_backend;
    context.objects = &m_objects;
    context.settings = m_settings.get();
    context.requestExit = [] {};
    m_server = std::make_unique<HttpServer>(context);
    FUZZ_CHECK(m_server->Bind(), "the server cannot listen on loopback");
    m_thread = std::thread([this] { m_server->Serve(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    m_client->set_keep_alive(true);
    m_client->set_tcp_nodelay(true);
    for (int i = 0; i < 200 && !m_client->Get("/healthz"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~Harness() {
    m_client.reset();
    m_server->Stop();
    m_thread.join();
    m_server.reset();
    m_objects.Shutdown();
    std::filesystem::remove_all(m_dir);
  }

  void Run(std::uint8_t route, std::uint8_t headerBits, const std::string& name,
           const std::string& body) {
    if (m_objects.Count() > 64) m_objects.ReleaseAll();
    const std::string orbis = "/api/v1/objects/" + Object(m_orbis, "VektaManager.Orbis");
    const std::string manager = "/api/v1/objects/" + Object(m_manager, "VektaManager");
    const std::string part = PathPart(name);

    httplib::Headers headers;
    if (headerBits & 1) headers.emplace("Idempotency-Key", HeaderValue(name));
    if (headerBits & 2) headers.emplace("Origin", HeaderValue(name));
    if (headerBits & 4) headers.emplace("Authorization", "Bearer " + HeaderValue(name));
    if (headerBits & 8) headers.emplace("Content-Type", HeaderValue(name));

    const int pick = route % 11;
    const bool api = pick != 9;
    const bool mayFailInside = pick == 7;  // a settings file that cannot be written is a 500
    auto send = [&]() -> httplib::Result {
      const char* json = "application/json";
      switch (pick) {
        case 0:
          return m_client->Post("/api/v1/objects", headers, body, json);
        case 1:
          return m_client->Post(orbis + "/call/" + part, headers, body, json);
        case 2:
          return m_client->Post(manager + "/call/" + part, headers, body, json);
        case 3:
          return m_client->Post(orbis + "/invoke", headers, body, json);
        case 4:
          return m_client->Post(manager + "/invoke", headers, body, json);
        case 5:
          return m_client->Post("/api/v1/objects/" + part + "/ping", headers, body, "text/plain");
        case 6:
          return m_client->Delete("/api/v1/objects/" + part, headers);
        case 7:
          return m_client->Put("/api/v1/settings", headers, body, json);
        case 8:
          return m_client->Post("/api/v1/prompts/" + part, headers, body, json);
        case 9:
          return m_client->Get("/" + part, headers);
        default:
          return m_client->Post(orbis + "/call/GetCheckSum", headers, body, json);
      }
    };
    const httplib::Result res = send();
    FUZZ_CHECK(res, "the server did not answer");
    FUZZ_CHECK(res->status != 500 || mayFailInside, "a handler failed inside (500)");
    if (api && res->status != 204) {
      FUZZ_CHECK(!nlohmann::json::parse(res->body, nullptr, false).is_discarded(),
                 "an API answer that is not JSON");
    }
  }

 private:
  // The id of a live object of the class, made anew when a request released it.
  std::string Object(std::string& id, const char* progid) {
    if (id.empty() || !m_objects.Find(id)) {
      auto res = m_client->Post("/api/v1/objects", "{\"progid\":\"" + std::string(progid) + "\"}",
                                "application/json");
      FUZZ_CHECK(res && res->status == 201, "an object cannot be made");
      id = nlohmann::json::parse(res->body).value("object", "");
    }
    return id;
  }

  std::string m_dir;
  QuietBackend m_backend;
  RealClock m_clock;
  ObjectTable m_objects{m_clock};
  std::unique_ptr<SettingsStore> m_settings;
  std::unique_ptr<HttpServer> m_server;
  std::thread m_thread;
  std::unique_ptr<httplib::Client> m_client;
  std::string m_orbis;
  std::string m_manager;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  if (size < 2) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::size_t newline = rest.find('\n');
  const std::string name = rest.substr(0, std::min<std::size_t>(newline, 300));
  const std::string body = newline == std::string::npos ? "" : rest.substr(newline + 1);
  harness.Run(data[0], data[1], name, body);
  return 0;
}
