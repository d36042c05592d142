#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "client/lease_keeper.h"
#include "client/object_connection.h"
#include "client/remote_orbis.h"
#include "client/remote_orbis_factory.h"
#include "client/server_launcher.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

TEST(ServerNameTest, TheFormsAHostNameMayTake) {
  EXPECT_EQ(ParseServerName("\\\\kasa-2")->Url(), "http://kasa-2:8460");
  EXPECT_EQ(ParseServerName("kasa-2:9000")->port, 9000);
  EXPECT_EQ(ParseServerName("\\\\10.0.0.7:81")->host, "10.0.0.7");
  EXPECT_EQ(ParseServerName("https://shop.example:8443")->Url(), "https://shop.example:8443");
  EXPECT_EQ(ParseServerName("[::1]:9000")->host, "::1");
  for (const char* bad : {"", "\\\\", "host:0", "host:70000", "host:", "bad host"}) {
    EXPECT_FALSE(ParseServerName(bad)) << bad;
  }
}

// A server that plays the object protocol's part for the client under test.
class ScriptedServer {
  using Req = const httplib::Request&;
  using Res = httplib::Response&;

 public:
  ScriptedServer() {
    m_server.Post("/api/v1/objects", [this](Req req, Res res) {
      Record(m_authorizations, req.get_header_value("Authorization"));
      res.status = 201;
      res.set_content(R"({"object":"abc","class":"Orbis","leaseMs":150})", "application/json");
    });
    m_server.Post("/api/v1/objects/abc/call/FiscalLine", [this](Req req, Res res) {
      // The first answer comes too late for the client.
      if (Record(m_keys, req.get_header_value("Idempotency-Key")) == 1 || slow) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      }
      res.set_content(R"({"hresult":"0x00000000","hresultName":"S_OK","ok":true,)"
                      R"("out":{"ThisLineSum":246}})",
                      "application/json");
    });
    m_server.Post("/api/v1/objects/abc/ping", [this](Req, Res res) {
      ++pings;
      res.set_content("{}", "application/json");
    });
    m_server.Delete("/api/v1/objects/abc", [this](Req, Res res) {
      ++releases;
      res.status = 204;
    });
    port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    for (int i = 0; i < 100 && !m_server.is_running(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~ScriptedServer() {
    m_server.stop();
    m_thread.join();
  }
  std::vector<std::string> Keys() { return Copy(m_keys); }
  // The Authorization header of each object creation, in order ("" when none came).
  std::vector<std::string> Authorizations() { return Copy(m_authorizations); }

  int port = 0;
  std::atomic<int> pings{0};
  std::atomic<int> releases{0};
  std::atomic<bool> slow{false};

 private:
  httplib::Server m_server;
  std::thread m_thread;
  std::mutex m_mutex;
  std::vector<std::string> m_keys;
  std::vector<std::string> m_authorizations;

  // How many `into` holds once `value` is added.
  std::size_t Record(std::vector<std::string>& into, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    into.push_back(value);
    return into.size();
  }
  std::vector<std::string> Copy(const std::vector<std::string>& of) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return of;
  }
};

TEST(RemoteOrbisTest, ALostAnswerIsAskedForAgainUnderTheSameKeyAndTheLeaseIsKept) {
  ScriptedServer server;
  auto connection = std::make_shared<ObjectConnection>(
      ServerAddress::At("127.0.0.1", server.port, false, ""), std::chrono::seconds(1));
  auto keeper = std::make_shared<LeaseKeeper>();
  std::unique_ptr<RemoteOrbis> orbis;
  ASSERT_EQ(RemoteOrbis::Create(connection, orbis, keeper), S_OK);
  std::int32_t sum = 0;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 123, 0, 1, 0, 1, &sum), S_OK);
  EXPECT_EQ(sum, 246);
  // Another call has a key of its own; a server that never answers in time is a time-out.
  server.slow = true;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 123, 0, 1, 0, 1, &sum), ERROR_TIMEOUT_HR);
  const auto keys = server.Keys();
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_FALSE(keys[0].empty());
  EXPECT_NE(keys[2], keys[0]);
  EXPECT_EQ(keys, (std::vector<std::string>{keys[0], keys[0], keys[2], keys[2]}));

  // The keeper pings while the object lives; its end releases the server's object.
  const int pingsBefore = server.pings.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GT(server.pings.load(), pingsBefore);
  orbis.reset();
  EXPECT_EQ(server.releases.load(), 1);
  EXPECT_EQ(keeper->Count(), 0u);
  // A refused token and no server at all have their own codes: RunModesTest checks them against
  // real daemons (InitExReachesAnotherServerWithItsToken).
}

TEST(RemoteOrbisTest, TheRemoteTokenGoesOnlyToTheHostsTheConfigurationNames) {
  ScriptedServer server;
  const std::string port = std::to_string(server.port);
  const std::string host = "127.0.0.1:" + port;
  struct Case {
    std::vector<std::string> hosts;
    std::string connectTo;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{}, host, ""},  // no list: the token goes nowhere
      // look-alikes, another port, a name that resolves to the same address
      {{"127.0.0.10", "127.0.0.1:1", "127.0.0", "localhost", "[127.0.0.1", "example.org"},
       host,
       ""},
      {{"other", "127.0.0.1"}, host, "Bearer secret"},  // the name, any port
      {{host}, host, "Bearer secret"},                  // the name and its port
      {{"LOCALHOST:" + port}, "http://LocalHost:" + port, "Bearer secret"},  // case aside
  };
  for (const Case& c : cases) {
    RemoteOrbisFactory::Options options;
    options.token = "secret";
    options.tokenHosts = c.hosts;
    RemoteOrbisFactory factory(options);
    std::unique_ptr<IOrbis> object;
    EXPECT_EQ(factory.CreateRemote(c.connectTo, object), S_OK) << c.connectTo;
    ASSERT_FALSE(server.Authorizations().empty());
    EXPECT_EQ(server.Authorizations().back(), c.expected)
        << testing::PrintToString(c.hosts) << " " << c.connectTo;
  }
}

TEST(ServerLauncherTest, ManifestIsReadOnlyWhenItNamesAnAbsoluteExecutable) {
  const TempDir temp;
  const std::string dir = temp.Path();
  const std::string path = dir + "/registration.json";
  std::ofstream(path) << R"({"LocalServer32":"\"/opt/v/vektamanager\"",)"
                      << R"("serverArguments":["--listen","127.0.0.1:9"],"listen":"127.0.0.1:9"})";
  ServerManifest manifest;
  ASSERT_TRUE(ReadServerManifest(dir, manifest));
  EXPECT_EQ(manifest.executable, "/opt/v/vektamanager");
  EXPECT_EQ(manifest.arguments, (std::vector<std::string>{"--listen", "127.0.0.1:9"}));
  std::ofstream(path) << R"({"LocalServer32":"\"vektamanager\""})";
  EXPECT_FALSE(ReadServerManifest(dir, manifest));
  std::ofstream(path) << "{not json";
  EXPECT_FALSE(ReadServerManifest(dir, manifest));
  // No server at a remote address is never started here.
  ServerLauncher launcher({dir});
  std::string error;
  EXPECT_FALSE(launcher.EnsureServer(ServerAddress::At("192.0.2.1", 9, false, ""), error));
}

}  // namespace
}  // namespace vekta
