#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "link/frame_cutter.h"
#include "link/printer_link.h"
#include "platform/codepage.h"
#include "platform/settings_store.h"

namespace vekta {

PrinterLink::PrinterLink(std::int32_t portNumber, LinkHost& host, Clock& clock, LinkTimings timings)
    : m_portNumber(portNumber), m_host(host), m_clock(clock), m_timings(timings) {
  m_saveToLog = m_host.ReadConfigDword("CurrentConfig", "SaveToLog", 0) != 0;
  m_keepLogFiles = static_cast<std::int32_t>(KeepLogFilesDays(
      m_host.ReadConfigDword("CurrentConfig", "KeepLogFiles", kDefaultKeepLogFiles)));

  const std::time_t now = std::chrono::system_clock::to_time_t(m_clock.WallNow());
  std::tm local{};
  localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y%m%d", &local);  // digits only: no locale involved
  m_logDate = date;

  OpenLog();
  LogMessageId(1000);
  const std::string logDirectory = m_host.LogDirectory();
  if (!logDirectory.empty()) {
    m_journal = std::make_unique<ReceiptJournal>(
        logDirectory + "/receipts.sqlite", false,
        [this](const std::string& text) { ReportPortProblem(text); });
  }
}

PrinterLink::~PrinterLink() {
  // The port goes first, so that a receipt or document ended on the way still gets logged.
  ClosePort();
  LogMessageId(1001);
  CloseLog();
}

namespace {

// Why a port would not open, in words an operator can act on.
std::string OpenFailureText(const std::string& portName, const std::string& device,
                            const SerialOpenError& why) {
  const std::string where = portName + " (" + device + "): ";
  const std::string reason = why.error != 0 ? std::strerror(why.error) : "no reason given";
  if (why.step == "lock" && (why.error == EWOULDBLOCK || why.error == EAGAIN)) {
    return where + "another program holds the device";
  }
  if (why.step == "configure") {
    return where + "cannot configure the line (" + reason + "): is it a serial port?";
  }
  std::string text = where + "cannot open the device: " + reason;
  if (why.error == EACCES || why.error == EPERM) {
    text += "; the user the service runs as needs the dialout group";
  }
  return text;
}

}  // namespace

bool PrinterLink::OpenPort(const std::string& portName) {
  if (m_portOpen.load()) return true;
  const std::string device = m_host.PortDevicePath(portName);
  if (device.empty()) {
    ReportPortProblem(portName +
                      ": no device: the name is not a port of [Ports] or COM1 to COM24, or the "
                      "settings file cannot be read");
    return false;
  }
  std::unique_ptr<SerialPort> port = m_host.CreateSerialPort();
  if (!port) return false;
  if (!port->Open(device)) {
    ReportPortProblem(OpenFailureText(portName, device, port->LastOpenError()));
    return false;
  }
  if (m_reader.joinable()) m_reader.join();  // a reader that ended after a lost device
  m_portName = portName;                     // the reader is gone: nobody reads these meanwhile
  m_devicePath = device;
  m_port = std::move(port);
  m_lost = false;
  m_lossReported = false;
  LateRepliesCaughtUp();  // nothing is owed on a line just opened
  ForgetOwedAnswers();
  m_queue.Rearm();  // forget the wake-up a vanished device left behind
  m_portOpen = true;
  return true;
}

void PrinterLink::StartReader() {
  if (!m_portOpen.load() || m_readerRunning.load()) return;
  if (m_reader.joinable()) m_reader.join();
  m_stopFlag = false;
  m_readerRunning = true;
  m_reader = std::thread([this] { ReceiveLoop(); });
}

void PrinterLink::ReceiveLoop() {
  FrameCutter cutter;
  auto deliver = [this](std::string_view oem) {
    const std::string text = Cp866ToCp1251(oem);
    LogReceived(text);
    if (PassOverOwedAnswer(text)) return;
    if (m_queue.Stage(text)) {
      ++m_stats.repliesReceived;
    } else {
      ++m_stats.queueDrops;  // the consumer is 63 messages behind: nothing waits for this one
    }
  };
  while (!m_stopFlag.load()) {
    // Whole frames need no gap to end them; only the start of a frame that stops short is
    // given up on after the inter-byte time-out, and then no longer counts as on its way.
    const bool partial = cutter.Held() > 0 && m_frameArriving.load();
    std::size_t received = 0;
    const ReadStatus status =
        m_port->Read(cutter.Space(), cutter.Room(), received, partial ? m_timings.interByteMs : -1);
    if (status == ReadStatus::kStopped) break;
    if (status == ReadStatus::kLost) {
      MarkLost("the device went away (unplugged, or the line hung up)");
      break;
    }
    if (status == ReadStatus::kTimeout) {
      m_frameArriving = false;
      continue;
    }
    if (status == ReadStatus::kLineError) {
      WriteLogLine("Printer channel error: " + m_port->TakeLineErrors());
      continue;
    }
    // Counted as on its way from the moment bytes are in hand until they are published, so
    // that PollStatus never looks between the two.
    m_frameArriving = true;
    cutter.Commit(received, deliver);
    m_queue.Publish();
    m_frameArriving = cutter.Held() > 0;
  }
  m_frameArriving = false;
  m_readerRunning = false;
}

short PrinterLink::ClosePort() {
  if (IsTextDocumentOpen()) EndTextDocument();
  AbortOpenReceipt();
  DeleteStatusWindow();
  if (!m_portOpen.load()) return -1;

  m_stopFlag = true;
  m_port->Interrupt();
  if (m_reader.joinable()) m_reader.join();
  m_readerRunning = false;

  m_port->SetDtr(false);
  m_port->Purge();
  m_port->Close();
  m_portOpen = false;

  m_clock.SleepFor(m_timings.closePortDelay);  // the printer needs it before the port reopens
  return 0;
}

bool PrinterLink::Reconnect() {
  if (m_storedPortName.empty()) return false;
  m_quiet = true;
  ClosePort();
  bool ok = false;
  if (OpenPort(m_storedPortName)) {
    StartReader();
    // A close in doubt when the device went away is settled once the printer is logged in
    // again, not by the login's first command.
    const bool settling = std::exchange(m_settlingClose, true);
    bool cancel = false;
    if (Login(m_storedCashier, m_storedPassword, cancel) > 0) ok = ReadConfiguration();
    m_settlingClose = settling;
    // Another printer's registers tell nothing of the receipt that went with its printer: that
    // is dropped by the client's next call, which is told why.
    if (ok && ReceiptOfAnotherPrinter()) {
      m_receiptWentWithPrinter = true;
    } else if (ok) {
      SettleCloseInDoubt();
    }
    if (!ok) {
      // The device is back but not the printer: the port closes as a lost one, so that nothing
      // is sent (an open receipt stays as it is there) and the next call tries again.
      m_lossReported = true;
      m_lost = true;
      ClosePort();
    }
  } else {
    RaiseError(3012, MessageBoxStyle::kStopRetryCancel, m_storedPortName);
  }
  m_quiet = false;
  return ok;
}

}  // namespace vekta
