#pragma once

// A link on the fake line with a scripted host and a fake clock: protocol time-outs run instantly.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/string_table.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/files.h"
#include "tests/support/scripted_link_host.h"

namespace vekta {

using Texts = std::vector<std::string>;

// 0xFD, the bytes as they are, length byte (0 for long texts, as printers send them), 0xFE.
inline std::vector<std::uint8_t> FrameBytes(const std::string& raw) {
  const std::string frame = SimFrame(raw);
  return {frame.begin(), frame.end()};
}

inline std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class LinkTest : public ::testing::Test {
 protected:
  void MakeLink(LinkTimings timings = {}) {
    m_link = std::make_unique<PrinterLink>(3, m_host, m_clock, timings);
  }
  void OpenLink() {
    if (!m_link) MakeLink();
    ASSERT_TRUE(m_link->OpenPort("COM3"));
    m_link->StartReader();
  }
  void AnswerAll(Texts replies) {
    m_line->SetResponder([replies](const std::string&) { return replies; });
  }
  void Feed(const Texts& frames) {
    for (const std::string& frame : frames) m_line->FeedFrame(frame);
  }
  Texts Boxes() const { return m_host.CallsStartingWith("box:"); }
  std::string Text(int id) const { return LoadStringUtf8(id); }
  // How long `step` took on the fake clock.
  template <class Step>
  auto Took(Step step) {
    const auto before = m_clock.Now();
    step();
    return m_clock.Now() - before;
  }

  std::shared_ptr<FakeLine> m_line = std::make_shared<FakeLine>();
  ScriptedLinkHost m_host{m_line};
  FakeClock m_clock;
  std::unique_ptr<PrinterLink> m_link;
};

}  // namespace vekta
