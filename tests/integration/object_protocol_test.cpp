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

class DaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_daemon = std::make_unique<DaemonProcess>(m_dir, FreePort(),
                                               std::vector<std::string>{"--simulate", "1"});
    m_http = std::make_unique<ObjectConnection>(m_daemon->Address());
  }
  TempDir m_dir;
  std::unique_ptr<DaemonProcess> m_daemon;
  std::unique_ptr<ObjectConnection> m_http;
};

TEST_F(DaemonTest, EveryMemberOfBothClassesAnswersByNameAndByDispid) {
  for (const char* progid : {"VektaManager.Orbis", "VektaManager.Application"}) {
    const bool orbis = std::string(progid) == "VektaManager.Orbis";
    const InterfaceInfo& info = orbis ? OrbisInterface() : VektaManagerInterface();
    std::string id;
    ASSERT_EQ(m_http->CreateObject(progid, 0, id), S_OK);
    const std::string invokePath = "/api/v1/objects/" + id + "/invoke";
    HttpAnswer init = m_http->Call(id, "Init", json::array({1, "Kassir", "7777777777", 0, "IT"}));
    ASSERT_EQ(init.status, 200) << init.error;
    EXPECT_EQ(orbis ? init.body["hresultName"] : init.body["value"],
              orbis ? json("S_OK") : json(1));
    for (const MemberInfo& m : info.members) {
      if (m.name == "Init" || m.name == "Done" || m.name == "InitEx") continue;
      const json args = m.kind == MemberKind::kProperty ? json(nullptr) : DefaultArgs(m);
      HttpAnswer byName = m_http->Call(id, m.name, args);
      EXPECT_EQ(byName.status, 200) << m.name << ": " << byName.error;
      EXPECT_TRUE(byName.body.contains(orbis ? "hresult" : "value")) << m.name;
      json invoke = {{"dispid", m.dispid}, {"args", args.is_null() ? json::array() : args}};
      invoke["kind"] = m.kind == MemberKind::kProperty ? "propget" : "method";
      HttpAnswer byDispid = m_http->Send("POST", invokePath, invoke);
      EXPECT_EQ(byDispid.status, 200) << m.name << ": " << byDispid.error;
      if (m.kind == MemberKind::kProperty) {
        invoke["kind"] = "propput";
        invoke["args"] = json::array({m.valueType == VarType::kBstr ? json("x") : json(1)});
        EXPECT_EQ(m_http->Send("POST", invokePath, invoke).status, 200) << m.name;
      }
    }
    EXPECT_EQ(m_http->Call(id, "Done", nullptr).status, 200);
    EXPECT_EQ(m_http->Release(id), S_OK);
  }
  EXPECT_EQ(m_http->Get("/healthz").status, 200);
}

TEST_F(DaemonTest, RemoteOrbisGivesTheResultsOfTheObjectInTheServer) {
  auto connection = std::make_shared<ObjectConnection>(m_daemon->Address());
  std::unique_ptr<RemoteOrbis> orbis;
  ASSERT_EQ(RemoteOrbis::Create(connection, orbis), S_OK);
  ASSERT_EQ(orbis->Init(1, "Касир", "7777777777", 0, "Каса 1"), S_OK);
  std::int32_t port = 0, line = 0, sum = 0;
  EXPECT_EQ(orbis->GetPortNumber(&port), S_OK);
  EXPECT_EQ(port, 1);
  EXPECT_EQ(orbis->OpenCheck("Бакалея"), S_OK);
  EXPECT_EQ(orbis->FiscalLine("Хліб", 2, 1850, 0, 1, 0, 101, &line), S_OK);
  EXPECT_EQ(line, 3700);
  EXPECT_EQ(orbis->CloseCheckEx(5000, 0, 0, 0, &sum), S_OK);
  EXPECT_EQ(sum, 3700);
  std::string xml;
  EXPECT_EQ(orbis->GetCheckResultXML(&xml), S_OK);
  EXPECT_NE(xml.find("total=\"3700\""), std::string::npos);
  // A failed operation keeps its code and out value.
  line = 0;
  EXPECT_EQ(orbis->FiscalLine("Хліб", 1, 100, 0, 1, 0, 101, &line), E_FAIL);
  EXPECT_EQ(line, -1);
  orbis.reset();  // the final release detaches: the port closes
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return m_http->Get("/api/v1/connections").body["connections"].empty(); }));
}

// A server killed in the middle of a receipt: the next one settles, on its first connection to
// the printer on a [Ports] mapping, what the journal says was left open or in doubt.
class ReceiptRecoveryTest : public ::testing::Test {
 protected:
  // The close prints long enough to outlast its 3 s wait.
  ReceiptRecoveryTest() : m_sim({"--print-ms", "450"}) {}

  void StartServer() {
    m_server.reset();
    m_server = std::make_unique<DaemonProcess>(m_dir, FreePort(), std::vector<std::string>{}, true,
                                               "[Ports]\nCOM2=" + m_sim.DevicePath() + "\n");
    m_http = std::make_unique<ObjectConnection>(m_server->Address());
    ASSERT_EQ(m_http->CreateObject("VektaManager.Orbis", 0, m_id), S_OK);
    // A printer still busy with the receipt answers no wake-up: the client tries again.
    bool attached = false;
    for (int i = 0; i < 5 && !attached; ++i) {
      attached = Call("Init", json::array({2, "K", "7777777777", 0, "POS"}));
    }
    ASSERT_TRUE(attached);
  }
  bool Call(const std::string& member, const json& args) {
    return m_http->Call(m_id, member, args).body.value("ok", false);
  }
  json Out(const std::string& member) { return m_http->Call(m_id, member, nullptr).body["out"]; }
  // "checks=... receipts=... cancelled=..." as the simulator counts them.
  long Register(const std::string& name) {
    if (!m_sim.SendControl("registers")) return -1;
    const std::string reply = m_sim.LastReply();
    const auto at = reply.find(name + "=");
    return at == std::string::npos ? -1 : std::atol(reply.c_str() + at + name.size() + 1);
  }
  json Settled() { return m_http->Get("/api/v1/receipts").body["receipts"]; }

  TempDir m_dir;
  SimProcess m_sim;
  std::unique_ptr<DaemonProcess> m_server;
  std::unique_ptr<ObjectConnection> m_http;
  std::string m_id;
};

TEST_F(ReceiptRecoveryTest, AReceiptLeftOpenIsAbortedAndAPrintedOneInDoubtIsRecordedClosed) {
  ASSERT_TRUE(m_sim.Running());
  StartServer();
  const long receipts = Register("receipts");
  const long cancelled = Register("cancelled");
  // The mapped port keeps its number and is listed.
  EXPECT_EQ(Out("GetPortNumber")["pPortNumber"], 2);
  EXPECT_NE(Out("GetPrinterSerialNumber").value("SerialNumber", ""), "");
  const json ports = m_http->Get("/api/v1/ports").body["ports"];
  EXPECT_NE(std::find(ports.begin(), ports.end(), json("COM2")), ports.end());

  // Killed with a receipt open: the next server aborts it on the printer.
  ASSERT_TRUE(Call("OpenCheck", json::array({"1"})));
  ASSERT_TRUE(Call("FiscalLine", json::array({"Хліб", 1, 1000, 0, 1, 0, 0})));
  StartServer();
  EXPECT_EQ(Register("cancelled"), cancelled + 1);
  json settled = Settled();
  ASSERT_EQ(settled.size(), 1u);
  EXPECT_EQ(settled[0]["state"], "aborted");
  EXPECT_NE(settled[0]["settled"].get<std::string>().find("not closed on the printer: aborted"),
            std::string::npos);

  // Killed while the close is in doubt and the printer goes on printing it: recorded closed.
  ASSERT_TRUE(Call("OpenCheck", json::array({"1"})));
  ASSERT_TRUE(Call("FiscalLine", json::array({"Хліб", 1, 1000, 0, 1, 0, 0})));
  EXPECT_EQ(Out("CloseCheck")["CheckSum"], -1);
  StartServer();
  settled = Settled();
  ASSERT_EQ(settled.size(), 2u);
  EXPECT_EQ(settled[0]["state"], "closed");
  EXPECT_EQ(settled[0]["total"], 1000);
  EXPECT_EQ(Register("receipts"), receipts + 1);
  EXPECT_EQ(Register("cancelled"), cancelled + 1);

  // And the port goes on as usual.
  ASSERT_TRUE(Call("OpenCheck", json::array({"1"})));
  EXPECT_EQ(Register("receipts"), receipts + 1);
}

}  // namespace
}  // namespace vekta
