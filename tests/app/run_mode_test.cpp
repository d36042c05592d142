#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "app/registration.h"
#include "app/server_config.h"
#include "platform/settings_store.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

namespace fs = std::filesystem;

TEST(CommandLineTest, SwitchesAndTheirPrecedence) {
  EXPECT_EQ(ParseCommandLine({}).mode, RunMode::kNormal);
  EXPECT_EQ(ParseCommandLine({"/Regserver"}).mode, RunMode::kRegister);
  EXPECT_EQ(ParseCommandLine({"-REGISTER"}).mode, RunMode::kRegister);
  EXPECT_EQ(ParseCommandLine({"--unregserver"}).mode, RunMode::kUnregister);
  EXPECT_EQ(ParseCommandLine({"/Unregister"}).mode, RunMode::kUnregister);
  EXPECT_EQ(ParseCommandLine({"-embedding"}).mode, RunMode::kEmbedding);
  // Embedding and automation win: such a start changes no registration.
  EXPECT_EQ(ParseCommandLine({"/Unregserver", "/Automation"}).mode, RunMode::kAutomation);
  EXPECT_EQ(ParseCommandLine({"/Regserver", "--Embedding"}).mode, RunMode::kEmbedding);
  EXPECT_EQ(ParseCommandLine({"/Regserver", "/Unregserver"}).mode, RunMode::kUnregister);
  EXPECT_EQ(ParseCommandLine({"/Embedding", "--help"}).mode, RunMode::kHelp);
  EXPECT_EQ(ParseCommandLine({"/Foo", "bar", "--unknown"}).mode, RunMode::kNormal);
  EXPECT_TRUE(ParseCommandLine({"/Embedding"}).StartedOnDemand());
  EXPECT_FALSE(ParseCommandLine({"/Regserver"}).StartedOnDemand());

  const CommandLine cl =
      ParseCommandLine({"--config", "/tmp/v.ini", "--listen=127.0.0.1:9000", "--simulate", "1",
                        "--simulate=3", "--simulate", "1", "--registration-dir", "/tmp/reg"});
  EXPECT_TRUE(cl.error.empty());
  EXPECT_EQ(cl.configPath, "/tmp/v.ini");
  EXPECT_EQ(cl.listen, "127.0.0.1:9000");
  EXPECT_EQ(cl.simulatePorts, (std::vector<int>{1, 3}));
  EXPECT_EQ(cl.registrationDir, "/tmp/reg");
  EXPECT_EQ(cl.serverArguments,
            (std::vector<std::string>{"--config", "/tmp/v.ini", "--listen", "127.0.0.1:9000",
                                      "--simulate", "1", "--simulate", "3"}));
  // relative paths are made absolute: an on-demand start runs in another folder
  const CommandLine relative = ParseCommandLine({"--config", "v.ini", "--sim-tape-dir", "./t"});
  EXPECT_EQ(relative.configPath, (std::filesystem::current_path() / "v.ini").string());
  EXPECT_EQ(relative.serverArguments[1], relative.configPath);
  EXPECT_EQ(relative.simTapeDir, (std::filesystem::current_path() / "t").string());
  EXPECT_FALSE(ParseCommandLine({"--simulate", "0"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--simulate", "25"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--simulate", "x1"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--config"}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--config="}).error.empty());
  EXPECT_FALSE(ParseCommandLine({"--config", "--registration-dir", "/tmp/reg"}).error.empty());
}

TEST(ServerConfigTest, EndpointsAndTheRequestChecks) {
  EXPECT_EQ(ParseEndpoint("127.0.0.1:8460")->port, 8460);
  EXPECT_EQ(ParseEndpoint("[::1]:9000")->host, "::1");
  EXPECT_EQ(ParseEndpoint("localhost")->port, 8460);
  for (const char* bad : {"host:99999", "host:", "ho st:80"})
    EXPECT_FALSE(ParseEndpoint(bad)) << bad;
  EXPECT_TRUE(IsLoopbackPeer("::ffff:127.0.0.1"));
  EXPECT_FALSE(IsLoopbackPeer("::ffff:10.127.0.1"));

  // The Host and Origin that the server's own clients send are checked over HTTP.
  const auto check = [](const ServerConfig& config, const char* peer, const char* authorization,
                        const char* host, const char* origin = "") {
    return CheckRequest(config, peer, authorization, host, origin).status;
  };
  const ServerConfig open;
  EXPECT_EQ(check(open, "127.0.0.1", "", "localhost:8460"), 0);
  EXPECT_EQ(check(open, "127.0.0.1", "", "127.1.2.3:8460"), 0);
  // DNS rebinding: a foreign name that resolves to this computer, made to look like ours or not.
  for (const char* host : {"attacker.example:8460", "127.0.0.1.attacker.example:8460",
                           "127.attacker.example", "a127.0.0.1:8460"}) {
    EXPECT_EQ(check(open, "127.0.0.1", "", host), 403) << host;
  }

  ServerConfig remote;
  remote.listen = {"0.0.0.0", 8460};
  remote.token = "t0ken";
  for (const char* wrong : {"", "Bearer t0ke", "Basic t0ken"}) {
    EXPECT_EQ(check(remote, "10.0.0.5", wrong, "10.0.0.1:8460"), 401) << wrong;
  }
  EXPECT_EQ(check(remote, "10.0.0.5", "Bearer t0ken", "10.0.0.1:8460"), 0);
  EXPECT_EQ(check(remote, "127.0.0.1", "", "localhost"), 0);
  // The names and origins allowed are matched whole.
  ServerConfig shop;
  shop.allowedHosts = {"pos.shop.lan"};
  shop.allowedOrigins = {"http://pos.shop.lan"};
  EXPECT_EQ(check(shop, "127.0.0.1", "", "POS.shop.lan:8460", "http://pos.shop.lan"), 0);
  EXPECT_EQ(check(shop, "127.0.0.1", "", "pos.shop.lan.evil.example"), 403);
  EXPECT_EQ(check(shop, "127.0.0.1", "", "pos.shop.lan", "http://pos.shop.lan.evil.example"), 403);

  // Half a TLS setting, or a file that cannot be read, keeps the server from starting with the
  // reason, instead of serving plain HTTP or failing later without one.
  const TempDir temp;
  const auto refusal = [&](const std::string& server) {
    std::string error;
    EXPECT_FALSE(
        LoadServerConfig(SettingsStore(temp.Write("v.ini", "[Server]\n" + server)), "", error))
        << server;
    return error;
  };
  EXPECT_NE(refusal("CertFile=/etc/hostname\n").find("CertFile and KeyFile go together"),
            std::string::npos);
  // Other computers are let in only with a token.
  EXPECT_NE(refusal("Listen=0.0.0.0:8460\n").find("set [Server] Token first"), std::string::npos);
  EXPECT_EQ(refusal("CertFile=/etc/hostname\nKeyFile=/nonexistent/key.pem\n"),
            "[Server] KeyFile /nonexistent/key.pem: No such file or directory");
  // The journal and the logs stay in one folder, wherever the daemon is started.
  EXPECT_EQ(refusal("LogDir=\"/var/log/v\"\n"),
            "[Server] LogDir \"/var/log/v\" is not an absolute path");
}

TEST(RegistrationTest, RegisterTwiceLeavesOneSetAndUnregisterRemovesExactlyIt) {
  const TempDir temp;
  const std::string dir = temp.Path();
  const RegistrationPaths paths = DefaultRegistrationPaths(dir + "/reg", dir + "/units");
  const RegistrationInfo info{
      "/opt/vekta/bin/vektamanager", "127.0.0.1:8460", {"--config", "/etc/v ini"}};
  std::string error;
  ASSERT_TRUE(Register(paths, info, error)) << error;
  ASSERT_TRUE(Register(paths, info, error)) << error;
  std::ofstream(dir + "/reg/vektamanager.ini") << "[Server]\n";  // not ours

  EXPECT_EQ(nlohmann::json::parse(ReadWholeFile(dir + "/reg/registration.json"))["LocalServer32"],
            "\"/opt/vekta/bin/vektamanager\"");
  const std::string unit = ReadWholeFile(dir + "/units/vektamanager.service");
  EXPECT_NE(unit.find("ExecStart=/opt/vekta/bin/vektamanager --config \"/etc/v ini\""),
            std::string::npos);
  if (paths.systemScope) {
    EXPECT_NE(unit.find("User=vektamanager"), std::string::npos);
    EXPECT_NE(unit.find("Group=dialout"), std::string::npos);
  }
  EXPECT_EQ(unit.find("@"), std::string::npos);
  // A start by hand with other options refreshes the executable only: the service keeps its own.
  const RegistrationInfo byHand{
      "/usr/sbin/vektamanager", "127.0.0.1:9", {"--listen", "127.0.0.1:9"}};
  const RegistrationInfo refreshed = RefreshedRegistration(paths, byHand);
  EXPECT_EQ(refreshed.executablePath, byHand.executablePath);
  EXPECT_EQ(refreshed.listen, info.listen);
  EXPECT_EQ(refreshed.serverArguments, info.serverArguments);
  const RegistrationInfo itself{"/usr/sbin/vektamanager", "127.0.0.1:9", info.serverArguments};
  EXPECT_EQ(RefreshedRegistration(paths, itself).listen, itself.listen);
  // Nor are options no start would take, or paths an earlier version kept relative, as typed.
  for (const char* stored :
       {R"(["--config",""])", R"(["--config","v.ini"])", R"(["--config=v"])"}) {
    std::ofstream(dir + "/reg/registration.json")
        << R"({"listen":"127.0.0.1:8460","serverArguments":)" << stored << "}";
    EXPECT_EQ(RefreshedRegistration(paths, byHand).serverArguments, byHand.serverArguments)
        << stored;
  }

  ASSERT_TRUE(Unregister(paths, error)) << error;
  EXPECT_EQ(RefreshedRegistration(paths, byHand).serverArguments, byHand.serverArguments);
  EXPECT_FALSE(fs::exists(dir + "/units/vektamanager.service"));
  EXPECT_TRUE(fs::exists(dir + "/reg/vektamanager.ini"));
  EXPECT_TRUE(fs::exists(dir + "/units")) << "the folder of the units is not ours to remove";
  // Unregistering what is not there is no failure.
  EXPECT_TRUE(Unregister(paths, error)) << error;

  // A normal start refreshes the registration, but not with simulated printers, nor where the
  // package's unit is the service: a unit of ours in /etc/systemd/system would take its place.
  RegistrationPaths asRoot = paths;
  asRoot.packagedUnitDirs = {dir + "/lib"};
  EXPECT_TRUE(RefreshesRegistration(asRoot, false));
  EXPECT_FALSE(RefreshesRegistration(asRoot, true));
  fs::create_directories(dir + "/lib");
  std::ofstream(dir + "/lib/vektamanager.service") << "[Service]\n";
  EXPECT_FALSE(RefreshesRegistration(asRoot, false));
  EXPECT_TRUE(DefaultRegistrationPaths("", dir).packagedUnitDirs.empty());

  // A damaged manifest cannot make Unregister delete other files.
  std::ofstream(dir + "/reg/precious.txt") << "keep";
  std::ofstream(dir + "/reg/registration.json")
      << R"({"files":[")" << dir << R"(/reg/precious.txt","/etc/passwd"]})";
  Unregister(paths, error);
  EXPECT_TRUE(fs::exists(dir + "/reg/precious.txt"));
  EXPECT_FALSE(fs::exists(dir + "/reg/registration.json"));
}

}  // namespace
}  // namespace vekta
