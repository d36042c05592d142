#include <locale.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <initializer_list>
#include <utility>

#include "link/printer_link.h"
#include "link/status_table.h"
#include "platform/codepage.h"

namespace vekta {

namespace {

constexpr std::size_t kCashierLimit = 9;
constexpr std::size_t kPasswordSize = 10;
constexpr int kLoginStepMs = 1000;
constexpr int kConfigWaitMs = 1000;
constexpr int kWakeUpTries = 4;
constexpr int kUncarriableLoginMessage = 6009;
constexpr int kLoginStepsAfterTimeout = 3;
constexpr std::uint8_t kWakeUp = 0x55;

// The characters at [pos, pos + count) of a reply, cut short where the reply ends.
std::string Field(const std::string& text, std::size_t pos, std::size_t count) {
  return pos < text.size() ? text.substr(pos, count) : std::string();
}

locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

std::string Format(const char* format, const std::tm& when) {
  char text[64];
  const std::size_t n = strftime_l(text, sizeof text, format, &when, CLocale());
  return std::string(text, n);
}

std::tm LocalNow(const Clock& clock) {
  const std::time_t now = std::chrono::system_clock::to_time_t(clock.WallNow());
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

bool Digits(const std::string& text, std::size_t count, int* values) {
  if (text.size() != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    values[i] = text[i] - '0';
  }
  return true;
}

// YYYYMMDD as "%x" of the C locale; digits that make no date give today. A field the reply
// does not reach stays empty.
std::string ConvertDate(const std::string& yyyymmdd, const Clock& clock) {
  if (yyyymmdd.empty()) return {};
  int d[8];
  std::tm date = LocalNow(clock);
  if (Digits(yyyymmdd, 8, d)) {
    std::tm day{};
    day.tm_year = d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3] - 1900;
    day.tm_mon = d[4] * 10 + d[5] - 1;
    day.tm_mday = d[6] * 10 + d[7];
    day.tm_isdst = -1;
    const int year = day.tm_year, month = day.tm_mon, mday = day.tm_mday;
    if (month >= 0 && month < 12 && mday >= 1 && mday <= 31 && std::mktime(&day) != -1 &&
        day.tm_year == year && day.tm_mon == month && day.tm_mday == mday) {
      date = day;
    }
  }
  return Format("%x", date);
}

// HHMMSS as "%X" of the C locale; digits that make no time give the time now.
std::string ConvertTime(const std::string& hhmmss, const Clock& clock) {
  if (hhmmss.empty()) return {};
  int d[6];
  std::tm when = LocalNow(clock);
  if (Digits(hhmmss, 6, d)) {
    const int hour = d[0] * 10 + d[1], minute = d[2] * 10 + d[3], second = d[4] * 10 + d[5];
    if (hour < 24 && minute < 60 && second < 60) {
      when.tm_hour = hour;
      when.tm_min = minute;
      when.tm_sec = second;
    }
  }
  return Format("%X", when);
}

char KeyPosition(char digit) {
  switch (digit) {
    case '1':
      return 'R';
    case '2':
      return 'X';
    case '4':
      return 'Z';
    case '8':
      return 'P';
    default:
      return 'O';
  }
}

std::int32_t MaxArticlesOf(int generation, int variant) {
  if (generation == 0) return variant == 0 ? 0 : 1999;
  return variant == 2 ? 1999 : 9999;
}

TaxEntry ParseTaxRecord(const std::string& reply, std::size_t index, const Clock& clock) {
  const std::string record = Field(reply, 4 + 14 * index, 14);
  TaxEntry entry;
  if (record.empty() || record[0] == '\0' || record[0] == '0') return entry;
  entry.date = ConvertDate(Field(record, 0, 8), clock);
  entry.type = record.size() > 9 ? record[9] : 0;
  entry.rawValue = Field(record, 10, 4);
  entry.value = entry.rawValue.size() > 2
                    ? entry.rawValue.substr(0, 2) + "." + entry.rawValue.substr(2)
                    : entry.rawValue;
  return entry;
}

}  // namespace

short PrinterLink::Connect(const std::string& portName, const std::string& cashierName,
                           const std::string& password) {
  if (IsConnected()) ClosePort();
  DeleteStatusWindow();
  ReplaceStatusWindow(3001);

  ConnectDialogData login{portName, cashierName.substr(0, kCashierLimit),
                          password.substr(0, kPasswordSize)};
  bool cancel = false;
  short result = 0;
  while (result <= 0 && !cancel) {
    if (!AskForMissingLogin(login)) {
      DeleteStatusWindow();
      ClosePort();  // nothing stays open behind a cancelled connection
      return 0;
    }
    if (login.portName.empty() || login.portName == "NONE") continue;
    if (!IsConnected() && !OpenPortToLogIn(login.portName, cancel)) continue;
    result = Login(login.cashierName, login.password, cancel);
    TakeLoginRefusal(result, login, cancel);
  }
  DeleteStatusWindow();
  return FinishConnect(result, login);
}

bool PrinterLink::AskForMissingLogin(ConnectDialogData& login) {
  if (login.portName == "NONE") login.portName.clear();
  if (!login.portName.empty() && !login.cashierName.empty() &&
      login.password.size() >= kPasswordSize) {
    return true;
  }
  ConnectDialogData data = login;
  if (!m_host.ShowConnectDialog(*this, data)) return false;
  if (!data.portName.empty()) login.portName = data.portName;
  login.cashierName = data.cashierName.substr(0, kCashierLimit);
  login.password = data.password.substr(0, kPasswordSize);
  login.password.resize(kPasswordSize, ' ');
  return true;
}

bool PrinterLink::OpenPortToLogIn(std::string& portName, bool& cancel) {
  if (OpenPort(portName)) {
    StartReader();
    return true;
  }
  if (RaiseError(3012, MessageBoxStyle::kStopRetryCancel, portName) != MessageBoxResult::kRetry) {
    cancel = true;
  }
  portName.clear();  // the next attempt lets the user pick the port
  return false;
}

void PrinterLink::TakeLoginRefusal(short result, ConnectDialogData& login, bool& cancel) {
  if (result == -2) {
    login.cashierName.clear();
    login.password.clear();
    ClosePort();
  } else if (result == -1 && !cancel) {
    // A printer that keeps refusing (key switched off, paper out) would hold the caller
    // forever: ask as after a time-out, and without anyone to ask give up.
    const std::string reason = LastErrorText();
    if (!BoxesShown() || m_host.ShowMessageBox(reason, MessageBoxStyle::kStopRetryCancel) !=
                             MessageBoxResult::kRetry) {
      cancel = true;
    }
  }
}

short PrinterLink::FinishConnect(short result, const ConnectDialogData& login) {
  if (result <= 0) {
    ClosePort();
    return result;
  }
  m_storedPortName = login.portName;
  m_storedCashier = login.cashierName;
  m_storedPassword = login.password;
  if (!ReadConfiguration()) {
    // Without its configuration the printer cannot be used and its port is closed again:
    // reporting the login as a success would leave the caller with a dead link.
    ClosePort();
    return 0;
  }
  SettleJournal();
  if (ShowStatusWindows()) m_host.ShowPrinterInfo(*this);
  return result;
}

short PrinterLink::Login(const std::string& cashierName, const std::string& password,
                         bool& cancel) {
  if (!IsConnected()) return 0;
  // "UPAS%-10s%s": the name left-aligned in 10 characters, then the password. The printer
  // prints the name on every receipt: a control byte in it would feed the paper or start a
  // sequence of the mechanism, so it goes as a blank, as in every other printed text.
  std::string name = cashierName;
  std::replace_if(name.begin(), name.end(), IsControlByte, ' ');
  std::string login = "UPAS" + name;
  if (name.size() < 10) login.append(10 - name.size(), ' ');
  login += password;
  // A name or password the frame cannot carry would be waited on as a printer that is not there:
  // asked for again, as a wrong one is.
  if (!FrameCarries(login)) {
    RaiseError(kUncarriableLoginMessage, MessageBoxStyle::kStopOk);
    return -2;
  }
  int counter = 1;
  for (;;) {
    if (cancel) return 0;
    if (!WakeUpPrinter(cancel)) continue;
    SendFrame(login);
    const short reply = AwaitLoginReply(counter, cancel);
    if (reply < 0) return reply;
    if (reply > 0) break;
  }
  // Taxes on the receipt total, unless a client of this link chose them per line: a login after
  // a power cycle or a replug must not switch the printer away from what the link computes.
  SendFrame(m_taxesPerLine.load() ? "PPMD" : "PPMD1");
  WaitReady();
  return 1;
}

bool PrinterLink::WakeUpPrinter(bool& cancel) {
  int probe = 0;
  for (int i = 0; i < kWakeUpTries && probe == 0; ++i) {
    const std::uint8_t wakeUp = kWakeUp;
    m_port->WriteAll(&wakeUp, 1);
    m_clock.SleepFor(m_timings.afterWakeUp);
    probe = ProbeReady();
  }
  if (probe == 1) return true;
  m_port->SetDtr(false);
  if (RaiseError(1003, MessageBoxStyle::kStopRetryCancel) != MessageBoxResult::kRetry) {
    cancel = true;
  }
  m_clock.SleepFor(m_timings.dtrDrop);
  m_port->SetDtr(true);
  return false;
}

short PrinterLink::AwaitLoginReply(int& counter, bool& cancel) {
  for (;;) {
    if (WaitForMessage(kLoginStepMs)) {
      const short reply = TakeLoginReplies();
      if (reply != 0) return reply;
      continue;
    }
    if (--counter > 0 && !m_lost.load()) continue;
    CountTimeout();
    if (RaiseError(1003, MessageBoxStyle::kStopRetryCancel) != MessageBoxResult::kRetry) {
      cancel = true;
    }
    counter = kLoginStepsAfterTimeout;
    return 0;
  }
}

short PrinterLink::TakeLoginReplies() {
  bool loggedIn = false;
  while (!m_queue.IsEmpty()) {
    const std::string message(m_queue.Peek());
    if (Holds(message, "READY")) {
      loggedIn = true;
      m_queue.Pop();
    } else if (Holds(message, "SOFTUPAS")) {
      RaiseError(1004, MessageBoxStyle::kExclamationOk);
      m_queue.Drain();
      return -2;
    } else if (IsErrorStatus(message) && !ReportPrinterStatus(message)) {
      m_queue.Drain();
      return -1;
    } else {
      m_queue.Pop();
    }
  }
  return loggedIn ? 1 : 0;
}

bool PrinterLink::RecoverLogin(std::string_view reply) {
  if (!Holds(reply, "SOFTPROTOC") || m_recoveringLogin || m_loginRecovered ||
      m_storedCashier.empty() || m_lastCommand.empty() || m_lastCommand.rfind("UPAS", 0) == 0) {
    return false;
  }
  // "SOFTPROTOC" also refuses a command out of sequence (a report while a receipt is open): only
  // a printer that refuses the configuration query as well has lost its login.
  m_recoveringLogin = true;
  const bool lost = PrinterForgotLogin();
  bool loggedIn = false;
  const std::string command = m_lastCommand;
  if (lost) {
    WriteLogLine("Printer refused \"" + command.substr(0, 4) +
                 "\" with SOFTPROTOC and has lost its login: logging in again as " +
                 m_storedCashier);
    loggedIn = LogInAgain();
  }
  m_recoveringLogin = false;
  if (!loggedIn) return false;
  // The same command once more: the printer carried nothing out, and a second refusal is final.
  m_lastCommand = command;
  m_loginRecovered = true;
  m_sentAt = m_clock.Now();
  return WriteFrame(command);
}

bool PrinterLink::LogInAgain() {
  if (m_storedCashier.empty()) return false;
  const bool quiet = m_quiet.exchange(true);
  bool cancel = false;
  const bool loggedIn = Login(m_storedCashier, m_storedPassword, cancel) > 0;
  m_quiet = quiet;
  m_queue.Drain();
  ForgetOwedAnswers();  // a printer switched off and on answers nothing it was asked before
  if (!loggedIn) WriteLogLine("Logging in again failed");
  if (loggedIn && std::exchange(m_textLinesBuffered, false)) {
    m_textLinesLost = true;
    WriteLogLine("The text lines the printer held are lost with its session");
  }
  return loggedIn;
}

bool PrinterLink::PrinterForgotLogin() {
  m_queue.Drain();
  if (!WriteFrame("CONf")) return false;
  for (;;) {
    if (!WaitForMessage(kConfigWaitMs)) return false;  // no answer: nothing is known
    const std::string message(m_queue.Peek());
    m_queue.Pop();
    if (Holds(message, "SOFTPROTOC")) return true;
    if (Holds(message, "CONf") || Holds(message, "CONF")) {
      TakeClosingReady(kConfigWaitMs);
      return false;
    }
    if (IsErrorStatus(message)) return false;
  }
}

bool PrinterLink::RequestConfigReply(const std::string& command, std::string_view mnemonic1,
                                     std::string_view mnemonic2, std::string& reply) {
  if (!SendFrame(command)) {
    ReportNoAnswer();
    return false;
  }
  for (;;) {
    if (!WaitForMessage(kConfigWaitMs)) {
      ReportNoAnswer();
      return false;
    }
    const std::string message(m_queue.Peek());
    // The reply begins with its mnemonic; the owner's name in it may hold "SOFT" or "HARD".
    const bool own = message.rfind(mnemonic1, 0) == 0 || message.rfind(mnemonic2, 0) == 0;
    if (!own && RecoverLogin(message)) continue;
    if (!own && IsErrorStatus(message) && !ReportPrinterStatus(message)) {
      m_queue.Drain();
      return false;
    }
    if (own || Holds(message, mnemonic1) || Holds(message, mnemonic2)) {
      reply = ReplyFrom(message, Holds(message, mnemonic1) ? mnemonic1 : mnemonic2);
      m_queue.Pop();
      TakeClosingReady(kConfigWaitMs);
      RecordReplyLatency();
      return true;
    }
    m_queue.Pop();
  }
}

bool PrinterLink::ReadConfiguration() {
  std::string conf;
  if (!RequestConfigReply("CONf", "CONf", "CONF", conf)) return false;

  PrinterConfig config = Config();
  config.serialNumber = Field(conf, 4, 10);
  config.fiscalNumber = Field(conf, 14, 10);
  config.owner = Field(conf, 24, 36);
  config.date = ConvertDate(Field(conf, 60, 8), m_clock);
  config.time = ConvertTime(Field(conf, 68, 6), m_clock);
  config.keyPosition = KeyPosition(conf.size() > 74 ? conf[74] : '\0');
  config.firmwareId = Field(conf, 110, 4);
  config.secondDate = ConvertDate(Field(conf, 114, 8), m_clock);
  config.moneyDate = ConvertDate(Field(conf, 140, 8), m_clock);
  const char point = conf.size() > 148 ? conf[148] : '0';
  config.decPointPosition = std::isdigit(static_cast<unsigned char>(point)) ? point - '0' : 0;
  config.moneyName = Field(conf, 149, 3);
  DetectModel(config);
  config.maxArticles = MaxArticlesOf(ModelGeneration(), ModelVariant());
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    m_config = config;
  }

  std::string taxes;
  if (!RequestConfigReply("CNAL", "CNAL", "CNAL", taxes)) return false;
  for (std::size_t i = 0; i < config.taxes.size(); ++i) {
    config.taxes[i] = ParseTaxRecord(taxes, i, m_clock);
  }
  std::lock_guard<std::mutex> lock(m_stateMutex);
  m_config.taxes = config.taxes;
  return true;
}

void PrinterLink::DetectModel(const PrinterConfig& config) {
  const std::string& serial = config.serialNumber;
  const std::string code = !serial.empty() && std::isdigit(static_cast<unsigned char>(serial[0]))
                               ? serial.substr(0, 3)
                               : Field(serial, 2, 3);
  const std::string& firmware = config.firmwareId;
  int generation = 1;
  int variant = 4;
  if (code == "040" || code == "041" || code == "042") {
    generation = 0;
    variant = 0;
  } else if (code == "440" || code == "441") {
    generation = 0;
    variant = 1;
  } else if ((code == "450" || code == "460") && firmware == "vTTs") {
    variant = 2;
  } else if ((code == "500" || code == "460") && (firmware == "UMTM" || firmware == "NFPR")) {
    variant = 3;
  }
  m_modelGeneration = generation;
  m_modelVariant = variant;
}

std::string PrinterLink::GetConfigText() {
  std::string conf;
  if (!RequestConfigReply("CONf", "CONF", "CONf", conf)) return {};
  return conf.size() > 4 ? conf.substr(4) : std::string();
}

PrinterConfig PrinterLink::Config() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_config;
}

std::string PrinterLink::SerialNumber() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_config.serialNumber;
}

int PrinterLink::LineLimit() const {
  if (ModelGeneration() == 0) return 18;
  return ModelVariant() >= 3 ? 43 : 36;
}

int PrinterLink::LongNameLimit() const {
  if (ModelGeneration() == 0) return ModelVariant() == 0 ? 18 : 54;
  return ModelVariant() >= 3 ? 86 : 72;
}

}  // namespace vekta
