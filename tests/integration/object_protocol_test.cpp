#include <gtest/gtest.h>

#include "client/remote_orbis.h"
#include "service/member_table.h"
#include "tests/integration/daemon_process.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using nlohmann::json;
using testing::DaemonProcess;
using testing::FreePort;

json DefaultArgs(const MemberInfo& member) {
  json args = json::array();
  for (const ParamInfo& p : member.params) {
    if (p.dir != ParamDir::kIn) continue;
    args.push_back(p.type == VarType::kBstr   ? json("Тест")
                   : p.type == VarType::kDate ? json("2024-01-01")
                                              : json(p.name == "PortNumber" ? 1 : 0));
  }
  return args;
}

TEST(DaemonTest, RemoteOrbisGivesTheServersOutcomeAndEveryMemberAnswersByNameAndByDispid) {
  TempDir dir;
  DaemonProcess daemon(dir, FreePort(), {"--simulate", "1"});
  const auto http = std::make_shared<ObjectConnection>(daemon.Address());
  std::unique_ptr<RemoteOrbis> remote;
  ASSERT_EQ(RemoteOrbis::Create(http, remote), S_OK);
  ASSERT_EQ(remote->Init(1, "Касир", "7777777777", 0, "Каса 1"), S_OK);
  std::int32_t port = 0, line = 0, sum = 0;
  EXPECT_EQ(remote->GetPortNumber(&port), S_OK);
  EXPECT_EQ(port, 1);
  EXPECT_EQ(remote->OpenCheck("Бакалея"), S_OK);
  EXPECT_EQ(remote->FiscalLine("Хліб", 2, 1850, 0, 1, 0, 101, &line), S_OK);
  EXPECT_EQ(line, 3700);
  EXPECT_EQ(remote->CloseCheckEx(5000, 0, 0, 0, &sum), S_OK);
  EXPECT_EQ(sum, 3700);
  std::string xml;
  EXPECT_EQ(remote->GetCheckResultXML(&xml), S_OK);
  EXPECT_NE(xml.find("total=\"3700\""), std::string::npos);
  // A failed operation keeps its code and out value.
  line = 0;
  EXPECT_EQ(remote->FiscalLine("Хліб", 1, 100, 0, 1, 0, 101, &line), E_FAIL);
  EXPECT_EQ(line, -1);
  remote.reset();  // the final release detaches: the port closes
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return http->Get("/api/v1/connections").body["connections"].empty(); }));

  for (const char* progid : {"VektaManager.Orbis", "VektaManager.Application"}) {
    const bool orbis = std::string(progid) == "VektaManager.Orbis";
    const InterfaceInfo& info = orbis ? OrbisInterface() : VektaManagerInterface();
    std::string id;
    ASSERT_EQ(http->CreateObject(progid, 0, id), S_OK);
    const std::string invokePath = "/api/v1/objects/" + id + "/invoke";
    HttpAnswer init = http->Call(id, "Init", json::array({1, "Kassir", "7777777777", 0, "IT"}));
    ASSERT_EQ(orbis ? init.body["hresultName"] : init.body["value"], orbis ? json("S_OK") : json(1))
        << init.error;
    for (const MemberInfo& m : info.members) {
      if (m.name == "Init" || m.name == "Done" || m.name == "InitEx") continue;
      const json args = m.kind == MemberKind::kProperty ? json(nullptr) : DefaultArgs(m);
      HttpAnswer byName = http->Call(id, m.name, args);
      EXPECT_EQ(byName.status, 200) << m.name << ": " << byName.error;
      EXPECT_TRUE(byName.body.contains(orbis ? "hresult" : "value")) << m.name;
      json invoke = {{"dispid", m.dispid}, {"args", args.is_null() ? json::array() : args}};
      invoke["kind"] = m.kind == MemberKind::kProperty ? "propget" : "method";
      HttpAnswer byDispid = http->Send("POST", invokePath, invoke);
      EXPECT_EQ(byDispid.status, 200) << m.name << ": " << byDispid.error;
      if (m.kind == MemberKind::kProperty) {
        invoke["kind"] = "propput";
        invoke["args"] = json::array({m.valueType == VarType::kBstr ? json("x") : json(1)});
        EXPECT_EQ(http->Send("POST", invokePath, invoke).status, 200) << m.name;
      }
    }
    EXPECT_EQ(http->Call(id, "Done", nullptr).status, 200);
    EXPECT_EQ(http->Release(id), S_OK);
  }
  EXPECT_EQ(http->Get("/healthz").status, 200);
}

// A server killed in the middle of a receipt: the next one settles, on its first connection to
// the printer on a [Ports] mapping, what the journal says was left open or in doubt.
TEST(ReceiptRecoveryTest, AReceiptLeftOpenIsAbortedAndAPrintedOneInDoubtIsRecordedClosed) {
  TempDir dir;
  SimProcess sim({"--print-ms", "450"});  // the close prints long enough to outlast its 3 s wait
  ASSERT_TRUE(sim.Running());
  std::unique_ptr<DaemonProcess> server;
  std::unique_ptr<ObjectConnection> http;
  std::string id;
  const auto call = [&](const std::string& member, const json& args) {
    return http->Call(id, member, args).body;
  };
  // Whether a new server's object came to be attached to COM2.
  const auto startServer = [&] {
    server.reset();
    server = std::make_unique<DaemonProcess>(dir, FreePort(), std::vector<std::string>{}, true,
                                             "[Ports]\nCOM2=" + sim.DevicePath() + "\n");
    http = std::make_unique<ObjectConnection>(server->Address());
    if (http->CreateObject("VektaManager.Orbis", 0, id) != S_OK) return false;
    // A printer still busy with the receipt answers no wake-up: the client tries again.
    bool attached = false;
    for (int i = 0; i < 5 && !attached; ++i) {
      attached = call("Init", json::array({2, "K", "7777777777", 0, "POS"})).value("ok", false);
    }
    return attached;
  };
  const auto sell = [&] {
    return call("OpenCheck", json::array({"1"})).value("ok", false) &&
           call("FiscalLine", json::array({"Хліб", 1, 1000, 0, 1, 0, 0})).value("ok", false);
  };
  // "checks=... receipts=... cancelled=..." as the simulator counts them.
  const auto registers = [&](const std::string& name) {
    if (!sim.SendControl("registers")) return -1L;
    const std::string reply = sim.LastReply();
    const auto at = reply.find(name + "=");
    return at == std::string::npos ? -1L : std::atol(reply.c_str() + at + name.size() + 1);
  };
  const auto settled = [&] { return http->Get("/api/v1/receipts").body["receipts"]; };

  ASSERT_TRUE(startServer());
  const long receipts = registers("receipts");
  const long cancelled = registers("cancelled");
  // The mapped port keeps its number and is listed.
  EXPECT_EQ(call("GetPortNumber", nullptr)["out"]["pPortNumber"], 2);
  const json ports = http->Get("/api/v1/ports").body["ports"];
  EXPECT_NE(std::find(ports.begin(), ports.end(), json("COM2")), ports.end());

  // Killed with a receipt open: the next server aborts it on the printer.
  ASSERT_TRUE(sell());
  ASSERT_TRUE(startServer());
  EXPECT_EQ(registers("cancelled"), cancelled + 1);
  json done = settled();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0]["state"], "aborted");
  EXPECT_NE(done[0]["settled"].get<std::string>().find("not closed on the printer: aborted"),
            std::string::npos);

  // Killed while the close is in doubt and the printer goes on printing it: recorded closed.
  ASSERT_TRUE(sell());
  EXPECT_EQ(call("CloseCheck", nullptr)["out"]["CheckSum"], -1);
  ASSERT_TRUE(startServer());
  done = settled();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0]["state"], "closed");
  EXPECT_EQ(done[0]["total"], 1000);
  EXPECT_EQ(registers("receipts"), receipts + 1);
  EXPECT_EQ(registers("cancelled"), cancelled + 1);

  // And the port goes on as usual.
  ASSERT_TRUE(call("OpenCheck", json::array({"1"})).value("ok", false));
  EXPECT_EQ(registers("receipts"), receipts + 1);
}

}  // namespace
}  // namespace vekta
