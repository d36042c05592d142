#pragma once

// A deliberately tiny host side for the simulator tests: opens the slave device, frames
// commands and cuts reply frames. It shares no code with the link, so that the simulator is
// checked against the wire format itself.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace vekta::test {

using Messages = std::vector<std::string>;

class TestWire {
 public:
  // A device that cannot be opened fails the current test; the wire then reads as lost.
  explicit TestWire(const std::string& device) {
    m_fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (m_fd < 0 || tcgetattr(m_fd, &tio) != 0) ADD_FAILURE() << "cannot open " << device;
    cfmakeraw(&tio);
    tcsetattr(m_fd, TCSANOW, &tio);
  }
  ~TestWire() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Lost() const { return m_lost; }

  void SendRaw(const std::string& bytes) {
    [[maybe_unused]] auto n = write(m_fd, bytes.data(), bytes.size());
  }

  // Every message until one holds a status word ("READY", "SOFT...", "HARD...") or `quiet`
  // passes without a byte, the device goes away, or 5 s pass in all.
  Messages Receive(std::chrono::milliseconds quiet = std::chrono::milliseconds(300)) {
    Messages messages;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end && ReadSome(quiet) > 0) {
      Cut(messages);
      for (const char* word : {"READY", "SOFT", "HARD"}) {
        if (!messages.empty() && messages.back().find(word) != std::string::npos) return messages;
      }
    }
    return messages;
  }
  // Sends a command and collects its replies up to and including the status word.
  Messages Command(const std::string& text) {
    SendRaw("\xFD" + text + static_cast<char>(text.size() + 1) + '\xFE');
    return Receive(std::chrono::seconds(5));
  }

 private:
  // 1 when bytes were read, 0 on a quiet `wait`, -1 when the device is gone.
  int ReadSome(std::chrono::milliseconds wait) {
    if (m_fd < 0) return -1;
    pollfd fd{m_fd, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return 0;
    char chunk[1024];
    const ssize_t got = read(m_fd, chunk, sizeof chunk);
    if (got <= 0) {
      m_lost = true;
      return -1;
    }
    m_buffer.append(chunk, static_cast<std::size_t>(got));
    return 1;
  }

  void Cut(Messages& messages) {
    while (true) {
      const auto start = m_buffer.find('\xFD');
      if (start == std::string::npos) return m_buffer.clear();
      const auto end = m_buffer.find('\xFE', start);
      if (end == std::string::npos) return void(m_buffer.erase(0, start));
      const std::string content = m_buffer.substr(start + 1, end - start - 1);
      m_buffer.erase(0, end + 1);
      if (!content.empty()) messages.push_back(content.substr(0, content.size() - 1));
    }
  }

  int m_fd = -1;
  bool m_lost = false;
  std::string m_buffer;
};

}  // namespace vekta::test
