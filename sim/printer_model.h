#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/frame_parser.h"
#include "sim/sim_options.h"

namespace vekta {

class ControlTape;

// What the printer sends back for one input: each message goes in its own frame, in order.
struct SimReply {
  std::vector<std::string> messages;  // DOS 866
  int printedLines = 0;               // lines the print head had to print first
};

// One tax group as the printer has it programmed.
struct SimTaxGroup {
  char type = 0;     // '0' included, '1' on-sale, '2' sale-included; 0 when not programmed
  int rate = 0;      // hundredths of a per cent: 2000 is 20.00 %
  std::string date;  // YYYYMMDD when it was programmed
};

// The printer's registers, in kopecks. "Day" registers are cleared by the Z report.
struct SimRegisters {
  std::int64_t checkNumber = 0;              // closed receipts since the printer was made
  std::int64_t zNumber = 0;                  // Z reports taken
  std::int64_t cashRest = 0;                 // cash in the drawer
  std::int64_t cashIncome = 0;               // put in with "CAIOI" today
  std::int64_t cashOutcome = 0;              // taken out with "CAIOO" today
  std::int64_t daySales = 0;                 // receipt totals of sales today (taxes included)
  std::int64_t dayReturns = 0;               // receipt totals of returns today
  std::int64_t checkIncome = 0;              // cash paid in by receipts today
  std::int64_t checkOutcome = 0;             // cash paid out by receipts today
  std::array<std::int64_t, 8> groupSales{};  // turnover per tax group today
  std::array<std::int64_t, 8> groupReturns{};
  std::int64_t untaxedSales = 0;  // turnover of lines with no tax group today
  std::int64_t untaxedReturns = 0;
  std::int64_t onSaleTaxes = 0;    // today's on-sale taxes on sales
  std::int64_t includedTaxes = 0;  // today's included taxes on sales
  std::int64_t saleIncludedTaxes = 0;
  std::int64_t returnOnSaleTaxes = 0;
  std::int64_t returnIncludedTaxes = 0;
  std::int64_t returnSaleIncludedTaxes = 0;
  std::int64_t discounts = 0;   // discounts given today
  std::int64_t surcharges = 0;  // surcharges taken today
  int receiptsToday = 0;
  int cancelledToday = 0;
};

// Sold goods per programmed article ("FISC" with an article number).
struct SimArticle {
  std::string name;  // up to 24 characters, DOS 866
  char divisibility = '1';
  std::string taxes;  // the letters of its tax groups, up to 8
  std::int64_t soldQuantity = 0;
  std::int64_t saleSum = 0;
};

// The printer itself: login, configuration, receipts with their taxes, registers, reports,
// documents and the faults it can be told to show. Thread-safe: the pty reader answers frames
// while the control channel injects faults.
class PrinterModel {
 public:
  explicit PrinterModel(SimOptions options);
  ~PrinterModel();

  SimReply HandleInput(const SimInput& input);

  // Faults and switches.
  // The next command is answered with `word`; with thenExecute it is carried out after it.
  void InjectStatus(const std::string& word, bool thenExecute);
  void SetPaperOut(bool out);
  void SetKeyPosition(char key);
  // A silent printer takes every byte and answers nothing.
  void SetSilent(bool silent);
  // Off: silent; on again: a fresh session (logged out, an open receipt lost).
  void SetPower(bool on);
  bool PoweredOn() const;
  // How often the power went off: a reply still being printed when it changes never leaves.
  std::uint64_t PowerOffs() const;
  // Powered on and not told to be silent.
  bool Answering() const;
  // Moves the printer's clock (for the 24 hour rule).
  void AdvanceClock(std::chrono::seconds by);

  // State for tests and the control channel.
  SimRegisters Registers() const;
  std::array<SimTaxGroup, 8> Taxes() const;
  bool LoggedIn() const;
  bool ReceiptOpen() const;
  std::string Cashier() const;
  char KeyPosition() const;
  bool TaxesPerLine() const;
  // Every command text received (DOS 866), oldest first; see SimOptions::keepCommands.
  std::vector<std::string> Commands() const;
  std::string SerialNumber() const;
  std::string FirmwareId() const;
  int Generation() const;
  int Variant() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace vekta
