#include "app/http_server.h"

#include <thread>

#include "app/http_session.h"

namespace vekta {

namespace {

using namespace std::chrono_literals;

constexpr int kBacklog = 1024;
constexpr int kAcceptBurst = 256;

}  // namespace

struct HttpServer::Impl {
  explicit Impl(ServerContext context)
      // Each object has one call running at most, so the pool never needs more threads than
      // the objects have, with the ready ones for creation, release and the operator.
      : executors(context.config.workers, static_cast<std::size_t>(context.config.workers) +
                                              static_cast<std::size_t>(context.config.maxObjects)),
        router(context, executors, [this] { return connections.load(); }) {}

  void Accept();
  void OnAccept(tcp::socket socket);
  void Refuse(tcp::socket socket);

  // Declared in the order they may go: the sessions that the context still holds at its end
  // count themselves out, and a TLS session needs its context.
  std::atomic<std::size_t> connections{0};
  std::atomic<bool> stopped{false};
  std::optional<asio::ssl::context> tls;
  asio::io_context ioc;
  tcp::acceptor acceptor{ioc};
  asio::steady_timer acceptRetry{ioc};
  CallExecutors executors;
  ApiRouter router;
  SessionHost host{router, connections};
  int port = 0;
};

void HttpServer::Impl::Accept() {
  acceptor.async_accept(asio::make_strand(ioc), [this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || stopped.load()) return;
    if (!ec) {
      OnAccept(std::move(socket));
      // The connections already waiting are taken now: one accept per turn of the loop would
      // leave a burst of clients waiting behind the busy connections' turns for seconds.
      for (int i = 0; i < kAcceptBurst; ++i) {
        tcp::socket next(asio::make_strand(ioc));
        acceptor.accept(next, ec);  // the acceptor does not block: would_block when none waits
        if (ec) break;
        OnAccept(std::move(next));
      }
      return Accept();
    }
    // Out of descriptors, say: try again in a moment rather than spin.
    acceptRetry.expires_after(50ms);
    acceptRetry.async_wait([this](beast::error_code wait) {
      if (!wait) Accept();
    });
  });
}

void HttpServer::Impl::OnAccept(tcp::socket socket) {
  beast::error_code ec;
  // Small answers must not wait for the peer's delayed acknowledgement.
  socket.set_option(tcp::no_delay(true), ec);
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return;
  if (connections.load() >= static_cast<std::size_t>(router.Config().maxConnections)) {
    return Refuse(std::move(socket));
  }
  std::string address = peer.address().to_string();
  if (tls) {
    std::make_shared<HttpSession<TlsStream>>(host, TlsStream(std::move(socket), *tls),
                                             std::move(address))
        ->Start();
  } else {
    std::make_shared<HttpSession<PlainStream>>(host, PlainStream(std::move(socket)),
                                               std::move(address))
        ->Start();
  }
}

void HttpServer::Impl::Refuse(tcp::socket socket) {
  // Plain text even on a TLS port: the peer gets a readable reason or, at worst, a close.
  static const std::string kBody =
      R"json({"error":"too many open connections ([Server] MaxConnections)","hresult":"0x800706BA"})json";
  static const std::string kAnswer =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json; charset=utf-8\r\n"
      "Connection: close\r\nContent-Length: " +
      std::to_string(kBody.size()) + "\r\n\r\n" + kBody;
  auto held = std::make_shared<tcp::socket>(std::move(socket));
  asio::async_write(*held, asio::buffer(kAnswer), [held](beast::error_code, std::size_t) {
    beast::error_code ec;
    held->shutdown(tcp::socket::shutdown_both, ec);
    held->close(ec);
  });
}

HttpServer::HttpServer(ServerContext context) : m_impl(std::make_unique<Impl>(context)) {
  const ServerConfig& config = m_impl->router.Config();
  if (config.Tls()) {
    m_impl->tls.emplace(asio::ssl::context::tls_server);
    m_impl->tls->set_options(asio::ssl::context::default_workarounds |
                             asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                             asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
  }
}

HttpServer::~HttpServer() {
  Stop();
}

bool HttpServer::Tls() const {
  return m_impl->router.Config().Tls();
}

int HttpServer::Port() const {
  return m_impl->port;
}

bool HttpServer::Bind() {
  const ServerConfig& config = m_impl->router.Config();
  beast::error_code ec;
  if (m_impl->tls) {
    m_impl->tls->use_certificate_chain_file(config.certFile, ec);
    if (!ec) m_impl->tls->use_private_key_file(config.keyFile, asio::ssl::context::pem, ec);
    if (ec) return false;
  }
  tcp::resolver resolver(m_impl->ioc);
  const auto endpoints =
      resolver.resolve(config.listen.host, std::to_string(config.listen.port),
                       tcp::resolver::passive | tcp::resolver::numeric_service, ec);
  if (ec || endpoints.empty()) return false;
  const tcp::endpoint endpoint = endpoints.begin()->endpoint();
  tcp::acceptor& acceptor = m_impl->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  // SO_REUSEADDR only, never SO_REUSEPORT: a second server must not bind the same port and take
  // half of the first one's clients.
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(kBacklog, ec);
  if (!ec) acceptor.non_blocking(true, ec);
  if (ec) {
    acceptor.close(ec);
    return false;
  }
  m_impl->port = acceptor.local_endpoint(ec).port();
  // The own origin of the Origin check is the port actually bound.
  m_impl->router.SetListenPort(m_impl->port);
  m_impl->Accept();
  return true;
}

void HttpServer::Serve() {
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  std::vector<std::thread> more;
  for (unsigned i = 1; i < threads; ++i) more.emplace_back([this] { m_impl->ioc.run(); });
  m_impl->ioc.run();
  for (std::thread& t : more) t.join();
}

void HttpServer::Stop() {
  if (m_impl->stopped.exchange(true)) return;
  m_impl->router.BeginClosing();
  m_impl->ioc.stop();
  // The calls still queued are dropped; the ones running finish and find the server gone.
  m_impl->executors.Stop();
}

void HttpServer::BeginClosing() {
  m_impl->router.BeginClosing();
}

void HttpServer::WaitForCalls() {
  m_impl->router.WaitForCalls();
}

}  // namespace vekta
