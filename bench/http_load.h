#pragma once

// Many HTTP keep-alive clients on non-blocking sockets, served by one or two epoll loops, and
// connections that send their request one byte at a time. A thousand clients as a thousand
// threads would compete with the daemon for the machine's two cores and measure the scheduler.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vekta {
namespace bench {

using LoadClock = std::chrono::steady_clock;

// Raises the soft limit of open files to `wanted` (at most the hard limit); the daemon started
// after it inherits the limit.
inline void RaiseFileLimit(rlim_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= wanted) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

// A non-blocking socket connecting to 127.0.0.1:`port`, or -1.
inline int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline std::string PostRequest(int port, const std::string& path) {
  return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\nContent-Type: application/json\r\nContent-Length: 0\r\n\r\n";
}

inline std::string GetRequest(int port, const std::string& path) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
}

// One response at a time out of the bytes of a keep-alive connection: a body of a
// Content-Length or chunked; an answer with neither is taken for a broken one.
class ReplyReader {
 public:
  enum class Result { kPartial, kDone, kBad };

  Result Feed(const char* data, std::size_t size) {
    m_bytes.append(data, size);
    const std::size_t end = m_bytes.find("\r\n\r\n");
    if (end == std::string::npos) return m_bytes.size() > 65536 ? Result::kBad : Result::kPartial;
    std::string head = m_bytes.substr(0, end + 2);
    for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (head.rfind("http/1.", 0) != 0 || head.size() < 12) return Result::kBad;
    m_status = std::atoi(head.c_str() + 9);
    std::size_t next = 0;
    const std::size_t length = head.find("\r\ncontent-length:");
    if (length != std::string::npos) {
      next = end + 4 + static_cast<std::size_t>(std::atol(head.c_str() + length + 17));
      if (m_bytes.size() < next) return Result::kPartial;
    } else if (head.find("\r\ntransfer-encoding: chunked\r\n") != std::string::npos) {
      next = ChunkedEnd(end + 4);
      if (next == 0) return m_bytes.size() > (1 << 20) ? Result::kBad : Result::kPartial;
    } else {
      return Result::kBad;
    }
    m_close = head.find("\r\nconnection: close\r\n") != std::string::npos;
    m_bytes.erase(0, next);
    return Result::kDone;
  }
  int Status() const { return m_status; }
  bool Close() const { return m_close; }  // the server closes the connection after this answer
  void Reset() { m_bytes.clear(); }

 private:
  // Where the chunked body from `at` ends, or 0 while it has not all come.
  std::size_t ChunkedEnd(std::size_t at) const {
    for (;;) {
      const std::size_t line = m_bytes.find("\r\n", at);
      if (line == std::string::npos) return 0;
      const std::size_t size = std::strtoul(m_bytes.c_str() + at, nullptr, 16);
      if (size == 0) {
        const std::size_t trailers = m_bytes.find("\r\n\r\n", line);
        return trailers == std::string::npos ? 0 : trailers + 4;
      }
      at = line + 2 + size + 2;
      if (m_bytes.size() < at) return 0;
    }
  }

  std::string m_bytes;
  int m_status = 0;
  bool m_close = false;
};

struct LoadFigures {
  std::int64_t answered = 0;    // 200s completed by the end of the run
  std::int64_t late = 0;        // 200s completed after it, by calls started within it
  std::int64_t timeouts = 0;    // calls that had no answer within the call time-out
  std::int64_t failures = 0;    // other statuses, broken answers, connections lost in a call
  std::int64_t reconnects = 0;  // connections the server closed, or that timed out, opened again
  std::int64_t clientsAnswered = 0;  // clients with at least one 200 in the run
  double seconds = 0;                // from the start to the end of the run
  std::vector<double> micros;        // every call started; one that timed out at the time-out

  double CallsPerSecond() const {
    return seconds > 0 ? static_cast<double>(answered) / seconds : 0;
  }
  double Percentile(int percent) {
    if (micros.empty()) return 0;
    std::sort(micros.begin(), micros.end());
    const std::size_t at = micros.size() * static_cast<std::size_t>(percent) / 100;
    return micros[std::min(micros.size() - 1, at)];
  }
  double Slowest() const {
    return micros.empty() ? 0 : *std::max_element(micros.begin(), micros.end());
  }
};

struct RunBounds {
  LoadClock::duration duration;
  std::int64_t callsInAll;
  std::int64_t callsEach = std::numeric_limits<std::int64_t>::max();
  // long enough to see a slow call as slow (1 s is slow), short enough that a starved client
  // cannot hold the run
  LoadClock::duration callTimeout = std::chrono::seconds(5);
};

// Keep-alive clients, each with its own connection and request, one call at a time each. The
// connections stay open from one Run to the next.
class KeepAliveClients {
 public:
  KeepAliveClients(int port, std::vector<std::string> requests)
      : m_port(port), m_clients(requests.size()) {
    for (std::size_t i = 0; i < requests.size(); ++i) m_clients[i].request = std::move(requests[i]);
  }
  ~KeepAliveClients() {
    for (Client& c : m_clients) Close(c);
  }
  KeepAliveClients(const KeepAliveClients&) = delete;
  KeepAliveClients& operator=(const KeepAliveClients&) = delete;

  std::size_t Size() const { return m_clients.size(); }

  // Connects every client; the number connected within `timeout`. The others are left to
  // connect while the first run waits for them.
  std::size_t Open(std::chrono::milliseconds timeout) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<bool> pending(m_clients.size(), false);
    std::size_t waiting = 0;
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
      Client& c = m_clients[i];
      if (c.fd >= 0) continue;
      c.fd = ConnectLoopback(m_port);
      if (c.fd < 0) continue;
      Watch(epoll, i, EPOLLOUT, EPOLL_CTL_ADD);
      pending[i] = true;
      ++waiting;
    }
    const auto deadline = LoadClock::now() + timeout;
    std::vector<epoll_event> events(256);
    while (waiting > 0 && LoadClock::now() < deadline) {
      const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 20);
      for (int e = 0; e < n; ++e) {
        const std::size_t i = events[e].data.u64;
        ::epoll_ctl(epoll, EPOLL_CTL_DEL, m_clients[i].fd, nullptr);
        pending[i] = false;
        --waiting;
        if (!Connected(m_clients[i].fd)) Close(m_clients[i]);
      }
    }
    ::close(epoll);
    std::size_t connected = 0;
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
      Client& c = m_clients[i];
      c.since = LoadClock::now();
      c.state = c.fd < 0 ? State::kClosed : pending[i] ? State::kConnecting : State::kIdle;
      connected += c.state == State::kIdle ? 1 : 0;
    }
    return connected;
  }

  // Every client calls until the run's time is up or its calls are made; a call in flight at
  // the end has until its time-out. A connection the server closes, or whose call times out,
  // is opened again, so the run keeps its number of clients.
  LoadFigures Run(const RunBounds& bounds) {
    const std::size_t loops = std::min<std::size_t>(2, m_clients.size());
    std::vector<LoadFigures> figures(loops);
    const auto start = LoadClock::now();
    const auto end = start + bounds.duration;
    m_started = 0;
    std::vector<std::thread> threads;
    for (std::size_t l = 0; l < loops; ++l) {
      threads.emplace_back([&, l] { Loop(l, loops, start, end, bounds, figures[l]); });
    }
    for (auto& t : threads) t.join();
    LoadFigures all;
    auto finished = start;
    for (LoadFigures& f : figures) {
      all.answered += f.answered;
      all.late += f.late;
      all.timeouts += f.timeouts;
      all.failures += f.failures;
      all.reconnects += f.reconnects;
      all.clientsAnswered += f.clientsAnswered;
      all.micros.insert(all.micros.end(), f.micros.begin(), f.micros.end());
      finished = std::max(finished, start + std::chrono::duration_cast<LoadClock::duration>(
                                                std::chrono::duration<double>(f.seconds)));
    }
    all.seconds = std::chrono::duration<double>(std::min(finished, end) - start).count();
    return all;
  }

 private:
  enum class State { kClosed, kConnecting, kIdle, kCalling, kDone };
  struct Client {
    std::string request;
    int fd = -1;
    State state = State::kClosed;
    std::size_t sent = 0;
    std::int64_t calls = 0;
    bool doneEarly = false;       // out of calls before the run's time was up
    bool answered = false;        // had a 200 in the run
    LoadClock::time_point since;  // of the call in flight, or of the connect
    ReplyReader reply;
  };

  static bool Connected(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  void Watch(int epoll, std::size_t i, std::uint32_t events, int op) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = i;
    ::epoll_ctl(epoll, op, m_clients[i].fd, &event);
  }
  static void Close(Client& c) {
    if (c.fd >= 0) ::close(c.fd);
    c.fd = -1;
    c.state = State::kClosed;
    c.reply.Reset();
  }

  // The loop of the clients l, l + loops, l + 2 loops...
  void Loop(std::size_t l, std::size_t loops, LoadClock::time_point start,
            LoadClock::time_point end, const RunBounds& bounds, LoadFigures& figures) {
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<std::size_t> mine;
    for (std::size_t i = l; i < m_clients.size(); i += loops) mine.push_back(i);
    LoadClock::time_point lastAnswer = start;
    auto watch = [&](std::size_t i, std::uint32_t events, int op) { Watch(epoll, i, events, op); };
    auto reopen = [&](std::size_t i) {
      Client& c = m_clients[i];
      Close(c);
      c.fd = ConnectLoopback(m_port);
      if (c.fd < 0) return;
      c.state = State::kConnecting;
      c.since = LoadClock::now();
      watch(i, EPOLLOUT, EPOLL_CTL_ADD);
    };
    auto send = [&](std::size_t i) {
      Client& c = m_clients[i];
      while (c.sent < c.request.size()) {
        const ssize_t n =
            ::send(c.fd, c.request.data() + c.sent, c.request.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
          c.sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
          watch(i, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
          return true;
        } else {
          return false;
        }
      }
      watch(i, EPOLLIN, EPOLL_CTL_MOD);
      return true;
    };
    auto fail = [&](std::size_t i, std::int64_t& counter) {
      Client& c = m_clients[i];
      if (c.state == State::kCalling) {
        ++counter;
        figures.micros.push_back(
            std::chrono::duration<double, std::micro>(LoadClock::now() - c.since).count());
      }
      ++figures.reconnects;
      reopen(i);
    };
    // the next call of an idle client, or none when its run is over
    auto next = [&](std::size_t i) {
      Client& c = m_clients[i];
      if (LoadClock::now() >= end) {
        c.state = State::kDone;
        return;
      }
      if (c.calls >= bounds.callsEach || m_started.fetch_add(1) >= bounds.callsInAll) {
        c.state = State::kDone;
        c.doneEarly = true;
        return;
      }
      ++c.calls;
      c.state = State::kCalling;
      c.sent = 0;
      c.since = LoadClock::now();
      if (!send(i)) fail(i, figures.failures);
    };
    for (std::size_t i : mine) {
      Client& c = m_clients[i];
      c.calls = 0;
      c.doneEarly = false;
      c.answered = false;
      if (c.fd < 0) {
        reopen(i);
        continue;
      }
      c.since = LoadClock::now();
      watch(i, c.state == State::kConnecting ? EPOLLOUT : EPOLLIN, EPOLL_CTL_ADD);
      if (c.state != State::kConnecting) next(i);
    }
    std::vector<epoll_event> events(256);
    char buffer[16384];
    auto lastSweep = LoadClock::now();
    for (;;) {
      const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 20);
      for (int e = 0; e < n; ++e) {
        const std::size_t i = events[e].data.u64;
        Client& c = m_clients[i];
        if (c.state == State::kConnecting) {
          if (!Connected(c.fd)) {
            ++figures.failures;
            reopen(i);
          } else {
            watch(i, EPOLLIN, EPOLL_CTL_MOD);
            next(i);
          }
          continue;
        }
        if ((events[e].events & EPOLLOUT) && c.state == State::kCalling && !send(i)) {
          fail(i, figures.failures);
          continue;
        }
        if (!(events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR))) continue;
        const ssize_t got = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EAGAIN) continue;
        if (got <= 0 || c.state != State::kCalling) {
          // closed by the server, in a call or between calls
          fail(i, figures.failures);
          continue;
        }
        const auto result = c.reply.Feed(buffer, static_cast<std::size_t>(got));
        if (result == ReplyReader::Result::kPartial) continue;
        if (result == ReplyReader::Result::kBad) {
          fail(i, figures.failures);
          continue;
        }
        const auto now = LoadClock::now();
        figures.micros.push_back(std::chrono::duration<double, std::micro>(now - c.since).count());
        if (c.reply.Status() != 200) {
          ++figures.failures;
        } else if (now <= end) {
          figures.clientsAnswered += c.answered ? 0 : 1;
          c.answered = true;
          ++figures.answered;
          lastAnswer = now;
        } else {
          ++figures.late;
        }
        if (c.reply.Close()) {
          ++figures.reconnects;
          reopen(i);
        } else {
          next(i);
        }
      }
      const auto now = LoadClock::now();
      if (now - lastSweep < std::chrono::milliseconds(20)) continue;
      lastSweep = now;
      bool busy = false;
      for (std::size_t i : mine) {
        Client& c = m_clients[i];
        if (c.state == State::kCalling && now - c.since >= bounds.callTimeout) {
          fail(i, figures.timeouts);
        } else if (c.state == State::kConnecting && now - c.since >= bounds.callTimeout) {
          ++figures.failures;
          reopen(i);
        }
        busy = busy || c.state == State::kCalling || (c.state == State::kConnecting && now < end);
      }
      if (!busy) break;
    }
    for (std::size_t i : mine) {
      Client& c = m_clients[i];
      if (c.fd >= 0) ::epoll_ctl(epoll, EPOLL_CTL_DEL, c.fd, nullptr);
      if (c.state == State::kDone) c.state = State::kIdle;
    }
    ::close(epoll);
    // the run ends with the last client's last answer when every client ran out of calls first
    const bool allDone = std::all_of(mine.begin(), mine.end(),
                                     [&](std::size_t i) { return m_clients[i].doneEarly; });
    figures.seconds =
        std::chrono::duration<double>((allDone ? std::min(lastAnswer, end) : end) - start).count();
  }

  int m_port;
  std::vector<Client> m_clients;
  std::atomic<std::int64_t> m_started{0};  // calls of the run, over every loop
};

// Connections that send `request` one byte at a time, a byte every `minGap` to `maxGap`, on
// their own thread until Stop(). One the server closes is opened again and starts over.
class Tricklers {
 public:
  Tricklers(int port, int count, std::string request, std::chrono::milliseconds minGap,
            std::chrono::milliseconds maxGap)
      : m_port(port),
        m_count(count),
        m_request(std::move(request)),
        m_minGap(minGap),
        m_maxGap(maxGap) {
    m_thread = std::thread([this] { Loop(); });
  }
  ~Tricklers() { Stop(); }
  Tricklers(const Tricklers&) = delete;
  Tricklers& operator=(const Tricklers&) = delete;

  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  int ClosedByServer() const { return m_closed; }
  int Opened() const { return m_opened; }
  int BytesSent() const { return m_bytes; }

 private:
  struct Trickler {
    int fd = -1;
    std::size_t sent = 0;
    LoadClock::time_point due;
  };

  void Loop() {
    std::mt19937 random(static_cast<unsigned>(m_port));
    std::uniform_int_distribution<int> gap(static_cast<int>(m_minGap.count()),
                                           static_cast<int>(m_maxGap.count()));
    std::vector<Trickler> tricklers(static_cast<std::size_t>(m_count));
    auto open = [&](Trickler& t) {
      t.fd = ConnectLoopback(m_port);
      t.sent = 0;
      t.due = LoadClock::now() + std::chrono::milliseconds(gap(random));
      if (t.fd >= 0) ++m_opened;
    };
    for (Trickler& t : tricklers) open(t);
    std::vector<pollfd> polled(tricklers.size());
    char buffer[4096];
    while (!m_stop) {
      for (std::size_t i = 0; i < tricklers.size(); ++i) {
        polled[i] = {tricklers[i].fd, POLLIN | POLLRDHUP, 0};
      }
      ::poll(polled.data(), polled.size(), 10);
      const auto now = LoadClock::now();
      for (std::size_t i = 0; i < tricklers.size(); ++i) {
        Trickler& t = tricklers[i];
        bool closed = t.fd < 0;
        if (!closed && (polled[i].revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR))) {
          // an answer (408, 400) is read away; the end of the stream is the server's close
          const ssize_t got = ::recv(t.fd, buffer, sizeof buffer, MSG_DONTWAIT);
          closed = got == 0 || (got < 0 && errno != EAGAIN);
        }
        if (!closed && now >= t.due) {
          const ssize_t n = ::send(t.fd, m_request.data() + t.sent % m_request.size(), 1,
                                   MSG_NOSIGNAL | MSG_DONTWAIT);
          if (n == 1) {
            ++t.sent;
            ++m_bytes;
          } else if (n < 0 && errno != EAGAIN && errno != ENOTCONN) {
            closed = true;
          }
          t.due = now + std::chrono::milliseconds(gap(random));
        }
        if (closed) {
          if (t.fd >= 0) {
            ::close(t.fd);
            ++m_closed;
          }
          open(t);
        }
      }
    }
    for (Trickler& t : tricklers) {
      if (t.fd >= 0) ::close(t.fd);
    }
  }

  int m_port;
  int m_count;
  std::string m_request;
  std::chrono::milliseconds m_minGap, m_maxGap;
  std::atomic<bool> m_stop{false};
  std::atomic<int> m_closed{0}, m_opened{0}, m_bytes{0};
  std::thread m_thread;
};

}  // namespace bench
}  // namespace vekta
