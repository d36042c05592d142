#include "link/headless_link_host.h"

#include <cstdio>

#include "platform/string_table.h"

namespace vekta {

HeadlessLinkHost::HeadlessLinkHost(const SettingsStore& settings, std::string logDirectory)
    : m_settings(settings), m_logDirectory(std::move(logDirectory)) {}

std::unique_ptr<StatusWindow> HeadlessLinkHost::CreateStatusWindow(const PrinterLink&) {
  return std::make_unique<HeadlessStatusWindow>();
}

bool HeadlessLinkHost::ShowConnectDialog(const PrinterLink&, ConnectDialogData&) {
  return false;
}

void HeadlessLinkHost::ShowPrinterInfo(const PrinterLink&) {}

MessageBoxResult HeadlessLinkHost::ShowMessageBox(const std::string&, MessageBoxStyle style) {
  return style == MessageBoxStyle::kStopRetryCancel ? MessageBoxResult::kCancel
                                                    : MessageBoxResult::kOk;
}

void HeadlessLinkHost::BringMainWindowToTop() {}

std::string HeadlessLinkHost::LoadString(int id) {
  return LoadString1251(id);
}

std::uint32_t HeadlessLinkHost::ReadConfigDword(const std::string& section, const std::string& name,
                                                std::uint32_t defaultValue) {
  return m_settings.ReadConfigDword(section, name, defaultValue);
}

std::string HeadlessLinkHost::PortDevicePath(const std::string& portName) {
  return m_settings.PortDevicePath(portName);
}

std::string HeadlessLinkHost::LogDirectory() {
  return m_logDirectory;
}

std::unique_ptr<SerialPort> HeadlessLinkHost::CreateSerialPort() {
  return MakeTermiosSerialPort();
}

void WriteProblemLine(const std::string& text) {
  const std::string line = "vektamanager: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

void HeadlessLinkHost::ReportPortProblem(const std::string& text) {
  WriteProblemLine(text);
}

}  // namespace vekta
