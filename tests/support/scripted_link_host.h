#pragma once

// A LinkHost for tests: records every call as a line of text and answers prompts from a script.

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_host.h"
#include "platform/string_table.h"
#include "tests/support/fake_serial_port.h"

namespace vekta {

class ScriptedLinkHost : public LinkHost {
  // Runs `use` under the lock (defined first: its return type is deduced).
  template <class F>
  auto Locked(F use) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return use();
  }

 public:
  // Serial ports are fake ports on `line` unless a device path map is used (UseRealPorts).
  explicit ScriptedLinkHost(std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>());

  // Real termios ports; "COMn" maps to devicePaths[n] (for tests against orbis-sim on a pty).
  void UseRealPorts(std::vector<std::pair<std::string, std::string>> portToDevice) {
    Locked([&] {
      m_realPorts = true;
      m_portMap = {portToDevice.begin(), portToDevice.end()};
    });
  }
  void SetLogDirectory(std::string dir) {
    Locked([&] { m_logDirectory = std::move(dir); });
  }
  // A [CurrentConfig] setting.
  void SetSetting(const std::string& name, std::uint32_t value) {
    Locked([&] { m_settings[name] = value; });
  }

  // Answers in order; when a queue is empty: message box OK (Cancel for Retry/Cancel), connect
  // dialog Cancel. Queued box answers are taken only by Retry/Cancel boxes: an OK box has no
  // other answer.
  void QueueMessageBoxAnswer(MessageBoxResult answer) {
    Locked([&] { m_boxAnswers.push_back(answer); });
  }
  void QueueConnectAnswer(bool ok, ConnectDialogData data = {}) {
    Locked([&] { m_connectAnswers.emplace_back(ok, std::move(data)); });
  }

  // Every call, in order: "status.create", "status.title:TEXT", "status.goods:TEXT",
  // "status.sum:TEXT", "status.show", "status.destroy", "box:STYLE:TEXT" (STYLE stop, excl or
  // retry), "connect:PORT:CASHIER", "info", "top". Texts in UTF-8.
  std::vector<std::string> Calls() const {
    return Locked([&] { return m_calls; });
  }
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  void ClearCalls() {
    Locked([&] { m_calls.clear(); });
  }
  // What ReportPortProblem was told, in order (kept apart from Calls).
  std::vector<std::string> PortProblems() const {
    return Locked([&] { return m_portProblems; });
  }

  std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) override;
  bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) override;
  void ShowPrinterInfo(const PrinterLink&) override { Record("info"); }
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override;
  void BringMainWindowToTop() override { Record("top"); }
  std::string LoadString(int id) override { return LoadString1251(id); }
  std::uint32_t ReadConfigDword(const std::string& section, const std::string& name,
                                std::uint32_t defaultValue) override;
  std::string PortDevicePath(const std::string& portName) override;
  std::string LogDirectory() override {
    return Locked([&] { return m_logDirectory; });
  }
  std::unique_ptr<SerialPort> CreateSerialPort() override;
  void ReportPortProblem(const std::string& text) override {
    Locked([&] { m_portProblems.push_back(text); });
  }

  void Record(std::string call) {
    Locked([&] { m_calls.push_back(std::move(call)); });
  }

 private:
  mutable std::mutex m_mutex;
  std::shared_ptr<FakeLine> m_line;
  bool m_realPorts = false;
  std::map<std::string, std::string> m_portMap;
  std::string m_logDirectory;
  std::map<std::string, std::uint32_t> m_settings;
  std::deque<MessageBoxResult> m_boxAnswers;
  std::deque<std::pair<bool, ConnectDialogData>> m_connectAnswers;
  std::vector<std::string> m_calls;
  std::vector<std::string> m_portProblems;
};

}  // namespace vekta
