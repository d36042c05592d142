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

struct PrinterModel::Impl {
  explicit Impl(SimOptions o);

  SimReply Handle(const SimInput& input);
  SimReply Execute(const std::string& text);

  // command families (printer_model.cpp, printer_receipt.cpp, printer_reports.cpp)
  void Login(const std::string& text, SimReply& reply);
  void Configuration(SimReply& reply);
  void TaxTable(SimReply& reply);
  void DeviceCommand(const std::string& mnemonic, const std::string& text, SimReply& reply);
  void OpenReceipt(const std::string& text, SimReply& reply);
  void FiscalLine(const std::string& text, SimReply& reply);
  void CloseReceipt(const std::string& text, SimReply& reply);
  bool ArticleChanged(int number, const std::string& name, char divisibility,
                      const std::string& groupLetters) const;
  void CancelReceipt(SimReply& reply);
  void CashInOut(const std::string& text, SimReply& reply);
  void CashRegisters(SimReply& reply);
  void FiscalRegisters(SimReply& reply);
  void ArticleInfo(const std::string& text, SimReply& reply);
  void Report(const std::string& mnemonic, const std::string& text, SimReply& reply);
  void TextCommand(const std::string& mnemonic, const std::string& text, SimReply& reply);
  void NullReceipt(SimReply& reply);
  void Copy(SimReply& reply);

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

}  // namespace vekta
