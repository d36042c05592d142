#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include "client/lease_keeper.h"
#include "client/object_connection.h"
#include "client/remote_orbis.h"
#include "client/remote_orbis_factory.h"
#include "client/server_launcher.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

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
      Record("auth", req.get_header_value("Authorization"));
      res.status = 201;
      res.set_content(R"({"object":"abc","class":"Orbis","leaseMs":150})", "application/json");
    });
    m_server.Post("/api/v1/objects/abc/call/FiscalLine", [this](Req req, Res res) {
      if (Foreign(res)) return;
      // The first answer comes too late for the client.
      if (Record("keys", req.get_header_value("Idempotency-Key")) == 1 || slow) {
        std::this_thread::sleep_for(1500ms);
      }
      res.set_content(R"({"hresult":"0x00000000","hresultName":"S_OK","ok":true,)"
                      R"("out":{"ThisLineSum":246}})",
                      "application/json");
    });
    // The members that wait by their argument answer after the client's call time-out.
    m_server.Post(R"(/api/v1/objects/abc/call/(LockPrinter|LowGetNextPendingPrinterMessage))",
                  [this](Req req, Res res) {
                    const int released = releases;
                    Record("waits", req.matches[1].str() + " " + req.body);
                    // Held: until the object is released (within a bound).
                    for (int i = 0; i < (held ? 500 : 150) && !(held && releases > released); ++i) {
                      std::this_thread::sleep_for(10ms);
                    }
                    res.set_content(R"({"hresult":"0x00000000","hresultName":"S_OK","ok":true,)"
                                    R"("out":{"TextMessage":"44 01 00"}})",
                                    "application/json");
                  });
    m_server.Post("/api/v1/objects/abc/ping", [this](Req, Res res) {
      ++pings;
      if (!Foreign(res)) res.set_content("{}", "application/json");
    });
    m_server.Delete("/api/v1/objects/abc", [this](Req, Res res) {
      ++releases;
      if (!Foreign(res)) res.status = 204;
    });
    port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    for (int i = 0; i < 100 && !m_server.is_running(); ++i) std::this_thread::sleep_for(10ms);
  }
  ~ScriptedServer() {
    m_server.stop();
    m_thread.join();
  }
  // In order: "keys", the Idempotency-Key of each FiscalLine; "waits", "Member body" of each
  // call to a waiting member; "auth", the Authorization of each creation ("" when none came).
  std::vector<std::string> Seen(const std::string& what) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_seen[what];
  }

  // A client's connection to it, with a call time-out of 1 s.
  std::shared_ptr<ObjectConnection> Connection() const {
    return std::make_shared<ObjectConnection>(ServerAddress::At("127.0.0.1", port, false, ""), 1s);
  }

  int port = 0;
  std::atomic<int> pings{0};
  std::atomic<int> releases{0};
  std::atomic<bool> slow{false};
  std::atomic<bool> held{false};
  // Answers as some other service would: an error object of its own shape.
  std::atomic<bool> foreign{false};

 private:
  bool Foreign(Res res) {
    if (!foreign) return false;
    res.status = 404;
    res.set_content(R"({"error":{"code":1}})", "application/json");
    return true;
  }
  httplib::Server m_server;
  std::thread m_thread;
  std::mutex m_mutex;
  std::map<std::string, std::vector<std::string>> m_seen;

  // How many `what` holds once `value` is added.
  std::size_t Record(const std::string& what, const std::string& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_seen[what].push_back(value);
    return m_seen[what].size();
  }
};

TEST(RemoteOrbisTest, LostAnswersLongAndAbandonedWaitsForeignErrorsAndTheLease) {
  ScriptedServer server;
  auto connection = server.Connection();
  auto keeper = std::make_shared<LeaseKeeper>();
  std::unique_ptr<RemoteOrbis> orbis;
  ASSERT_EQ(RemoteOrbis::Create(connection, orbis, keeper), S_OK);
  // Each answer comes after the call time-out and within the wait asked for; a lock taken by a
  // server the client gave up on would keep every other register out.
  EXPECT_EQ(orbis->LockPrinter(2000), S_OK);
  EXPECT_EQ(orbis->LockPrinter(-1), S_OK);  // no limit
  std::string message;
  EXPECT_EQ(orbis->LowGetNextPendingPrinterMessage(2000, &message), S_OK);
  EXPECT_EQ(message, "44 01 00");
  EXPECT_EQ(server.Seen("waits"),
            (std::vector<std::string>{"LockPrinter [2000]", "LockPrinter [-1]",
                                      "LowGetNextPendingPrinterMessage [2000]"}));

  // The next call is held to the call time-out again: its late first answer is asked for anew,
  // under the same key.
  std::int32_t sum = 0;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 123, 0, 1, 0, 1, &sum), S_OK);
  EXPECT_EQ(sum, 246);
  // Another call has a key of its own; a server that never answers in time is a time-out.
  server.slow = true;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 123, 0, 1, 0, 1, &sum), ERROR_TIMEOUT_HR);
  const auto keys = server.Seen("keys");
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_FALSE(keys[0].empty());
  EXPECT_NE(keys[2], keys[0]);
  EXPECT_EQ(keys, (std::vector<std::string>{keys[0], keys[0], keys[2], keys[2]}));
  // A text in another code page goes nowhere: sent with its bytes replaced, it printed "??".
  EXPECT_EQ(orbis->FiscalLine("\xd5\xeb\xb3\xe1", 1, 1, 0, 1, 0, 1, &sum), E_INVALIDARG);
  EXPECT_NE(orbis->LastTransportError().find("not valid UTF-8"), std::string::npos);
  // Nor does a key a header line cannot carry (vektactl passes the user's own).
  EXPECT_EQ(connection->Call("abc", "FiscalLine", nlohmann::json::array(), "a\r\nX-Other: 1").hr,
            E_INVALIDARG);
  EXPECT_EQ(server.Seen("keys").size(), 4u);

  // A ping does not wait behind a call: the leases of the connection's other objects go on.
  std::atomic<bool> ended{false};
  std::thread waiting([&] {
    EXPECT_EQ(orbis->LockPrinter(2000), S_OK);
    ended = true;
  });
  for (int i = 0; i < 200 && server.Seen("waits").size() < 4; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(connection->Ping("abc"), S_OK);
  EXPECT_FALSE(ended.load()) << "the ping waited for the call";
  waiting.join();

  // The keeper pings while the object lives; its end releases the server's object.
  const int pingsBefore = server.pings.load();
  std::this_thread::sleep_for(300ms);
  EXPECT_GT(server.pings.load(), pingsBefore);
  orbis.reset();
  EXPECT_EQ(server.releases.load(), 1);
  EXPECT_EQ(keeper->Count(), 0u);

  // Let go while it waits without limit: the server's object goes now, and its wait with it,
  // instead of holding a worker (and the daemon's shutdown) until the lock comes.
  ASSERT_EQ(RemoteOrbis::Create(connection, orbis, keeper), S_OK);
  server.held = true;
  std::thread held([&] { orbis->LockPrinter(-1); });
  for (int i = 0; i < 200 && server.Seen("waits").size() < 5; ++i) std::this_thread::sleep_for(5ms);
  const auto abandoned = std::chrono::steady_clock::now();
  orbis->Abandon();
  held.join();
  EXPECT_LT(std::chrono::steady_clock::now() - abandoned, 3s);
  EXPECT_EQ(server.releases.load(), 2);
  // A call after that is not sent: it would wait there for no one.
  EXPECT_EQ(orbis->LockPrinter(-1), RPC_E_DISCONNECTED);
  EXPECT_EQ(server.Seen("waits").size(), 5u);
  orbis.reset();
  EXPECT_EQ(server.releases.load(), 2);  // not released twice

  // Error bodies of another shape, in a call, the keeper's pings and the final release, are
  // failures: thrown on the keeper's thread or in a destructor they ended the process.
  ASSERT_EQ(RemoteOrbis::Create(connection, orbis, keeper), S_OK);
  server.foreign = true;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 123, 0, 1, 0, 1, &sum), RPC_E_DISCONNECTED);
  const int pings = server.pings.load();
  for (int i = 0; i < 200 && keeper->Count() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_GT(server.pings.load(), pings);
  EXPECT_EQ(keeper->Count(), 0u) << "an object the server no longer has is pinged on";
  orbis.reset();
  EXPECT_EQ(server.releases.load(), 3);
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
      {{"127.0.0.1"}, "localhost:" + port, ""},         // nor the other way round
      {{"https://" + host}, "http://" + host, ""},      // kept on TLS by its entry
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
    ASSERT_FALSE(server.Seen("auth").empty());
    EXPECT_EQ(server.Seen("auth").back(), c.expected)
        << testing::PrintToString(c.hosts) << " " << c.connectTo;
  }
}

TEST(ServerLauncherTest, AManifestNamesAnAbsoluteExecutableThatKeepsNoneOfTheCallersFiles) {
  const TempDir temp;
  const std::string dir = temp.Path();
  temp.Write("registration.json",
             R"({"LocalServer32":"\"/opt/v/vektamanager\"","serverArguments":["--listen",)"
             R"("127.0.0.1:9"],"listen":"127.0.0.1:9"})");
  ServerManifest manifest;
  ASSERT_TRUE(ReadServerManifest(dir, manifest));
  EXPECT_EQ(manifest.executable, "/opt/v/vektamanager");
  EXPECT_EQ(manifest.arguments, (std::vector<std::string>{"--listen", "127.0.0.1:9"}));
  temp.Write("registration.json", R"({"LocalServer32":"\"vektamanager\""})");
  EXPECT_FALSE(ReadServerManifest(dir, manifest));
  temp.Write("registration.json", "{not json");
  EXPECT_FALSE(ReadServerManifest(dir, manifest));
  // No server at a remote address is never started here.
  std::string error;
  EXPECT_FALSE(
      ServerLauncher({dir}).EnsureServer(ServerAddress::At("192.0.2.1", 9, false, ""), error));

  // A stand-in server that lists its open files and ends; the listing's path is its argument.
  const std::string listing = dir + "/fds";
  const std::string script =
      temp.Write("server", "#!/bin/sh\nls -l /proc/$$/fd > \"$2.part\" && mv \"$2.part\" \"$2\"\n");
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  temp.Write("registration.json",
             nlohmann::json{{"LocalServer32", script}, {"serverArguments", {listing}}}.dump());
  // A point-of-sale program's file opened without O_CLOEXEC.
  const int held = ::open((dir + "/held-by-the-caller").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(held, 3);
  // Nothing answers at a port bound but not listening.
  const int bound = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::getsockname(bound, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  EXPECT_FALSE(ServerLauncher({dir}, 100ms)
                   .EnsureServer(ServerAddress::At("127.0.0.1", ntohs(addr.sin_port)), error));
  std::string fds;
  for (int i = 0; i < 250 && (fds = ReadWholeFile(listing)).empty(); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  ::close(bound);
  ::close(held);
  EXPECT_NE(fds.find("0 -> /dev/null"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("held-by-the-caller"), std::string::npos) << fds;
}

}  // namespace
}  // namespace vekta
