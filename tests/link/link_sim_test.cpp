// The link over a real pseudo-terminal against the simulated printer.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "tests/support/scripted_link_host.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

constexpr char kPassword[] = "7777777777";

class LinkSimTest : public ::testing::Test {
 protected:
  void Start(SimOptions options = {}) {
    m_sim = std::make_unique<SimHarness>(options);
    const std::string device = options.linkPath.empty() ? m_sim->DevicePath() : options.linkPath;
    m_host.UseRealPorts({{"COM1", device}});
    m_link = std::make_unique<PrinterLink>(1, m_host, m_clock, LinkTimings::Short());
  }
  template <typename Done>
  static bool Eventually(Done done) {
    for (int i = 0; i < 300 && !done(); ++i) std::this_thread::sleep_for(10ms);
    return done();
  }
  std::string Text(int id) const { return LoadStringUtf8(id); }

  ScriptedLinkHost m_host;
  RealClock m_clock;
  std::unique_ptr<SimHarness> m_sim;
  std::unique_ptr<PrinterLink> m_link;
};

TEST_F(LinkSimTest, LogsInToEveryModel) {
  for (const SimModel model : {SimModel::kGen0Var0, SimModel::kGen0Var1, SimModel::kGen1Var2,
                               SimModel::kGen1Var3, SimModel::kGen1Var4}) {
    SimOptions options;
    options.model = model;
    Start(options);
    ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1) << m_link->LastErrorText();
    EXPECT_TRUE(m_sim->Model().LoggedIn());
    EXPECT_EQ(m_link->ModelGeneration(), SimModelGeneration(model));
    EXPECT_EQ(m_link->ModelVariant(), SimModelVariant(model));
    EXPECT_EQ(m_link->SerialNumber(), m_sim->Model().SerialNumber());
    EXPECT_EQ(m_link->Config().firmwareId, m_sim->Model().FirmwareId());
    EXPECT_NE(m_link->Config().taxes[0].value, "");
    EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
    m_link.reset();
  }
}

TEST_F(LinkSimTest, FramesSurviveGarbageSplitsAndBursts) {
  Start();
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);

  m_sim->Printer().SendGarbage("AB\x01\xFE");
  m_sim->Printer().SendUnsolicited("HELLO");
  EXPECT_EQ(m_link->TakePendingMessage(1000), "HELLO");

  m_sim->Printer().SetSplitFrames(true);
  const std::string conf = m_link->GetConfigText();
  EXPECT_EQ(conf.substr(0, 10), m_sim->Model().SerialNumber());
  m_sim->Printer().SetSplitFrames(false);
  m_link->DrainQueue();

  // 64 messages nobody takes: 63 are kept, one is dropped, and the link goes on.
  for (int i = 0; i < 64; ++i) m_sim->Printer().SendUnsolicited("MSG" + std::to_string(i));
  EXPECT_TRUE(
      Eventually([&] { return m_link->Stats().queueDrops.load() + m_link->Queue().Size() >= 64; }));
  EXPECT_EQ(m_link->Queue().Size(), 63u);
  EXPECT_EQ(m_link->Stats().queueDrops.load(), 1u);
  m_link->DrainQueue();
  EXPECT_TRUE(m_link->SendFrame("CONf"));
  EXPECT_TRUE(m_link->WaitReady());
}

TEST_F(LinkSimTest, WrongPasswordReturnsToThePromptAndIsCancelled) {
  Start();
  EXPECT_EQ(m_link->Connect("COM1", "KASIR", "1111111111"), 0);
  EXPECT_EQ(m_host.Calls(), (std::vector<std::string>{"box:excl:" + Text(1004), "connect:COM1:"}));
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_FALSE(m_sim->Model().LoggedIn());
}

TEST_F(LinkSimTest, SilentPrinterAsksRetryThenCancel) {
  Start();
  m_sim->Model().SetSilent(true);
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  EXPECT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 0);
  EXPECT_EQ(m_host.Calls(),
            (std::vector<std::string>{"box:retry:" + Text(1003), "box:retry:" + Text(1003)}));
  EXPECT_FALSE(m_link->IsConnected());
}

TEST_F(LinkSimTest, PortHeldByAnotherLinkCannotBeOpened) {
  Start();
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);
  PrinterLink second(1, m_host, m_clock, LinkTimings::Short());
  m_host.ClearCalls();
  EXPECT_EQ(second.Connect("COM1", "KASIR", kPassword), 0);
  EXPECT_EQ(second.LastErrorText(), LoadString1251(3012) + "COM1");
  EXPECT_EQ(m_host.Calls(), std::vector<std::string>{"box:retry:" + Text(3012) + "COM1"});
  EXPECT_TRUE(m_link->SendFrame("CONf"));
  EXPECT_TRUE(m_link->WaitReady());
}

TEST_F(LinkSimTest, UnpluggedPrinterIsLostAndReconnectedWithTheStoredCashier) {
  SimOptions options;
  options.linkPath = ::testing::TempDir() + "/link_sim_unplug";
  std::filesystem::remove(options.linkPath);
  Start(options);
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);
  m_sim->Printer().Unplug();
  ASSERT_TRUE(Eventually([&] { return m_link->IsLost(); }));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));

  ASSERT_TRUE(m_sim->Printer().Replug());
  m_host.ClearCalls();
  EXPECT_TRUE(m_link->Reconnect());
  EXPECT_TRUE(m_host.Calls().empty());
  EXPECT_EQ(m_sim->Model().Cashier().substr(0, 5), "KASIR");
  EXPECT_TRUE(m_link->SendFrame("CONf"));
  EXPECT_TRUE(m_link->WaitReady());
}

}  // namespace
}  // namespace vekta
