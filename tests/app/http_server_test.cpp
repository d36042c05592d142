// The object protocol's server over a backend that records its calls: refusals, envelopes,
// idempotency, leases, the operator's endpoints and the request checks; then the listener under
// clients that misbehave (slow, silent, pipelining, too many): each gets a clear answer or a
// closed connection, and the others are served all the while.

#include "app/http_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

#include "app/event_hub.h"
#include "link/link_stats.h"
#include "platform/settings_store.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using P = std::pair<int, std::string>;  // an HTTP status and an hresult
constexpr auto npos = std::string::npos;

// Records every call, so that a test can tell that a refused request reached no object. IOrbis
// answers S_OK, but FiscalLine E_FAIL with ThisLineSum -1; the wrapper answers 7 or a Cyrillic
// text.
class FakeBackend : public ObjectBackend {
 public:
  struct Call {
    std::string member;
    std::vector<Value> args;
  };
  std::unique_ptr<ServedObject> Create(ObjectClass cls) override {
    return std::make_unique<Object>(*this, cls);
  }
  std::vector<ConnectionInfo> Connections() override {
    return {{3, true, "AB12345678", {"POS"}}, {4, false, "", {"", "Kasa 2"}}};
  }
  void VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) override {
    visit(3, m_stats);
  }
  std::vector<Call> Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }

  std::atomic<int> live{0};
  std::atomic<int> destroyed{0};
  LinkStats m_stats;
  // Runs at the start of every IOrbis call, on the thread that runs it, with the object's port
  // (a test holds a call there, as a prompt or a long report would).
  std::function<void(const std::string& member, std::int32_t port)> onCall;

 private:
  class Object : public ServedObject {
   public:
    Object(FakeBackend& backend, ObjectClass cls) : m_backend(backend), m_class(cls) {
      ++m_backend.live;
    }
    ~Object() override {
      --m_backend.live;
      ++m_backend.destroyed;
    }
    ObjectClass Class() const override { return m_class; }
    std::int32_t Port() override { return m_port.load(); }
    OrbisCallResult CallOrbis(const MemberInfo& member, const std::vector<Value>& args) override {
      if (member.name == "Init") m_port = std::get<std::int32_t>(args[0]);  // the port it names
      if (m_backend.onCall) m_backend.onCall(member.name, m_port.load());
      m_backend.Record({member.name, args});
      OrbisCallResult r;
      if (member.name == "FiscalLine") {
        r.hr = E_FAIL;
        r.outs["ThisLineSum"] = Value(std::int32_t{-1});
      }
      return r;
    }
    Value CallVektaManager(const MemberInfo& member, InvokeKind kind,
                           const std::vector<Value>& args) override {
      m_backend.Record({member.name + (kind == InvokeKind::kPropertyPut   ? ":put"
                                       : kind == InvokeKind::kPropertyGet ? ":get"
                                                                          : ""),
                        args});
      if (member.valueType == VarType::kBstr) return Value(std::string("Сума"));
      return Value(std::int32_t{7});
    }

   private:
    FakeBackend& m_backend;
    ObjectClass m_class;
    std::atomic<std::int32_t> m_port{0};
  };

  void Record(Call call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(call));
  }

  mutable std::mutex m_mutex;
  std::vector<Call> m_calls;
};

// A connection that sends exactly the bytes it is given.
class RawConnection {
 public:
  explicit RawConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawConnection() { ::close(m_fd); }

  bool Send(const std::string& bytes) {
    return m_connected && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
  }
  // What arrives within `wait`, until `until` has been seen or the server closed.
  std::string Read(std::chrono::milliseconds wait, const std::string& until = "") {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (!m_closed && (until.empty() || m_received.find(until) == npos)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      pollfd p{m_fd, POLLIN, 0};
      char buffer[4096];
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
      m_closed = n <= 0;
      if (n > 0) m_received.append(buffer, static_cast<std::size_t>(n));
    }
    return m_received;
  }
  // The answer to `request`, read until `until` or for five seconds.
  std::string Ask(const std::string& request, const std::string& until = "") {
    return Send(request) ? Read(5s, until) : "not sent";
  }
  bool Closed() const { return m_closed; }

 private:
  int m_fd;
  bool m_connected = false;
  bool m_closed = false;
  std::string m_received;
};

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(ServerConfig{}); }
  void TearDown() override { Stop(); }

  void Start(ServerConfig config, bool onDemand = false) {
    Stop();
    m_dir = std::make_unique<TempDir>();
    m_settings = std::make_unique<SettingsStore>(m_dir->Path() + "/vektamanager.ini");
    config.listen = {"127.0.0.1", 0};
    ServerContext context;
    context.config = config;
    context.backend = &m_backend;
    context.objects = &m_objects;
    context.events = &m_events;
    context.settings = m_settings.get();
    context.startedOnDemand = onDemand;
    context.requestExit = [this] { ++m_exitRequests; };
    m_server = std::make_unique<HttpServer>(context);
    ASSERT_TRUE(m_server->Bind());
    m_thread = std::thread([this] { m_server->Serve(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    m_client->set_read_timeout(5, 0);
    WaitHealthy();
  }
  void Stop() {
    if (!m_server) return;
    m_server->Stop();
    m_thread.join();
    m_server.reset();
    m_objects.ReleaseAll();
    m_dir.reset();
  }

  static std::string Path(const std::string& id, const std::string& rest = "") {
    return "/api/v1/objects/" + id + rest;
  }
  static int Status(const httplib::Result& res) { return res ? res->status : 0; }
  httplib::Result Post(const std::string& path, const std::string& body,
                       httplib::Headers headers = {}) {
    return m_client->Post(path, headers, body, "application/json");
  }
  std::string Create(const std::string& body = R"({"progid":"VektaManager.Orbis"})") {
    auto res = Post("/api/v1/objects", body);
    EXPECT_EQ(Status(res), 201) << (res ? res->body : "");
    return res ? json::parse(res->body).value("object", "") : "";
  }
  // The parsed body of a call that must be answered with 200.
  json Answer(const std::string& path, const std::string& body) {
    auto res = Post(path, body);
    if (!res) return json("no answer");
    EXPECT_EQ(res->status, 200) << path << " " << res->body;
    return json::parse(res->body, nullptr, false);
  }
  // Waits until `count` object calls are queued or running (the metrics request is one of them
  // while it is answered).
  bool WaitQueuedCalls(int count) {
    const std::string line = "vekta_queued_calls " + std::to_string(count + 1) + "\n";
    for (int i = 0; i < 500; ++i) {
      auto res = m_client->Get("/metrics");
      if (res && res->body.find(line) != npos) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  bool Healthy() { return Status(m_client->Get("/healthz")) == 200; }
  bool WaitHealthy() {
    for (int i = 0; i < 100 && !Healthy(); ++i) std::this_thread::sleep_for(10ms);
    return Healthy();
  }
  // A call from a client of its own (so that it may run beside others); its HTTP status.
  int Call(const std::string& id, const std::string& member, const std::string& args) {
    httplib::Client client("127.0.0.1", m_server->Port());
    client.set_read_timeout(10, 0);
    return Status(client.Post(Path(id, "/call/" + member), args, "application/json"));
  }
  static std::string Head(const std::string& method, const std::string& path,
                          const std::string& extra = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
  }
  // Status and the error body's hresult.
  static P Refusal(const httplib::Result& res) {
    if (!res) return {0, ""};
    auto body = json::parse(res->body, nullptr, false);
    if (body.is_discarded() || !body.contains("error")) return {res->status, "no error body"};
    return {res->status, body.value("hresult", "")};
  }

  FakeBackend m_backend;
  EventHub m_events;
  FakeClock m_clock;  // leases run on it: the tests move it
  ObjectTable m_objects{m_clock};
  std::unique_ptr<TempDir> m_dir;
  std::unique_ptr<SettingsStore> m_settings;
  std::unique_ptr<HttpServer> m_server;
  std::thread m_thread;
  std::unique_ptr<httplib::Client> m_client;
  int m_exitRequests = 0;
};

TEST_F(HttpServerTest, BadRequestsAreRefusedWithTheirCodeAndReachNoObject) {
  const std::string id = Create();
  const std::string call = Path(id, "/call/");
  const std::string invoke = Path(id, "/invoke");
  const std::string objects = "/api/v1/objects";
  const std::tuple<std::string, std::string, int, const char*> bad[] = {
      {call + "FiscalLine", "{\"GoodsName\":", 400, "0x80070057"},
      {call + "NoSuchMember", "[]", 400, "0x80020006"},
      {call + "fiscalline", "[]", 400, "0x80020006"},
      {call + "OpenCheck", "[]", 400, "0x8002000E"},
      {call + "OpenCheck", R"(["a","b"])", 400, "0x8002000E"},
      {call + "OpenCheck", R"({"DepartmentName":"a","Extra":1})", 400, "0x8002000E"},
      {call + "OpenCheck", R"({})", 400, "0x8002000E"},
      {call + "OpenCheck", "[5]", 400, "0x80020005"},
      {call + "Feed", R"(["5"])", 400, "0x80020005"},
      {call + "Feed", "[1.5]", 400, "0x80020005"},
      {call + "Feed", "[null]", 400, "0x80020005"},
      {call + "Feed", "[2147483648]", 400, "0x8002000A"},
      {call + "Feed", "[-2147483649]", 400, "0x8002000A"},
      {call + "Feed", "[18446744073709551615]", 400, "0x8002000A"},
      {call + "PeriodicalFiscalReportDate", R"(["2024-02-30","2024-03-01"])", 400, "0x80020005"},
      {call + "OpenCheck", "[\"\xC3\x28\"]", 400, "0x80070057"},
      {call + "OpenCheck", "[\"" + std::string(4097, 'a') + "\"]", 413, "0x80070057"},
      {call + "OpenCheck", "[\"" + std::string(1 << 20, 'a') + "\"]", 413, "0x80070057"},
      {invoke, R"({"dispid":999,"args":[]})", 400, "0x80020006"},
      {invoke, R"({"dispid":"12"})", 400, "0x80020005"},
      {invoke, R"({"dispid":12,"args":[],"kind":"propput"})", 400, "0x80020006"},
      {objects + "/0123456789abcdef0123456789abcdef/call/Done", "", 404, "0x80010108"},
      {objects + "/not-an-id/call/Done", "", 404, "0x80010108"},
      {objects, R"({"progid":"Word.Application"})", 400, "0x80040154"},
      {objects, R"({"progid":"VektaManager.Orbis","leaseMs":0})", 400, "0x8002000A"},
      {objects, R"({"progid":"VektaManager.Orbis","leaseMs":86400001})", 400, "0x8002000A"},
  };
  for (const auto& [path, body, status, hresult] : bad) {
    EXPECT_EQ(Refusal(Post(path, body)), P(status, hresult)) << path << " " << body;
  }
  EXPECT_EQ(Refusal(m_client->Post(call + "OpenCheck", "[\"a\"]", "text/plain")),
            P(415, "0x80070057"));
  // A 4096-character text in Cyrillic is 8192 bytes and still fits.
  std::string cyrillic;
  for (int i = 0; i < 4096; ++i) cyrillic += "Ж";
  EXPECT_EQ(Status(Post(call + "OpenCheck", "[\"" + cyrillic + "\"]")), 200);
  ASSERT_EQ(m_backend.Calls().size(), 1u) << "only the last, good call may reach the object";
  EXPECT_EQ(m_backend.live.load(), 1);
  // A media type is the same in any case.
  EXPECT_EQ(
      Status(m_client->Post(call + "OpenCheck", "[\"a\"]", "Application/JSON; charset=UTF-8")),
      200);

  EXPECT_EQ(Status(m_client->Delete(Path(id))), 204);
  EXPECT_EQ(Refusal(Post(call + "Done", "")), P(404, "0x80010108"));
  EXPECT_EQ(Refusal(m_client->Delete(Path(id))), P(404, "0x80010108"));
  EXPECT_EQ(m_backend.destroyed.load(), 1);
}

TEST_F(HttpServerTest, ResultEnvelopesByNameAndByDispid) {
  const std::string orbis = Path(Create());
  const json line = Answer(orbis + "/call/FiscalLine",
                           R"({"GoodsName":"Хліб","Qty":2,"Price":1850,"GoodsDividual":false,)"
                           R"("Tax1Index":1,"Tax2Index":0,"Article":7})");
  EXPECT_EQ(line, json::parse(R"({"hresult":"0x80004005","hresultName":"E_FAIL","ok":false,)"
                              R"("out":{"ThisLineSum":-1}})"));
  EXPECT_EQ(Answer(orbis + "/invoke",
                   R"({"dispid":17,"args":["Хліб",2,1850,true,1,0,7],"kind":"method"})"),
            line);
  // Before 30 December 1899 the day counts backwards and the time of day forwards.
  for (const char* dates :
       {R"(["2024-01-01","1900-01-01T12:00:00"])", R"(["1899-12-29T06:00:00",-657434.5])"}) {
    EXPECT_EQ(Answer(orbis + "/call/PeriodicalFiscalReportDate", dates)["hresultName"], "S_OK");
  }
  using Args = std::vector<Value>;
  auto calls = m_backend.Calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].args, (Args{"Хліб", 2, 1850, 0, 1, 0, 7}));
  EXPECT_EQ(calls[1].args, (Args{"Хліб", 2, 1850, 1, 1, 0, 7}));
  EXPECT_EQ(calls[2].args, (Args{45292.0, 2.5}));
  EXPECT_EQ(calls[3].args, (Args{-1.25, -657434.5}));

  const std::string wrapper =
      Path(Create(R"({"progid":"VektaManager.Application","leaseMs":60000})"));
  EXPECT_EQ(Answer(wrapper + "/call/FiscalLine", R"(["Хліб",2,1850,0,1,0,7])"),
            json::parse(R"({"value":7})"));
  EXPECT_EQ(Answer(wrapper + "/invoke", R"({"dispid":67,"kind":"propget"})"),
            json::parse(R"({"value":"Сума"})"));
  EXPECT_EQ(Answer(wrapper + "/call/CheckSumm", R"({"value":5})"),
            json::parse(R"({"value":null})"));
  EXPECT_EQ(Answer(wrapper + "/call/CheckSumm", ""), json::parse(R"({"value":7})"));
  calls = m_backend.Calls();
  EXPECT_EQ(calls[calls.size() - 2].member, "CheckSumm:put");
  EXPECT_EQ(calls.back().member, "CheckSumm:get");
}

TEST_F(HttpServerTest, IdempotencyKeyAnswersARepeatFromTheRecord) {
  const std::string b = Create();
  const httplib::Headers key = {{"Idempotency-Key", "receipt-17-line-2"}};
  const std::string args = R"(["Хліб",1,100,0,1,0,1])";
  const std::string a = Create();
  const std::string call = Path(a, "/call/");
  auto first = Post(call + "FiscalLine", args, key);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->has_header("Idempotent-Replay"));
  // The key belongs to its object; without a key every call runs (three calls, checked below).
  Post(Path(b, "/call/FiscalLine"), args, key);
  Post(call + "FiscalLine", args);
  // The key stands for its call: another member, other arguments, or the next receipt's line
  // with the same key are refused and run nothing.
  for (const auto& [member, other] :
       {std::pair<std::string, std::string>{"FiscalLine", R"(["Хліб",2,100,0,1,0,1])"},
        {"CloseCheckEx", "[100,0,0,0]"},
        {"FiscalLine", R"(["Хліб",1,100,0,1,0,2])"}}) {
    auto refused = Post(call + member, other, key);
    ASSERT_EQ(Refusal(refused), P(422, "0x80070057")) << member << other;
    EXPECT_NE(refused->body.find("nothing was run"), npos);
    EXPECT_FALSE(refused->has_header("Idempotent-Replay"));
  }
  // The same call in the other form of its arguments is the same call.
  auto byName = Post(call + "FiscalLine",
                     R"({"GoodsName":"Хліб","Qty":1,"Price":100,"GoodsDividual":0,)"
                     R"("Tax1Index":1,"Tax2Index":0,"Article":1})",
                     key);
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->body, first->body);
  EXPECT_EQ(byName->get_header_value("Idempotent-Replay"), "true");
  EXPECT_EQ(
      Refusal(Post(call + "FiscalLine", args, {{"Idempotency-Key", std::string(201, 'k')}})).first,
      400);
  EXPECT_EQ(m_backend.Calls().size(), 3u);
  // What is kept of a call does not grow with its arguments: 256 records an object, each as
  // large as a request body, would let clients fill the memory.
  Post(call + "PutToDisplay", "[\"" + std::string(4000, 'x') + "\",\"\"]",
       {{"Idempotency-Key", "d"}});
  const auto entry = m_objects.Find(a);
  ASSERT_TRUE(entry);
  std::lock_guard<std::mutex> lock(entry->callMutex);
  for (const auto& [stored, answer] : entry->idempotent)
    EXPECT_LE(answer.call.size(), 64u) << stored;
}

TEST_F(HttpServerTest, LeaseEndIsTheFinalReleaseAndPingsRenewIt) {
  const std::string kept = Create(R"({"class":"Orbis","leaseMs":300})");
  const std::string dropped = Create(R"({"class":"Orbis","leaseMs":300})");
  for (int i = 0; i < 8; ++i) {
    m_clock.Advance(100ms);
    m_objects.ExpireDue();
    ASSERT_EQ(Status(Post(Path(kept, "/ping"), "")), 200);
    // A refused request is no call: it does not keep an object alive.
    if (i < 6) {
      const int status = Status(Post(Path(dropped, "/call/Feed"), "[\"x\"]"));
      EXPECT_TRUE(status == 400 || status == 404) << status;
    }
  }
  EXPECT_EQ(Status(Post(Path(dropped, "/call/Done"), "")), 404);
  EXPECT_EQ(m_backend.destroyed.load(), 1);

  // A server that ends with its last object: once that has gone it creates none, and is not
  // healthy for a client to create one on.
  EXPECT_TRUE(Healthy());
  m_objects.SetOnEmpty([] {});
  ASSERT_EQ(Status(m_client->Delete(Path(kept))), 204);
  EXPECT_FALSE(Healthy());
  const auto refused = Post("/api/v1/objects", R"({"class":"Orbis"})");
  ASSERT_EQ(Status(refused), 503);
  EXPECT_NE(refused->body.find("shutting down"), npos) << refused->body;
}

TEST_F(HttpServerTest, OperatorEndpoints) {
  const json doc = json::parse(m_client->Get("/api/v1/connections")->body);
  EXPECT_EQ(doc["rows"], json::parse(R"([["COM3 LOCKED","AB12345678","POS"],)"
                                     R"(["COM4","НЕВІДОМИЙ","НЕВІДОМИЙ"],["","","Kasa 2"]])"));
  EXPECT_EQ(doc["connections"][0]["locked"], true);

  for (const char* body :
       {R"({"KeepLogFiles":1})", R"({"KeepLogFiles":4097})", R"({"SaveToLog":"yes"})"}) {
    EXPECT_EQ(Status(m_client->Put("/api/v1/settings", body, "application/json")), 400) << body;
  }
  // A file the service cannot read is not shown as the defaults.
  m_dir->Write("vektamanager.ini", std::string("\xFF\xFE[\0C\0]\0", 8));
  const auto unreadable = m_client->Get("/api/v1/settings");
  ASSERT_EQ(Status(unreadable), 500);
  EXPECT_NE(unreadable->body.find("the settings file cannot be read"), npos);

  m_backend.m_stats.commandsSent = 5;
  m_backend.m_stats.AddLatency(7);
  m_backend.m_stats.CountErrorStatus("SOFTPAPER");
  const std::string metrics = m_client->Get("/metrics")->body;
  for (const char* line : {"vekta_commands_sent_total{port=\"COM3\"} 5",
                           "vekta_command_latency_ms_bucket{port=\"COM3\",le=\"10\"} 1",
                           "vekta_command_latency_ms_bucket{port=\"COM3\",le=\"5\"} 0",
                           "word=\"SOFTPAPER\"} 1", "vekta_clients 3"}) {
    EXPECT_NE(metrics.find(line), npos) << line;
  }

  // Another web site's frame gets no event stream: it would count as a watching page, and every
  // prompt would wait for its answer. The page's own stream, and one opened by hand, are served.
  for (const std::string site : {"cross-site", "same-site", "same-origin", "none"}) {
    RawConnection stream(m_server->Port());
    const std::string head = Head("GET", "/api/v1/events", "Sec-Fetch-Site: " + site + "\r\n\r\n");
    EXPECT_EQ(stream.Ask(head, "\r\n\r\n").rfind("HTTP/1.1 200", 0) == 0, !site.ends_with("-site"))
        << site;
  }

  EXPECT_EQ(Status(Post("/api/v1/app/exit", "")), 202);
  EXPECT_EQ(m_exitRequests, 1);
}

TEST_F(HttpServerTest, TokenHostAndOriginChecksOverHttpAndAnOnDemandProcessRefusesExit) {
  ServerConfig config;
  config.token = "s3cret";
  config.allowedHosts = {"pos.shop.lan"};
  config.allowedOrigins = {"http://pos.shop.lan"};
  Start(config, /*onDemand=*/true);
  const std::string origin = "http://127.0.0.1:" + std::to_string(m_server->Port());
  auto connections = [&](const httplib::Headers& headers) {
    return m_client->Get("/api/v1/connections", headers);
  };
  EXPECT_EQ(Refusal(connections({{"Authorization", "Bearer wrong"}})), P(401, "0x80070005"));
  EXPECT_EQ(Refusal(connections({{"Host", "evil.example:8460"}})), P(403, "0x80070005"));
  EXPECT_EQ(Refusal(connections({{"Origin", "http://evil.example"}})), P(403, "0x80070005"));
  EXPECT_EQ(
      Refusal(Post("/api/v1/objects", R"({"class":"Orbis"})", {{"Origin", "http://evil.example"}})),
      P(403, "0x80070005"));
  EXPECT_EQ(m_backend.live.load(), 0);
  EXPECT_EQ(Status(connections({{"Host", "pos.shop.lan"}})), 200);
  EXPECT_EQ(Status(connections({{"Origin", origin}})), 200)
      << "the server's own page stays allowed beside AllowedOrigins";

  // A web POS of an allowed origin: the call (with the token) says the origin may read it; a
  // preflight from another origin is refused.
  EXPECT_EQ(Status(m_client->Options("/api/v1/objects", {{"Origin", "http://evil.example"}})), 403);
  const auto call =
      connections({{"Origin", "http://pos.shop.lan"}, {"Authorization", "Bearer s3cret"}});
  ASSERT_EQ(Status(call), 200);
  EXPECT_EQ(call->get_header_value("Access-Control-Allow-Origin"), "http://pos.shop.lan");
  EXPECT_EQ(Status(Post("/api/v1/app/exit", "")), 409);
  EXPECT_EQ(m_exitRequests, 0);
}

TEST_F(HttpServerTest, SlowSilentOversizedAndPipelinedRequestsGetTheirDueWhileOthersAreServed) {
  ServerConfig config;
  config.headerDeadline = 400ms;
  config.bodyDeadline = 400ms;
  config.idleDeadline = 600ms;
  Start(config);
  const std::string typed = "Content-Type: application/json\r\nContent-Length: ";

  // Headers a byte at a time: the connection ends at the header deadline, not when they end.
  RawConnection trickler(m_server->Port());
  RawConnection silentBody(m_server->Port());
  ASSERT_TRUE(silentBody.Send(Head("POST", "/api/v1/objects", typed + "20\r\n\r\n{")));
  const std::string slow = Head("GET", "/healthz") + "X-Padding: " + std::string(200, 'a');
  const auto begin = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < slow.size() && !trickler.Closed(); ++i) {
    trickler.Send(slow.substr(i, 1));
    trickler.Read(10ms);
    if (i % 20 == 0) {
      EXPECT_TRUE(Healthy());
    }
  }
  EXPECT_TRUE(trickler.Closed());
  EXPECT_EQ(trickler.Read(10ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
  // A body that never comes: closed at the body deadline.
  silentBody.Read(2s);
  EXPECT_TRUE(silentBody.Closed());

  // No body length: a POST without parameters is taken as empty and answered at once; the
  // keep-alive connection then goes at the idle deadline.
  const std::string id = Create();
  RawConnection ask(m_server->Port());
  EXPECT_NE(ask.Ask(Head("POST", Path(id, "/ping"), "\r\n"), "}").find("HTTP/1.1 200"), npos);
  ask.Read(2s);
  EXPECT_TRUE(ask.Closed());

  // A length over the limit is refused as soon as the header says so.
  EXPECT_NE(RawConnection(m_server->Port())
                .Ask(Head("POST", "/api/v1/objects", typed + "10000000000\r\n\r\n"), "}")
                .find("HTTP/1.1 413"),
            npos);
  EXPECT_NE(
      RawConnection(m_server->Port()).Ask("NOT HTTP AT ALL\r\n\r\n", "}").find("HTTP/1.1 400"),
      npos);
  EXPECT_TRUE(Healthy());

  // Pipelined requests are answered in order; an answer to HEAD has no body.
  RawConnection pipe(m_server->Port());
  ASSERT_TRUE(pipe.Send(Head("POST", Path(id, "/call/GetPortNumber"), typed + "0\r\n\r\n") +
                        Head("GET", "/healthz", "\r\n") + Head("HEAD", "/api/v1/nothing", "\r\n") +
                        Head("GET", "/api/v1/nothing", "\r\n") +
                        Head("POST", Path(id, "/ping"), "Connection: close\r\n\r\n")));
  const std::string answers = pipe.Read(5s);
  EXPECT_TRUE(pipe.Closed());
  std::vector<std::string> statuses;
  for (auto at = answers.find("HTTP/1.1 "); at != npos; at = answers.find("HTTP/1.1 ", at + 1))
    statuses.push_back(answers.substr(at + 9, 3));
  ASSERT_EQ(statuses, (std::vector<std::string>{"200", "200", "404", "404", "200"})) << answers;
  const auto call = answers.find("\"hresult\"");
  const auto health = answers.find("ok\n");
  const auto missing = answers.find("HTTP/1.1 404");
  const auto ping = answers.find("{\"object\"");
  EXPECT_EQ(answers.find("\r\n\r\nHTTP/1.1 404"), answers.find("\r\n\r\n", health)) << answers;
  EXPECT_TRUE(call < health && health < missing && missing < ping) << answers;
}

TEST_F(HttpServerTest, ConnectionsAndObjectsBeyondTheirLimitsAreRefusedWithAReason) {
  ServerConfig config;
  config.maxConnections = 3;
  config.maxObjects = 2;
  Start(config);
  ASSERT_FALSE(Create().empty());
  ASSERT_FALSE(Create().empty());
  auto full = Post("/api/v1/objects", R"({"class":"Orbis"})");
  ASSERT_EQ(Status(full), 503);
  EXPECT_NE(full->body.find("MaxObjects"), npos);
  EXPECT_EQ(m_backend.live.load(), 2);

  // The test's own client closes its connection after each request, but the server may count
  // those until it has seen them close: a held connection refused for them is tried again. An
  // answered request shows that the server has taken the connection.
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int tries = 0; held.size() < 3 && tries < 100; ++tries) {
    auto connection = std::make_unique<RawConnection>(m_server->Port());
    if (connection->Ask(Head("GET", "/healthz", "\r\n"), "ok\n").find("ok\n") != npos) {
      held.push_back(std::move(connection));
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
  ASSERT_EQ(held.size(), 3u);
  RawConnection beyond(m_server->Port());
  EXPECT_NE(beyond.Read(2s).find("HTTP/1.1 503"), npos);
  EXPECT_TRUE(beyond.Closed());
  held.clear();
  EXPECT_TRUE(WaitHealthy()) << "a closed connection did not give its place back";
}

// Holds every printer call of `held` until Release(), and records as member@port the order in
// which the calls other than Init began.
class CallGate {
 public:
  CallGate(FakeBackend& backend, std::string held) : m_backend(backend) {
    backend.onCall = [this, held](const std::string& member, std::int32_t port) {
      if (member == "Init") return;
      std::unique_lock<std::mutex> lock(m_mutex);
      m_order.push_back(member + "@" + std::to_string(port));
      if (member != held) return;
      ++m_holding;
      m_changed.notify_all();
      m_changed.wait_for(lock, 10s, [this] { return m_released; });
    };
  }
  ~CallGate() { m_backend.onCall = nullptr; }
  // Whether `count` calls are held within five seconds.
  bool Holding(int count = 1) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, 5s, [&] { return m_holding >= count; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_changed.notify_all();
  }
  std::vector<std::string> Order() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_order;
  }

 private:
  FakeBackend& m_backend;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  int m_holding = 0;
  bool m_released = false;
  std::vector<std::string> m_order;
};

using Order = std::vector<std::string>;

// A call held on one port (a prompt, a long report) holds that port's later calls, and only
// them: another port prints, and what does not talk to the printer is answered at once. A port
// numbered past 255 has a queue of its own too. The call that waits in the queue keeps its object
// alive past the lease it had when it came.
TEST_F(HttpServerTest, ACallHeldOnOnePortHoldsOnlyThatPortsQueue) {
  CallGate gate(m_backend, "XReport");
  const std::string first = Create();
  const std::string second = Create(R"({"class":"Orbis","leaseMs":300})");
  const std::string other = Create();
  ASSERT_EQ(Call(first, "Init", R"([300,"K","1",0,"A"])"), 200);
  ASSERT_EQ(Call(second, "Init", R"([300,"K","1",0,"B"])"), 200);
  ASSERT_EQ(Call(other, "Init", R"([2,"K","1",0,"C"])"), 200);

  std::thread held([&] { EXPECT_EQ(Call(first, "XReport", "[]"), 200); });
  ASSERT_TRUE(gate.Holding());
  m_clock.Advance(250ms);
  std::thread queued([&] { EXPECT_EQ(Call(second, "OpenCheck", R"(["1"])"), 200); });
  EXPECT_TRUE(WaitQueuedCalls(2));
  m_clock.Advance(400ms);
  m_objects.ExpireDue();
  EXPECT_EQ(Call(other, "OpenCheck", R"(["1"])"), 200);
  EXPECT_EQ(Call(second, "GetCheckSum", "[]"), 200);
  EXPECT_EQ(gate.Order(), (Order{"XReport@300", "OpenCheck@2", "GetCheckSum@300"}));
  gate.Release();
  held.join();
  queued.join();
  EXPECT_EQ(gate.Order(),
            (Order{"XReport@300", "OpenCheck@2", "GetCheckSum@300", "OpenCheck@300"}));
}

// One object's wait off the port (pending messages) holds back that object's next printer call,
// and nothing else: the port's executor serves the other clients meanwhile.
TEST_F(HttpServerTest, AnObjectsWaitHoldsOnlyThatObjectsNextCall) {
  CallGate gate(m_backend, "LowGetNextPendingPrinterMessage");
  const std::string a = Create();
  const std::string b = Create();
  ASSERT_EQ(Call(a, "Init", R"([1,"K","1",0,"A"])"), 200);
  ASSERT_EQ(Call(b, "Init", R"([1,"K","1",0,"B"])"), 200);

  std::thread wait([&] { EXPECT_EQ(Call(a, "LowGetNextPendingPrinterMessage", "[60000]"), 200); });
  ASSERT_TRUE(gate.Holding());
  std::thread next([&] { EXPECT_EQ(Call(a, "OpenCheck", R"(["1"])"), 200); });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Call(b, "Feed", "[1]"), 200);
  EXPECT_EQ(gate.Order(), (Order{"LowGetNextPendingPrinterMessage@1", "Feed@1"}));
  gate.Release();
  wait.join();
  next.join();
  EXPECT_EQ(gate.Order(), (Order{"LowGetNextPendingPrinterMessage@1", "Feed@1", "OpenCheck@1"}));
}

// Waits off the port that take every worker kept ready hold back neither the unlock that would
// end them nor a new object.
TEST_F(HttpServerTest, WaitsThatTakeEveryWorkerHoldBackNoOtherCall) {
  ServerConfig config;
  config.workers = 2;
  Start(config);
  CallGate gate(m_backend, "LockPrinter");
  const std::string holder = Create();
  std::vector<std::thread> waits;
  for (int i = 0; i < 3; ++i) {
    waits.emplace_back([this, id = Create()] { EXPECT_EQ(Call(id, "LockPrinter", "[-1]"), 200); });
  }
  EXPECT_TRUE(gate.Holding(3));
  httplib::Client quick("127.0.0.1", m_server->Port());
  quick.set_read_timeout(2, 0);
  EXPECT_EQ(Status(quick.Post(Path(holder, "/call/UnlockPrinter"), "[]", "application/json")), 200);
  EXPECT_EQ(Status(quick.Post("/api/v1/objects", R"({"class":"Orbis"})", "application/json")), 201);
  gate.Release();
  for (std::thread& t : waits) t.join();
}

}  // namespace
}  // namespace vekta
