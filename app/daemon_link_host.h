#pragma once

// The link host of the daemon without a web page: prompts take their default answers at once
// (as HeadlessLinkHost decides) and are kept in a short list of recent messages; status windows
// are only state. Both are reported by GET /api/v1/status. Ports of the in-process simulator
// map to their pseudo-terminals.

#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "link/headless_link_host.h"

namespace vekta {

class DaemonLinkHost : public HeadlessLinkHost {
 public:
  static constexpr std::size_t kRecentMessages = 50;

  DaemonLinkHost(const SettingsStore& settings, std::string logDirectory);

  // COM N is the simulator's device, whatever [Ports] says.
  void MapPort(int portNumber, std::string devicePath);

  std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) override;
  bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) override;
  void ShowPrinterInfo(const PrinterLink& link) override;
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override;
  std::string PortDevicePath(const std::string& portName) override;

  // {"windows":[{"port":3,"title":..,"goods":..,"sum":..,"shown":..}],"recentMessages":[..]}
  nlohmann::json StatusDocument() const;
  // COM names of existing ports and of the simulated ones.
  std::vector<std::string> Ports() const;

 private:
  class Window;
  void Remember(nlohmann::json message);

  mutable std::mutex m_mutex;
  std::map<std::string, std::string> m_mappedPorts;  // guarded by m_mutex
  std::set<Window*> m_windows;                       // guarded by m_mutex
  std::deque<nlohmann::json> m_recent;               // guarded by m_mutex
  std::uint64_t m_sequence = 0;                      // guarded by m_mutex
};

}  // namespace vekta
