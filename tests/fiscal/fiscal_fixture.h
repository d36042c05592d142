#pragma once

// A logged-in PrinterLink on a fake serial line, with a printer played by a per-command handler.

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/link_timings.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/fake_serial_port.h"
#include "tests/support/scripted_link_host.h"

namespace vekta::testing_fiscal {

struct PrinterSetup {
  std::string serialNumber = "5001234567";  // generation 1, variant 3 with "UMTM"
  std::string firmwareId = "UMTM";
  char keyDigit = '1';
  // Per group: type character and four-digit raw rate ("12000"), or empty for no tax.
  std::array<std::string, 8> taxes = {"12000", "02000", "20500", "12900",
                                      "00700", "",      "10500", "21000"};
};

// A UTF-8 text of the test in the link's code page.
inline std::string W(const std::string& utf8) {
  return Utf8ToCp1251(utf8);
}

inline std::string Pad(std::string text, std::size_t width, char fill = ' ') {
  text.resize(width, fill);
  return text;
}

inline std::string ConfReply(const PrinterSetup& setup) {
  std::string reply = "CONf";
  reply += Pad(setup.serialNumber, 10);
  reply += "FN00000001";
  reply += Pad("TOV \"ROMASHKA\"", 36);
  reply += "20240115";
  reply += "103000";
  reply += setup.keyDigit;
  reply += std::string(35, '0');
  reply += Pad(setup.firmwareId, 4);
  reply += "20240115";
  reply += std::string(18, '0');
  reply += "20240101";
  reply += '2';
  reply += "UAH";
  return reply;
}

inline std::string CnalReply(const PrinterSetup& setup) {
  std::string reply = "CNAL";
  for (const std::string& tax : setup.taxes) {
    reply += tax.empty() ? std::string(14, '0') : "20240101 " + tax;
  }
  return reply;
}

class FiscalFixture : public ::testing::Test {
 protected:
  using Handler = std::function<std::vector<std::string>(const std::string& commandUtf8)>;

  FiscalFixture() : m_line(std::make_shared<FakeLine>()), m_host(m_line) {}

  ~FiscalFixture() override { m_link.reset(); }

  // Connects and logs in; afterwards every command is answered by the handler (default
  // "READY"), and the sent list and host calls start empty.
  void Connect(const PrinterSetup& setup = {}) {
    m_setup = setup;
    m_line->SetResponder([this](const std::string& command) -> std::vector<std::string> {
      if (command == "\x55") return {"READY"};
      if (command == "CONf") return {ConfReply(m_setup), "READY"};
      if (command == "CNAL") return {CnalReply(m_setup), "READY"};
      if (!m_connected) return {"READY"};
      std::vector<std::string> replies;
      for (const std::string& reply : m_handler(Cp1251ToUtf8(command))) {
        replies.push_back(Utf8ToCp1251(reply));
      }
      return replies;
    });
    m_link = std::make_unique<PrinterLink>(1, m_host, m_clock, LinkTimings::Short());
    ASSERT_GT(m_link->Connect("COM1", "CASHIER", "7777777777"), 0);
    m_connected = true;
    m_line->ClearSent();
    m_host.ClearCalls();
  }

  // A message the printer sends unasked, waited for until the link has queued it.
  void DeliverUnasked(const std::string& text1251) {
    m_line->FeedFrame(text1251);
    WaitUntilQueued(*m_link);
  }

  static void WaitUntilQueued(PrinterLink& link) {
    for (int i = 0; i < 400 && link.Queue().IsEmpty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  void OnCommand(Handler handler) { m_handler = std::move(handler); }

  // Commands written since Connect, in UTF-8, as the printer read them: DOS 866 has no
  // Ukrainian і, so it arrives as the Latin i.
  std::vector<std::string> Sent() const {
    std::vector<std::string> sent;
    for (const std::string& command : m_line->SentCommands()) {
      if (command != "\x55") sent.push_back(Cp1251ToUtf8(command));
    }
    return sent;
  }

  std::string LastErrorUtf8() const { return Cp1251ToUtf8(m_link->LastErrorText()); }

  void Reset() {
    m_line->ClearSent();
    m_host.ClearCalls();
  }

  PrinterLink& Link() { return *m_link; }

  std::shared_ptr<FakeLine> m_line;
  ScriptedLinkHost m_host;
  RealClock m_clock;
  std::unique_ptr<PrinterLink> m_link;
  PrinterSetup m_setup;
  bool m_connected = false;
  Handler m_handler = [](const std::string&) { return std::vector<std::string>{"READY"}; };
};

}  // namespace vekta::testing_fiscal
