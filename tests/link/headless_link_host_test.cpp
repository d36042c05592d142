#include "link/headless_link_host.h"

#include <gtest/gtest.h>

#include <fstream>

#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/string_table.h"

namespace vekta {
namespace {

TEST(HeadlessLinkHostTest, PromptsTakeTheirDefaultsAndSettingsComeFromTheFile) {
  const std::string path = ::testing::TempDir() + "/headless_host.ini";
  std::ofstream(path)
      << "[CurrentConfig]\nSaveToLog=1\nKeepLogFiles=9\n[Ports]\nCOM3=/dev/ttyUSB7\n";
  SettingsStore settings(path);
  HeadlessLinkHost host(settings, ::testing::TempDir() + "/headless_logs");
  FakeClock clock;
  PrinterLink link(3, host, clock, LinkTimings::Short());

  EXPECT_TRUE(link.SaveToLog());
  EXPECT_EQ(link.KeepLogFiles(), 9);
  EXPECT_EQ(host.PortDevicePath("COM3"), "/dev/ttyUSB7");
  EXPECT_EQ(host.PortDevicePath("COM2"), "/dev/ttyS1");
  EXPECT_EQ(host.LoadString(1003), LoadString1251(1003));
  EXPECT_EQ(host.ShowMessageBox("x", MessageBoxStyle::kStopRetryCancel), MessageBoxResult::kCancel);
  EXPECT_EQ(host.ShowMessageBox("x", MessageBoxStyle::kExclamationOk), MessageBoxResult::kOk);
  ConnectDialogData data{"COM3", "KASIR", "1"};
  EXPECT_FALSE(host.ShowConnectDialog(link, data));
  host.ShowPrinterInfo(link);  // returns at once

  // Without a password nobody can be asked: Connect ends cancelled, the port closed.
  EXPECT_EQ(link.Connect("COM3", "KASIR", "123"), 0);
  EXPECT_FALSE(link.IsConnected());

  link.SetShowStatusWindows(true);
  link.ReplaceStatusWindow(3005, "!");
  auto* window = dynamic_cast<HeadlessStatusWindow*>(link.CurrentStatusWindow());
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->TitleLine(), LoadString1251(3005) + "!");
  EXPECT_TRUE(window->Shown());
}

}  // namespace
}  // namespace vekta
