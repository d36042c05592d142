#pragma once

// A link on the fake line with a scripted host and a fake clock: protocol time-outs run instantly.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/fake_serial_port.h"
#include "tests/support/scripted_link_host.h"

namespace vekta {

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
  // Answers every frame with `replies`, whatever the command.
  void AnswerAll(std::vector<std::string> replies) {
    m_line->SetResponder([replies](const std::string&) { return replies; });
  }
  std::vector<std::string> Boxes() const { return m_host.CallsStartingWith("box:"); }
  std::string Text(int id) const { return LoadStringUtf8(id); }
  void WaitLost() {
    for (int i = 0; i < 2000 && !m_link->IsLost(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::shared_ptr<FakeLine> m_line = std::make_shared<FakeLine>();
  ScriptedLinkHost m_host{m_line};
  FakeClock m_clock;
  std::unique_ptr<PrinterLink> m_link;
};

}  // namespace vekta
