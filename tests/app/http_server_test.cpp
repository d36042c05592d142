#include "app/http_server.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "platform/settings_store.h"
#include "tests/app/fake_backend.h"

namespace vekta {
namespace {

using nlohmann::json;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(ServerConfig{}); }
  void TearDown() override { Stop(); }

  void Start(ServerConfig config, bool onDemand = false) {
    char dir[] = "/tmp/vekta-http-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    m_dir = dir;
    m_settings = std::make_unique<SettingsStore>(m_dir + "/vektamanager.ini");
    config.listen = {"127.0.0.1", 0};
    m_config = config;
    ServerContext context;
    context.config = config;
    context.backend = &m_backend;
    context.objects = &m_objects;
    context.settings = m_settings.get();
    context.startedOnDemand = onDemand;
    context.requestExit = [this] { ++m_exitRequests; };
    m_server = std::make_unique<HttpServer>(context);
    ASSERT_TRUE(m_server->Bind());
    m_thread = std::thread([this] { m_server->Serve(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    for (int i = 0; i < 100 && !m_client->Get("/healthz"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void Stop() {
    if (!m_server) return;
    m_server->Stop();
    m_thread.join();
    m_server.reset();
    m_objects.ReleaseAll();
    std::system(("rm -rf " + m_dir).c_str());
  }

  httplib::Result Post(const std::string& path, const std::string& body,
                       httplib::Headers headers = {}) {
    return m_client->Post(path.c_str(), headers, body, "application/json");
  }
  std::string Create(const std::string& body = R"({"progid":"VektaManager.Orbis"})") {
    auto res = Post("/api/v1/objects", body);
    EXPECT_TRUE(res);
    if (!res) return "";
    EXPECT_EQ(res->status, 201) << res->body;
    return json::parse(res->body).value("object", "");
  }
  // The parsed body of a call that must be answered with 200.
  json Answer(const std::string& path, const std::string& body) {
    auto res = Post(path, body);
    if (!res) return json("no answer");
    EXPECT_EQ(res->status, 200) << path << " " << res->body;
    return json::parse(res->body, nullptr, false);
  }
  // Status and the error body's hresult.
  std::pair<int, std::string> Refusal(const httplib::Result& res) {
    if (!res) return {0, ""};
    auto body = json::parse(res->body, nullptr, false);
    if (body.is_discarded() || !body.contains("error")) return {res->status, "no error body"};
    return {res->status, body.value("hresult", "")};
  }

  FakeBackend m_backend;
  // Leases run on this clock: the tests move it.
  FakeClock m_clock;
  ObjectTable m_objects{m_clock};
  ServerConfig m_config;
  std::string m_dir;
  std::unique_ptr<SettingsStore> m_settings;
  std::unique_ptr<HttpServer> m_server;
  std::thread m_thread;
  std::unique_ptr<httplib::Client> m_client;
  int m_exitRequests = 0;
};

TEST_F(HttpServerTest, BadRequestsAreRefusedWithTheirCodeAndReachNoObject) {
  const std::string id = Create();
  const std::string call = "/api/v1/objects/" + id + "/call/";
  const std::string invoke = "/api/v1/objects/" + id + "/invoke";
  const std::string objects = "/api/v1/objects";
  struct Bad {
    std::string path;
    std::string body;
    int status;
    const char* hresult;
  };
  const Bad bad[] = {
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
  using P = std::pair<int, std::string>;
  for (const Bad& b : bad) {
    EXPECT_EQ(Refusal(Post(b.path, b.body)), P(b.status, b.hresult)) << b.path << " " << b.body;
  }
  EXPECT_EQ(
      Refusal(m_client->Post(call.c_str() + std::string("OpenCheck"), "[\"a\"]", "text/plain")),
      P(415, "0x80070057"));
  // A 4096-character text in Cyrillic is 8192 bytes and still fits.
  std::string cyrillic;
  for (int i = 0; i < 4096; ++i) cyrillic += "Ж";
  auto fits = Post(call + "OpenCheck", "[\"" + cyrillic + "\"]");
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->status, 200);

  ASSERT_EQ(m_backend.Calls().size(), 1u) << "only the last, good call may reach the object";
  EXPECT_EQ(m_backend.live.load(), 1);
  EXPECT_EQ(m_objects.Count(), 1u);

  auto released = m_client->Delete(("/api/v1/objects/" + id).c_str());
  ASSERT_TRUE(released);
  EXPECT_EQ(released->status, 204);
  EXPECT_EQ(Refusal(Post(call + "Done", "")), P(404, "0x80010108"));
  EXPECT_EQ(Refusal(m_client->Delete(("/api/v1/objects/" + id).c_str())), P(404, "0x80010108"));
  EXPECT_EQ(m_backend.destroyed.load(), 1);
  auto health = m_client->Get("/healthz");
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
}

TEST_F(HttpServerTest, ResultEnvelopesByNameAndByDispid) {
  const std::string orbis = "/api/v1/objects/" + Create();
  const json line = Answer(orbis + "/call/FiscalLine",
                           R"({"GoodsName":"Хліб","Qty":2,"Price":1850,"GoodsDividual":false,)"
                           R"("Tax1Index":1,"Tax2Index":0,"Article":7})");
  EXPECT_EQ(line, json::parse(R"({"hresult":"0x80004005","hresultName":"E_FAIL","ok":false,)"
                              R"("out":{"ThisLineSum":-1}})"));
  EXPECT_EQ(Answer(orbis + "/invoke",
                   R"({"dispid":17,"args":["Хліб",2,1850,true,1,0,7],"kind":"method"})"),
            line);
  EXPECT_EQ(Answer(orbis + "/call/PeriodicalFiscalReportDate",
                   R"(["2024-01-01","1900-01-01T12:00:00"])")["hresultName"],
            "S_OK");
  auto calls = m_backend.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(std::get<std::string>(calls[0].args[0]), "Хліб");
  EXPECT_EQ(std::get<std::int32_t>(calls[0].args[3]), 0);
  EXPECT_EQ(std::get<std::int32_t>(calls[1].args[3]), 1);
  EXPECT_DOUBLE_EQ(std::get<double>(calls[2].args[0]), 45292.0);
  EXPECT_DOUBLE_EQ(std::get<double>(calls[2].args[1]), 2.5);

  const std::string wrapper =
      "/api/v1/objects/" + Create(R"({"progid":"VektaManager.Application","leaseMs":60000})");
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
  using P = std::pair<int, std::string>;
  const std::string a = Create();
  const std::string b = Create();
  const httplib::Headers key = {{"Idempotency-Key", "receipt-17-line-2"}};
  const std::string args = R"(["Хліб",1,100,0,1,0,1])";
  auto first = Post("/api/v1/objects/" + a + "/call/FiscalLine", args, key);
  auto again = Post("/api/v1/objects/" + a + "/call/FiscalLine", args, key);
  ASSERT_TRUE(first && again);
  EXPECT_EQ(first->body, again->body);
  EXPECT_FALSE(first->has_header("Idempotent-Replay"));
  EXPECT_EQ(again->get_header_value("Idempotent-Replay"), "true");
  EXPECT_EQ(m_backend.Calls().size(), 1u);
  // The key belongs to its object; without a key every call runs.
  Post("/api/v1/objects/" + b + "/call/FiscalLine", args, key);
  Post("/api/v1/objects/" + a + "/call/FiscalLine", args);
  EXPECT_EQ(m_backend.Calls().size(), 3u);
  // The key stands for its call: another member, other arguments, or the next receipt's line
  // with the same key are refused and run nothing.
  for (const auto& [member, other] :
       {std::pair<std::string, std::string>{"FiscalLine", R"(["Хліб",2,100,0,1,0,1])"},
        {"CloseCheckEx", "[100,0,0,0]"},
        {"FiscalLine", R"(["Хліб",1,100,0,1,0,2])"}}) {
    auto refused = Post("/api/v1/objects/" + a + "/call/" + member, other, key);
    EXPECT_EQ(Refusal(refused), P(422, "0x80070057")) << member << other;
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->body.find("nothing was run"), std::string::npos);
    EXPECT_FALSE(refused->has_header("Idempotent-Replay"));
  }
  EXPECT_EQ(m_backend.Calls().size(), 3u);
  // The same call in the other form of its arguments is the same call.
  auto byName = Post("/api/v1/objects/" + a + "/call/FiscalLine",
                     R"({"GoodsName":"Хліб","Qty":1,"Price":100,"GoodsDividual":0,)"
                     R"("Tax1Index":1,"Tax2Index":0,"Article":1})",
                     key);
  ASSERT_TRUE(byName);
  EXPECT_EQ(byName->body, first->body);
  EXPECT_EQ(byName->get_header_value("Idempotent-Replay"), "true");
  EXPECT_EQ(m_backend.Calls().size(), 3u);
  auto tooLong = Post("/api/v1/objects/" + a + "/call/FiscalLine", args,
                      {{"Idempotency-Key", std::string(201, 'k')}});
  EXPECT_EQ(Refusal(tooLong).first, 400);
  EXPECT_EQ(m_backend.Calls().size(), 3u);
}

TEST_F(HttpServerTest, LeaseEndIsTheFinalReleaseAndPingsRenewIt) {
  const std::string kept = Create(R"({"class":"Orbis","leaseMs":300})");
  const std::string dropped = Create(R"({"class":"Orbis","leaseMs":300})");
  for (int i = 0; i < 8; ++i) {
    m_clock.Advance(std::chrono::milliseconds(100));
    m_objects.ExpireDue();
    auto ping = Post("/api/v1/objects/" + kept + "/ping", "");
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 200);
    // A refused request is no call: it does not keep an object alive.
    if (i < 6) {
      const int status = Post("/api/v1/objects/" + dropped + "/call/Feed", "[\"x\"]")->status;
      EXPECT_TRUE(status == 400 || status == 404) << status;
    }
  }
  EXPECT_EQ(Refusal(Post("/api/v1/objects/" + dropped + "/call/Done", "")).first, 404);
  EXPECT_EQ(m_backend.destroyed.load(), 1);
  EXPECT_EQ(m_objects.Count(), 1u);
}

TEST_F(HttpServerTest, OperatorEndpoints) {
  const json doc = json::parse(m_client->Get("/api/v1/connections")->body);
  EXPECT_EQ(doc["rows"], json::parse(R"([["COM3 LOCKED","AB12345678","POS"],)"
                                     R"(["COM4","НЕВІДОМИЙ","НЕВІДОМИЙ"],["","","Kasa 2"]])"));
  EXPECT_EQ(doc["connections"][0]["locked"], true);

  auto put = [&](const char* body) {
    auto res = m_client->Put("/api/v1/settings", body, "application/json");
    return res ? std::make_pair(res->status, res->body) : std::make_pair(0, std::string());
  };
  EXPECT_NE(put(R"({"KeepLogFiles":1})").second.find("2 to 4096"), std::string::npos);
  for (const char* body :
       {R"({"KeepLogFiles":1})", R"({"KeepLogFiles":4097})", R"({"SaveToLog":"yes"})"}) {
    EXPECT_EQ(put(body).first, 400) << body;
  }
  EXPECT_EQ(put(R"({"SaveToLog":true,"KeepLogFiles":4096})").first, 200);
  EXPECT_EQ(m_settings->ReadConfigDword("CurrentConfig", "KeepLogFiles", 0), 4096u);
  EXPECT_EQ(m_settings->ReadConfigDword("CurrentConfig", "SaveToLog", 0), 1u);
  EXPECT_EQ(json::parse(m_client->Get("/api/v1/settings")->body),
            json::parse(R"({"SaveToLog":true,"KeepLogFiles":4096})"));

  auto about = json::parse(m_client->Get("/api/v1/about")->body);
  EXPECT_EQ(about["version"], "1,5,0,15");
  EXPECT_EQ(about["versionLine"], "Версія: 1,5,0,15");

  m_backend.m_stats.commandsSent = 5;
  m_backend.m_stats.AddLatency(7);
  m_backend.m_stats.CountErrorStatus("SOFTPAPER");
  const std::string metrics = m_client->Get("/metrics")->body;
  for (const char* line : {"vekta_commands_sent_total{port=\"COM3\"} 5",
                           "vekta_command_latency_ms_bucket{port=\"COM3\",le=\"10\"} 1",
                           "vekta_command_latency_ms_bucket{port=\"COM3\",le=\"5\"} 0",
                           "word=\"SOFTPAPER\"} 1", "vekta_clients 3"}) {
    EXPECT_NE(metrics.find(line), std::string::npos) << line;
  }

  auto typelib = json::parse(m_client->Get("/api/v1/typelib")->body);
  EXPECT_EQ(typelib["interfaces"][0]["members"].size(), 67u);
  EXPECT_EQ(typelib["interfaces"][1]["members"].size(), 69u);

  EXPECT_EQ(Post("/api/v1/app/exit", "")->status, 202);
  EXPECT_EQ(m_exitRequests, 1);
}

TEST_F(HttpServerTest, TokenHostAndOriginChecksOverHttpAndAnOnDemandProcessRefusesExit) {
  Stop();
  ServerConfig config;
  config.token = "s3cret";
  config.allowedHosts = {"pos.shop.lan"};
  config.allowedOrigins = {"http://pos.shop.lan"};
  Start(config, /*onDemand=*/true);
  const std::string origin = "http://127.0.0.1:" + std::to_string(m_server->Port());
  using P = std::pair<int, std::string>;
  EXPECT_EQ(Refusal(m_client->Get("/api/v1/connections", {{"Authorization", "Bearer wrong"}})),
            P(401, "0x80070005"));
  EXPECT_EQ(Refusal(m_client->Get("/api/v1/connections", {{"Host", "evil.example:8460"}})),
            P(403, "0x80070005"));
  EXPECT_EQ(Refusal(m_client->Get("/api/v1/connections", {{"Origin", "http://evil.example"}})),
            P(403, "0x80070005"));
  EXPECT_EQ(
      Refusal(Post("/api/v1/objects", R"({"class":"Orbis"})", {{"Origin", "http://evil.example"}})),
      P(403, "0x80070005"));
  EXPECT_EQ(m_backend.live.load(), 0);
  EXPECT_EQ(m_client->Get("/api/v1/connections", {{"Host", "pos.shop.lan"}})->status, 200);
  EXPECT_EQ(m_client->Get("/api/v1/connections", {{"Origin", origin}})->status, 200)
      << "the server's own page stays allowed beside AllowedOrigins";

  // A web POS of an allowed origin: the browser's preflight (no token) is answered, and so is
  // the call (with the token), each saying the origin may read it.
  const auto preflight = m_client->Options(
      "/api/v1/objects", {{"Origin", "http://pos.shop.lan"},
                          {"Access-Control-Request-Method", "POST"},
                          {"Access-Control-Request-Headers", "content-type,idempotency-key"}});
  ASSERT_TRUE(preflight);
  EXPECT_EQ(preflight->status, 204);
  EXPECT_EQ(preflight->get_header_value("Access-Control-Allow-Origin"), "http://pos.shop.lan");
  EXPECT_NE(preflight->get_header_value("Access-Control-Allow-Headers").find("Idempotency-Key"),
            std::string::npos);
  EXPECT_EQ(m_client->Options("/api/v1/objects", {{"Origin", "http://evil.example"}})->status, 403);
  const auto call = m_client->Get("/api/v1/connections", {{"Origin", "http://pos.shop.lan"},
                                                          {"Authorization", "Bearer s3cret"}});
  EXPECT_EQ(call->status, 200);
  EXPECT_EQ(call->get_header_value("Access-Control-Allow-Origin"), "http://pos.shop.lan");
  EXPECT_EQ(m_client
                ->Get("/api/v1/connections",
                      {{"Host", "anything.example"}, {"Authorization", "Bearer s3cret"}})
                ->status,
            200);
  EXPECT_EQ(Post("/api/v1/app/exit", "")->status, 409);
  EXPECT_EQ(m_exitRequests, 0);
}

}  // namespace
}  // namespace vekta
