#pragma once

#include <string>

#include "link/link_host.h"
#include "platform/settings_store.h"

namespace vekta {

// "vektamanager: TEXT" on standard error, in one write, so that lines of two threads never
// interleave.
void WriteProblemLine(const std::string& text);

// The host of a link when nobody watches: no windows, and every prompt takes its default
// answer at once (OK; Cancel for Retry/Cancel and for the connect dialog). The daemon extends
// it to publish status windows and prompts to the web page.
class HeadlessLinkHost : public LinkHost {
 public:
  HeadlessLinkHost(const SettingsStore& settings, std::string logDirectory);

  std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) override;
  bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) override;
  void ShowPrinterInfo(const PrinterLink& link) override;
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override;
  void BringMainWindowToTop() override;
  std::string LoadString(int id) override;
  std::uint32_t ReadConfigDword(const std::string& section, const std::string& name,
                                std::uint32_t defaultValue) override;
  std::string PortDevicePath(const std::string& portName) override;
  std::string LogDirectory() override;
  std::unique_ptr<SerialPort> CreateSerialPort() override;
  // Writes the line to standard error.
  void ReportPortProblem(const std::string& text) override;

 protected:
  const SettingsStore& Settings() const { return m_settings; }

 private:
  const SettingsStore& m_settings;
  std::string m_logDirectory;
};

// A status window that only keeps its three lines (what GET /api/v1/status reports).
class HeadlessStatusWindow : public StatusWindow {
 public:
  void SetTitleLine(const std::string& text1251) override { m_title = text1251; }
  void SetGoodsLine(const std::string& text1251) override { m_goods = text1251; }
  void SetSumLine(const std::string& text1251) override { m_sum = text1251; }
  void Show() override { m_shown = true; }

  const std::string& TitleLine() const { return m_title; }
  const std::string& GoodsLine() const { return m_goods; }
  const std::string& SumLine() const { return m_sum; }
  bool Shown() const { return m_shown; }

 private:
  std::string m_title;
  std::string m_goods;
  std::string m_sum;
  bool m_shown = false;
};

}  // namespace vekta
