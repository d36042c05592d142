#pragma once

// The link host of the daemon. Status windows and prompts go to the page's event stream
// (EventHub). A prompt (message box, connect dialog, information window) blocks the calling
// client's call until the page answers it, until no page is connected any more, or until the
// prompt time-out; then it takes its default answer. With no page connected every prompt takes
// its default answer at once (as HeadlessLinkHost decides). Every prompt, once closed, is kept
// in a short list of recent messages; open prompts and status windows are reported by
// GET /api/v1/status. Ports of the in-process simulator map to their pseudo-terminals.
//
// Lock order: m_mutex before the hub's lock.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "app/event_hub.h"
#include "app/protocol_error.h"
#include "link/headless_link_host.h"

namespace vekta {

class WebHost : public HeadlessLinkHost {
 public:
  static constexpr std::size_t kRecentMessages = 50;
  static constexpr std::chrono::seconds kDefaultPromptTimeout{120};

  WebHost(const SettingsStore& settings, std::string logDirectory, EventHub& events);
  ~WebHost() override;

  // COM N is the simulator's device, whatever [Ports] says.
  void MapPort(int portNumber, std::string devicePath);
  void SetPromptTimeout(std::chrono::milliseconds timeout);

  std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) override;
  bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) override;
  void ShowPrinterInfo(const PrinterLink& link) override;
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override;
  std::string PortDevicePath(const std::string& portName) override;

  // {"windows":[{"port":3,"title":..,"goods":..,"sum":..,"shown":..}],"prompts":[..],
  //  "recentMessages":[..]}
  nlohmann::json StatusDocument() const;
  // {"button":"Retry"}; the connect dialog also takes "port", "cashier" and "password".
  // Nullopt when the answer is taken; else why it is refused (404 no such open prompt, 400 a
  // button or field the prompt does not have).
  std::optional<ProtocolError> AnswerPrompt(const std::string& id, const nlohmann::json& answer);
  // COM names of existing ports and of the simulated ones.
  std::vector<std::string> Ports() const;

 private:
  class Window;
  struct Prompt {
    nlohmann::json document;
    std::vector<std::string> buttons;
    std::optional<nlohmann::json> answer;
  };

  // Shows `document` with `buttons` and waits for the answer; `fallback` is the default
  // button. Returns the answer ({"button":...} and the fields) and leaves the prompt in the
  // recent messages with `recorded` (what the answer means there).
  nlohmann::json Ask(nlohmann::json document, std::vector<std::string> buttons,
                     const std::string& fallback,
                     const std::function<std::string(const nlohmann::json&)>& recorded);
  // m_mutex held
  void RememberLocked(nlohmann::json message);

  EventHub& m_events;
  mutable std::mutex m_mutex;
  std::condition_variable m_promptChanged;
  std::map<std::string, std::string> m_mappedPorts;                  // guarded by m_mutex
  std::set<Window*> m_windows;                                       // guarded by m_mutex
  std::map<std::uint64_t, Prompt*> m_prompts;                        // guarded by m_mutex
  std::deque<nlohmann::json> m_recent;                               // guarded by m_mutex
  std::uint64_t m_sequence = 0;                                      // guarded by m_mutex
  std::chrono::milliseconds m_promptTimeout{kDefaultPromptTimeout};  // guarded by m_mutex
};

}  // namespace vekta
