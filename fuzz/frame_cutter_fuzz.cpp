// The reader's path for bytes off the line: the frame cutter and the reply queue. Whatever
// arrives, the cutter keeps within its buffer, gives only messages a frame can hold, and cuts
// the same messages however the stream is split into reads; the queue hands them over whole and
// in order.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/frame_cutter.h"
#include "link/reply_queue.h"

namespace {

using vekta::FrameCutter;
using vekta::ReplyQueue;

std::vector<std::string> CutWhole(const std::uint8_t* data, std::size_t size) {
  FrameCutter cutter;
  std::vector<std::string> messages;
  cutter.Append(data, size, [&](std::string_view m) { messages.emplace_back(m); });
  return messages;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes pick the size of each read: 1 to 4096 bytes.
  const std::size_t step = 1 + ((data[0] << 8 | data[1]) % FrameCutter::kBufferSize);
  data += 2;
  size -= 2;

  FrameCutter cutter;
  ReplyQueue queue;
  std::vector<std::string> messages;
  std::vector<std::string> staged;
  std::size_t at = 0;
  while (at < size) {
    const std::size_t n = std::min({step, size - at, cutter.Room()});
    FUZZ_CHECK(n > 0, "the cutter must always have room for the next read");
    std::memcpy(cutter.Space(), data + at, n);
    at += n;
    cutter.Commit(n, [&](std::string_view message) {
      FUZZ_CHECK(!message.empty(), "a frame without text is no message");
      FUZZ_CHECK(message.size() <= FrameCutter::kBufferSize - 3, "a message longer than a frame");
      FUZZ_CHECK(message.find('\xFE') == std::string_view::npos, "a message holds an end byte");
      messages.emplace_back(message);
      if (queue.Stage(message)) staged.emplace_back(message);
    });
    FUZZ_CHECK(cutter.Held() <= FrameCutter::kBufferSize, "the cutter outgrew its buffer");
    FUZZ_CHECK(cutter.Held() == 0 || cutter.Space()[-static_cast<long>(cutter.Held())] == 0xFD,
               "what the cutter keeps must start a frame");
    // Nothing of a read is visible before the read is published, then all of it is.
    FUZZ_CHECK(queue.Size() == 0, "the consumer saw a message before the read was published");
    queue.Publish();
    FUZZ_CHECK(queue.Size() == staged.size(), "a published read was not handed over whole");
    for (const std::string& expected : staged) {
      FUZZ_CHECK(queue.Peek() == expected, "the queue changed a message or its order");
      queue.Pop();
    }
    FUZZ_CHECK(queue.IsEmpty(), "the queue kept a message it was asked to pop");
    staged.clear();
  }
  FUZZ_CHECK(messages == CutWhole(data, size), "how the stream was split changed the messages");
  return 0;
}
