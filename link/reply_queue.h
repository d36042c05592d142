#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/event.h"

namespace vekta {

// The ring of received printer messages: 64 slots, at most 63 held, one slot up to 4095 bytes
// (so a "CFIS" reply of 268 bytes arrives whole). Single producer (the reader thread), single
// consumer (whoever holds the link's command mutex); no lock of its own. Texts are already in
// Windows-1251.
class ReplyQueue {
 public:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kMaxMessage = 4095;

  // Reader thread only. False when the queue is full or the message is empty or too long.
  bool Push(std::string_view message);
  // Reader thread only: Stage() fills slots that the consumer does not see yet, Publish() hands
  // them all over at once. The messages of one read become visible together, so a wait that
  // takes a data reply and drains the queue also drains the "READY" that came with it.
  bool Stage(std::string_view message);
  void Publish();
  bool IsEmpty() const;
  // The oldest message, not removed; empty when the queue is empty. Valid until Pop().
  std::string_view Peek() const;
  // Resets MessageEvent; false when empty; else drops the oldest message and signals
  // MessageEvent again if messages remain.
  bool Pop();
  // Pops until empty.
  void Drain();
  std::size_t Size() const;
  // Signals MessageEvent with no message, so that a waiting command looks at its link again
  // (the device vanished). Any thread.
  void WakeWaiters() { m_event.Set(); }
  // Consumer only: MessageEvent signalled exactly while messages are held again, after a wake.
  void Rearm();
  // Signalled while the queue holds messages.
  const Event& MessageEvent() const { return m_event; }

 private:
  struct Slot {
    std::uint16_t length = 0;
    std::array<char, kMaxMessage + 1> text{};
  };
  std::array<Slot, kSlots> m_slots{};
  std::atomic<std::uint16_t> m_read{0};   // moved by the consumer only
  std::atomic<std::uint16_t> m_write{0};  // moved by the producer only
  std::uint16_t m_staged = 0;             // producer only: the next slot to fill
  Event m_event;
};

}  // namespace vekta
