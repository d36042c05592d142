// The listener under clients that misbehave: slow, silent, pipelining, too many. Each gets a
// clear answer or a closed connection, and the others are served all the while.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <thread>

#include "app/http_server.h"
#include "platform/clock.h"
#include "tests/app/fake_backend.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// A connection that sends exactly the bytes it is given.
class RawConnection {
 public:
  explicit RawConnection(int port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~RawConnection() { ::close(m_fd); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(const std::string& bytes) {
    return m_connected && ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(bytes.size());
  }
  // What arrives within `wait`, until `until` has been seen or the server closed.
  std::string Read(std::chrono::milliseconds wait, const std::string& until = "") {
    const auto end = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < end) {
      if (!until.empty() && m_received.find(until) != std::string::npos) break;
      pollfd p{m_fd, POLLIN, 0};
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (::poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) break;
      char buffer[4096];
      const ssize_t n = ::recv(m_fd, buffer, sizeof(buffer), 0);
      if (n <= 0) {
        m_closed = true;
        break;
      }
      m_received.append(buffer, static_cast<std::size_t>(n));
    }
    return m_received;
  }
  bool Closed() const { return m_closed; }

 private:
  int m_fd;
  bool m_connected = false;
  bool m_closed = false;
  std::string m_received;
};

// How often a text occurs.
std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class HttpCoreTest : public ::testing::Test {
 protected:
  void Start(ServerConfig config) {
    config.listen = {"127.0.0.1", 0};
    ServerContext context;
    context.config = config;
    context.backend = &m_backend;
    context.objects = &m_objects;
    m_server = std::make_unique<HttpServer>(context);
    ASSERT_TRUE(m_server->Bind());
    m_thread = std::thread([this] { m_server->Serve(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->Port());
    m_client->set_read_timeout(5, 0);
  }
  void TearDown() override {
    if (!m_server) return;
    m_server->Stop();
    m_thread.join();
    m_server.reset();
    m_objects.ReleaseAll();
  }
  bool Healthy() {
    auto res = m_client->Get("/healthz");
    return res && res->status == 200;
  }
  std::string Create() {
    auto res = m_client->Post("/api/v1/objects", R"({"class":"Orbis"})", "application/json");
    if (!res || res->status != 201) return "";
    return json::parse(res->body).value("object", "");
  }
  int Call(const std::string& id, const std::string& member, const std::string& args) {
    httplib::Client client("127.0.0.1", m_server->Port());
    client.set_read_timeout(10, 0);
    auto res = client.Post(("/api/v1/objects/" + id + "/call/" + member).c_str(), args,
                           "application/json");
    return res ? res->status : 0;
  }
  std::string Head(const std::string& method, const std::string& path,
                   const std::string& extra = "") {
    return method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
  }

  FakeBackend m_backend;
  FakeClock m_clock;
  ObjectTable m_objects{m_clock};
  std::unique_ptr<HttpServer> m_server;
  std::thread m_thread;
  std::unique_ptr<httplib::Client> m_client;
};

TEST_F(HttpCoreTest, SlowSilentAndOversizedRequestsAreCutOffWhileOthersAreServed) {
  ServerConfig config;
  config.headerDeadline = 400ms;
  config.bodyDeadline = 400ms;
  config.idleDeadline = 600ms;
  Start(config);

  // Headers a byte at a time: the connection ends at the header deadline, not when they end.
  RawConnection trickler(m_server->Port());
  RawConnection silentBody(m_server->Port());
  ASSERT_TRUE(silentBody.Send(Head(
      "POST", "/api/v1/objects", "Content-Type: application/json\r\nContent-Length: 20\r\n\r\n{")));
  const std::string slow = Head("GET", "/healthz") + "X-Padding: " + std::string(200, 'a');
  const auto begin = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < slow.size() && !trickler.Closed(); ++i) {
    trickler.Send(slow.substr(i, 1));
    trickler.Read(10ms);
    if (i % 20 == 0) {
      EXPECT_TRUE(Healthy());
    }
  }
  EXPECT_TRUE(trickler.Closed());
  EXPECT_EQ(trickler.Read(10ms), "");
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 3s);
  // A body that never comes: closed at the body deadline.
  silentBody.Read(2s);
  EXPECT_TRUE(silentBody.Closed());

  RawConnection ask(m_server->Port());
  // No body length: a POST without parameters is taken as empty and answered at once.
  const std::string id = Create();
  ASSERT_TRUE(ask.Send(Head("POST", "/api/v1/objects/" + id + "/ping", "\r\n")));
  EXPECT_NE(ask.Read(2s, "}").find("HTTP/1.1 200"), std::string::npos);
  // A keep-alive connection without a request goes at the idle deadline.
  ask.Read(2s);
  EXPECT_TRUE(ask.Closed());

  // A length over the limit is refused as soon as the header says so.
  RawConnection huge(m_server->Port());
  ASSERT_TRUE(
      huge.Send(Head("POST", "/api/v1/objects",
                     "Content-Type: application/json\r\nContent-Length: 10000000000\r\n\r\n")));
  EXPECT_NE(huge.Read(2s, "}").find("HTTP/1.1 413"), std::string::npos);
  RawConnection garbage(m_server->Port());
  ASSERT_TRUE(garbage.Send("NOT HTTP AT ALL\r\n\r\n"));
  EXPECT_NE(garbage.Read(2s, "}").find("HTTP/1.1 400"), std::string::npos);
  EXPECT_TRUE(Healthy());
}

TEST_F(HttpCoreTest, PipelinedRequestsAreAnsweredInOrder) {
  Start(ServerConfig{});
  const std::string id = Create();
  RawConnection pipe(m_server->Port());
  ASSERT_TRUE(
      pipe.Send(Head("POST", "/api/v1/objects/" + id + "/call/GetPortNumber",
                     "Content-Type: application/json\r\nContent-Length: 0\r\n\r\n") +
                Head("GET", "/healthz", "\r\n") + Head("GET", "/api/v1/nothing", "\r\n") +
                Head("POST", "/api/v1/objects/" + id + "/ping", "Connection: close\r\n\r\n")));
  const std::string answers = pipe.Read(5s);
  EXPECT_TRUE(pipe.Closed());
  ASSERT_EQ(Count(answers, "HTTP/1.1 "), 4u) << answers;
  const auto call = answers.find("\"hresult\"");
  const auto health = answers.find("ok\n");
  const auto missing = answers.find("HTTP/1.1 404");
  const auto ping = answers.find("{\"object\"");
  EXPECT_TRUE(call < health && health < missing && missing < ping) << answers;
}

TEST_F(HttpCoreTest, ConnectionsAndObjectsBeyondTheirLimitsAreRefusedWithAReason) {
  ServerConfig config;
  config.maxConnections = 3;
  config.maxObjects = 2;
  Start(config);
  ASSERT_FALSE(Create().empty());
  ASSERT_FALSE(Create().empty());
  auto full = m_client->Post("/api/v1/objects", R"({"class":"Orbis"})", "application/json");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->status, 503);
  EXPECT_NE(full->body.find("MaxObjects"), std::string::npos);
  EXPECT_EQ(m_backend.live.load(), 2);

  // The test's own client closes its connection after each request, but the server may count
  // those until it has seen them close: a held connection refused for them is tried again.
  std::vector<std::unique_ptr<RawConnection>> held;
  for (int tries = 0; held.size() < 3 && tries < 100; ++tries) {
    // An answered request shows that the server has taken the connection.
    auto connection = std::make_unique<RawConnection>(m_server->Port());
    if (connection->Send(Head("GET", "/healthz", "\r\n")) &&
        connection->Read(5s, "ok\n").find("ok\n") != std::string::npos) {
      held.push_back(std::move(connection));
    } else {
      std::this_thread::sleep_for(20ms);
    }
  }
  ASSERT_EQ(held.size(), 3u);
  RawConnection beyond(m_server->Port());
  EXPECT_NE(beyond.Read(2s).find("HTTP/1.1 503"), std::string::npos);
  EXPECT_TRUE(beyond.Closed());
  held.clear();
  for (int i = 0; i < 50; ++i) {
    httplib::Client other("127.0.0.1", m_server->Port());
    if (auto res = other.Get("/healthz"); res && res->status == 200) return;
    std::this_thread::sleep_for(20ms);
  }
  ADD_FAILURE() << "a closed connection did not give its place back";
}

// A call held on one port (a prompt, a long report) holds that port's later calls, and only
// them: another port prints, and what does not talk to the printer is answered at once.
TEST_F(HttpCoreTest, ACallHeldOnOnePortHoldsOnlyThatPortsQueue) {
  Start(ServerConfig{});
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool release = false;
  std::vector<std::string> order;
  m_backend.onCall = [&](const std::string& member, std::int32_t port) {
    std::unique_lock<std::mutex> lock(mutex);
    if (member == "XReport") {
      holding = true;
      changed.notify_all();
      changed.wait_for(lock, 10s, [&] { return release; });
    }
    if (member != "Init") order.push_back(member + "@" + std::to_string(port));
  };
  const std::string first = Create();
  const std::string second = Create();
  const std::string other = Create();
  ASSERT_EQ(Call(first, "Init", R"([1,"K","1",0,"A"])"), 200);
  ASSERT_EQ(Call(second, "Init", R"([1,"K","1",0,"B"])"), 200);
  ASSERT_EQ(Call(other, "Init", R"([2,"K","1",0,"C"])"), 200);

  std::thread held([&] { EXPECT_EQ(Call(first, "XReport", "[]"), 200); });
  {
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return holding; }));
  }
  std::thread queued([&] { EXPECT_EQ(Call(second, "OpenCheck", R"(["1"])"), 200); });
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(Call(other, "OpenCheck", R"(["1"])"), 200);
  EXPECT_EQ(Call(second, "GetCheckSum", "[]"), 200);
  {
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"OpenCheck@2", "GetCheckSum@1"}));
    release = true;
  }
  changed.notify_all();
  held.join();
  queued.join();
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(order,
            (std::vector<std::string>{"OpenCheck@2", "GetCheckSum@1", "XReport@1", "OpenCheck@1"}));
}

}  // namespace
}  // namespace vekta
