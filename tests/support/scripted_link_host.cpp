#include "tests/support/scripted_link_host.h"

#include "platform/codepage.h"

namespace vekta {

namespace {

class ScriptedStatusWindow final : public StatusWindow {
 public:
  explicit ScriptedStatusWindow(ScriptedLinkHost& host) : m_host(host) {
    m_host.Record("status.create");
  }
  ~ScriptedStatusWindow() override { m_host.Record("status.destroy"); }
  void SetTitleLine(const std::string& text1251) override { Line("status.title:", text1251); }
  void SetGoodsLine(const std::string& text1251) override { Line("status.goods:", text1251); }
  void SetSumLine(const std::string& text1251) override { Line("status.sum:", text1251); }
  void Show() override { m_host.Record("status.show"); }

 private:
  void Line(const char* call, const std::string& text1251) {
    m_host.Record(call + Cp1251ToUtf8(text1251));
  }
  ScriptedLinkHost& m_host;
};

const char* StyleName(MessageBoxStyle style) {
  // A switch, so that a new style without a name is a compiler warning.
  switch (style) {
    case MessageBoxStyle::kStopOk:
      return "stop";
    case MessageBoxStyle::kExclamationOk:
      return "excl";
    case MessageBoxStyle::kStopRetryCancel:
      return "retry";
  }
  return "?";
}

}  // namespace

ScriptedLinkHost::ScriptedLinkHost(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}

std::vector<std::string> ScriptedLinkHost::CallsStartingWith(const std::string& prefix) const {
  std::vector<std::string> found = Calls();
  std::erase_if(found, [&](const std::string& call) { return call.rfind(prefix, 0) != 0; });
  return found;
}

std::unique_ptr<StatusWindow> ScriptedLinkHost::CreateStatusWindow(const PrinterLink&) {
  return std::make_unique<ScriptedStatusWindow>(*this);
}

bool ScriptedLinkHost::ShowConnectDialog(const PrinterLink&, ConnectDialogData& data) {
  Record("connect:" + Cp1251ToUtf8(data.portName) + ":" + Cp1251ToUtf8(data.cashierName));
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_connectAnswers.empty()) return false;
  auto [ok, answer] = std::move(m_connectAnswers.front());
  m_connectAnswers.pop_front();
  if (ok) data = std::move(answer);
  return ok;
}

MessageBoxResult ScriptedLinkHost::ShowMessageBox(const std::string& text1251,
                                                  MessageBoxStyle style) {
  Record(std::string("box:") + StyleName(style) + ":" + Cp1251ToUtf8(text1251));
  if (style != MessageBoxStyle::kStopRetryCancel) return MessageBoxResult::kOk;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_boxAnswers.empty()) return MessageBoxResult::kCancel;
  const MessageBoxResult answer = m_boxAnswers.front();
  m_boxAnswers.pop_front();
  return answer;
}

std::uint32_t ScriptedLinkHost::ReadConfigDword(const std::string& section, const std::string& name,
                                                std::uint32_t defaultValue) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto setting = m_settings.find(name);
  return section == "CurrentConfig" && setting != m_settings.end() ? setting->second : defaultValue;
}

std::string ScriptedLinkHost::PortDevicePath(const std::string& portName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_realPorts) return portName.empty() ? std::string() : "/dev/fake/" + portName;
  const auto device = m_portMap.find(portName);
  return device == m_portMap.end() ? std::string() : device->second;
}

std::unique_ptr<SerialPort> ScriptedLinkHost::CreateSerialPort() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_realPorts ? MakeTermiosSerialPort() : MakeFakeSerialPort(m_line);
}

}  // namespace vekta
