// The link over a real pseudo-terminal against the simulated printer.

#include <functional>
#include <thread>

#include "link/receipt_journal.h"
#include "tests/link/link_fixture.h"
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

  TempDir m_temp;
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
    EXPECT_EQ(m_link->ModelGeneration(), SimModelGeneration(model));
    EXPECT_EQ(m_link->ModelVariant(), SimModelVariant(model));
    EXPECT_EQ(m_link->SerialNumber(), m_sim->Model().SerialNumber());
    EXPECT_EQ(m_link->Config().firmwareId, m_sim->Model().FirmwareId());
    EXPECT_NE(m_link->Config().taxes[0].value, "");
    EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());
    m_link.reset();
  }
}

TEST_F(LinkSimTest, APortThatWillNotDoSaysWhyAndAnUnpluggedPrinterIsReconnectedAsItsCashier) {
  SimOptions options;
  const std::string tty = options.linkPath = m_temp.Path() + "/tty";
  Start(options);
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);
  // The operator's log says why a port will not do, with its device.
  m_host.UseRealPorts({{"COM1", tty}, {"COM2", "/nonexistent/vekta-tty"}, {"COM3", "/dev/null"}});
  PrinterLink second(1, m_host, m_clock, LinkTimings::Short());
  for (const char* port : {"COM1", "COM2", "COM3"}) {
    EXPECT_EQ(second.Connect(port, "KASIR", kPassword), 0) << port;
  }
  EXPECT_EQ(
      m_host.PortProblems(),
      (Texts{"COM1 (" + tty + "): another program holds the device",
             "COM2 (/nonexistent/vekta-tty): cannot open the device: No such file or directory",
             "COM3 (/dev/null): cannot configure the line (Inappropriate ioctl for device): is "
             "it a serial port?"}));
  EXPECT_TRUE(m_link->SendFrame("CONf"));
  EXPECT_TRUE(m_link->WaitReady());

  m_sim->Printer().Unplug();
  for (int i = 0; i < 300 && !m_link->IsLost(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(m_link->IsLost());
  EXPECT_EQ(m_host.PortProblems().back(), "COM1 (" + tty +
                                              "): the device went away (unplugged, or the line "
                                              "hung up)");
  // Every wait ends at once, and a probe tells a lost line from a silent printer.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(m_link->SendFrame("CONf"));
  EXPECT_FALSE(m_link->WaitReady());
  EXPECT_EQ(m_link->ProbeReady(), -1);
  EXPECT_FALSE(m_link->PollStatus());
  EXPECT_EQ(m_link->QueryPrinter("CONf", "CONf"), "");
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

// The printer books the receipt, then is switched off (or unplugged) while it prints it: no
// reply ever comes. With the journal's register baseline the retry finds it printed, once.
TEST_F(LinkSimTest, AReceiptCutOffByPowerOrCableIsSettledFromTheRegisters) {
  m_host.SetLogDirectory(m_temp.Path());
  SimOptions options;
  options.printLineMs = 300;
  options.linkPath = m_temp.Path() + "/tty";
  Start(options);
  m_link->SetShowErrorMessages(false);
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);
  const SimRegisters before = m_sim->Model().Registers();

  const auto closeAndCut = [&](const std::function<void()>& cut) {
    EXPECT_EQ(m_link->OpenCheck("1"), 1);
    EXPECT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 1, 0, 0), 1000);
    std::thread cutter([&] {
      std::this_thread::sleep_for(600ms);
      cut();
    });
    EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
    cutter.join();
    EXPECT_TRUE(m_link->IsCloseInDoubt());
  };

  closeAndCut([&] {
    m_sim->Model().SetPower(false);
    m_sim->Model().SetPower(true);
  });
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);  // logged in again, then asked
  EXPECT_FALSE(m_link->IsCloseInDoubt());
  EXPECT_EQ(m_sim->Model().Registers().receiptsToday, before.receiptsToday + 1);

  closeAndCut([&] { m_sim->Printer().Unplug(); });
  ASSERT_TRUE(m_sim->Printer().Replug());
  ASSERT_TRUE(m_link->Reconnect());
  EXPECT_FALSE(m_link->IsCloseInDoubt());  // settled once the printer could be asked
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 1000);
  EXPECT_EQ(m_sim->Model().Registers().receiptsToday, before.receiptsToday + 2);
  EXPECT_EQ(m_sim->Model().Registers().daySales, before.daySales + 2000);

  // Switched off before the close reached it: the receipt is gone, and the retry says so.
  EXPECT_EQ(m_link->OpenCheck("1"), 1);
  EXPECT_EQ(m_link->FiscalLine("Bread", 1, 1000, 0, 1, 0, 0), 1000);
  m_sim->Model().SetSilent(true);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), -1);
  m_sim->Model().SetPower(false);
  m_sim->Model().SetSilent(false);
  m_sim->Model().SetPower(true);
  EXPECT_EQ(m_link->CloseCheckEx(1000, 0, 0, 0), 0);
  EXPECT_FALSE(m_link->IsCheckOpen());
  EXPECT_EQ(m_sim->Model().Registers().receiptsToday, before.receiptsToday + 2);
}

TEST_F(LinkSimTest, AfterAPowerCycleOrAnEarlierRunEveryReceiptIsBookedOnceWithItsTotal) {
  const std::string& logs = m_temp.Path();
  Start();
  m_link->SetShowErrorMessages(false);
  ASSERT_EQ(m_link->Connect("COM1", "KASIR", kPassword), 1);
  const SimRegisters before = m_sim->Model().Registers();

  // Off and on under an open receipt: the printer forgets it and its login. The link logs in
  // again and the line fails; the next receipt goes through as usual, once.
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  ASSERT_GT(m_link->FiscalLine("Bread", 1, 1000, 0, 1, 0, 0), 0);
  m_sim->Model().SetPower(false);
  m_sim->Model().SetPower(true);
  EXPECT_FALSE(m_sim->Model().LoggedIn());
  EXPECT_LT(m_link->FiscalLine("Milk", 1, 2000, 0, 1, 0, 0), 0);
  EXPECT_TRUE(m_sim->Model().LoggedIn());
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  ASSERT_GT(m_link->FiscalLine("Milk", 1, 2000, 0, 1, 0, 0), 0);
  EXPECT_GE(m_link->CloseCheck(), 0);
  EXPECT_EQ(m_sim->Model().Registers().receiptsToday, before.receiptsToday + 1);
  EXPECT_EQ(m_sim->Model().Registers().daySales, before.daySales + 2000);

  // A server killed after the close went out, before its closing mark was on disk: the journal
  // says "open" without a total. The next run books the total the registers moved by.
  {
    ReceiptJournal earlier(logs + "/receipts.sqlite");
    earlier.Opened(1, m_link->SerialNumber(), m_link->GetCashInfo().substr(33, 22));
    earlier.Flush();
  }
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  ASSERT_EQ(m_link->FiscalLine("Bread", 2, 1250, 0, 1, 0, 0), 2500);
  ASSERT_EQ(m_link->CloseCheck(), 2500);
  m_link.reset();

  m_host.SetLogDirectory(logs);
  PrinterLink next(1, m_host, m_clock, LinkTimings::Short());
  ASSERT_EQ(next.Connect("COM1", "KASIR", kPassword), 1);
  ReceiptJournal journal(logs + "/receipts.sqlite", true);
  const std::vector<ReceiptJournal::Entry> settled = journal.Settled(5).value();
  ASSERT_EQ(settled.size(), 1u);
  EXPECT_EQ(settled[0].state, ReceiptJournal::kClosed);
  EXPECT_EQ(settled[0].total, 2500);
}

}  // namespace
}  // namespace vekta
