#pragma once

// The link host of the daemon. Status windows and prompts go to the page's event stream
// (EventHub). A prompt (message box, connect dialog, information window) blocks the calling
// client's call until the page answers it, until no page is connected any more, or until the
// prompt time-out; then it takes its default answer. With no page connected every prompt takes
// its default answer at once (as HeadlessLinkHost decides). Every prompt, once closed, is kept
// in a short list of recent messages; open prompts and status windows are reported by
// GET /api/v1/status. Ports of the in-process simulator map to their pseudo-terminals.
//
// The information window closes itself as OK after 10 seconds unless a page stops its
// countdown. An answer to the connect dialog is held to the dialog's limits and to the port of
// the link that asks: a client of COM3 is never moved onto another port's printer.
//
// Events are published with m_mutex let go: the hub calls back into this host (the last page
// gone wakes a waiting prompt), and that takes m_mutex (the daemon's whole lock order is in
// service/printer_registry.h).

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/event_hub.h"
#include "app/protocol_error.h"
#include "link/headless_link_host.h"
#include "platform/clock.h"

namespace vekta {

class WebHost : public HeadlessLinkHost {
 public:
  static constexpr std::size_t kRecentMessages = 50;
  static constexpr std::chrono::seconds kDefaultPromptTimeout{120};
  static constexpr std::chrono::seconds kInfoCountdown{10};
  static constexpr std::size_t kPortNameLimit = 6;
  static constexpr std::size_t kPasswordLimit = 10;

  // Prompt time-outs and the countdown run on `clock`.
  WebHost(const SettingsStore& settings, std::string logDirectory, EventHub& events,
          const Clock& clock);
  ~WebHost() override;

  // COM N is the simulator's device, whatever [Ports] says.
  void MapPort(int portNumber, std::string devicePath);
  void SetPromptTimeout(std::chrono::milliseconds timeout);
  // Wakes the prompts that wait, so that they look at the clock again (a test's clock moved).
  void TimeChanged();

  std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) override;
  bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) override;
  void ShowPrinterInfo(const PrinterLink& link) override;
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override;
  std::string PortDevicePath(const std::string& portName) override;

  // {"windows":[{"port":3,"title":..,"goods":..,"sum":..,"shown":..}],"prompts":[..],
  //  "recentMessages":[..]}
  nlohmann::json StatusDocument() const;
  // {"button":"Retry"}; the connect dialog also takes "port", "cashier" and "password";
  // {"stopCountdown":true} keeps the information window open until it is answered.
  // Nullopt when the answer is taken; else why it is refused (404 no such open prompt, 400 a
  // button or field the prompt does not have, a field over its limit, another port).
  std::optional<ProtocolError> AnswerPrompt(const std::string& id, const nlohmann::json& answer);
  // COM names of existing ports and of the simulated ones.
  std::vector<std::string> Ports() const;

 private:
  class Window;
  struct Prompt {
    nlohmann::json document;
    std::vector<std::string> buttons;
    std::optional<nlohmann::json> answer;
    // the connect dialog: the only port it may name, and the longest cashier name
    std::int32_t port = 0;
    std::size_t cashierLimit = 0;
    // the information window: how long until it closes by itself; none once stopped
    std::optional<Clock::Duration> countdown;
    std::optional<Clock::TimePoint> closesAt;
  };

  // Shows the prompt's document with its buttons and waits for the answer; `fallback` is the
  // default button. Returns the answer ({"button":...} and the fields) and leaves the prompt
  // in the recent messages with `recorded` (what the answer means there).
  nlohmann::json Ask(Prompt prompt, const std::string& fallback,
                     const std::function<std::string(const nlohmann::json&)>& recorded);
  // m_mutex held
  void RememberLocked(nlohmann::json message);
  // m_mutex held; the refusal of a connect dialog's fields, or the fields taken
  std::optional<ProtocolError> TakeConnectFields(const Prompt& prompt, const nlohmann::json& answer,
                                                 nlohmann::json& taken) const;

  EventHub& m_events;
  const Clock& m_clock;
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
