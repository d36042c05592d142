// WebHost's prompts on a fake clock: what a prompt answers with no page and after its time-out,
// and which answers it refuses. The page's side of the prompts (and the information window's
// countdown) is checked on the real daemon in tests/web/prompts.test.js.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "app/web_host.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/settings_store.h"
#include "tests/support/files.h"

namespace vekta {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
constexpr auto kPatience = std::chrono::seconds(10);

// A page's view of the hub: the events it was sent, by name.
class Page {
 public:
  explicit Page(EventHub& hub) : m_subscription(hub.Subscribe(nullptr)) {}
  // The next event called `name`; null when none came within the patience.
  json Next(const std::string& name) {
    for (const auto until = std::chrono::steady_clock::now() + kPatience;
         std::chrono::steady_clock::now() < until;) {
      const auto it = std::find_if(m_seen.begin(), m_seen.end(),
                                   [&](const StreamEvent& e) { return e.name == name; });
      if (it != m_seen.end()) {
        json data = it->data;
        m_seen.erase(it);
        return data;
      }
      std::vector<StreamEvent> events;
      if (!m_subscription->Next(100ms, events)) return nullptr;
      m_seen.insert(m_seen.end(), events.begin(), events.end());
    }
    return nullptr;
  }

 private:
  std::shared_ptr<EventHub::Subscription> m_subscription;
  std::vector<StreamEvent> m_seen;
};

class WebHostPromptTest : public ::testing::Test {
 protected:
  WebHostPromptTest()
      : m_settings(m_dir.Path() + "/vektamanager.ini"),
        m_host(m_settings, "", m_events, m_clock),
        m_link(200, m_host, m_clock) {
    m_host.SetPromptTimeout(120s);
  }
  void Advance(Clock::Duration d) {
    m_clock.Advance(d);
    m_host.TimeChanged();
  }
  template <typename T>
  static bool Waiting(std::future<T>& f) {
    return f.wait_for(50ms) == std::future_status::timeout;
  }
  std::optional<ProtocolError> Answer(const json& prompt, const json& body) {
    return m_host.AnswerPrompt(prompt.value("id", "none"), body);
  }
  std::future<MessageBoxResult> Box(MessageBoxStyle style) {
    return std::async(std::launch::async,
                      [this, style] { return m_host.ShowMessageBox("Помилка", style); });
  }

  TempDir m_dir;
  FakeClock m_clock;
  EventHub m_events;
  SettingsStore m_settings;
  WebHost m_host;
  PrinterLink m_link;
};

// Without a page each prompt takes its default and is kept. A page that stops reading is ended
// once its queue is full, and the host goes on: the hub tells it then that the last page has gone,
// while a status update is being published.
TEST_F(WebHostPromptTest, WithoutAPageOrBehindAStalledOneEachPromptTakesItsDefaultAndIsKept) {
  auto stalled = m_events.Subscribe(nullptr);
  auto window = m_host.CreateStatusWindow(m_link);
  window->Show();
  for (std::size_t i = 1; i <= EventHub::kMaxQueued; ++i) window->SetSumLine(std::to_string(i));
  EXPECT_EQ(m_events.Subscribers(), 0u);
  EXPECT_EQ(m_host.StatusDocument()["windows"][0]["sum"], std::to_string(EventHub::kMaxQueued));
  EXPECT_EQ(m_host.ShowMessageBox("a", MessageBoxStyle::kStopOk), MessageBoxResult::kOk);
  EXPECT_EQ(m_host.ShowMessageBox("b", MessageBoxStyle::kStopRetryCancel),
            MessageBoxResult::kCancel);
  ConnectDialogData data{"COM200", "Kasa", ""};
  EXPECT_FALSE(m_host.ShowConnectDialog(m_link, data));
  m_host.ShowPrinterInfo(m_link);
  const json recent = m_host.StatusDocument()["recentMessages"];
  ASSERT_EQ(recent.size(), 4u);
  EXPECT_EQ(recent[1]["answer"], "Cancel");
  EXPECT_EQ(recent[2]["kind"], "connect");
  EXPECT_EQ(recent[3]["answer"], "closed");
  for (const json& m : recent) EXPECT_EQ(m["reason"], "no page") << m;

  // A host started later, as a restarted server is, hands out none of the earlier ids.
  std::this_thread::sleep_for(2ms);
  EventHub otherHub;
  WebHost later(m_settings, "", otherHub, m_clock);
  later.ShowMessageBox("c", MessageBoxStyle::kStopOk);
  EXPECT_GT(std::stoull(later.StatusDocument()["recentMessages"][0]["id"].get<std::string>()),
            std::stoull(recent[3]["id"].get<std::string>()));
}

// Only an open prompt's own buttons and fields are taken, once, and a refused answer leaves it
// open; a prompt nobody answers takes its default at the time-out.
TEST_F(WebHostPromptTest, APromptTakesItsOwnAnswerOnceOrItsDefaultAtTheTimeOut) {
  Page page(m_events);
  auto box = Box(MessageBoxStyle::kStopRetryCancel);
  json prompt = page.Next("prompt");
  ASSERT_EQ(prompt["buttons"], json::parse(R"(["Retry","Cancel"])")) << prompt;
  EXPECT_EQ(Answer({{"id", "999999"}}, {{"button", "Retry"}})->status, 404);
  EXPECT_EQ(Answer({{"id", "x"}}, {{"button", "Retry"}})->status, 404);
  for (const json& refused :
       {json{{"button", "OK"}}, json{{"button", "Maybe"}}, json{{"button", "Retry"}, {"port", 200}},
        json{{"stopCountdown", true}}}) {
    EXPECT_EQ(Answer(prompt, refused)->status, 400) << refused;
  }
  EXPECT_TRUE(Waiting(box));
  EXPECT_EQ(Answer(prompt, {{"button", "Retry"}}), std::nullopt);
  EXPECT_EQ(Answer(prompt, {{"button", "Cancel"}})->status, 404) << "a prompt is answered once";
  ASSERT_EQ(box.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(box.get(), MessageBoxResult::kRetry);
  EXPECT_EQ(page.Next("promptClosed")["answer"], "Retry");

  box = Box(MessageBoxStyle::kStopRetryCancel);
  prompt = page.Next("prompt");
  ASSERT_EQ(prompt["style"], "retrycancel") << prompt;
  Advance(120s - 1ms);
  EXPECT_TRUE(Waiting(box));
  Advance(1ms);
  ASSERT_EQ(box.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(box.get(), MessageBoxResult::kCancel);
  const json closed = page.Next("promptClosed");
  EXPECT_EQ(closed["reason"], "timeout");
  EXPECT_EQ(closed["id"], prompt["id"]);

  // The connect dialog refuses another port and fields over their limits.
  ConnectDialogData data{"COM200", "", "7777777777"};
  auto dialog =
      std::async(std::launch::async, [&] { return m_host.ShowConnectDialog(m_link, data); });
  prompt = page.Next("prompt");
  ASSERT_EQ(prompt["kind"], "connect") << prompt;
  EXPECT_EQ(prompt["portFixed"], true);
  EXPECT_FALSE(prompt.contains("password")) << "the stored password is not published";
  EXPECT_EQ(prompt["cashierLimit"], 4) << "an unidentified printer takes the shorter name";
  // a client of COM200 must not end up on another port's printer (COM4 is refused in the page
  // test), nor under a second name of its port; its name has six characters
  for (const json& field : {json{{"port", 0}}, json{{"port", "COM0200"}}, json{{"port", "COM020"}},
                            json{{"cashier", 5}}}) {
    json answer = field;
    answer["button"] = "OK";
    EXPECT_EQ(Answer(prompt, answer)->status, 400) << answer;
  }
  EXPECT_EQ(m_host.StatusDocument()["prompts"].size(), 1u) << "a refused answer keeps it open";
  EXPECT_TRUE(Waiting(dialog));
  EXPECT_EQ(
      Answer(
          prompt,
          {{"button", "OK"}, {"port", "COM200"}, {"cashier", "Оля"}, {"password", "7777777777"}}),
      std::nullopt);
  ASSERT_EQ(dialog.wait_for(kPatience), std::future_status::ready);
  EXPECT_TRUE(dialog.get());
  EXPECT_EQ(data.portName, "COM200");
  EXPECT_EQ(Cp1251ToUtf8(data.cashierName), "Оля");

  // an identified printer of generation 1 takes nine characters; Cancel ignores the fields
  PrinterConfig config;
  config.serialNumber = "AB50012345";
  m_link.DetectModel(config);
  auto again =
      std::async(std::launch::async, [&] { return m_host.ShowConnectDialog(m_link, data); });
  prompt = page.Next("prompt");
  EXPECT_EQ(prompt["cashierLimit"], 9);
  EXPECT_EQ(Answer(prompt, {{"button", "OK"}, {"cashier", "Олександра"}})->status, 400);
  EXPECT_EQ(Answer(prompt, {{"button", "Cancel"}, {"port", 4}}), std::nullopt);
  ASSERT_EQ(again.wait_for(kPatience), std::future_status::ready);
  EXPECT_FALSE(again.get());
}

}  // namespace
}  // namespace vekta
