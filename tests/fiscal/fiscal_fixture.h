#pragma once

// A logged-in PrinterLink on a fake serial line, with a printer played by a per-command handler.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/link_timings.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/string_table.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/scripted_link_host.h"

namespace vekta::testing_fiscal {

using Commands = std::vector<std::string>;

struct PrinterSetup {
  std::string serialNumber = "5001234567";  // generation 1, variant 3 with "UMTM"
  std::string firmwareId = "UMTM";
  char keyDigit = '1';
  // Per group: type character and four-digit raw rate, or empty for no tax.
  std::array<std::string, 8> taxes = {"12000", "02000", "20500", "12900",
                                      "00700", "",      "10500", "21000"};
};

inline const PrinterSetup kGen0{"0401234567", "XXXX"};
inline const PrinterSetup kVariant2{"4501234567", "vTTs"};

// A UTF-8 text of the test in the link's code page.
inline std::string W(const std::string& utf8) {
  return Utf8ToCp1251(utf8);
}
inline std::string Pad(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

inline std::string ConfReply(const PrinterSetup& s) {
  return "CONf" + Pad(s.serialNumber, 10) + "FN00000001" + Pad("TOV \"ROMASHKA\"", 36) +
         "20240115103000" + s.keyDigit + std::string(35, '0') + Pad(s.firmwareId, 4) + "20240115" +
         std::string(18, '0') + "20240101" + "2" + "UAH";
}

inline std::string CnalReply(const PrinterSetup& setup) {
  std::string reply = "CNAL";
  for (const std::string& tax : setup.taxes) {
    reply += tax.empty() ? std::string(14, '0') : "20240101 " + tax;
  }
  return reply;
}

// Short delays, with the two receipt delays of the oldest printers told apart from the rest.
inline LinkTimings FixtureTimings() {
  LinkTimings timings = LinkTimings::Short();
  timings.afterPrepGen0 = std::chrono::milliseconds(13);
  timings.beforeCancGen0 = std::chrono::milliseconds(10);
  return timings;
}

// On a fake clock, which also records the fixed device delays the link slept. Each test starts
// connected to the default printer.
class FiscalFixture : public ::testing::Test {
 protected:
  FiscalFixture() : m_line(std::make_shared<FakeLine>()), m_host(m_line) {}
  ~FiscalFixture() override { m_link.reset(); }
  void SetUp() override { Connect(); }

  // Connects and logs in (dropping any earlier link); afterwards every command is answered by
  // the handler (default "READY"), and the sent list and host calls start empty.
  void Connect(const PrinterSetup& setup = {}) {
    m_link.reset();
    m_connected = false;
    m_setup = setup;
    m_line->SetResponder([this](const std::string& command) -> Commands {
      if (command == "\x55") return {"READY"};
      if (command.rfind("UPAS", 0) == 0) m_loggedOut = false;
      if (m_loggedOut) return {"SOFTPROTOC"};
      if (command == "CONf") return {ConfReply(m_setup), "READY"};
      if (command == "CNAL") return {CnalReply(m_setup), "READY"};
      // While it connects the printer tells nothing of its registers.
      if (!m_connected) return command == "CCAS" ? Commands{"SOFTPARAM"} : Commands{"READY"};
      Commands replies;
      for (const std::string& reply : m_handler(Cp1251ToUtf8(command))) {
        replies.push_back(Utf8ToCp1251(reply));
      }
      return replies;
    });
    m_link = std::make_unique<PrinterLink>(1, m_host, m_clock, FixtureTimings());
    ASSERT_GT(m_link->Connect("COM1", "CASHIER", "7777777777"), 0);
    m_connected = true;
    Reset();
  }

  // The printer is switched off and on: it refuses every command with "SOFTPROTOC" until it is
  // logged in again.
  void SwitchOffAndOn() { m_loggedOut = true; }

  // A message the printer sends unasked, waited for until the link has queued it.
  void DeliverUnasked(const std::string& text1251) {
    m_line->FeedFrame(text1251);
    for (int i = 0; i < 400 && m_link->Queue().IsEmpty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Commands starting with `prefix` get `replies`; every other command its plain answer.
  void Answer(const std::string& prefix, Commands replies) {
    m_handler = [prefix, replies](const std::string& command) {
      return command.rfind(prefix, 0) == 0 ? replies : PlainAnswer(command);
    };
  }
  // An earlier command's "READY" comes with the next command's replies: commands starting with
  // `refused` get `status`, the others their plain answer.
  void AnswerAfterALateReady(const std::string& refused, const std::string& status) {
    m_handler = [late = true, refused, status](const std::string& command) mutable {
      Commands replies = PlainAnswer(command);
      if (command.rfind(refused, 0) == 0) replies.back() = status;
      if (std::exchange(late, false)) replies.insert(replies.begin(), "READY");
      return replies;
    };
  }
  // "READY", after zero registers for the register query.
  static Commands PlainAnswer(const std::string& command) {
    if (command == "CCAS") return {"CCAS" + std::string(88, '0'), "READY"};
    return {"READY"};
  }

  // Commands written since Connect, in UTF-8, as the printer read them (DOS 866 has no
  // Ukrainian і: it arrives as the Latin i).
  Commands Sent() const {
    Commands sent;
    for (const std::string& command : m_line->SentCommands()) {
      if (command != "\x55") sent.push_back(Cp1251ToUtf8(command));
    }
    return sent;
  }
  // The same, joined by '|'.
  std::string SentText() const {
    std::string text;
    for (const std::string& command : Sent()) text += (text.empty() ? "" : "|") + command;
    return text;
  }

  std::string LastErrorUtf8() const { return Cp1251ToUtf8(m_link->LastErrorText()); }

  void Reset() {
    m_sleptMark = m_clock.Slept();
    m_line->ClearSent();
    m_host.ClearCalls();
  }

  PrinterLink& Link() { return *m_link; }
  // The time the link slept since Reset or the last call.
  Clock::Duration TakeSlept() {
    return m_clock.Slept() - std::exchange(m_sleptMark, m_clock.Slept());
  }

  std::shared_ptr<FakeLine> m_line;
  ScriptedLinkHost m_host;
  FakeClock m_clock;
  Clock::Duration m_sleptMark{0};
  std::unique_ptr<PrinterLink> m_link;
  PrinterSetup m_setup;
  bool m_connected = false;
  bool m_loggedOut = false;
  std::function<Commands(const std::string& commandUtf8)> m_handler = PlainAnswer;
};

}  // namespace vekta::testing_fiscal
