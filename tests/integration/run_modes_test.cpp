#include <gtest/gtest.h>

#include <poll.h>

#include <filesystem>
#include <thread>

#include "client/remote_orbis_factory.h"
#include "tests/integration/daemon_process.h"

namespace vekta {
namespace {

using nlohmann::json;
using testing::DaemonProcess;
using testing::FreePort;

TEST(RunModesTest, InitExReachesAnotherServerWithItsToken) {
  TempDir dir;
  DaemonProcess b(dir, FreePort(), {"--simulate", "1"}, true, "Token=b-secret\n");
  DaemonProcess a(dir, FreePort(), {}, true, "[Remote]\nToken=b-secret\nHosts=127.0.0.1\n");

  // A wrapper of `http` attached through InitEx to `host`: its id and what InitEx gave.
  auto initEx = [](ObjectConnection& http, const std::string& pos, const std::string& host) {
    std::string id;
    EXPECT_EQ(http.CreateObject("VektaManager.Application", 0, id), S_OK);
    HttpAnswer init = http.Call(id, "InitEx", json::array({1, "K", "7777777777", 0, pos, host}));
    EXPECT_EQ(init.status, 200) << init.error;
    return std::make_pair(id, init.body["value"]);
  };
  ObjectConnection http(a.Address());
  const std::string host = "\\\\127.0.0.1:" + std::to_string(b.Address().port);
  const auto [id, attached] = initEx(http, "Remote POS", host);
  ASSERT_EQ(attached, 1);
  EXPECT_EQ(http.Call(id, "OpenCheck", json::array({"Відділ"})).body["value"], 1);
  EXPECT_EQ(http.Call(id, "FiscalLine", json::array({"Чай", 3, 500, 0, 1, 0, 9})).body["value"],
            1500);
  EXPECT_EQ(http.Call(id, "CheckSumm", nullptr).body["value"], 1500);
  const json rows = ObjectConnection(b.Address()).Get("/api/v1/connections").body["rows"];
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][2], "Remote POS");
  // No server there: InitEx gives 0 and nothing is held (a refused token fails the same
  // CreateRemote, whose own codes follow).
  const std::string nobody = "127.0.0.1:" + std::to_string(FreePort());
  const auto [refused, attachedNowhere] = initEx(http, "X", nobody);
  EXPECT_EQ(attachedNowhere, 0);
  EXPECT_EQ(http.Call(refused, "GetPrinterKeyPosition", nullptr).body["value"], -1);

  // The client library's own codes for the same failures.
  RemoteOrbisFactory::Options options;
  options.token = "wrong";
  options.tokenHosts = {"127.0.0.1"};
  RemoteOrbisFactory factory(options);
  std::unique_ptr<IOrbis> object;
  EXPECT_EQ(factory.CreateRemote(host, object), E_ACCESSDENIED);
  EXPECT_EQ(factory.CreateRemote(nobody, object), RPC_S_SERVER_UNAVAILABLE);
  EXPECT_EQ(object, nullptr);
}

TEST(RunModesTest, ARegisteredServerStartsForAClientAndEndsWithItsLastObject) {
  TempDir dir;
  // The port is held from the start by a stand-in for a server that ends (below): picked and
  // let go, another test's daemon could take it meanwhile.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int yes = 1;  // as a server's: its closed connections do not hold the port
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  sockaddr_in at = testing::Loopback();
  socklen_t length = sizeof(at);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof(at)), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  const int port = ntohs(at.sin_port);
  const std::string regDir = dir.Path() + "/reg";
  const std::string config = dir.Write("v.ini", "[Server]\nLogDir=" + dir.Path() + "/log\n");
  const auto reg = [&](const std::string& host) {
    return DaemonProcess::Run(
        dir, {"/RegServer", "--registration-dir", regDir, "--config", config, "--listen",
              host + ":" + std::to_string(port), "--simulate", "1"});
  };
  // Settings that no start could take (other computers let in without a token) are not
  // registered: the service would fail each start.
  EXPECT_EQ(reg("0.0.0.0"), 1);
  EXPECT_FALSE(std::filesystem::exists(regDir + "/vektamanager.service"));
  ASSERT_EQ(reg("127.0.0.1"), 0);
  // A trial start with simulated printers leaves the registration as it is.
  const std::string registered = ReadWholeFile(regDir + "/registration.json");
  {
    DaemonProcess trial(dir, FreePort(), {"--registration-dir", regDir, "--simulate", "2"});
    EXPECT_EQ(ReadWholeFile(regDir + "/registration.json"), registered);
  }

  RemoteOrbisFactory::Options options;
  options.local.port = port;
  options.manifestDirectories = {regDir};
  RemoteOrbisFactory factory(options);
  std::unique_ptr<IOrbis> object;
  {
    // A server that ends (started on demand, its last object gone) answers only that it is
    // shutting down, then frees its port: the registered one is started once it has gone.
    std::thread ending([listener] {
      for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
           std::chrono::steady_clock::now() < end;) {
        pollfd ready{listener, POLLIN, 0};
        const int fd = ::poll(&ready, 1, 50) == 1 ? ::accept(listener, nullptr, nullptr) : -1;
        if (fd < 0) continue;
        char request[4096];
        pollfd asked{fd, POLLIN, 0};
        if (::poll(&asked, 1, 500) == 1) (void)::recv(fd, request, sizeof(request), 0);
        const char answer[] = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";
        (void)::send(fd, answer, sizeof(answer) - 1, MSG_NOSIGNAL);
        ::close(fd);
      }
      ::close(listener);
    });
    const HRESULT created = factory.CreateLocal(object);
    ending.join();
    ASSERT_EQ(created, S_OK);
  }
  ASSERT_EQ(object->Init(1, "K", "7777777777", 0, "On demand"), S_OK);
  ObjectConnection http(ServerAddress::At("127.0.0.1", port, false, ""));
  EXPECT_EQ(http.Get("/api/v1/about").body["runMode"], "embedding");
  object.reset();
  EXPECT_TRUE(testing::WaitUntil([&] { return !http.Healthy(std::chrono::milliseconds(200)); }));
  // So do vektactl's test-client commands, as the test client's CoCreateInstanceEx does.
  const testing::Run printed =
      testing::RunToEnd(dir, {"/usr/bin/env", "VEKTA_REGISTRATION_DIR=" + regDir,
                              testing::BuildDir() + "/client/vektactl", "--server",
                              "127.0.0.1:" + std::to_string(port), "connect-print-disconnect"});
  EXPECT_EQ(printed.status, 0) << printed.out << printed.err;
  EXPECT_TRUE(testing::WaitUntil([&] { return !http.Healthy(std::chrono::milliseconds(200)); }));

  // Unregistering removes what registering wrote and leaves the folder; without a manifest
  // nothing is started.
  EXPECT_EQ(DaemonProcess::Run(dir, {"--unregserver", "--registration-dir", regDir}), 0);
  EXPECT_FALSE(std::filesystem::exists(regDir + "/typelib.json"));
  EXPECT_TRUE(std::filesystem::exists(regDir));
  EXPECT_EQ(factory.CreateLocal(object), RPC_S_SERVER_UNAVAILABLE);
}

TEST(RunModesTest, StartFailuresAndTheWaysAServerEnds) {
  TempDir dir;
  // An on-demand start that no client uses ends by itself after thirty seconds (checked last).
  DaemonProcess unused(dir, FreePort(), {"/Embedding"});
  const auto started = std::chrono::steady_clock::now();
  const int port = FreePort();
  DaemonProcess first(dir, port, {});
  // The port is taken: message 103 and exit code 1.
  DaemonProcess second(dir, port, {"--registration-dir", dir.Path() + "/reg2"}, false);
  EXPECT_EQ(second.WaitExit(std::chrono::seconds(10)), 1);
  EXPECT_NE(second.Stderr().find("Windows sockets"), std::string::npos) << second.Stderr();

  // A settings file that is there but cannot be read is not taken for the defaults.
  DaemonProcess unreadable(dir, FreePort(), {"--config", dir.Path()}, false);
  EXPECT_EQ(unreadable.WaitExit(std::chrono::seconds(10)), 1);
  EXPECT_NE(unreadable.Stderr().find("cannot read the settings file"), std::string::npos)
      << unreadable.Stderr();

  // A normal start ends cleanly on SIGTERM, and on SIGHUP (a closed terminal).
  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitExit(std::chrono::seconds(10)), 0);
  DaemonProcess hungUp(dir, FreePort(), {});
  DaemonProcess underNohup(dir, FreePort(), {}, true, "", {"/usr/bin/nohup"});
  hungUp.Signal(SIGHUP);
  underNohup.Signal(SIGHUP);
  EXPECT_EQ(hungUp.WaitExit(std::chrono::seconds(10)), 0);
  EXPECT_TRUE(ObjectConnection(underNohup.Address()).Healthy(std::chrono::seconds(2)));

  EXPECT_EQ(unused.WaitExit(std::chrono::seconds(45)), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(25));
}

// The open-file limit a service or a shell starts with is far below the connections allowed.
TEST(RunModesTest, UnderALowOpenFileLimitACrowdOfClientsIsAnsweredAndThePrinterStillOpens) {
  TempDir dir;
  const int port = FreePort();
  DaemonProcess daemon(dir, port, {"--simulate", "1"}, true, "",
                       {"/usr/bin/prlimit", "--nofile=200:200", "--"});
  ObjectConnection http(daemon.Address());
  std::string id;
  ASSERT_EQ(http.CreateObject("VektaManager.Orbis", 0, id), S_OK);
  // More idle clients than descriptors, each with one request and staying: every one is
  // answered.
  const std::string request =
      "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
  std::vector<pollfd> crowd;
  for (int i = 0; i < 220; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = testing::Loopback(port);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::send(fd, request.data(), request.size(), 0), static_cast<ssize_t>(request.size()));
    crowd.push_back({fd, POLLIN, 0});
  }
  int answered = 0, refused = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (std::size_t left = crowd.size(); left > 0 && std::chrono::steady_clock::now() < end;) {
    ::poll(crowd.data(), crowd.size(), 200);
    for (pollfd& p : crowd) {
      if (p.fd < 0 || p.revents == 0) continue;
      char head[16] = {};
      ::recv(p.fd, head, sizeof(head) - 1, 0);
      (std::string(head).find(" 503") != std::string::npos ? refused : answered)++;
      p.fd = -p.fd - 1;  // read, and left open
      --left;
    }
  }
  EXPECT_EQ(answered + refused, 220);
  EXPECT_GT(refused, 0);
  EXPECT_NE(daemon.Stderr().find("MaxConnections 1024 is held to 100"), std::string::npos)
      << daemon.Stderr();
  // The printer's port, the protocol log and the journal still find their descriptors.
  HttpAnswer init = http.Call(id, "Init", json::array({1, "Kassir", "7777777777", 0, "IT"}));
  EXPECT_EQ(init.body["hresultName"], "S_OK") << init.body.dump();
  for (const pollfd& p : crowd) ::close(p.fd < 0 ? -p.fd - 1 : p.fd);
}

TEST(RunModesTest, HttpsWithTheConfiguredCertificate) {
  TempDir dir;
  const std::string cert = dir.Path() + "/cert.pem";
  const std::string key = dir.Path() + "/key.pem";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -keyout " + key + " -out " +
                           cert + " -days 1 -subj /CN=localhost >/dev/null 2>&1";
  if (std::system(make.c_str()) != 0) GTEST_SKIP() << "openssl is not installed";
  const int port = FreePort();
  DaemonProcess daemon(dir, port, {}, false, "CertFile=" + cert + "\nKeyFile=" + key + "\n");
  ServerAddress checked = ServerAddress::At("localhost", port, true, "");
  checked.caFile = cert;
  ObjectConnection https(checked);
  EXPECT_TRUE(testing::WaitUntil([&] { return https.Healthy(std::chrono::milliseconds(200)); }));
  // Without the certificate's CA the client does not talk to the server (nor send a token).
  ObjectConnection unchecked(ServerAddress::At("localhost", port, true, "secret"));
  EXPECT_FALSE(unchecked.Healthy(std::chrono::milliseconds(500)));
  EXPECT_EQ(unchecked.Get("/api/v1/about").hr, RPC_S_SERVER_UNAVAILABLE);
}

}  // namespace
}  // namespace vekta
