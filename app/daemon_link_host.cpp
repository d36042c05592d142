#include "app/daemon_link_host.h"

#include <chrono>

#include "link/printer_link.h"
#include "platform/codepage.h"

namespace vekta {

class DaemonLinkHost::Window : public StatusWindow {
 public:
  Window(DaemonLinkHost& host, std::int32_t port) : m_host(host), m_port(port) {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_host.m_windows.insert(this);
  }
  ~Window() override {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_host.m_windows.erase(this);
  }
  void SetTitleLine(const std::string& text1251) override { Set(m_title, text1251); }
  void SetGoodsLine(const std::string& text1251) override { Set(m_goods, text1251); }
  void SetSumLine(const std::string& text1251) override { Set(m_sum, text1251); }
  void Show() override {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_shown = true;
  }
  // m_host.m_mutex held
  nlohmann::json Document() const {
    return {{"port", m_port},
            {"title", Cp1251ToUtf8(m_title)},
            {"goods", Cp1251ToUtf8(m_goods)},
            {"sum", Cp1251ToUtf8(m_sum)},
            {"shown", m_shown}};
  }

 private:
  void Set(std::string& line, const std::string& text) {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    line = text;
  }

  DaemonLinkHost& m_host;
  std::int32_t m_port;
  // guarded by m_host.m_mutex
  std::string m_title, m_goods, m_sum;
  bool m_shown = false;
};

DaemonLinkHost::DaemonLinkHost(const SettingsStore& settings, std::string logDirectory)
    : HeadlessLinkHost(settings, std::move(logDirectory)) {}

void DaemonLinkHost::MapPort(int portNumber, std::string devicePath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_mappedPorts["COM" + std::to_string(portNumber)] = std::move(devicePath);
}

std::unique_ptr<StatusWindow> DaemonLinkHost::CreateStatusWindow(const PrinterLink& link) {
  return std::make_unique<Window>(*this, link.PortNumber());
}

bool DaemonLinkHost::ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) {
  const bool ok = HeadlessLinkHost::ShowConnectDialog(link, data);
  Remember({{"kind", "connect"},
            {"port", link.PortNumber()},
            {"cashier", Cp1251ToUtf8(data.cashierName)},
            {"answer", ok ? "OK" : "Cancel"}});
  return ok;
}

void DaemonLinkHost::ShowPrinterInfo(const PrinterLink& link) {
  HeadlessLinkHost::ShowPrinterInfo(link);
  Remember({{"kind", "info"},
            {"port", link.PortNumber()},
            {"serialNumber", Cp1251ToUtf8(link.SerialNumber())},
            {"answer", "closed"}});
}

MessageBoxResult DaemonLinkHost::ShowMessageBox(const std::string& text1251,
                                                MessageBoxStyle style) {
  const MessageBoxResult answer = HeadlessLinkHost::ShowMessageBox(text1251, style);
  const char* styleName = style == MessageBoxStyle::kStopOk          ? "stop"
                          : style == MessageBoxStyle::kExclamationOk ? "exclamation"
                                                                     : "retrycancel";
  const char* answerName = answer == MessageBoxResult::kOk      ? "OK"
                           : answer == MessageBoxResult::kRetry ? "Retry"
                                                                : "Cancel";
  Remember({{"kind", "message"},
            {"style", styleName},
            {"text", Cp1251ToUtf8(text1251)},
            {"answer", answerName}});
  return answer;
}

std::string DaemonLinkHost::PortDevicePath(const std::string& portName) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mappedPorts.find(portName);
    if (it != m_mappedPorts.end()) return it->second;
  }
  return HeadlessLinkHost::PortDevicePath(portName);
}

void DaemonLinkHost::Remember(nlohmann::json message) {
  const auto now = std::chrono::system_clock::now();
  std::lock_guard<std::mutex> lock(m_mutex);
  message["id"] = ++m_sequence;
  message["time"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  m_recent.push_back(std::move(message));
  while (m_recent.size() > kRecentMessages) m_recent.pop_front();
}

nlohmann::json DaemonLinkHost::StatusDocument() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  nlohmann::json windows = nlohmann::json::array();
  for (const Window* w : m_windows) windows.push_back(w->Document());
  return {{"windows", windows},
          {"prompts", nlohmann::json::array()},
          {"recentMessages", nlohmann::json(m_recent)}};
}

std::vector<std::string> DaemonLinkHost::Ports() const {
  std::vector<std::string> ports = Settings().ExistingPorts();
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& [name, path] : m_mappedPorts) {
    if (std::find(ports.begin(), ports.end(), name) == ports.end()) ports.push_back(name);
  }
  std::sort(ports.begin(), ports.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(3)) < std::stoi(b.substr(3));
  });
  return ports;
}

}  // namespace vekta
