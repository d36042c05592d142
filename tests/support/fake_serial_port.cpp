#include "tests/support/fake_serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/codepage.h"

namespace vekta {

// A reader that does not come back within this time is stuck; the test fails on its own.
constexpr std::chrono::seconds kDeliveryLimit{5};

class FakeSerialPort final : public SerialPort {
 public:
  explicit FakeSerialPort(std::shared_ptr<FakeLine> line) : m_line(std::move(line)) {}
  ~FakeSerialPort() override { Close(); }

  bool Open(const std::string& devicePath) override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    if (std::exchange(m_line->m_failOpen, false)) return false;
    if (m_line->m_holder != nullptr && m_line->m_holder != this) return false;  // held elsewhere
    m_line->m_holder = this;
    m_line->m_openedPath = devicePath;
    m_line->m_failWrites = m_line->m_interrupted = m_line->m_readerWaiting = false;
    m_line->m_dtr = true;
    m_line->m_rts = false;
    PurgeLocked();
    return true;
  }

  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    return m_line->m_holder == this;
  }

  void Close() override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    if (m_line->m_holder != this) return;
    m_line->m_dtr = false;
    PurgeLocked();
    m_line->m_holder = nullptr;
    m_line->m_delivered.notify_all();
  }

  bool SetDtr(bool on) override { return SetSignal(m_line->m_dtr, on); }
  bool SetRts(bool on) override { return SetSignal(m_line->m_rts, on); }

  void Purge() override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    PurgeLocked();
  }

  bool WriteAll(const std::uint8_t* data, std::size_t size) override {
    std::vector<SimInput> inputs;
    FakeLine::Responder responder;
    {
      std::lock_guard<std::mutex> lock(m_line->m_mutex);
      if (m_line->m_holder != this || m_line->m_failWrites) return false;
      m_line->m_written.insert(m_line->m_written.end(), data, data + size);
      // Cut as a printer cuts them: a start byte restarts an unfinished frame, a bare 0x55 is
      // the wake-up, and the length byte is not checked.
      m_line->m_parser.Feed(reinterpret_cast<const char*>(data), size, inputs);
      for (SimInput& input : inputs) {
        if (input.kind == SimInput::Kind::kWakeUp) {
          input.text.assign(1, static_cast<char>(SimFrameParser::kWakeUp));
          continue;
        }
        input.text = Cp866ToCp1251(input.text);
        m_line->m_sent.push_back(input.text);
      }
      responder = m_line->m_responder;
    }
    // The responder may feed the line, so it runs without the line's lock.
    if (responder) {
      for (const SimInput& input : inputs) {
        for (const std::string& reply : responder(input.text)) m_line->FeedFrame(reply);
      }
    }
    return true;
  }

  ReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t& received,
                  int timeoutMs) override {
    received = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(m_line->m_mutex);
        FakeLine& line = *m_line;
        if (line.m_interrupted || line.m_holder != this) {
          line.m_delivered.notify_all();
          return ReadStatus::kStopped;
        }
        if (line.m_lineErrorReads > 0) {
          --line.m_lineErrorReads;
          line.m_readerWaiting = false;
          return ReadStatus::kLineError;
        }
        if (!line.m_pending.empty()) {
          std::vector<std::uint8_t>& chunk = line.m_pending.front();
          const std::size_t n = std::min(capacity, chunk.size());
          std::memcpy(buffer, chunk.data(), n);
          received = n;
          chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(n));
          if (chunk.empty()) line.m_pending.erase(line.m_pending.begin());
          line.m_readerWaiting = false;
          return ReadStatus::kData;
        }
        line.m_readerWaiting = true;
        line.m_readable.Reset();
        line.m_delivered.notify_all();
      }
      if (timeoutMs < 0) {
        m_line->m_readable.Wait();
        continue;
      }
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !m_line->m_readable.Wait(left)) return ReadStatus::kTimeout;
    }
  }

  void Interrupt() override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    m_line->m_interrupted = true;
    m_line->m_readable.Set();
  }

  std::string TakeLineErrors() override {
    std::lock_guard<std::mutex> lock(m_line->m_mutex);
    return std::exchange(m_line->m_lineErrors, {});
  }

 private:
  bool SetSignal(bool& signal, bool on) {
    m_line->Set(signal, on);
    return true;
  }

  void PurgeLocked() {
    m_line->m_pending.clear();
    m_line->m_parser = SimFrameParser{};
    if (!m_line->m_interrupted && m_line->m_lineErrorReads == 0) {
      m_line->m_readable.Reset();
    }
  }

  std::shared_ptr<FakeLine> m_line;
};

void FakeLine::Feed(std::vector<std::uint8_t> chunk) {
  if (chunk.empty()) return;
  std::unique_lock<std::mutex> lock(m_mutex);
  m_pending.push_back(std::move(chunk));
  Deliver(lock);
}

void FakeLine::Deliver(std::unique_lock<std::mutex>& lock) {
  m_readerWaiting = false;
  m_readable.Set();
  if (m_holder == nullptr) return;  // nobody reads a closed line
  m_delivered.wait_for(lock, kDeliveryLimit, [this] {
    return m_holder == nullptr || m_interrupted ||
           (m_pending.empty() && m_lineErrorReads == 0 && m_readerWaiting);
  });
}

void FakeLine::FeedFrame(const std::string& text1251) {
  const std::string frame = SimFrame(Cp1251ToCp866(text1251));
  Feed({frame.begin(), frame.end()});
}

void FakeLine::InjectLineErrors(std::string names) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_lineErrors += names;
  ++m_lineErrorReads;
  Deliver(lock);
}

std::unique_ptr<SerialPort> MakeFakeSerialPort(std::shared_ptr<FakeLine> line) {
  return std::make_unique<FakeSerialPort>(std::move(line));
}

}  // namespace vekta
