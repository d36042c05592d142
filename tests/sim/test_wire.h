#pragma once

// A deliberately tiny host side for the simulator tests: opens the slave device, frames
// commands and cuts reply frames. It shares no code with the link, so that the simulator is
// checked against the wire format itself.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace vekta::test {

class TestWire {
 public:
  explicit TestWire(const std::string& device) {
    m_fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd >= 0) {
      termios tio{};
      tcgetattr(m_fd, &tio);
      cfmakeraw(&tio);
      tcsetattr(m_fd, TCSANOW, &tio);
    }
  }
  ~TestWire() {
    if (m_fd >= 0) close(m_fd);
  }
  bool IsOpen() const { return m_fd >= 0; }

  void SendRaw(const std::string& bytes) {
    [[maybe_unused]] auto n = write(m_fd, bytes.data(), bytes.size());
  }
  void Send(const std::string& text) {
    std::string frame = "\xFD" + text;
    frame += static_cast<char>(text.size() + 1);
    frame += '\xFE';
    SendRaw(frame);
  }

  // Every message that arrives until `quiet` passes without a byte (or `limit` in all).
  std::vector<std::string> Receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(300),
                                   std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::vector<std::string> messages;
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      pollfd fd{m_fd, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(quiet.count())) <= 0) break;
      char chunk[1024];
      ssize_t got = read(m_fd, chunk, sizeof chunk);
      if (got <= 0) {
        m_lost = true;
        break;
      }
      m_buffer.append(chunk, static_cast<std::size_t>(got));
      Cut(messages);
    }
    return messages;
  }

  // Sends a command and collects its replies up to and including "READY" or a status word.
  std::vector<std::string> Command(const std::string& text) {
    Send(text);
    return UntilDone();
  }

  std::vector<std::string> UntilDone(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::vector<std::string> messages;
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      Cut(messages);
      if (!messages.empty()) {
        const std::string& last = messages.back();
        if (last.find("READY") != std::string::npos || last.find("SOFT") != std::string::npos ||
            last.find("HARD") != std::string::npos) {
          return messages;
        }
      }
      pollfd fd{m_fd, POLLIN, 0};
      if (poll(&fd, 1, 50) <= 0) continue;
      char chunk[1024];
      ssize_t got = read(m_fd, chunk, sizeof chunk);
      if (got <= 0) {
        m_lost = true;
        break;
      }
      m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
    return messages;
  }

  bool Lost() const { return m_lost; }
  // Raw bytes received but not yet part of a whole frame.
  const std::string& Pending() const { return m_buffer; }

 private:
  void Cut(std::vector<std::string>& messages) {
    while (true) {
      auto start = m_buffer.find('\xFD');
      if (start == std::string::npos) {
        m_buffer.clear();
        return;
      }
      auto end = m_buffer.find('\xFE', start);
      if (end == std::string::npos) {
        m_buffer.erase(0, start);
        return;
      }
      std::string content = m_buffer.substr(start + 1, end - start - 1);
      m_buffer.erase(0, end + 1);
      if (!content.empty()) messages.push_back(content.substr(0, content.size() - 1));
    }
  }

  int m_fd = -1;
  bool m_lost = false;
  std::string m_buffer;
};

}  // namespace vekta::test
