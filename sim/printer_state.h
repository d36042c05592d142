#pragma once

// The inside of PrinterModel, shared by its source files. Everything here is guarded by
// Impl::mutex, which every public method of PrinterModel takes.

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/control_tape.h"
#include "sim/printer_model.h"

namespace vekta {

struct SimTextLine {
  bool afterFiscalPart = true;
  bool journal = false;
  bool bold = false;
  std::string text;  // DOS 866
};

struct SimReceipt {
  std::string department;  // DOS 866
  std::int64_t salesSum = 0;
  std::int64_t returnSum = 0;
  std::array<std::int64_t, 8> groupSales{};
  std::array<std::int64_t, 8> groupReturns{};
  std::int64_t untaxedSales = 0;
  std::int64_t untaxedReturns = 0;
  // sums of the per-line taxes
  std::int64_t onSale = 0;
  std::int64_t included = 0;
  std::int64_t saleIncluded = 0;
  std::int64_t returnOnSale = 0;
  std::int64_t returnIncluded = 0;
  std::int64_t returnSaleIncluded = 0;
  std::int64_t discounts = 0;  // booked into the day's registers at the close
  std::int64_t surcharges = 0;
  int lines = 0;
  bool copyWarned = false;
  std::vector<std::string> tape;  // the printed lines, UTF-8
  // article sales are booked only when the receipt closes
  std::vector<std::pair<int, SimArticle>> articles;
};

struct SimZRecord {
  std::int64_t zNumber = 0;
  std::string date;  // YYYYMMDD
  std::int64_t sales = 0;
  std::int64_t returns = 0;
  std::int64_t receipts = 0;
};

// A goods line ("FISC" sells, "BFIS" takes back) as its text gives it.
struct SimGoodsLine {
  bool isReturn = false;
  std::string name;  // the line's own 12 characters, DOS 866
  std::int64_t lineSum = 0;
  std::int64_t price = 0;
  std::int64_t quantity = 0;  // pieces, or thousandths when divisible
  char divisibility = '1';    // '0' divisible
  bool divisible = false;
  std::array<bool, 8> inGroup{};
  std::string groupLetters;  // DOS 866, as the article keeps them
  int article = 0;
  char direction = 0;  // '-' discount, '+' surcharge, 0 neither
  std::string discountName;
  std::int64_t discount = 0;
  std::string longName;
  std::int64_t sum = 0;  // the line sum moved by its discount or surcharge
  std::string fullName;  // DOS 866
};

// The six sums of "COMP" and the change they leave.
struct SimPayment {
  std::int64_t sales = 0;
  std::int64_t returns = 0;
  std::int64_t packing = 0;
  std::int64_t payCheck = 0;
  std::int64_t credit = 0;
  std::int64_t cash = 0;
  std::int64_t change = 0;
};

// A receipt's taxes as its close books them, and the parts they make.
struct SimReceiptTotals {
  std::int64_t onSale = 0;
  std::int64_t saleIncluded = 0;
  std::int64_t returnOnSale = 0;
  std::int64_t returnSaleIncluded = 0;
  std::int64_t salesPart = 0;
  std::int64_t returnPart = 0;
  std::int64_t total = 0;
};

struct PrinterModel::Impl {
  explicit Impl(SimOptions o);

  SimReply Handle(const SimInput& input);
  SimReply Execute(const std::string& text);

  // Every command is one row of the table in printer_model.cpp: its mnemonic, what it needs
  // before it runs, and the member that carries it out with the whole command text.
  using Handler = void (Impl::*)(const std::string& text, SimReply& reply);
  struct Command {
    const char* mnemonic;
    unsigned needs;
    Handler handler;
  };
  static const Command* FindCommand(const std::string& mnemonic);
  // The status word that refuses a command with these needs now; nullptr when it may run.
  const char* Refusal(unsigned needs) const;

  // login and queries (printer_model.cpp)
  void Login(const std::string& text, SimReply& reply);
  void Configuration(const std::string& text, SimReply& reply);
  void TaxTable(const std::string& text, SimReply& reply);
  void ClockQuery(const std::string& text, SimReply& reply);

  // settings and devices (printer_device.cpp)
  void TaxMode(const std::string& text, SimReply& reply);
  void PrintTaxesMode(const std::string& text, SimReply& reply);
  void TableMode(const std::string& text, SimReply& reply);
  void DoubleWidth(const std::string& text, SimReply& reply);
  void MessagesMode(const std::string& text, SimReply& reply);
  void HeadOrBottomLine(const std::string& text, SimReply& reply);
  void DepartmentAlias(const std::string& text, SimReply& reply);
  void SetClock(const std::string& text, SimReply& reply);
  void OpenDrawer(const std::string& text, SimReply& reply);
  void Cut(const std::string& text, SimReply& reply);
  void Feed(const std::string& text, SimReply& reply);
  void Display(const std::string& text, SimReply& reply);
  void NumberDisplay(const std::string& text, SimReply& reply);

  // receipts and cash (printer_receipt.cpp)
  void OpenReceipt(const std::string& text, SimReply& reply);
  void ReturnCheckNumber(const std::string& text, SimReply& reply);
  void NextLongName(const std::string& text, SimReply& reply);
  void FiscalLine(const std::string& text, SimReply& reply);
  const char* ReadGoodsLine(const std::string& text, SimGoodsLine& line) const;
  const char* ReadLineGroups(const std::string& text, SimGoodsLine& line) const;
  const char* ReadLineTail(const std::string& text, SimGoodsLine& line) const;
  const char* CheckGoodsLine(SimGoodsLine& line) const;
  bool ArticleChanged(int number, const std::string& name, char divisibility,
                      const std::string& groupLetters) const;
  std::int64_t BookGoodsLine(const SimGoodsLine& line);
  void PrintGoodsLine(const SimGoodsLine& line, SimReply& reply);
  void CloseReceipt(const std::string& text, SimReply& reply);
  const char* ReadPayment(const std::string& text, SimPayment& payment) const;
  SimReceiptTotals ReceiptTotals() const;
  const char* TakePayment(const SimReceiptTotals& totals, SimPayment& payment);
  void BookReceipt(const SimReceiptTotals& totals);
  void PrintReceipt(const SimReceiptTotals& totals, const SimPayment& payment, SimReply& reply);
  void AddTaxLines(std::vector<std::string>& lines) const;
  void CancelReceipt(const std::string& text, SimReply& reply);
  void NullReceipt(const std::string& text, SimReply& reply);
  void Copy(const std::string& text, SimReply& reply);
  void CashInOut(const std::string& text, SimReply& reply);
  void CashRegisters(const std::string& text, SimReply& reply);
  void FiscalRegisters(const std::string& text, SimReply& reply);
  void ArticleInfo(const std::string& text, SimReply& reply);

  // reports and text documents (printer_reports.cpp)
  void XReport(const std::string& text, SimReply& reply);
  void ZReport(const std::string& text, SimReply& reply);
  void ArticleReport(const std::string& text, SimReply& reply);
  void DiscountReport(const std::string& text, SimReply& reply);
  void PeriodicReport(const std::string& text, SimReply& reply);
  void AddDayLines(std::vector<std::string>& lines) const;
  void ClearText(const std::string& text, SimReply& reply);
  void AddText(const std::string& text, SimReply& reply);
  void BeginDocument(const std::string& text, SimReply& reply);
  void PrintText(const std::string& text, SimReply& reply);
  void EndDocument(const std::string& text, SimReply& reply);
  void PrintTextDocument(SimReply& reply);

  // helpers
  std::chrono::system_clock::time_point Now() const;
  std::string DateText() const;  // YYYYMMDD of the printer clock
  std::string TimeText() const;  // HHMMSS
  int HeadLimit() const;         // head, bottom and text lines
  int LongNameLimit() const;     // "FINF"
  int FiscalLongNameLimit() const;
  int MaxArticles() const;
  std::vector<std::string> DocumentHeader(const std::string& title) const;
  std::vector<std::string> DocumentFooter(const std::string& numberLine) const;
  void PrintDocument(std::vector<std::string> lines, SimReply& reply);
  void StartShiftIfNeeded();
  bool ShiftTooLong() const;
  void ClearDay();

  mutable std::mutex mutex;
  SimOptions options;
  std::unique_ptr<ControlTape> tape;
  int generation = 1;
  int variant = 3;
  std::string serial;
  std::string firmware;
  std::string fiscalNumber;
  std::string owner;      // DOS 866
  std::string moneyName;  // DOS 866
  std::string fiscalDate;
  std::array<SimTaxGroup, 8> taxes;

  bool power = true;
  std::uint64_t powerOffs = 0;
  bool silent = false;
  bool paperOut = false;
  char key = 'R';
  std::deque<std::pair<std::string, bool>> injected;
  std::chrono::seconds clockOffset{0};

  bool loggedIn = false;
  std::string cashier;
  bool taxesPerLine = false;
  bool printTaxesPerLine = false;
  bool tableMode = false;
  bool doubleWidth = false;
  int messagesMode = 0;
  std::string headLine;
  std::string bottomLine;
  std::string deptAlias;
  std::string display1;
  std::string display2;
  std::string returnCheckNumber;
  std::string pendingLongName;
  std::vector<SimTextLine> textBuffer;
  bool documentOpen = false;

  std::optional<SimReceipt> receipt;
  std::vector<std::string> lastReceiptTape;
  int lastReceiptLines = 0;
  bool haveLastReceipt = false;

  SimRegisters registers;
  std::map<int, SimArticle> articles;
  std::vector<SimZRecord> zHistory;
  std::optional<std::chrono::system_clock::time_point> shiftStart;
  std::vector<std::string> commands;
};

// Zero-padded decimal of at least `width` characters; a negative value keeps its minus first.
std::string SimPadded(std::int64_t value, int width);
// Digits only, and at least one.
bool SimDigits(const std::string& text);
// Ends a reply with its status word: "READY", or why the command was not carried out.
inline void SimStatus(SimReply& reply, const char* word) {
  reply.messages.push_back(word);
}

}  // namespace vekta
