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

constexpr std::size_t kCashierLimitGeneration1 = 9;
constexpr std::size_t kCashierLimitOtherwise = 4;

// An optional text field of an answer, in Windows-1251.
std::optional<std::string> TextField(const nlohmann::json& answer, const char* name) {
  auto it = answer.find(name);
  if (it == answer.end() || !it->is_string()) return std::nullopt;
  return Utf8ToCp1251(it->get<std::string>());
}

// The port an answer names: 3 or "COM3"; 0 when it names none that can be.
std::int64_t AnsweredPort(const nlohmann::json& value) {
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (!value.is_string()) return 0;
  const std::string name = value.get<std::string>();
  // "COM1" to "COM255", as the ports are named: no leading zero, which would name a port twice.
  if (name.size() < 4 || name.size() > WebHost::kPortNameLimit || name.rfind("COM", 0) != 0 ||
      name[3] == '0') {
    return 0;
  }
  std::int64_t number = 0;
  for (char c : name.substr(3)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + (c - '0');
  }
  return number;
}

int TaxTypeMessage(char type) {
  switch (type) {
    case '0':
      return 1005;
    case '1':
      return 1006;
    case '2':
      return 1007;
    default:
      return 4009;
  }
}

int KeyPositionMessage(char key) {
  switch (key) {
    case 'R':
      return 1008;
    case 'P':
      return 1009;
    case 'X':
      return 1010;
    case 'Z':
      return 1011;
    default:
      return 1012;
  }
}

}  // namespace

class WebHost::Window : public StatusWindow {
 public:
  Window(WebHost& host, std::int32_t port) : m_host(host), m_port(port) {
    std::lock_guard<std::mutex> lock(m_host.m_mutex);
    m_host.m_windows.insert(this);
  }
  ~Window() override {
    bool shown = false;
    {
      std::lock_guard<std::mutex> lock(m_host.m_mutex);
      m_host.m_windows.erase(this);
      shown = m_shown;
    }
    if (shown) m_host.m_events.Publish("status", {{"port", m_port}, {"closed", true}});
  }
  void SetTitleLine(const std::string& text1251) override { Set(m_title, text1251); }
  void SetGoodsLine(const std::string& text1251) override { Set(m_goods, text1251); }
  void SetSumLine(const std::string& text1251) override { Set(m_sum, text1251); }
  void Show() override {
    nlohmann::json document;
    {
      std::lock_guard<std::mutex> lock(m_host.m_mutex);
      m_shown = true;
      document = Document();
    }
    m_host.m_events.Publish("status", document);
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
    nlohmann::json document;
    {
      std::lock_guard<std::mutex> lock(m_host.m_mutex);
      if (line == text) return;
      line = text;
      // a window not yet shown is seen whole when it is
      if (!m_shown) return;
      document = Document();
    }
    m_host.m_events.Publish("status", document);
  }

  WebHost& m_host;
  std::int32_t m_port;
  // guarded by m_host.m_mutex
  std::string m_title, m_goods, m_sum;
  bool m_shown = false;
};

WebHost::WebHost(const SettingsStore& settings, std::string logDirectory, EventHub& events,
                 const Clock& clock)
    : HeadlessLinkHost(settings, std::move(logDirectory)), m_events(events), m_clock(clock) {
  // Prompt ids go on from the start time: a page that still shows a prompt of an earlier process
  // must not take a new prompt with the same id for it, and answer it blind.
  m_sequence = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count()) *
               1000;
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

void WebHost::TimeChanged() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_promptChanged.notify_all();
}

std::unique_ptr<StatusWindow> WebHost::CreateStatusWindow(const PrinterLink& link) {
  return std::make_unique<Window>(*this, link.PortNumber());
}

nlohmann::json WebHost::Ask(Prompt prompt, const std::string& fallback,
                            const std::function<std::string(const nlohmann::json&)>& recorded) {
  std::unique_lock<std::mutex> lock(m_mutex);
  const std::uint64_t id = ++m_sequence;
  nlohmann::json& document = prompt.document;
  document["id"] = std::to_string(id);
  document["buttons"] = prompt.buttons;
  document["time"] = NowMs();
  std::string reason = "no page";
  if (m_events.Subscribers() > 0) {
    const Clock::TimePoint opened = m_clock.Now();
    const Clock::TimePoint deadline = opened + m_promptTimeout;
    if (prompt.countdown) {
      prompt.closesAt = opened + *prompt.countdown;
      document["closesInMs"] = prompt.countdown->count();
    }
    m_prompts.emplace(id, &prompt);
    const nlohmann::json published = document;
    lock.unlock();
    m_events.Publish("prompt", published);
    lock.lock();
    for (;;) {
      if (prompt.answer) {
        reason = "answered";
        break;
      }
      if (m_events.Subscribers() == 0) break;
      const Clock::TimePoint now = m_clock.Now();
      if (prompt.closesAt && now >= *prompt.closesAt) {
        // the window closes itself as if OK had been pressed
        prompt.answer = nlohmann::json{{"button", "OK"}};
        reason = "countdown";
        break;
      }
      if (now >= deadline) {
        reason = "timeout";
        break;
      }
      const Clock::TimePoint until =
          prompt.closesAt && *prompt.closesAt < deadline ? *prompt.closesAt : deadline;
      m_promptChanged.wait_for(lock, until - now);
    }
    m_prompts.erase(id);
  }
  nlohmann::json answer = prompt.answer ? *prompt.answer : nlohmann::json{{"button", fallback}};
  const std::string shown = recorded(answer);
  nlohmann::json closed = {{"id", document["id"]}, {"answer", shown}, {"reason", reason}};
  document.erase("buttons");
  document.erase("closesInMs");
  document["answer"] = shown;
  document["reason"] = reason;
  RememberLocked(std::move(document));
  lock.unlock();
  m_events.Publish("promptClosed", closed);
  return answer;
}

std::optional<ProtocolError> WebHost::AnswerPrompt(const std::string& id,
                                                   const nlohmann::json& answer) {
  std::uint64_t number = 0;
  const bool digits =
      !id.empty() && id.size() <= 19 &&
      std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) number = std::stoull(id);
  std::unique_lock<std::mutex> lock(m_mutex);
  auto found = m_prompts.find(number);
  if (found == m_prompts.end() || found->second->answer) {
    return ProtocolError{404, E_INVALIDARG, "no such open prompt"};
  }
  Prompt& prompt = *found->second;
  if (answer.is_object() && answer.size() == 1 && answer.contains("stopCountdown")) {
    if (answer["stopCountdown"] != true || !prompt.countdown) {
      return ProtocolError{400, E_INVALIDARG, "this prompt has no countdown to stop"};
    }
    if (prompt.closesAt) {
      prompt.closesAt.reset();
      prompt.document.erase("closesInMs");
      prompt.document["countdownStopped"] = true;
      m_promptChanged.notify_all();
      lock.unlock();
      m_events.Publish("promptChanged",
                       {{"id", std::to_string(number)}, {"countdownStopped", true}});
    }
    return std::nullopt;
  }
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
  // a Cancel gives up the connection: what the fields say does not matter then
  if (connect && button == "OK") {
    if (auto refused = TakeConnectFields(prompt, answer, taken)) return refused;
  }
  prompt.answer = std::move(taken);
  m_promptChanged.notify_all();
  return std::nullopt;
}

std::optional<ProtocolError> WebHost::TakeConnectFields(const Prompt& prompt,
                                                        const nlohmann::json& answer,
                                                        nlohmann::json& taken) const {
  const std::string own = "COM" + std::to_string(prompt.port);
  if (auto it = answer.find("port"); it != answer.end()) {
    const std::int64_t port = AnsweredPort(*it);
    if (port < 1 || port > 255) {
      return ProtocolError{400, DISP_E_OVERFLOW,
                           "port: a COM port number from 1 to 255, or its name, \"COM1\" to "
                           "\"COM255\""};
    }
    // The link belongs to its client's port: another port's device would put this client on
    // another client's printer.
    if (port != prompt.port) {
      return ProtocolError{400, E_INVALIDARG, "port: this dialog connects " + own + " only"};
    }
    taken["port"] = port;
  }
  struct Limit {
    const char* field;
    std::size_t limit;
  };
  for (const Limit& f :
       {Limit{"cashier", prompt.cashierLimit}, Limit{"password", kPasswordLimit}}) {
    auto it = answer.find(f.field);
    if (it == answer.end()) continue;
    if (!it->is_string()) {
      return ProtocolError{400, DISP_E_TYPEMISMATCH, std::string(f.field) + ": a text"};
    }
    if (Utf8ToCp1251(it->get<std::string>()).size() > f.limit) {
      return ProtocolError{400, DISP_E_OVERFLOW,
                           std::string(f.field) + ": at most " + std::to_string(f.limit) +
                               " characters for this printer"};
    }
    taken[f.field] = *it;
  }
  return std::nullopt;
}

bool WebHost::ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) {
  Prompt prompt;
  prompt.port = link.PortNumber();
  prompt.cashierLimit =
      link.ModelGeneration() == 1 ? kCashierLimitGeneration1 : kCashierLimitOtherwise;
  // the password is not published: the page only ever sends a new one
  prompt.document = {{"kind", "connect"},
                     {"port", link.PortNumber()},
                     {"portName", Cp1251ToUtf8(data.portName)},
                     {"portFixed", !data.portName.empty()},
                     {"cashier", Cp1251ToUtf8(data.cashierName)},
                     {"cashierLimit", prompt.cashierLimit},
                     {"passwordLimit", kPasswordLimit},
                     {"portNameLimit", kPortNameLimit}};
  prompt.buttons = {"OK", "Cancel"};
  const nlohmann::json answer = Ask(std::move(prompt), "Cancel", [](const nlohmann::json& a) {
    return a.value("button", "Cancel");
  });
  if (answer.value("button", "Cancel") != "OK") return false;
  if (answer.contains("port")) data.portName = "COM" + std::to_string(answer["port"].get<int>());
  if (auto cashier = TextField(answer, "cashier")) data.cashierName = *cashier;
  if (auto password = TextField(answer, "password")) data.password = *password;
  return true;
}

void WebHost::ShowPrinterInfo(const PrinterLink& link) {
  const PrinterConfig config = link.Config();
  auto text = [this](int id) { return Cp1251ToUtf8(LoadString(id)); };
  auto utf8 = [](const std::string& s) { return Cp1251ToUtf8(s); };
  const nlohmann::json fiscal = nlohmann::json::array({
      {text(4002), utf8(config.serialNumber)},
      {text(4003), utf8(config.fiscalNumber)},
      {text(4004), utf8(config.owner)},
      {text(4005), utf8(config.date)},
      {text(4006), utf8(config.time)},
      {text(4018), utf8(config.moneyName)},
      {text(4019), std::to_string(config.decPointPosition)},
      {text(4020), utf8(config.moneyDate)},
      {text(4017), std::to_string(config.maxArticles)},
      {text(4021), utf8(config.firmwareId)},
      {text(4022), utf8(config.secondDate)},
      {text(4007), text(KeyPositionMessage(config.keyPosition))},
  });
  // the letters are Windows-1251, one byte each
  const std::string letters = LoadString(1017);
  nlohmann::json taxes = nlohmann::json::array();
  for (std::size_t i = 0; i < config.taxes.size(); ++i) {
    const TaxEntry& tax = config.taxes[i];
    taxes.push_back({i < letters.size() ? utf8(letters.substr(i, 1)) : "",
                     text(TaxTypeMessage(tax.type)), utf8(tax.value), utf8(tax.date)});
  }
  Prompt prompt;
  prompt.document = {{"kind", "info"},
                     {"port", link.PortNumber()},
                     {"serialNumber", utf8(config.serialNumber)},
                     {"fiscalColumns", {text(4000), text(4001)}},
                     {"fiscal", fiscal},
                     {"taxColumns", {text(1013), text(1014), text(1015), text(1016)}},
                     {"taxes", taxes}};
  prompt.buttons = {"OK"};
  prompt.countdown = std::chrono::duration_cast<Clock::Duration>(kInfoCountdown);
  Ask(std::move(prompt), "OK", [](const nlohmann::json&) { return std::string("closed"); });
}

MessageBoxResult WebHost::ShowMessageBox(const std::string& text1251, MessageBoxStyle style) {
  const bool retry = style == MessageBoxStyle::kStopRetryCancel;
  const MessageBoxResult fallback = HeadlessLinkHost::ShowMessageBox(text1251, style);
  const char* styleName = style == MessageBoxStyle::kStopOk          ? "stop"
                          : style == MessageBoxStyle::kExclamationOk ? "exclamation"
                                                                     : "retrycancel";
  Prompt prompt;
  prompt.document = {{"kind", "message"}, {"style", styleName}, {"text", Cp1251ToUtf8(text1251)}};
  prompt.buttons =
      retry ? std::vector<std::string>{"Retry", "Cancel"} : std::vector<std::string>{"OK"};
  const nlohmann::json answer =
      Ask(std::move(prompt), fallback == MessageBoxResult::kOk ? "OK" : "Cancel",
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
  const Clock::TimePoint now = m_clock.Now();
  for (const auto& [id, prompt] : m_prompts) {
    nlohmann::json document = prompt->document;
    if (prompt->closesAt) {
      document["closesInMs"] = std::max<std::int64_t>(
          0,
          std::chrono::duration_cast<std::chrono::milliseconds>(*prompt->closesAt - now).count());
    }
    prompts.push_back(std::move(document));
  }
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
