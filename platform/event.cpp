#include "platform/event.h"

namespace vekta {

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
  }
  m_changed.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_signalled = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_signalled;
}

bool Event::Wait(std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, timeout, [this] { return m_signalled; });
}

void Event::Wait() const {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_signalled; });
}

}  // namespace vekta
