// A server killed in the middle of a receipt: the next one settles, on its first connection to
// the printer, what the journal says was left open or in doubt.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "tests/integration/daemon_process.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using nlohmann::json;
using testing::DaemonProcess;
using testing::FreePort;
using testing::TempDir;

class ReceiptRecoveryTest : public ::testing::Test {
 protected:
  // The close prints long enough to outlast its 3 s wait.
  ReceiptRecoveryTest() : m_sim({"--print-ms", "450"}) {}

  void StartServer() {
    m_server.reset();
    m_server = std::make_unique<DaemonProcess>(m_dir, FreePort(), std::vector<std::string>{}, true,
                                               "[Ports]\nCOM1=" + m_sim.DevicePath() + "\n");
    m_http = std::make_unique<ObjectConnection>(m_server->Address());
    ASSERT_EQ(m_http->CreateObject("VektaManager.Orbis", 0, m_id), S_OK);
    // A printer still busy with the receipt answers no wake-up: the client tries again.
    bool attached = false;
    for (int i = 0; i < 5 && !attached; ++i) {
      attached = Call("Init", json::array({1, "K", "7777777777", 0, "POS"}));
    }
    ASSERT_TRUE(attached);
  }
  bool Call(const std::string& member, const json& args) {
    return m_http->Call(m_id, member, args).body.value("ok", false);
  }
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
  EXPECT_EQ(m_http->Call(m_id, "CloseCheck", nullptr).body["out"]["CheckSum"], -1);
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
