#include "link/reply_queue.h"

#include <cstring>

namespace vekta {

bool ReplyQueue::Push(std::string_view message) {
  if (!Stage(message)) return false;
  Publish();
  return true;
}

bool ReplyQueue::Stage(std::string_view message) {
  if (message.empty() || message.size() > kMaxMessage) return false;
  const std::uint16_t next = static_cast<std::uint16_t>((m_staged + 1) % kSlots);
  if (next == m_read.load(std::memory_order_acquire)) return false;  // one slot stays unused
  Slot& slot = m_slots[m_staged];
  std::memcpy(slot.text.data(), message.data(), message.size());
  slot.text[message.size()] = '\0';
  slot.length = static_cast<std::uint16_t>(message.size());
  m_staged = next;
  return true;
}

void ReplyQueue::Publish() {
  if (m_staged == m_write.load(std::memory_order_relaxed)) return;
  m_write.store(m_staged, std::memory_order_release);
  m_event.Set();
}

bool ReplyQueue::IsEmpty() const {
  return m_read.load(std::memory_order_acquire) == m_write.load(std::memory_order_acquire);
}

std::string_view ReplyQueue::Peek() const {
  if (IsEmpty()) return {};
  const Slot& slot = m_slots[m_read.load(std::memory_order_relaxed)];
  return std::string_view(slot.text.data(), slot.length);
}

bool ReplyQueue::Pop() {
  m_event.Reset();
  if (IsEmpty()) return false;
  const std::uint16_t read = m_read.load(std::memory_order_relaxed);
  m_slots[read].length = 0;
  m_read.store(static_cast<std::uint16_t>((read + 1) % kSlots), std::memory_order_release);
  // A push that raced with the Reset above is seen here, so no message waits unsignalled.
  if (!IsEmpty()) m_event.Set();
  return true;
}

void ReplyQueue::Rearm() {
  m_event.Reset();
  if (!IsEmpty()) m_event.Set();  // a push that raced with the Reset
}

void ReplyQueue::Drain() {
  while (Pop()) {
  }
}

std::size_t ReplyQueue::Size() const {
  const std::size_t read = m_read.load(std::memory_order_acquire);
  const std::size_t write = m_write.load(std::memory_order_acquire);
  return (write + kSlots - read) % kSlots;
}

}  // namespace vekta
