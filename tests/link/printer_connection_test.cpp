#include <algorithm>
#include <ctime>
#include <tuple>

#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

using std::chrono::milliseconds;

std::string Pad(std::string text, std::size_t size, char fill = ' ') {
  text.resize(size, fill);
  return text;
}

// Date at 60, time at 68, key at 74, firmware at 110, second date at 114, money date at 140,
// decimal point at 148, money name at 149.
std::string ConfReply(const std::string& serial, const std::string& firmware, char key = '1') {
  // the owner's name holds "HARD" and "SOFT": data, not status words
  std::string conf = "CONf" + Pad(serial, 10) + Pad("3000012345", 10) + Pad("TOV HARDSOFT", 36);
  conf = Pad(conf + "20261205" + "215805" + key, 110, '0') + Pad(firmware, 4) + "20250131";
  return Pad(conf, 140, '0') + "20240229" + "2" + "UAH";
}

// Group 1 on-sale 20.00, group 2 included 7.00, an empty group, a short empty one, then a
// record for month 13 (today's date) cut short.
std::string CnalReply() {
  return Pad("CNAL20261201 1200020261201 00700", 4 + 14 * 3, '0') + "2026130102";
}

// The configuration's fields in the order of the reply, joined by '|'.
std::string Fields(const PrinterConfig& c) {
  return c.serialNumber + "|" + c.fiscalNumber + "|" + c.owner + "|" + c.date + "|" + c.time + "|" +
         c.keyPosition + "|" + c.firmwareId + "|" + c.secondDate + "|" + c.moneyDate + "|" +
         std::to_string(c.decPointPosition) + "|" + c.moneyName;
}

// "date|type|raw value|value" of a tax group.
std::string Tax(const TaxEntry& t) {
  return t.date + "|" + (t.type != 0 ? std::string(1, t.type) : "") + "|" + t.rawValue + "|" +
         t.value;
}

struct Printer {
  bool awake = true;
  std::string password = "1234567890";
  std::string loginStatus;  // instead of "READY" to UPAS
  std::string conf = ConfReply("4410012345", "vTTs");
  bool answerConf = true;
  bool loggedIn = false;
  int wakeUps = 0;

  Texts operator()(const std::string& command) {
    if (command == "\x55") ++wakeUps;
    if (!awake) return {};
    if (command == "\x55") return {"READY"};
    if (command.rfind("UPAS", 0) == 0) {
      if (!loginStatus.empty()) return {loginStatus};
      loggedIn = command.substr(14) == password;
      return {loggedIn ? "READY" : "SOFTUPAS"};
    }
    if (!loggedIn) return {"SOFTPROTOC"};
    if (command == "CONf") return answerConf ? Texts{conf, "READY"} : Texts{};
    if (command == "CNAL") return {CnalReply(), "READY"};
    return {"READY"};
  }
};

class ConnectionTest : public LinkTest {
 protected:
  ConnectionTest() {
    m_line->SetResponder([this](const std::string& command) { return m_printer(command); });
    MakeLink();
  }
  int Connect(const std::string& port = "COM3", const std::string& password = "1234567890") {
    return m_link->Connect(port, "KASIR", password);
  }
  Printer m_printer;
};

TEST_F(ConnectionTest, ConnectLogsInAndReadsTheConfigurationAndModelOrFailsWithoutThem) {
  EXPECT_EQ(m_link->Connect("COM3", "KASIR123", "1234567890"), 1);
  EXPECT_EQ(m_line->SentCommands(), (Texts{"UPASKASIR123  1234567890", "PPMD1", "CONf", "CNAL"}));
  EXPECT_EQ(m_printer.wakeUps, 1);
  EXPECT_TRUE(m_host.Calls().empty());  // no dialog, no box, no window

  EXPECT_EQ(Fields(m_link->Config()), "4410012345|3000012345|" + Pad("TOV HARDSOFT", 36) +
                                          "|12/05/26|21:58:05|R|vTTs|01/31/25|02/29/24|2|UAH");
  const auto& taxes = m_link->Config().taxes;
  EXPECT_EQ(Tax(taxes[0]), "12/01/26|1|2000|20.00");
  EXPECT_EQ(Tax(taxes[1]), "12/01/26|0|0700|07.00");
  for (int i : {2, 4, 7}) EXPECT_EQ(Tax(taxes[i]), "|||") << i;
  // A record with an impossible date gets today's; the reply ends inside its value.
  const std::time_t now = std::chrono::system_clock::to_time_t(m_clock.WallNow());
  char today[16];
  std::strftime(today, sizeof today, "%m/%d/%y", std::localtime(&now));
  EXPECT_EQ(Tax(taxes[3]), std::string(today) + "|2||");

  EXPECT_EQ(m_link->GetConfigText(), m_printer.conf.substr(4));

  // A serial and firmware per way of telling the model; line limits, keys: DeviceControlTest.
  const std::tuple<const char*, const char*, int, int, int> models[] = {
      {"0421234567", "vTTs", 0, 0, 0},
      {"AB44012345", "vTTs", 0, 1, 1999},
      {"AB46012345", "vTTs", 1, 2, 1999},
      {"AB46012345", "UMTM", 1, 3, 9999},
      {"5001234567", "NFPR", 1, 3, 9999},
      {"5001234567", "vTTs", 1, 4, 9999},
      {"", "", 1, 4, 9999}};
  for (const auto& [serial, firmware, generation, variant, maxArticles] : models) {
    SCOPED_TRACE(std::string(serial) + "/" + firmware);
    m_printer.conf = ConfReply(serial, firmware, '3');
    ASSERT_TRUE(m_link->ReadConfiguration());
    EXPECT_EQ(m_link->ModelGeneration(), generation);
    EXPECT_EQ(m_link->ModelVariant(), variant);
    EXPECT_EQ(m_link->Config().maxArticles, maxArticles);
  }

  // A short reply leaves what it does not reach empty, or cut short.
  m_printer.conf = ConfReply("4410012345", "vTTs").substr(0, 40);
  ASSERT_TRUE(m_link->ReadConfiguration());
  EXPECT_EQ(Fields(m_link->Config()),
            "4410012345|3000012345|" + Pad("TOV HARDSOFT", 16) + "|||O||||0|");

  // A "CONF" reply counts too.
  m_printer.conf = "CONF" + ConfReply("5001234567", "NFPR").substr(4);
  ASSERT_TRUE(m_link->ReadConfiguration());
  EXPECT_EQ(m_link->ModelVariant(), 3);

  // An unanswered configuration fails the connection; its status window goes first.
  m_link->SetShowStatusWindows(true);
  m_printer.answerConf = false;
  EXPECT_EQ(Connect(), 0);
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
  EXPECT_EQ(m_host.Calls(), (Texts{"status.create", "status.title:" + Text(3001),
                                   "status.goods:", "status.sum:", "status.show", "status.destroy",
                                   "box:stop:" + Text(1003)}));

  m_host.ClearCalls();
  m_printer.answerConf = true;
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(m_host.Calls().back(), "info");

  // A status window put in place of another destroys the old one first.
  m_host.ClearCalls();
  m_link->ReplaceStatusWindow(3005, " 1");
  m_link->ReplaceStatusWindow(3005);
  m_link->DeleteStatusWindow();
  EXPECT_EQ(m_link->CurrentStatusWindow(), nullptr);
  EXPECT_EQ(m_host.Calls(), (Texts{"status.create", "status.title:" + Text(3005) + " 1",
                                   "status.goods:", "status.sum:", "status.show", "status.destroy",
                                   "status.create", "status.title:" + Text(3005), "status.goods:",
                                   "status.sum:", "status.show", "status.destroy"}));
}

TEST_F(ConnectionTest, DialogAsksAgainForARefusedOrShortPasswordForNoPortAndABadPort) {
  EXPECT_EQ(Connect("COM3", "0000000000"), 0);
  EXPECT_EQ(m_host.Calls(), (Texts{"box:excl:" + Text(1004), "connect:COM3:"}));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1004));
  EXPECT_FALSE(m_link->IsConnected());
  m_host.ClearCalls();
  m_host.QueueConnectAnswer(true, {"", "KASIR", "1234567890"});
  EXPECT_EQ(Connect("COM3", "0000000000"), 1);
  EXPECT_EQ(m_host.CallsStartingWith("connect:"), Texts{"connect:COM3:"});

  // A short password is padded with blanks, a long name cut, a control byte in it a blank.
  m_host.ClearCalls();
  m_line->ClearSent();
  m_printer.password = "123456    ";
  m_host.QueueConnectAnswer(true, {"COM3", "IVAN\nENKO\x1bLONG", "123456"});
  EXPECT_EQ(m_link->Connect("COM3", "IVAN", "123456"), 1);
  EXPECT_EQ(m_host.Calls().front(), "connect:COM3:IVAN");
  EXPECT_EQ(m_line->SentCommands().front(), "UPASIVAN ENKO 123456    ");

  // "NONE" counts as no port; Cancel in the dialog ends the connection.
  EXPECT_EQ(m_link->Connect("NONE", "IVAN", "1234567890"), 0);
  EXPECT_EQ(m_host.Calls().back(), "connect::IVAN");
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_FALSE(m_line->IsOpen());

  // A port that cannot be opened is named; Retry lets the user pick the port again.
  m_printer.password = "1234567890";
  m_host.ClearCalls();
  m_line->FailNextOpen();
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(3012) + "COM3");
  EXPECT_EQ(m_host.Calls(), Texts{"box:retry:" + Text(3012) + "COM3"});
  m_host.ClearCalls();
  m_line->FailNextOpen();
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  m_host.QueueConnectAnswer(true, {"COM4", "KASIR", "1234567890"});
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(m_host.CallsStartingWith("connect:"), Texts{"connect::KASIR"});
  EXPECT_EQ(m_line->OpenedPath(), "/dev/fake/COM4");
}

TEST_F(ConnectionTest, ASilentOrRefusingPrinterIsAskedRetryThenCancelled) {
  m_printer.awake = false;
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  EXPECT_EQ(Connect(), 0);
  EXPECT_EQ(Boxes(), Texts(2, "box:retry:" + Text(1003)));
  EXPECT_EQ(m_printer.wakeUps, 8);
  EXPECT_EQ(m_clock.Slept(), milliseconds(8 * 10 + 2 * 2000 + 2500));
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_FALSE(m_line->IsOpen());
  EXPECT_TRUE(m_line->SentCommands().empty());

  // Awake but silent after the password: the first wait lasts 1000 ms, later ones 3000 ms.
  m_host.ClearCalls();
  m_printer.awake = true;
  m_printer.loginStatus = "DISP";  // something that is neither READY nor an error
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  EXPECT_EQ(Took([&] { EXPECT_EQ(Connect(), 0); }),
            milliseconds(10 + 1000 + 10 + 3000 + 2500));  // wake, wait, wake, wait, close
  EXPECT_EQ(Boxes().size(), 2u);

  // A login refused with an error status asks instead of looping forever; Retry once the key
  // is turned.
  m_host.ClearCalls();
  m_printer.loginStatus = "SOFTSYSLOCK";
  EXPECT_EQ(Connect(), -1);
  EXPECT_EQ(Boxes(), (Texts{"box:stop:" + Text(2002), "box:retry:" + Text(2002)}));
  EXPECT_FALSE(m_link->IsConnected());
  m_host.ClearCalls();
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  m_line->SetResponder([this](const std::string& command) {
    auto replies = m_printer(command);
    if (command.rfind("UPAS", 0) == 0) m_printer.loginStatus.clear();
    return replies;
  });
  EXPECT_EQ(Connect(), 1);
  EXPECT_EQ(Boxes().size(), 2u);

  // A password the frame cannot carry ("¤" is its start byte in DOS 866) is asked for again as a
  // wrong one is, not waited on as a printer that does not answer.
  m_host.ClearCalls();
  EXPECT_EQ(Connect("COM3", std::string("\xA4") + "234567890"), 0);
  EXPECT_EQ(m_host.Calls(), (Texts{"box:stop:" + Text(6009), "connect:COM3:"}));

  // With error messages off nothing is asked: the first failure ends it.
  m_host.ClearCalls();
  m_printer.awake = false;
  m_link->SetShowErrorMessages(false);
  EXPECT_EQ(Connect(), 0);
  EXPECT_TRUE(m_host.Calls().empty());
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
}

// A reconnect that works is checked on the simulator's pty (LinkSimTest).
TEST_F(ConnectionTest, AFailedReconnectAsksNobody) {
  EXPECT_FALSE(m_link->Reconnect());  // never connected: nothing stored
  ASSERT_EQ(Connect(), 1);

  // The device went away under an open receipt and comes back with the printer silent: false,
  // no prompt, boxes are back afterwards, nothing reaches the printer (no "CANC"), and the link
  // stays lost, so that the next call tries again and finds the receipt open.
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  m_line->FailWrites();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  m_host.ClearCalls();
  m_line->ClearSent();
  m_printer.awake = false;
  EXPECT_FALSE(m_link->Reconnect());
  EXPECT_FALSE(m_link->IsConnected());
  EXPECT_TRUE(m_host.Calls().empty());
  EXPECT_TRUE(m_link->ShowErrorMessages());
  EXPECT_TRUE(m_line->SentCommands().empty());
  EXPECT_TRUE(m_link->IsLost());
  EXPECT_TRUE(m_link->IsCheckOpen());
  m_printer.awake = true;
  EXPECT_TRUE(m_link->Reconnect());
  EXPECT_TRUE(m_link->IsCheckOpen());
  EXPECT_EQ(m_link->AbortCheck(), 1);  // while m_printer, which answers it, is still there
}

TEST_F(ConnectionTest, APrinterThatForgotItsLoginIsLoggedInAgainAndTheCommandSentOnceMore) {
  const TempDir logs;
  m_host.SetLogDirectory(logs.Path());
  m_host.SetSetting("SaveToLog", 1);
  MakeLink();
  ASSERT_EQ(Connect(), 1);
  m_host.ClearCalls();

  // Power cycled: the printer refuses with "SOFTPROTOC", is logged in again, takes the command.
  // The client's choice of taxes per line is kept.
  ASSERT_EQ(m_link->SetTaxesCalcMode(0), 1);
  m_printer.loggedIn = false;
  m_line->ClearSent();
  EXPECT_EQ(m_link->OpenCashBox(), 1);
  EXPECT_EQ(m_line->SentCommands(),
            (Texts{"KASS", "CONf", "UPASKASIR     1234567890", "PPMD", "KASS"}));
  EXPECT_TRUE(m_host.CallsStartingWith("box:").empty());

  // "SOFTPROTOC" while still logged in (CONf answers) is out of sequence: reported, not resent.
  m_line->SetResponder([this](const std::string& command) {
    return command == "KASS" ? Texts{"SOFTPROTOC"} : m_printer(command);
  });
  m_line->ClearSent();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2004));
  EXPECT_EQ(m_line->SentCommands(), (Texts{"KASS", "CONf"}));

  // A printer that refuses again right after the new login: reported, not sent a third time.
  m_line->SetResponder([this](const std::string& command) {
    if (command == "KASS") m_printer.loggedIn = false;
    return m_printer(command);
  });
  m_line->ClearSent();
  EXPECT_EQ(m_link->OpenCashBox(), 0);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2004));
  EXPECT_EQ(std::ranges::count(m_line->SentCommands(), "KASS"), 2);
  m_line->SetResponder([this](const std::string& command) { return m_printer(command); });
  m_printer.loggedIn = false;
  EXPECT_EQ(m_link->QueryPrinter("CCAS", "CCAS"), "");  // a query too, and its own reply
  EXPECT_EQ(m_line->SentCommands().back(), "CCAS");

  EXPECT_NE(ReadWholeFile(m_link->LogFilePath()).find("lost its login: logging in again as KASIR"),
            std::string::npos);
}

}  // namespace
}  // namespace vekta
