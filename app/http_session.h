#pragma once

// One connection of the listener (app/http_server.h): reads a request within its deadlines,
// has the router answer it, writes the answer, and reads the next; requests that came
// pipelined wait in the buffer and are answered in order. The page's event stream is written
// chunk by chunk on the same connection.

#include <atomic>
#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "app/api_routes.h"

namespace vekta {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// The connection's own limits; its deadlines for requests are in ServerConfig.
namespace session {
using namespace std::chrono_literals;
constexpr auto kWriteDeadline = 30s;
// A closing connection reads what the peer still sends for this long, so that the answer is
// not lost to a reset.
constexpr auto kLingerDeadline = 2s;
// A page that has gone is noticed only when a write to it fails: the stream writes at least
// this often, so that a prompt does not wait long for a page that is no longer there.
constexpr auto kStreamHeartbeat = 1s;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kReadChunk = 4096;
}  // namespace session

// What the sessions share: the router, and the count of open connections.
struct SessionHost {
  ApiRouter& router;
  std::atomic<std::size_t>& connections;
};

// One connection: reads a request, has the router answer it, writes the answer, and reads the
// next; requests that came pipelined wait in the buffer and are answered in order.
template <class Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
 public:
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  HttpSession(SessionHost& server, Stream stream, std::string peer)
      : m_server(server),
        m_stream(std::move(stream)),
        m_peer(std::move(peer)),
        m_beat(m_stream.get_executor()) {
    ++m_server.connections;
  }
  ~HttpSession() { --m_server.connections; }

  void Start() {
    if constexpr (kTls) {
      Tcp().expires_after(Config().headerDeadline);
      m_stream.async_handshake(asio::ssl::stream_base::server,
                               [self = this->shared_from_this()](beast::error_code ec) {
                                 if (ec) return self->Close();
                                 self->ReadHeader();
                               });
    } else {
      ReadHeader();
    }
  }

 private:
  beast::tcp_stream& Tcp() { return beast::get_lowest_layer(m_stream); }
  const ServerConfig& Config() const { return m_server.router.Config(); }

  // Between requests: the next one may already be in the buffer; else the connection may stay
  // idle for a while.
  void WaitForRequest() {
    if (m_buffer.size() > 0) return ReadHeader();
    Tcp().expires_after(Config().idleDeadline);
    m_stream.async_read_some(
        m_buffer.prepare(session::kReadChunk),
        [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
          if (ec) return self->Close();
          self->m_buffer.commit(n);
          self->ReadHeader();
        });
  }

  void ReadHeader() {
    m_parser.emplace();
    m_parser->header_limit(session::kMaxHeaderBytes);
    m_parser->body_limit(kMaxBodyBytes);
    Tcp().expires_after(Config().headerDeadline);
    http::async_read_header(m_stream, m_buffer, *m_parser,
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                              self->OnHeader(ec);
                            });
  }

  // A request that cannot be read ends its connection: with an answer when it was too large
  // (as soon as the header says so) or not HTTP, else at once.
  void Refuse(beast::error_code ec) {
    if (ec == http::error::body_limit) {
      Answer(ErrorAnswer(413, "the body is limited to 64 KiB"));
    } else if (ec == http::error::header_limit) {
      Answer(ErrorAnswer(431, "the request headers are limited to 16 KiB"));
    } else if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
               ec != http::error::end_of_stream && ec != http::error::partial_message) {
      Answer(ErrorAnswer(400, "malformed HTTP request"));
    } else {
      Close();  // the peer went, or let its deadline pass
    }
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return Refuse(ec);
    if (m_parser->is_done()) return OnRequest();
    auto& message = m_parser->get();
    if (beast::iequals(message[http::field::expect], "100-continue")) {
      auto go = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                   message.version());
      Tcp().expires_after(session::kWriteDeadline);
      http::async_write(m_stream, *go,
                        [self = this->shared_from_this(), go](beast::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    Tcp().expires_after(Config().bodyDeadline);
    http::async_read(m_stream, m_buffer, *m_parser,
                     [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->Refuse(ec);
                       self->OnRequest();
                     });
  }

  void OnRequest() {
    Tcp().expires_never();
    http::request<http::string_body> message = m_parser->release();
    m_version = message.version();
    m_keepAlive = message.keep_alive();
    m_head = message.method() == http::verb::head;
    HttpRequest req;
    req.method = std::string(message.method_string());
    req.path = PathOf(message.target());
    for (const auto& field : message) {
      req.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
    req.body = std::move(message.body());
    req.remoteAddress = m_peer;
    m_server.router.Handle(std::move(req), [self = this->shared_from_this()](HttpResponse res) {
      asio::post(self->m_stream.get_executor(),
                 [self, res = std::move(res)]() mutable { self->Answer(std::move(res)); });
    });
  }

  void Answer(HttpResponse res) {
    if (res.stream) return StartStream(std::move(res));
    auto message = std::make_shared<http::response<http::string_body>>(
        static_cast<http::status>(res.status), m_version);
    for (const auto& [name, value] : res.headers) message->set(name, value);
    if (!res.contentType.empty()) message->set(http::field::content_type, res.contentType);
    // An answer to HEAD has no body: the client reads none, and would take it for the start of
    // the next answer on the connection.
    if (!m_head) message->body() = std::move(res.body);
    const bool keepAlive = m_keepAlive && !res.close;
    message->keep_alive(keepAlive);
    message->prepare_payload();
    Tcp().expires_after(session::kWriteDeadline);
    http::async_write(
        m_stream, *message,
        [self = this->shared_from_this(), message, keepAlive](beast::error_code ec, std::size_t) {
          if (ec) return self->Close();
          if (!keepAlive) return self->Linger();
          self->WaitForRequest();
        });
  }

  // The event stream: headers, then a chunk whenever there is something to send, and a
  // heartbeat when there was nothing for a while.
  void StartStream(HttpResponse res) {
    m_events = std::move(res.stream);
    auto head = std::make_shared<http::response<http::empty_body>>(http::status::ok, m_version);
    for (const auto& [name, value] : res.headers) head->set(name, value);
    head->set(http::field::content_type, res.contentType);
    head->chunked(true);
    head->keep_alive(false);
    auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*head);
    Tcp().expires_after(session::kWriteDeadline);
    http::async_write_header(
        m_stream, *serializer,
        [self = this->shared_from_this(), head, serializer](beast::error_code ec, std::size_t) {
          if (ec) return self->EndStream();
          std::weak_ptr<HttpSession> weak = self;
          self->m_events->SetWake([weak] {
            if (auto s = weak.lock()) {
              asio::post(s->m_stream.get_executor(), [s] { s->Pump(false); });
            }
          });
          self->Beat();
          self->Pump(false);
        });
  }

  void Beat() {
    m_beat.expires_after(session::kStreamHeartbeat);
    m_beat.async_wait([self = this->shared_from_this()](beast::error_code ec) {
      if (ec || !self->m_events) return;
      self->Pump(true);
      self->Beat();
    });
  }

  void Pump(bool heartbeat) {
    if (!m_events) return;
    if (m_writing) {
      m_pumpAgain = true;
      return;
    }
    std::string text;
    if (!m_events->Take(text)) {
      m_writing = true;
      Tcp().expires_after(session::kWriteDeadline);
      asio::async_write(
          m_stream, http::make_chunk_last(),
          [self = this->shared_from_this()](beast::error_code, std::size_t) { self->EndStream(); });
      return;
    }
    if (text.empty() && heartbeat) text = m_events->Heartbeat();
    if (text.empty()) return;
    m_writing = true;
    m_chunk = std::move(text);
    Tcp().expires_after(session::kWriteDeadline);
    asio::async_write(m_stream, http::make_chunk(asio::buffer(m_chunk)),
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        self->m_writing = false;
                        if (ec) return self->EndStream();
                        if (self->m_pumpAgain) {
                          self->m_pumpAgain = false;
                          self->Pump(false);
                        }
                      });
  }

  void EndStream() {
    m_events.reset();  // ends the subscription
    m_beat.cancel();
    Close();
  }

  // After an answer that ends the connection: what the peer still sends is read and dropped
  // for a moment, so that closing does not reset the connection before the answer is read.
  void Linger() {
    beast::error_code ec;
    Tcp().socket().shutdown(tcp::socket::shutdown_send, ec);
    Tcp().expires_after(session::kLingerDeadline);
    Drain();
  }

  void Drain() {
    m_buffer.clear();
    Tcp().async_read_some(m_buffer.prepare(session::kReadChunk),
                          [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                            if (ec) return self->Close();
                            self->Drain();
                          });
  }

  void Close() {
    beast::error_code ec;
    Tcp().socket().shutdown(tcp::socket::shutdown_both, ec);
    Tcp().close();
  }

  SessionHost& m_server;
  Stream m_stream;
  std::string m_peer;
  beast::flat_buffer m_buffer;
  std::optional<http::request_parser<http::string_body>> m_parser;
  unsigned m_version = 11;
  bool m_keepAlive = true;
  bool m_head = false;  // the request being answered is a HEAD
  // the event stream
  std::shared_ptr<ResponseStream> m_events;
  asio::steady_timer m_beat;
  std::string m_chunk;
  bool m_writing = false;
  bool m_pumpAgain = false;
};

}  // namespace vekta
