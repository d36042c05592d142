#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/integration/daemon_process.h"

namespace vekta {
namespace {

using nlohmann::json;
using testing::DaemonProcess;
using testing::FreePort;

TEST(VektactlTest, FailedCallsExitOneMalformedIdsReachNoObjectAndAnUnprintedReceiptFails) {
  TempDir dir;
  DaemonProcess daemon(dir, FreePort(), {"--simulate", "1", "--simulate", "2"});
  ObjectConnection http(daemon.Address());
  // The built vektactl against the daemon, to its end.
  const auto ctl = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {testing::BuildDir() + "/client/vektactl", "--server",
                               "127.0.0.1:" + std::to_string(daemon.Address().port)});
    return testing::RunToEnd(dir, args);
  };
  std::string id;
  ASSERT_EQ(http.CreateObject("VektaManager.Orbis", 0, id), S_OK);
  ASSERT_EQ(
      http.Call(id, "Init", json::array({1, "K", "7777777777", 0, "P\x1b[2J\n\tOS"})).body["ok"],
      true);
  // A client's name reaches the operator's terminal without its control bytes.
  EXPECT_NE(ctl({"connections"}).out.find("\tP?[2J??OS\n"), std::string::npos);

  // No receipt is open: the line fails, and --json changes only what is printed. A goods name
  // holding '=' is a name, not a misnamed argument.
  const std::vector<std::string> line = {
      "call", "--object", id, "FiscalLine", "Хліб=житній", "1", "100", "0", "1", "0", "0"};
  for (const bool whole : {false, true}) {
    std::vector<std::string> args = line;
    if (whole) args.insert(args.begin(), "--json");
    const testing::Run run = ctl(args);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(whole ? "\"ok\": false" : "E_FAIL"), std::string::npos) << run.out;
  }
  EXPECT_EQ(ctl({"--json", "call", "--object", id, "GetPortNumber"}).status, 0);
  // A raw command's limit is 100 characters: 60 Cyrillic letters are 120 bytes here.
  std::string letters;
  for (int i = 0; i < 60; ++i) letters += "Ж";
  EXPECT_NE(ctl({"send", "--object", id, letters}).status, 2);
  EXPECT_EQ(ctl({"send", "--object", id, letters + letters}).status, 2);

  // Each of these once reached the object through its URL (Done, or the release itself).
  const std::vector<std::vector<std::string>> refused = {
      {"ping", id + "/call/Done?"},
      {"release", id + "?"},
      {"call", "--object", id + "/call/Done?", "GetPortNumber"},
      {"disconnect", "--object", id + "/"},
      {"show-port", "--object", id.substr(1)},
      {"send", "--object", "../" + id, "CONf"},
  };
  for (const auto& args : refused) {
    const testing::Run run = ctl(args);
    EXPECT_EQ(run.status, 2) << args[0] << " " << args[1];
    EXPECT_NE(run.err.find("not an object id"), std::string::npos) << run.err;
  }
  EXPECT_EQ(ctl({"call", "--class", "Foo", "--object", id, "GetPortNumber"}).status, 2);
  EXPECT_EQ(ctl({"call", "--key", "чек-1", "--object", id, "GetPortNumber"}).status, 2);
  EXPECT_EQ(ctl({"members", "Foo"}).status, 2);
  EXPECT_NE(ctl({"ping"}).err.find("ping needs an object id"), std::string::npos);
  EXPECT_EQ(ctl({"settings", "SaveToLog=5"}).status, 2);
  EXPECT_NE(ctl({"members", "VektaManager"}).out.find(" CheckSumm (property"), std::string::npos);
  EXPECT_EQ(http.Get("/api/v1/connections").body["rows"].size(), 1u);
  EXPECT_EQ(ctl({"ping", id}).status, 0);
  EXPECT_EQ(ctl({"release", id}).status, 0);
  EXPECT_NE(http.Ping(id), S_OK);

  // On COM2 article 100 is already sold under another name: connect-print-disconnect fails there.
  ASSERT_EQ(http.CreateObject("VektaManager.Orbis", 0, id), S_OK);
  ASSERT_EQ(http.Call(id, "Init", json::array({2, "K", "7777777777", 0, "POS"})).body["ok"], true);
  ASSERT_EQ(http.Call(id, "OpenCheck", json::array({"1"})).body["ok"], true);
  ASSERT_EQ(http.Call(id, "FiscalLine", json::array({"Хліб", 1, 100, 0, 1, 0, 100})).body["ok"],
            true);
  ASSERT_EQ(http.Call(id, "CloseCheck", nullptr).body["ok"], true);
  ASSERT_EQ(http.Release(id), S_OK);

  const testing::Run printed = ctl({"connect-print-disconnect", "--port", "1"});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(printed.out, "СУМА 1.23\n");
  EXPECT_EQ(ctl({"connect-print-disconnect", "--port", "1x"}).status, 2);  // no port 1
  const testing::Run failed = ctl({"connect-print-disconnect", "--port", "2"});
  EXPECT_EQ(failed.status, 1) << failed.out;
  EXPECT_EQ(failed.out.find("СУМА"), std::string::npos) << failed.out;
  EXPECT_NE(failed.err.find("vektactl: FiscalLineEx failed (0x80004005): "), std::string::npos)
      << failed.err;  // and the printer's reason

  // A close answers S_OK whatever the printer said; its sum of -1 is a receipt not printed.
  httplib::Server server;
  server.Post("/api/v1/objects", [](const httplib::Request&, httplib::Response& res) {
    res.status = 201;
    res.set_content(R"({"object":"abc","class":"Orbis","leaseMs":5000})", "application/json");
  });
  std::vector<std::string> portKeys;  // the Idempotency-Key of each GetPortNumber
  server.Post(R"(/api/v1/objects/abc/call/(\w+))", [&portKeys](const httplib::Request& req,
                                                               httplib::Response& res) {
    // The first answer is lost on the way: the connection closes without it.
    if (req.matches[1] == "GetPortNumber" &&
        (portKeys.push_back(req.get_header_value("Idempotency-Key")), portKeys.size() == 1)) {
      return res.set_content_provider(
          2, "application/json",
          [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
    }
    const json out = req.matches[1] == "CloseCheck"     ? json{{"CheckSum", -1}}
                     : req.matches[1] == "FiscalLineEx" ? json{{"ThisLineSum", 123}}
                                                        : json::object();
    res.set_content(json{{"hresult", "0x00000000"}, {"ok", true}, {"out", out}}.dump(),
                    "application/json");
  });
  server.Delete("/api/v1/objects/abc",
                [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serving([&] { server.listen_after_bind(); });
  const auto scripted = [&](const std::string& command, const std::string& member = "") {
    std::vector<std::string> args = {testing::BuildDir() + "/client/vektactl", "--server",
                                     "127.0.0.1:" + std::to_string(port), command};
    if (!member.empty()) args.push_back(member);
    return testing::RunToEnd(dir, args);
  };
  const testing::Run unprinted = scripted("connect-print-disconnect");
  // A call whose answer is lost is asked for again under its key, and answered.
  EXPECT_EQ(scripted("call", "GetPortNumber").status, 0);
  server.stop();
  serving.join();
  ASSERT_EQ(portKeys.size(), 2u);
  EXPECT_TRUE(!portKeys[0].empty() && portKeys[0] == portKeys[1]);
  EXPECT_EQ(unprinted.status, 1) << unprinted.out;
  EXPECT_EQ(unprinted.out.find("СУМА"), std::string::npos) << unprinted.out;
  EXPECT_EQ(unprinted.err, "vektactl: CloseCheck failed\n");  // S_OK is no code to give
}

}  // namespace
}  // namespace vekta
