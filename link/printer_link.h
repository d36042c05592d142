#pragma once

// PrinterLink: everything of one printer on one serial port. The channel, the exchange, the
// status words, the protocol log and the connection are defined in link/; the fiscal operations
// (receipt, device control, reports, text document, queries) are declared here and defined in
// fiscal/, one file per kind of operation.
//
// Threads: every operation runs on the calling thread under the command mutex, which the daemon's
// callers can take only as a LockedLink (link/shared_link.h); one operation at a time runs on a
// link. The reader thread only moves bytes into the ReplyQueue and writes the received lines of
// the protocol log. The snapshot readers (Sums(), Config(), LastErrorText()...) take only
// m_stateMutex and never wait behind a running command.
//
// Lock order: a link's command mutex before its state mutex before its log mutex (the daemon's
// whole order is in service/printer_registry.h).

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "link/link_host.h"
#include "link/link_stats.h"
#include "link/link_timings.h"
#include "link/printer_config.h"
#include "link/receipt_journal.h"
#include "link/reply_queue.h"
#include "platform/clock.h"
#include "platform/serial_port.h"

namespace vekta {

// The running totals of the open (or last) receipt, in kopecks.
struct ReceiptSums {
  std::int32_t salesSum = 0;
  std::int32_t returnSum = 0;
  std::int32_t onSaleTaxes = 0;
  std::int32_t returnOnSaleTaxes = 0;
  std::int32_t includedTaxes = 0;
  std::int32_t returnIncludedTaxes = 0;
  std::int32_t saleIncludedTaxes = 0;
  std::int32_t returnSaleIncludedTaxes = 0;
  std::array<std::int32_t, 8> groupSales{};
  std::array<std::int32_t, 8> groupReturns{};

  // sales + on-sale - sale-included - (returns + return on-sale - return sale-included),
  // computed in 64 bits.
  std::int64_t Total() const;
};

class PrinterLink {
 public:
  PrinterLink(std::int32_t portNumber, LinkHost& host, Clock& clock, LinkTimings timings = {});
  ~PrinterLink();
  PrinterLink(const PrinterLink&) = delete;
  PrinterLink& operator=(const PrinterLink&) = delete;

  std::int32_t PortNumber() const { return m_portNumber; }
  LinkHost& Host() const { return m_host; }
  Clock& GetClock() const { return m_clock; }
  const LinkTimings& Timings() const { return m_timings; }
  LinkStats& Stats() { return m_stats; }
  ReplyQueue& Queue() { return m_queue; }
  const ReplyQueue& Queue() const { return m_queue; }

  // ---- serial channel (link/serial_channel.cpp) ----
  // "COM3" is mapped to its device by the host. False when the device cannot be opened.
  bool OpenPort(const std::string& portName);
  void StartReader();
  // -1 when no port is open; else closes it (ending documents first) and returns 0 after the
  // close-port delay.
  short ClosePort();
  bool IsConnected() const { return m_portOpen.load(); }
  // The device vanished (read gave EIO/ENODEV/hang-up). Waits report 1003 at once.
  bool IsLost() const { return m_lost.load(); }
  // After a loss: closes what is left, reopens the port and logs in again with the stored
  // cashier, without prompts. True when logged in and configured again.
  bool Reconnect();

  // ---- protocol log (link/protocol_log.cpp) ----
  void OpenLog();
  void WriteLogLine(std::string_view text);
  void LogMessageId(int id);
  void LogError(std::string_view text);
  void LogErrorId(int id);
  void LogSent(std::string_view text);
  void LogReceived(std::string_view text);
  void CloseLog();
  void PurgeOldLogs();
  bool SaveToLog() const { return m_saveToLog; }
  std::int32_t KeepLogFiles() const { return m_keepLogFiles; }
  // The path of the open log file, empty when there is none.
  std::string LogFilePath() const;

  // ---- message exchange (link/message_exchange.cpp) ----
  // Whether a frame can carry the text: at most 251 bytes, none read as 0xFD or 0xFE.
  static bool FrameCarries(const std::string& text);
  // Frames and writes the text. False, with nothing written, when the frame cannot carry it
  // (over 251 bytes, or holding 0xFD or 0xFE) or the port is not open.
  // Messages still queued from an earlier command are dropped first, up to the first error
  // status, which stays for the next wait.
  bool SendFrame(const std::string& text);
  // The frame alone, with the queue left as it is.
  bool WriteFrame(const std::string& text);
  // A client's own frame, passed through. Its replies are the client's to read (pending
  // messages) and may come after the next command has gone out: that one must not take them
  // for its own.
  bool PassThroughFrame(const std::string& text);
  // With `unanswered` given, a wait that runs out is not reported but flagged there.
  bool WaitReady(bool* unanswered = nullptr);
  bool PollStatus();
  int ProbeReady();
  // `waitMs`: how long the reply may take after each message (the printer may first finish
  // what it is printing).
  static constexpr int kQueryWaitMs = 1000;
  // `ofAnother`, when given, tells a late reply to an earlier query of the same kind (another
  // article's) by its data: it is passed over.
  std::string QueryPrinter(const std::string& command, const std::string& mnemonic,
                           int waitMs = kQueryWaitMs,
                           const std::function<bool(std::string_view data)>& ofAnother = {});
  std::string TakePendingMessage(int timeoutMs);
  void DrainQueue() { m_queue.Drain(); }
  // A reply wait ran out (counted in the statistics). Its reply may still come, after the next
  // command has gone out, and must not be taken for that command's: a close, which prints a
  // fiscal receipt, then counts only a "READY" that follows its own figures.
  void CountTimeout();
  // The same for a command sent without waiting for its replies (an asynchronous report):
  // `printing`, the printer may take a document's time to come to them.
  void ExpectLateReplies(bool printing = false) {
    m_replyMayBeLate = true;
    m_lateReplyPrints = m_lateReplyPrints || printing;
  }
  bool ReplyMayBeLate() const { return m_replyMayBeLate; }
  void LateRepliesCaughtUp() { m_replyMayBeLate = m_lateReplyPrints = false; }
  // Before a command whose "READY" must be its own (a receipt's open and lines, a cash movement,
  // a report): a refusal still queued is reported (PollStatus), and when replies may be late one
  // read-only query puts them behind. Its answer comes once the printer is done with what it
  // prints (an asynchronous report, a client's own frame), which is waited for, up to 30 s;
  // after a reply wait that timed out, as long as a receipt step waits. False, with the reason,
  // when the command must not go out (fiscal/device_control.cpp).
  static constexpr int kCatchUpWaitMs = 30000;
  bool ReadyForOwnReply();
  // The reply wait of such a command. When WaitReady's wait runs out, the printer may still be
  // printing what it asked for (a long report or cash document), and a retry would do it twice.
  // It answers in order, so one read-only query tells, within the catch-up wait: a "READY"
  // before the query's answer is the command's, carried out; a refusal is the command's; the
  // answer alone means the reply was lost on the line, and the command is reported unanswered.
  bool WaitReadyOnce();
  // Step 1 of running a command: deletes the shown status window and, when status windows are
  // enabled, shows a new one with the title `titleId` (plus `titleSuffix`) and empty lines.
  void ReplaceStatusWindow(int titleId, const std::string& titleSuffix = "");
  void DeleteStatusWindow();
  StatusWindow* CurrentStatusWindow() { return m_statusWindow.get(); }

  // ---- status words and errors (link/printer_status.cpp) ----
  bool ReportPrinterStatus(const std::string& reply);
  // A wait met `reply`: when it is "SOFTPROTOC" and the printer has forgotten its login (a power
  // cycle; one read-only query tells), logs in again with the stored cashier and sends the
  // refused command once more, and the wait goes on (true). The printer carried nothing out,
  // so nothing can print twice; a second refusal of the same command is reported (false).
  bool RecoverLogin(std::string_view reply);
  // Sets the last error text to the string-table text of `messageId` (plus `suffix`) and shows
  // it with `style` while error messages are shown. Returns the button pressed (kCancel when
  // nothing was shown).
  MessageBoxResult RaiseError(int messageId, MessageBoxStyle style, const std::string& suffix = "");
  void SetLastErrorText(std::string text);
  std::string LastErrorText() const;
  // Returns the last error text and empties it.
  std::string TakeLastErrorText();
  bool ShowErrorMessages() const { return m_showErrorMessages.load(); }
  void SetShowErrorMessages(bool on) { m_showErrorMessages = on; }
  bool ShowStatusWindows() const { return m_showStatusWindows.load(); }
  void SetShowStatusWindows(bool on) { m_showStatusWindows = on; }

  // ---- connection and login (link/printer_connection.cpp) ----
  short Connect(const std::string& portName, const std::string& cashierName,
                const std::string& password);
  short Login(const std::string& cashierName, const std::string& password, bool& cancel);
  bool ReadConfiguration();
  void DetectModel(const PrinterConfig& config);
  std::string GetConfigText();
  PrinterConfig Config() const;
  std::string SerialNumber() const;
  int ModelGeneration() const { return m_modelGeneration.load(); }
  int ModelVariant() const { return m_modelVariant.load(); }
  // Head, bottom and free text line limit, and long name limit, by generation and variant.
  int LineLimit() const;
  int LongNameLimit() const;

  // ---- receipt (fiscal/receipt.cpp; its journal and settling in fiscal/receipt_settling.cpp) ----
  short OpenCheck(const std::string& departmentName);
  short OpenReturnCheck(const std::string& departmentName);
  short SetCurrentCheckDirection(std::int32_t direction);
  std::int32_t FiscalLineEx(const std::string& goodsName, std::int32_t quantity, std::int32_t price,
                            std::int32_t divisible, std::int32_t taxIndex1, std::int32_t taxIndex2,
                            std::int32_t article, std::int32_t discountDirection,
                            const std::string& discountName, std::int32_t discount);
  std::int32_t FiscalLine(const std::string& goodsName, std::int32_t quantity, std::int32_t price,
                          std::int32_t divisible, std::int32_t taxIndex1, std::int32_t taxIndex2,
                          std::int32_t article);
  std::int32_t CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                            std::int32_t packing);
  std::int32_t CloseCheck();
  short AbortCheck();
  // Before an operation that must not land in an open receipt: the receipt open on the link is
  // aborted, unless its close was in doubt and turned out printed (nothing is left to abort,
  // and no box is shown for an abort nobody asked for).
  void AbortOpenReceipt();
  // An open whose reply did not come in time may have opened a receipt on the printer after
  // all, and the printer would refuse every later open: the next open, the reports and settings
  // that abort an open receipt first, and the text document abort that one too (quietly: a
  // printer with no receipt open may refuse it). False, with the reason, when the printer does
  // not answer: the caller goes no further.
  void SetReceiptPerhapsOpen(bool perhaps) { m_receiptPerhapsOpen = perhaps; }
  bool AbortReceiptPerhapsOpen();
  // Snapshot readers.
  ReceiptSums Sums() const;
  std::int32_t GetCheckSum() const;
  std::int32_t GetCheckOnSaleTaxes() const;
  std::int32_t GetCheckReturnSum() const;
  std::int32_t GetCheckReturnOnSaleTaxes() const;
  std::string CheckResultText() const;
  std::string CheckResultXml() const;
  bool IsCheckOpen() const { return m_checkOpen.load(); }
  // A close whose reply did not come in time: the printer may or may not have printed it. The
  // next exchange on the link first settles it from the printer (true once it is known).
  bool IsCloseInDoubt() const { return m_closeInDoubt.load(); }
  bool SettleCloseInDoubt();
  // The receipt journal beside the protocol logs (null when there is no log folder).
  ReceiptJournal* Journal() { return m_journal.get(); }
  // Writes the current receipt's step to the journal.
  void JournalStep(const char* state, std::int64_t total, const std::string& note = "",
                   bool remarkable = false);
  // After "PREP", with a journal: reads the sales and return registers (the one query of a
  // receipt), so that a close in doubt can be told from them, and journals the receipt.
  void JournalOpened();
  bool IsReturnCheck() const { return m_checkOpen.load() && m_returnCheck.load(); }
  bool TaxesPerLine() const { return m_taxesPerLine.load(); }

  // ---- device control (fiscal/device_control.cpp) ----
  // Integer parameters are cut to their low 16 bits where the command takes 16-bit values.
  short OpenCashBox();
  short CheckCopy();
  short CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn);
  short Feed(std::int32_t linesToFeed);
  short SetPrintingDoubleWidth(std::int32_t on);
  short SetTableMode(std::int32_t on);
  short SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode);
  short SetTaxesCalcMode(std::int32_t saleTaxesOnTotal);
  short MoveCash(std::int32_t moveDirection, std::int32_t cashSum);
  short SetReturnCheckNumber(std::int32_t checkNumber);
  short SetCheckMessagesMode(std::int32_t mode);
  short SetDeptAlias(const std::string& alias);
  short SetCheckHeadLine(const std::string& text);
  short SetCheckBottomLine(const std::string& text);
  short SetInternalTime(std::int32_t hours, std::int32_t minutes, std::int32_t seconds);
  short LongName(const std::string& longName);
  short PutToDisplay(const std::string& line1, const std::string& line2);

  // ---- reports (fiscal/reports.cpp) ----
  short XReport();
  short XReportAsync();
  short ZReport();
  short ZReportAsync();
  short ArticleReport();
  short DiscountReport();
  short PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport);
  // OLE Automation dates.
  short PeriodicalFiscalReportDate(double dateFrom, double dateTo);
  short NullCheck();

  // ---- text document (fiscal/text_document.cpp) ----
  short OpenTextDocument();
  short FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                     std::int32_t useBoldStyle, const std::string& textMessage);
  short ClearFreeTextLines();
  short CloseTextDocument(std::int32_t printOnJornal);
  short EndTextDocument();
  bool IsTextDocumentOpen() const { return m_textDocumentOpen.load(); }

  // ---- information queries (fiscal/queries.cpp) ----
  std::string GetArticleInfo(std::int32_t article);
  std::string GetPrinterTime();
  std::string GetCashInfo();
  std::string GetFiscalInfo();
  std::string GetTaxesInfo();
  // 0 to 4, or -1 when the configuration cannot be read.
  int GetPrinterKeyPosition();

 private:
  friend class LockedLink;
  void ReceiveLoop();
  // The device is gone: every wait ends at once with 1003 and the next call reconnects. `why`
  // goes to the protocol log and to the host's operator log, once per loss.
  void MarkLost(const char* why);
  // A port that will not open, or is lost: the protocol log and the host's operator log.
  void ReportPortProblem(const std::string& text);
  // True when a message is queued within the time-out; false on time-out or a lost link.
  bool WaitForMessage(int timeoutMs);
  // A reply wait ran out (or the link is lost): message 1003 with a stop box.
  void ReportNoAnswer();
  // Sends `command` and waits for the message holding one of the mnemonics, 1000 ms a message.
  bool RequestConfigReply(const std::string& command, std::string_view mnemonic1,
                          std::string_view mnemonic2, std::string& reply);
  void RecordReplyLatency();
  // The printer's close reply: its nine figures become the check result text and document.
  void TakeCloseReply(const std::string& message);
  // Journals the close about to go out, on disk before it is sent.
  void JournalClosing(std::int64_t total);
  // After the close's reply wait: the receipt closed, stays open (refused), or is in doubt (no
  // reply) until the printer tells. The close's result.
  std::int32_t FinishClose(bool closed, bool unanswered, std::int64_t total);
  // After a close refused by a status word: the result when the printer tells it printed (or
  // that its receipt is gone, or cannot tell: in doubt), nullopt when the refusal stands.
  std::optional<std::int32_t> SettleRefusedClose(std::int64_t total);
  // What the printer told of the receipt in doubt: printed, never taken, or gone with the
  // printer's session when it was switched off.
  void JournalDoubtSettled(bool printed, bool byFigures, bool loggedOut);
  // The receipt in doubt belongs to the printer that was on the port before a reconnect: left
  // in the journal for that printer, the client told.
  void LeaveReceiptToItsPrinter();
  // After a doubt settled by the close's late figures: takes the replies still owed (the
  // query's answer, or the close's "READY"), or leaves them marked late.
  void TakeRepliesOwedAfterDoubt(bool queryAnswerOwed, bool closeReadyOwed, std::uint64_t passed);
  // At the first connect, and again before this run's first receipt if the printer could not
  // tell then: settles the receipts an earlier run left open, closing or in doubt.
  void SettleJournal();
  // Journals what SettleJournal found of the receipts `left` (the newest first): the newest
  // printed or aborted, the older ones aborted, followed by a later receipt.
  void JournalEarlierRunSettled(const std::vector<ReceiptJournal::Entry>& left, bool printed,
                                std::int64_t printedTotal, bool moved);
  // The sales and return registers out of a "CCAS" reply's data; empty when it is too short.
  static std::string SalesRegisters(std::string_view ccasData);
  void DropStaleReplies();
  // The steps of Connect: the dialog for what the caller left out (false when cancelled), the
  // port (false, with `cancel` set as the operator answered, when it will not open), a refused
  // login, and the configuration after a login.
  bool AskForMissingLogin(ConnectDialogData& login);
  bool OpenPortToLogIn(std::string& portName, bool& cancel);
  void TakeLoginRefusal(short result, ConnectDialogData& login, bool& cancel);
  short FinishConnect(short result, const ConnectDialogData& login);
  // The wake-up byte until the printer answers; else DTR is dropped for a while (false).
  bool WakeUpPrinter(bool& cancel);
  // The reply to "UPAS": 1 logged in, 0 none in time (ask again), -1 refused, -2 wrong password.
  short AwaitLoginReply(int& counter, bool& cancel);
  short TakeLoginReplies();
  // Logs in with the stored cashier and password, without message boxes.
  bool LogInAgain();
  // Asks for the configuration, which only a logged-out printer refuses ("SOFTPROTOC").
  bool PrinterForgotLogin();
  // Whether the receipt open or in doubt was opened on another printer than the one now on the
  // port (after a reconnect: an adapter renamed, a printer swapped).
  bool ReceiptOfAnotherPrinter() const;
  // After a query's data reply: waits up to `timeoutMs` for the "READY" that ends it.
  void TakeClosingReady(int timeoutMs);
  // A reply still owed, taken when it comes (within `waitMs` a message; other messages before
  // it are passed over, an error status stops): the message beginning with `mnemonic` and, for
  // a data reply, its "READY". Once taken, nothing owed is left. False when it did not come.
  bool TakeQueryAnswer(std::string_view mnemonic, int waitMs);
  // A register query written (at `passedBefore`, the count of owed answers passed over then)
  // whose answer was not taken: when it comes, the reader passes it over, so that a later
  // query does not take it for its own and leave its own "READY" for the next command. Not
  // counted when an owed answer was passed over meanwhile: that was this one's, and the count is
  // cleared.
  void RegisterAnswerOwed(std::uint64_t passedBefore);
  // Nothing is owed any more: the line was opened again, or the printer switched off and on.
  void ForgetOwedAnswers();
  // In the reader: an owed register answer, or its "READY", passed over.
  bool PassOverOwedAnswer(const std::string& text);
  // Message boxes are shown: error messages are on and no silent reconnect runs.
  bool BoxesShown() const { return m_showErrorMessages.load() && !m_quiet.load(); }

  const std::int32_t m_portNumber;
  LinkHost& m_host;
  Clock& m_clock;
  const LinkTimings m_timings;
  // Fields below without a mark are touched only under m_commandMutex (the reader thread never
  // touches them); atomics may be read from any thread.
  std::mutex m_commandMutex;
  mutable std::mutex m_stateMutex;
  LinkStats m_stats;

  // ---- channel ----
  std::unique_ptr<SerialPort> m_port;  // under m_commandMutex; Read also by the reader
  std::atomic<bool> m_portOpen{false};
  std::atomic<bool> m_lost{false};
  // The first to see the loss reports it, then sets m_lost.
  std::atomic<bool> m_lossReported{false};
  std::atomic<bool> m_stopFlag{false};
  std::thread m_reader;
  std::atomic<bool> m_readerRunning{false};
  // Set by the reader while it holds the start of a frame whose end has not come yet.
  std::atomic<bool> m_frameArriving{false};
  ReplyQueue m_queue;
  Clock::TimePoint m_sentAt{};   // when the last frame went out
  std::string m_storedPortName;  // for Reconnect
  // The open port's name and device, set before its reader starts (for the lost-port line), so
  // the reader reads them without a lock.
  std::string m_portName;
  std::string m_devicePath;
  std::string m_storedCashier;
  std::string m_storedPassword;
  std::string m_lastCommand;       // the last frame SendFrame wrote
  bool m_loginRecovered = false;   // RecoverLogin has resent m_lastCommand
  bool m_replyMayBeLate = false;   // see CountTimeout
  bool m_lateReplyPrints = false;  // see ExpectLateReplies
  // Answers to register queries ("CCAS") whose wait gave up: they come later, in order, and the
  // reader passes each over with its "READY" (see RegisterAnswerOwed). Counted on the command
  // path, taken on the reader's.
  std::atomic<int> m_registerAnswersOwed{0};
  std::atomic<std::uint64_t> m_owedAnswersPassed{0};
  std::atomic<bool> m_passOwedReady{false};
  std::mutex m_passedMutex;
  std::string m_passedAnswer;  // the last answer passed over; guarded by m_passedMutex
  std::string m_queryRefusal;  // the status word that refused the last query
  bool m_recoveringLogin = false;

  // ---- log ----
  mutable std::mutex m_logMutex;
  std::FILE* m_logFile = nullptr;  // guarded by m_logMutex
  std::string m_logPath;           // guarded by m_logMutex
  bool m_logFailing = false;       // guarded by m_logMutex: the last write failed
  // Read from the settings when the port opens, before the reader starts.
  bool m_saveToLog = false;
  std::int32_t m_keepLogFiles = 3;
  std::string m_logDate;  // "%Y%m%d" of the link's creation

  // ---- status and errors ----
  std::string m_lastErrorText;  // guarded by m_stateMutex
  std::atomic<bool> m_showErrorMessages{true};
  std::atomic<bool> m_showStatusWindows{false};
  std::atomic<bool> m_quiet{false};  // set while Reconnect runs: it asks nobody
  std::unique_ptr<StatusWindow> m_statusWindow;

  // ---- configuration ----
  PrinterConfig m_config;  // guarded by m_stateMutex
  std::atomic<int> m_modelGeneration{0};
  std::atomic<int> m_modelVariant{0};

  // ---- receipt and documents ----
  ReceiptSums m_sums;             // guarded by m_stateMutex
  std::string m_checkResultText;  // guarded by m_stateMutex
  std::string m_checkResultXml;   // guarded by m_stateMutex
  std::atomic<bool> m_checkOpen{false};
  // The open receipt's direction, set when it is opened; it means nothing without a receipt, so
  // a receipt that stays open on the printer (a refused abort or close) keeps it.
  std::atomic<bool> m_returnCheck{false};
  std::atomic<bool> m_taxesPerLine{false};
  std::atomic<bool> m_textDocumentOpen{false};
  // Lines are in the printer's text buffer; a login after a power cycle finds them lost.
  bool m_textLinesBuffered = false;
  bool m_textLinesLost = false;
  std::atomic<bool> m_closeInDoubt{false};
  bool m_settlingClose = false;
  bool m_settledClosed = false;       // a close settled as printed, for its retry
  bool m_receiptPerhapsOpen = false;  // see AbortReceiptPerhapsOpen
  std::int32_t m_doubtTotal = 0;      // the total of the close in doubt
  std::unique_ptr<ReceiptJournal> m_journal;
  ReceiptJournal::Row m_journalRow;       // the current receipt's row
  bool m_journalSettled = false;          // what an earlier run left was settled on this printer
  std::string m_receiptBaseline;          // sales and return registers when the receipt was opened
  std::string m_receiptSerial;            // the serial number of the printer it was opened on
  bool m_receiptWentWithPrinter = false;  // found after a reconnect: see SettleCloseInDoubt
};

}  // namespace vekta
