#include "app/web_host.h"

#include <algorithm>

#include "link/printer_link.h"
#include "platform/codepage.h"

namespace vekta {

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// An optional text field of an answer, in Windows-1251; false when it is there but no text.
bool TextField(const nlohmann::json& answer, const char* name, std::optional<std::string>& out) {
  auto it = answer.find(name);
  if (it == answer.end()) return true;
  if (!it->is_string()) return false;
  out = Utf8ToCp1251(it->get<std::string>());
  return true;
}

}  // namespace

class WebHost::Window : public StatusWindow {
 public:
  Window(WebHost& host, std::int32_t port) : m_host(host), m_port(port) {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_host.m_windows.insert(this);
  }
  ~Window() override {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_host.m_windows.erase(this);
    if (m_shown) m_host.m_events.Publish("status", {{"port", m_port}, {"closed", true}});
  }
  void SetTitleLine(const std::string& text1251) override { Set(m_title, text1251); }
  void SetGoodsLine(const std::string& text1251) override { Set(m_goods, text1251); }
  void SetSumLine(const std::string& text1251) override { Set(m_sum, text1251); }
  void Show() override {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_shown = true;
    m_host.m_events.Publish("status", Document());
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
    if (line == text) return;
    line = text;
    // a window not yet shown is seen whole when it is
    if (m_shown) m_host.m_events.Publish("status", Document());
  }

  WebHost& m_host;
  std::int32_t m_port;
  // guarded by m_host.m_mutex
  std::string m_title, m_goods, m_sum;
  bool m_shown = false;
};

WebHost::WebHost(const SettingsStore& settings, std::string logDirectory, EventHub& events)
    : HeadlessLinkHost(settings, std::move(logDirectory)), m_events(events) {
  m_events.SetOnIdle([this] {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_promptChanged.notify_all();
  });
}

WebHost::~WebHost() {
  m_events.SetOnIdle(nullptr);
}

void WebHost::MapPort(int portNumber, std::string devicePath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_mappedPorts["COM" + std::to_string(portNumber)] = std::move(devicePath);
}

void WebHost::SetPromptTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_promptTimeout = timeout;
}

std::unique_ptr<StatusWindow> WebHost::CreateStatusWindow(const PrinterLink& link) {
  return std::make_unique<Window>(*this, link.PortNumber());
}

nlohmann::json WebHost::Ask(nlohmann::json document, std::vector<std::string> buttons,
                            const std::string& fallback,
                            const std::function<std::string(const nlohmann::json&)>& recorded) {
  Prompt prompt;
  std::unique_lock<std::mutex> lock(m_mutex);
  const std::uint64_t id = ++m_sequence;
  document["id"] = std::to_string(id);
  document["buttons"] = buttons;
  document["time"] = NowMs();
  prompt.document = document;
  prompt.buttons = std::move(buttons);
  std::string reason = "no page";
  if (m_events.Subscribers() > 0) {
    m_prompts.emplace(id, &prompt);
    m_events.Publish("prompt", document);
    const auto deadline = std::chrono::steady_clock::now() + m_promptTimeout;
    const bool ended = m_promptChanged.wait_until(
        lock, deadline, [&] { return prompt.answer.has_value() || m_events.Subscribers() == 0; });
    m_prompts.erase(id);
    reason = prompt.answer ? "answered" : ended ? "no page" : "timeout";
  }
  nlohmann::json answer = prompt.answer ? *prompt.answer : nlohmann::json{{"button", fallback}};
  const std::string shown = recorded(answer);
  m_events.Publish("promptClosed", {{"id", document["id"]}, {"answer", shown}, {"reason", reason}});
  document.erase("buttons");
  document["answer"] = shown;
  document["reason"] = reason;
  RememberLocked(std::move(document));
  return answer;
}

std::optional<ProtocolError> WebHost::AnswerPrompt(const std::string& id,
                                                   const nlohmann::json& answer) {
  std::uint64_t number = 0;
  const bool digits =
      !id.empty() && id.size() <= 19 &&
      std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) number = std::stoull(id);
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_prompts.find(number);
  if (found == m_prompts.end() || found->second->answer) {
    return ProtocolError{404, E_INVALIDARG, "no such open prompt"};
  }
  Prompt& prompt = *found->second;
  if (!answer.is_object() || !answer.contains("button") || !answer["button"].is_string()) {
    return ProtocolError{400, E_INVALIDARG, "expected {\"button\":...}"};
  }
  const std::string button = answer["button"].get<std::string>();
  if (std::find(prompt.buttons.begin(), prompt.buttons.end(), button) == prompt.buttons.end()) {
    return ProtocolError{400, E_INVALIDARG, "this prompt has no button " + button.substr(0, 20)};
  }
  nlohmann::json taken = {{"button", button}};
  const bool connect = prompt.document.value("kind", "") == "connect";
  for (auto it = answer.begin(); it != answer.end(); ++it) {
    if (it.key() == "button") continue;
    if (!connect || (it.key() != "port" && it.key() != "cashier" && it.key() != "password")) {
      return ProtocolError{400, DISP_E_UNKNOWNNAME,
                           "this prompt has no field " + it.key().substr(0, 20)};
    }
  }
  if (connect) {
    if (auto it = answer.find("port"); it != answer.end()) {
      if (!it->is_number_integer() || it->get<std::int64_t>() < 1 ||
          it->get<std::int64_t>() > 255) {
        return ProtocolError{400, DISP_E_OVERFLOW, "port: a COM port number from 1 to 255"};
      }
      taken["port"] = it->get<std::int64_t>();
    }
    for (const char* field : {"cashier", "password"}) {
      if (auto it = answer.find(field); it != answer.end()) {
        if (!it->is_string()) {
          return ProtocolError{400, DISP_E_TYPEMISMATCH, std::string(field) + ": a text"};
        }
        taken[field] = *it;
      }
    }
  }
  prompt.answer = std::move(taken);
  m_promptChanged.notify_all();
  return std::nullopt;
}

bool WebHost::ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) {
  // the password is not published: the page only ever sends a new one
  const nlohmann::json answer = Ask({{"kind", "connect"},
                                     {"port", link.PortNumber()},
                                     {"portName", Cp1251ToUtf8(data.portName)},
                                     {"cashier", Cp1251ToUtf8(data.cashierName)}},
                                    {"OK", "Cancel"}, "Cancel", [](const nlohmann::json& a) {
                                      return a.value("button", "Cancel");
                                    });
  if (answer.value("button", "Cancel") != "OK") return false;
  if (answer.contains("port")) data.portName = "COM" + std::to_string(answer["port"].get<int>());
  std::optional<std::string> cashier, password;
  TextField(answer, "cashier", cashier);
  TextField(answer, "password", password);
  if (cashier) data.cashierName = *cashier;
  if (password) data.password = *password;
  return true;
}

void WebHost::ShowPrinterInfo(const PrinterLink& link) {
  Ask({{"kind", "info"},
       {"port", link.PortNumber()},
       {"serialNumber", Cp1251ToUtf8(link.SerialNumber())}},
      {"OK"}, "OK", [](const nlohmann::json&) { return std::string("closed"); });
}

MessageBoxResult WebHost::ShowMessageBox(const std::string& text1251, MessageBoxStyle style) {
  const bool retry = style == MessageBoxStyle::kStopRetryCancel;
  const MessageBoxResult fallback = HeadlessLinkHost::ShowMessageBox(text1251, style);
  const char* styleName = style == MessageBoxStyle::kStopOk          ? "stop"
                          : style == MessageBoxStyle::kExclamationOk ? "exclamation"
                                                                     : "retrycancel";
  const nlohmann::json answer =
      Ask({{"kind", "message"}, {"style", styleName}, {"text", Cp1251ToUtf8(text1251)}},
          retry ? std::vector<std::string>{"Retry", "Cancel"} : std::vector<std::string>{"OK"},
          fallback == MessageBoxResult::kOk ? "OK" : "Cancel",
          [](const nlohmann::json& a) { return a.value("button", "OK"); });
  const std::string button = answer.value("button", "");
  return button == "Retry" ? MessageBoxResult::kRetry
         : button == "OK"  ? MessageBoxResult::kOk
                           : MessageBoxResult::kCancel;
}

std::string WebHost::PortDevicePath(const std::string& portName) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_mappedPorts.find(portName);
    if (it != m_mappedPorts.end()) return it->second;
  }
  return HeadlessLinkHost::PortDevicePath(portName);
}

void WebHost::RememberLocked(nlohmann::json message) {
  m_recent.push_back(std::move(message));
  while (m_recent.size() > kRecentMessages) m_recent.pop_front();
}

nlohmann::json WebHost::StatusDocument() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  nlohmann::json windows = nlohmann::json::array();
  for (const Window* w : m_windows) windows.push_back(w->Document());
  nlohmann::json prompts = nlohmann::json::array();
  for (const auto& [id, prompt] : m_prompts) prompts.push_back(prompt->document);
  return {{"windows", windows}, {"prompts", prompts}, {"recentMessages", nlohmann::json(m_recent)}};
}

std::vector<std::string> WebHost::Ports() const {
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
