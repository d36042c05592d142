#include "app/web_host.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

#include "app/http_server.h"
#include "app/service_backend.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "service/printer_registry.h"

namespace vekta {
namespace {

using nlohmann::json;
constexpr auto kPatience = std::chrono::seconds(10);

// A page's event stream, read on its own thread and taken apart into named events.
class EventReader {
 public:
  explicit EventReader(int port) : m_client("127.0.0.1", port) {
    m_thread = std::thread([this] {
      m_client.Get("/api/v1/events", [this](const char* data, std::size_t size) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_buffer.append(data, size);
        for (auto end = m_buffer.find("\n\n"); end != std::string::npos;
             end = m_buffer.find("\n\n")) {
          std::string name;
          json payload;
          std::size_t at = 0;
          while (at < end) {
            const std::size_t eol = m_buffer.find('\n', at);
            const std::string line = m_buffer.substr(at, eol - at);
            if (line.rfind("event: ", 0) == 0) name = line.substr(7);
            if (line.rfind("data: ", 0) == 0) payload = json::parse(line.substr(6), nullptr, false);
            at = eol + 1;
          }
          m_buffer.erase(0, end + 2);
          if (!name.empty()) m_events.emplace_back(name, payload);
        }
        m_changed.notify_all();
        return !m_leaving;
      });
    });
  }
  ~EventReader() { Leave(); }
  // The page closes: the stream ends at its next write at the latest.
  void Leave() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_leaving = true;
    }
    m_client.stop();
    if (m_thread.joinable()) m_thread.join();
  }
  // The next event called `name` that `wanted` accepts, whatever came between (each name is read
  // in its own order).
  json Next(
      const std::string& name,
      const std::function<bool(const json&)>& wanted = [](const json&) { return true; }) {
    std::unique_lock<std::mutex> lock(m_mutex);
    json found;
    std::size_t& taken = m_taken[name];
    m_changed.wait_for(lock, kPatience, [&] {
      while (taken < m_events.size()) {
        auto& [n, data] = m_events[taken++];
        if (n == name && wanted(data)) {
          found = data;
          return true;
        }
      }
      return false;
    });
    return found;
  }

 private:
  httplib::Client m_client;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::string m_buffer;                                // guarded by m_mutex
  std::vector<std::pair<std::string, json>> m_events;  // guarded by m_mutex
  std::map<std::string, std::size_t> m_taken;          // guarded by m_mutex
  bool m_leaving = false;                              // guarded by m_mutex
  std::thread m_thread;
};

// The daemon's pieces over a port whose device does not exist, so that every Init asks
// "Retry or Cancel" (message 3012) and then offers the connect dialog.
class WebHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vekta-web-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    m_dir = dir;
    m_settings = std::make_unique<SettingsStore>(m_dir + "/vektamanager.ini");
    m_settings->WriteString("Ports", "COM5", m_dir + "/no-such-tty");
    m_host = std::make_unique<WebHost>(*m_settings, "", m_events, m_clock);
    m_registry = std::make_unique<PrinterRegistry>(*m_host, m_clock);
    m_factory = std::make_unique<DaemonOrbisFactory>(*m_registry, nullptr);
    m_backend = std::make_unique<ServiceBackend>(*m_registry, *m_factory, *m_host);
    ServerContext context;
    context.config.listen = {"127.0.0.1", 0};
    context.backend = m_backend.get();
    context.objects = &m_objects;
    context.settings = m_settings.get();
    context.status = [this] { return m_host->StatusDocument(); };
    context.events = &m_events;
    context.answerPrompt = [this](const std::string& id, const json& answer) {
      return m_host->AnswerPrompt(id, answer);
    };
    m_server = std::make_unique<HttpServer>(context);
    ASSERT_TRUE(m_server->Bind());
    m_thread = std::thread([this] { m_server->Serve(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    for (int i = 0; i < 100 && !m_client->Get("/healthz"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void TearDown() override {
    m_server->Stop();
    m_thread.join();
    m_objects.ReleaseAll();
    std::system(("rm -rf " + m_dir).c_str());
  }

  // Init on COM5 from a client of its own; the future holds the call's "hresultName".
  std::future<std::string> InitInBackground() {
    auto created = m_client->Post("/api/v1/objects", R"({"class":"Orbis"})", "application/json");
    const std::string id = created ? json::parse(created->body).value("object", "") : "";
    return std::async(std::launch::async, [this, id] {
      httplib::Client client("127.0.0.1", m_server->Port());
      auto res = client.Post(("/api/v1/objects/" + id + "/call/Init").c_str(),
                             R"([5,"Kasa","7777777777",1,"POS"])", "application/json");
      return res ? json::parse(res->body).value("hresultName", "") : "no answer";
    });
  }
  int Answer(const json& prompt, const std::string& body) {
    auto res = m_client->Post(("/api/v1/prompts/" + prompt.value("id", "none")).c_str(), body,
                              "application/json");
    return res ? res->status : 0;
  }
  json Status() { return json::parse(m_client->Get("/api/v1/status")->body); }

  std::string m_dir;
  RealClock m_clock;
  EventHub m_events;
  std::unique_ptr<SettingsStore> m_settings;
  std::unique_ptr<WebHost> m_host;
  std::unique_ptr<PrinterRegistry> m_registry;
  std::unique_ptr<DaemonOrbisFactory> m_factory;
  std::unique_ptr<ServiceBackend> m_backend;
  ObjectTable m_objects{m_clock};
  std::unique_ptr<HttpServer> m_server;
  std::thread m_thread;
  std::unique_ptr<httplib::Client> m_client;
};

TEST_F(WebHostTest, WithoutAPageEveryPromptTakesItsDefaultAtOnce) {
  auto init = InitInBackground();
  ASSERT_EQ(init.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(init.get(), "E_FAIL");
  const json status = Status();
  EXPECT_TRUE(status["prompts"].empty());
  ASSERT_EQ(status["recentMessages"].size(), 1u);
  const json& message = status["recentMessages"][0];
  EXPECT_EQ(message["style"], "retrycancel");
  EXPECT_NE(message.value("text", "").find("COM5"), std::string::npos) << message;
  EXPECT_EQ(message["answer"], "Cancel");
  EXPECT_EQ(message["reason"], "no page");
}

TEST_F(WebHostTest, APageSeesTheCallAndItsAnswersReachTheLink) {
  EventReader page(m_server->Port());
  const json state = page.Next("state");
  ASSERT_TRUE(state.contains("windows")) << state;
  EXPECT_TRUE(page.Next("connections")["connections"].empty());

  auto init = InitInBackground();
  // the list may be published again as it was before it changes
  const json listed = page.Next("connections", [](const json& c) { return !c["rows"].empty(); });
  EXPECT_EQ(listed["rows"][0][0], "COM5 LOCKED") << listed;
  const json window = page.Next("status");
  EXPECT_EQ(window["port"], 5);
  EXPECT_FALSE(window.value("title", "").empty()) << window;

  const json retry = page.Next("prompt");
  ASSERT_EQ(retry["buttons"], json::parse(R"(["Retry","Cancel"])")) << retry;
  EXPECT_EQ(init.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
      << "the call waits for the page";
  EXPECT_EQ(Status()["prompts"][0]["id"], retry["id"]);
  EXPECT_EQ(Answer({{"id", "999999"}}, R"({"button":"Retry"})"), 404);
  EXPECT_EQ(Answer({{"id", "x"}}, R"({"button":"Retry"})"), 404);
  EXPECT_EQ(Answer(retry, R"({"button":"OK"})"), 400);
  EXPECT_EQ(Answer(retry, R"({"button":"Maybe"})"), 400);
  EXPECT_EQ(Answer(retry, R"({"button":"Retry","port":5})"), 400);
  EXPECT_EQ(Answer(retry, R"({"button":"Retry"})"), 200);
  EXPECT_EQ(Answer(retry, R"({"button":"Cancel"})"), 404) << "a prompt is answered once";
  EXPECT_EQ(page.Next("promptClosed")["answer"], "Retry");

  // Retry makes the link ask for a port.
  const json dialog = page.Next("prompt");
  ASSERT_EQ(dialog["kind"], "connect") << dialog;
  EXPECT_EQ(dialog["cashier"], "Kasa");
  EXPECT_FALSE(dialog.contains("password"));
  EXPECT_EQ(Answer(dialog, R"({"button":"OK","port":0})"), 400);
  EXPECT_EQ(Answer(dialog, R"({"button":"OK","cashier":5})"), 400);
  EXPECT_EQ(Answer(dialog, R"({"button":"OK","port":5,"cashier":"Оля","password":"1"})"), 200);

  const json again = page.Next("prompt");
  EXPECT_EQ(again["style"], "retrycancel") << again;
  EXPECT_EQ(Answer(again, R"({"button":"Cancel"})"), 200);
  ASSERT_EQ(init.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(init.get(), "E_FAIL");
  const json recent = Status()["recentMessages"];
  ASSERT_EQ(recent.size(), 3u);
  EXPECT_EQ(recent[1]["answer"], "OK");
  EXPECT_EQ(recent[2]["reason"], "answered");

  // A page that leaves takes its prompts with it: they fall to their defaults.
  auto second = InitInBackground();
  EXPECT_FALSE(page.Next("prompt").empty());
  page.Leave();
  ASSERT_EQ(second.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(second.get(), "E_FAIL");
  EXPECT_EQ(Status()["recentMessages"].back()["reason"], "no page");
}

}  // namespace
}  // namespace vekta
