// The receipt: open, fiscal lines with their taxes, close with the payments, abort.
//
// Money is kept in kopecks. Every intermediate is 64-bit and the tax rules are computed in
// integers on the group's four-digit raw rate R (rate r = R / 10000), so that no binary
// rounding can move a kopeck:
//   on-sale and sale-included tax of a line   floor(sum * R / 10000)
//   included tax of a line                    ceil(sum * R / (10000 + R))
//                                             (= ceil(sum * (1 - 1 / (1 + r))))
//   on-sale and sale-included tax of a group  floor(group * R / 10000 + 1/2), at close

#include <algorithm>
#include <array>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "fiscal/command_helpers.h"
#include "link/printer_link.h"
#include "link/status_table.h"
#include "platform/codepage.h"

namespace vekta {

using fiscal::AwaitReceiptReply;
using fiscal::kInDoubtMessage;
using fiscal::kNoLinkMessage;
using fiscal::kPrinterFigureTolerance;
using fiscal::kReceiptWaitMs;
using fiscal::PrintedText;
using fiscal::SendCommand;
using fiscal::ZeroPadded;

namespace {

constexpr int kOpenCheckTitle = 3000;
constexpr int kFiscalLineTitle = 3002;
constexpr int kCloseCheckTitle = 3003;
constexpr int kAbortCheckTitle = 3004;
constexpr int kQuantityTooLargeMessage = 3013;
constexpr int kPaymentShortMessage = 3014;

constexpr int kLineFieldOverflowMessage = 6001;
constexpr int kReceiptSumOverflowMessage = 6002;
constexpr int kNegativePaymentMessage = 6003;
constexpr int kPrintedNotAbortedMessage = 6005;
constexpr int kGoodsQuantityText = 6010;
constexpr int kGoodsPriceText = 6011;
constexpr int kSumText = 6012;

constexpr int kOpenWaitMs = 2000;

constexpr std::int32_t kMaxQuantity = 99999;
constexpr std::int64_t kMaxLineField = 999999999;  // the 9-digit fields of a fiscal line
constexpr std::int64_t kMaxSum = std::numeric_limits<std::int32_t>::max();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
  return -FloorDiv(-a, b);
}

// The four-digit raw rate of a tax group ("2000" is 20.00 per cent); 0 when it is not digits.
std::int64_t RawRate(const TaxEntry& tax) {
  std::int64_t rate = 0;
  for (char c : tax.rawValue) {
    if (c < '0' || c > '9') return 0;
    rate = rate * 10 + (c - '0');
  }
  return rate;
}

std::int64_t LineTaxFloor(std::int64_t sum, std::int64_t rate) {
  return FloorDiv(sum * rate, 10000);
}

std::int64_t LineTaxIncluded(std::int64_t sum, std::int64_t rate) {
  return CeilDiv(sum * rate, 10000 + rate);
}

std::int64_t GroupTaxRounded(std::int64_t sum, std::int64_t rate) {
  return FloorDiv(2 * sum * rate + 10000, 20000);
}

std::int32_t ClampToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(), kMaxSum));
}

// The on-sale and sale-included taxes taken again on the per-group totals, rounded half up.
// Included taxes stay as the lines gave them.
void RecomputeOnTotals(ReceiptSums& sums, const PrinterConfig& config) {
  std::int64_t onSale = 0, returnOnSale = 0, saleIncluded = 0, returnSaleIncluded = 0;
  for (std::size_t g = 0; g < 8; ++g) {
    const TaxEntry& tax = config.taxes[g];
    const std::int64_t rate = RawRate(tax);
    if (tax.type == '1') {
      onSale += GroupTaxRounded(sums.groupSales[g], rate);
      returnOnSale += GroupTaxRounded(sums.groupReturns[g], rate);
    } else if (tax.type == '2') {
      saleIncluded += GroupTaxRounded(sums.groupSales[g], rate);
      returnSaleIncluded += GroupTaxRounded(sums.groupReturns[g], rate);
    }
  }
  sums.onSaleTaxes = ClampToInt32(onSale);
  sums.returnOnSaleTaxes = ClampToInt32(returnOnSale);
  sums.saleIncludedTaxes = ClampToInt32(saleIncluded);
  sums.returnSaleIncludedTaxes = ClampToInt32(returnSaleIncluded);
}

// Reads a number as strtoll does: leading blanks, an optional sign, digits.
std::int64_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (int digits = 0; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 18;
       ++i, ++digits) {
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string PadRight(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// "1.500" for 1500 thousandths, "10.50" for 1050 kopecks.
std::string FixedPoint(std::int64_t value, std::int64_t scale, std::size_t decimals) {
  std::string sign = value < 0 ? "-" : "";
  const std::int64_t magnitude = value < 0 ? -value : value;
  return sign + std::to_string(magnitude / scale) + "." + ZeroPadded(magnitude % scale, decimals);
}

}  // namespace

std::int64_t ReceiptSums::Total() const {
  return static_cast<std::int64_t>(salesSum) + onSaleTaxes - saleIncludedTaxes -
         (static_cast<std::int64_t>(returnSum) + returnOnSaleTaxes - returnSaleIncludedTaxes);
}

namespace {

// Opens a receipt; shared by the sale and the return form.
short OpenReceipt(PrinterLink& link, const std::string& departmentName, bool isReturn,
                  ReceiptSums& sums, std::string& resultText, std::string& resultXml,
                  std::mutex& stateMutex, std::atomic<bool>& checkOpen,
                  std::atomic<bool>& returnCheck) {
  if (checkOpen.load()) link.AbortCheck();
  // Still open, the earlier receipt's abort failed. Should this open succeed, the printer no
  // longer had that one open, and its journal row must not wait to be settled by a restart.
  const bool earlierLeftOpen = checkOpen.load();
  if (!link.AbortReceiptPerhapsOpen()) return 0;
  if (link.IsTextDocumentOpen()) link.EndTextDocument();
  // A late "READY" taken for the open's own would leave a receipt open here that the printer
  // refused.
  if (!link.ReadyForOwnReply()) return 0;
  // Set after the abort above, which clears it: a return receipt opened over an open receipt
  // must still take its lines as returns. An open that goes no further leaves it as it was.
  returnCheck = isReturn;

  const std::string name = PrintedText(departmentName, link.ModelGeneration() == 1 ? 15 : 2);
  link.ReplaceStatusWindow(kOpenCheckTitle, name);
  const auto sentAt = link.GetClock().Now();
  const bool lostBefore = link.IsLost();
  const bool sent = SendCommand(link, "PREP" + name);
  if (sent && link.ModelGeneration() == 0) {
    link.GetClock().SleepFor(link.Timings().afterPrepGen0);
  }
  auto fail = [&]() -> short {
    link.DeleteStatusWindow();
    returnCheck = false;
    return 0;
  };
  // A write that failed part way may have reached the printer all the same.
  bool unanswered = !sent && !lostBefore && link.IsLost();
  if (!sent || !AwaitReceiptReply(link, kOpenWaitMs, sentAt, "", {}, &unanswered)) {
    if (unanswered) link.SetReceiptPerhapsOpen(true);
    if (unanswered && sent) link.RaiseError(kNoLinkMessage, MessageBoxStyle::kStopOk);
    return fail();
  }
  link.SetReceiptPerhapsOpen(false);
  if (earlierLeftOpen) {
    link.JournalStep(ReceiptJournal::kAborted, link.Sums().Total(),
                     "a later receipt was opened on the printer", true);
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex);
    sums = ReceiptSums{};
    resultText.clear();
    resultXml.clear();
  }
  checkOpen = true;
  link.JournalOpened();
  return 1;
}

}  // namespace

short PrinterLink::OpenCheck(const std::string& departmentName) {
  if (!SettleCloseInDoubt()) return 0;  // a receipt printed after all is not aborted
  // What an earlier run left is settled before this run's first receipt follows it: then an
  // older row can only be taken for aborted.
  if (!m_journalRow) SettleJournal();
  m_settledClosed = false;
  return OpenReceipt(*this, departmentName, false, m_sums, m_checkResultText, m_checkResultXml,
                     m_stateMutex, m_checkOpen, m_returnCheck);
}

short PrinterLink::OpenReturnCheck(const std::string& departmentName) {
  if (!SettleCloseInDoubt()) return 0;
  if (!m_journalRow) SettleJournal();
  m_settledClosed = false;
  return OpenReceipt(*this, departmentName, true, m_sums, m_checkResultText, m_checkResultXml,
                     m_stateMutex, m_checkOpen, m_returnCheck);
}

short PrinterLink::SetCurrentCheckDirection(std::int32_t /*direction*/) {
  if (!m_checkOpen.load()) return 0;
  m_returnCheck = true;
  return 1;
}

namespace {

// A fiscal line as the client asked for it, its 32-bit arguments cut to the 16-bit values the
// printer takes.
struct LineRequest {
  const std::string& goodsName;
  std::int32_t quantity;
  std::int32_t price;
  bool divisible;
  std::array<std::int16_t, 2> taxIndexes;
  std::int32_t article;
  std::int16_t discountDirection;
  const std::string& discountName;
  std::int32_t discount;
};

// The line's sums before the printer is asked.
struct LineFigures {
  std::int64_t lineSum = 0;  // before the discount: the sum field of the command
  bool hasDiscount = false;
  std::int64_t discountAmount = 0;
  std::int64_t amount = 0;  // after the discount or surcharge: what the receipt books
};

// What the line adds to the receipt's taxes.
struct LineTaxes {
  std::int64_t included = 0;
  std::int64_t onSale = 0;
  std::int64_t saleIncluded = 0;
  bool hasOnSale = false;
  bool hasSaleIncluded = false;
};

bool IsTaxGroup(std::int16_t index) {
  return index >= 1 && index <= 8;
}

LineFigures FiguresOf(const LineRequest& line) {
  LineFigures f;
  const std::int64_t quantity = line.quantity < 1 ? 1 : line.quantity;
  f.lineSum = line.divisible ? (quantity * line.price + 500) / 1000 : quantity * line.price;
  f.hasDiscount = line.discountDirection >= 0 && line.discount >= 1;
  f.discountAmount = f.hasDiscount ? line.discount : 0;
  const bool isDiscount = f.hasDiscount && line.discountDirection == 0;
  if (isDiscount && f.discountAmount > f.lineSum) f.discountAmount = f.lineSum;
  f.amount = isDiscount ? f.lineSum - f.discountAmount : f.lineSum + f.discountAmount;
  return f;
}

LineTaxes TaxesOf(std::int64_t amount, const std::array<std::int16_t, 2>& taxIndexes,
                  const PrinterConfig& config) {
  LineTaxes t;
  for (std::int16_t index : taxIndexes) {
    if (!IsTaxGroup(index)) continue;
    const TaxEntry& tax = config.taxes[index - 1];
    const std::int64_t rate = RawRate(tax);
    if (tax.type == '0') {
      t.included += LineTaxIncluded(amount, rate);
    } else if (tax.type == '1') {
      t.onSale += LineTaxFloor(amount, rate);
      t.hasOnSale = true;
    } else if (tax.type == '2') {
      t.saleIncluded += LineTaxFloor(amount, rate);
      t.hasSaleIncluded = true;
    }
  }
  return t;
}

void ShowLineInWindow(PrinterLink& link, const LineRequest& line) {
  StatusWindow* window = link.CurrentStatusWindow();
  if (window == nullptr) return;
  window->SetTitleLine(link.Host().LoadString(kFiscalLineTitle));
  const std::string quantityText =
      line.divisible ? FixedPoint(line.quantity, 1000, 3) : std::to_string(line.quantity);
  window->SetGoodsLine("\"" + line.goodsName + "\"" + link.Host().LoadString(kGoodsQuantityText) +
                       quantityText + link.Host().LoadString(kGoodsPriceText) +
                       FixedPoint(line.price, 100, 2));
  window->Show();
}

// Six characters per group: the line's groups with letter, type and raw rate, the others zeros.
std::string TaxGroupFields(const std::array<std::int16_t, 2>& taxIndexes,
                           const PrinterConfig& config) {
  std::string fields;
  for (int group = 1; group <= 8; ++group) {
    if (group != taxIndexes[0] && group != taxIndexes[1]) {
      fields += "000000";
      continue;
    }
    const TaxEntry& tax = config.taxes[group - 1];
    fields += static_cast<char>(0xC0 + group - 1);  // А to З in Windows-1251
    // An unprogrammed group still takes its six characters, or every later field would shift.
    fields += tax.type != '\0' ? tax.type : '0';
    fields += tax.rawValue.size() == 4 ? tax.rawValue : ZeroPadded(RawRate(tax) % 10000, 4);
  }
  return fields;
}

// The optional tail: the discount field, and the long name of the newer printers.
std::string LineTail(const LineRequest& line, const LineFigures& f, int generation, int variant) {
  std::string tail;
  if (f.hasDiscount) {
    tail += line.discountDirection == 0 ? '-' : '+';
    tail += PadRight(PrintedText(line.discountName, 13), 13);
    tail += ZeroPadded(f.discountAmount, 9);
  }
  if (generation == 1 && line.goodsName.size() > 12) {
    if (!f.hasDiscount) tail += "0" + std::string(13, '0') + std::string(9, '0');
    tail += PrintedText(line.goodsName.substr(12), variant >= 3 ? 31 : 24);
  }
  return tail;
}

std::string FiscalLineCommand(const PrinterLink& link, const LineRequest& line,
                              const LineFigures& f, const PrinterConfig& config, bool isReturn) {
  std::string command = isReturn ? "BFIS" : "FISC";
  command += PadRight(PrintedText(line.goodsName, 12), 12);
  command += ZeroPadded(f.lineSum, 9);
  command += ZeroPadded(line.price, 9);
  command += ZeroPadded(line.quantity < 0 ? 0 : line.quantity, 5);
  command += line.divisible ? '0' : '1';
  command += '0';
  command += TaxGroupFields(line.taxIndexes, config);
  const bool knownArticle = line.article >= 1 && line.article <= config.maxArticles;
  command += knownArticle ? ZeroPadded(line.article, 4) : "0000";
  return command + LineTail(line, f, link.ModelGeneration(), link.ModelVariant());
}

// Waits for the printer to book the line. `printerFigure` is its own tax figure for the line,
// 0 when it sent none.
bool AwaitLineBooked(PrinterLink& link, Clock::TimePoint sentAt, std::int64_t& printerFigure) {
  printerFigure = 0;
  // "SOFTCOPY": the copy buffer is full; only a later "COPY" is affected, the line is booked.
  return AwaitReceiptReply(link, kReceiptWaitMs, sentAt, "SOFTCOPY",
                           [&](const std::string& message) {
                             if (!Holds(message, "FISC")) return;
                             printerFigure = LeadingInteger(ReplyFrom(message, "FISC").substr(4));
                           });
}

// The printer's figure corrects the computed tax it stands for; returns what the line adds to
// the receipt besides its amount.
std::int64_t TakePrinterFigure(LineTaxes& t, std::int64_t printerFigure) {
  if (printerFigure == 0) return t.onSale - t.saleIncluded;
  if (t.hasOnSale && t.hasSaleIncluded) {
    // One figure for two taxes: it stands for the one it is nearer (the on-sale tax when both
    // are as near), and the line still adds the one less the other. Taken as the whole extra
    // amount, it would leave the sale-included tax out of what the line is said to add.
    const std::int64_t onSaleGap = std::llabs(t.onSale - printerFigure);
    const std::int64_t saleIncludedGap = std::llabs(t.saleIncluded - printerFigure);
    if (onSaleGap <= kPrinterFigureTolerance && onSaleGap <= saleIncludedGap) {
      t.onSale = printerFigure;
    } else if (saleIncludedGap <= kPrinterFigureTolerance) {
      t.saleIncluded = printerFigure;
    }
    return t.onSale - t.saleIncluded;
  }
  // Only a tax the line carries is corrected: a line without on-sale tax keeps 0 even when the
  // printer's figure is a few kopecks.
  if (t.hasOnSale && std::llabs(t.onSale - printerFigure) <= kPrinterFigureTolerance) {
    t.onSale = printerFigure;
  }
  if (t.hasSaleIncluded && std::llabs(t.saleIncluded - printerFigure) <= kPrinterFigureTolerance) {
    t.saleIncluded = printerFigure;
  }
  return printerFigure;
}

void BookLine(ReceiptSums& s, const LineRequest& line, std::int64_t amount, const LineTaxes& t,
              bool isReturn) {
  auto& groups = isReturn ? s.groupReturns : s.groupSales;
  for (std::int16_t index : line.taxIndexes) {
    if (IsTaxGroup(index)) groups[index - 1] = ClampToInt32(groups[index - 1] + amount);
  }
  const auto add = [](std::int32_t& sum, std::int64_t value) { sum = ClampToInt32(sum + value); };
  add(isReturn ? s.returnSum : s.salesSum, amount);
  add(isReturn ? s.returnIncludedTaxes : s.includedTaxes, t.included);
  add(isReturn ? s.returnOnSaleTaxes : s.onSaleTaxes, t.onSale);
  add(isReturn ? s.returnSaleIncludedTaxes : s.saleIncludedTaxes, t.saleIncluded);
}

// A number that does not fit its field would shift every later field of the command, and the
// printer would book a different line than the one asked for. The message to refuse with, or 0.
// `onTotals` is the printer's configuration when the close takes the taxes again on the groups'
// totals: that may come to a kopeck a line more than the lines' own taxes, and a total past the
// 32-bit limit would be reported cut down.
int LineRefusal(const LineRequest& line, const LineFigures& f, const LineTaxes& taxes,
                const ReceiptSums& current, bool isReturn, const PrinterConfig* onTotals) {
  if (line.price < 0 || line.price > kMaxLineField || f.lineSum > kMaxLineField ||
      f.discountAmount > kMaxLineField || f.amount > kMaxLineField) {
    return kLineFieldOverflowMessage;
  }
  const std::int64_t sum = isReturn ? current.returnSum : current.salesSum;
  std::int64_t onSale = (isReturn ? current.returnOnSaleTaxes : current.onSaleTaxes) + taxes.onSale;
  if (onTotals != nullptr) {
    ReceiptSums after = current;
    BookLine(after, line, f.amount, taxes, isReturn);
    RecomputeOnTotals(after, *onTotals);
    onSale = std::max<std::int64_t>(onSale, isReturn ? after.returnOnSaleTaxes : after.onSaleTaxes);
  }
  if (sum + f.amount + onSale + kPrinterFigureTolerance > kMaxSum) {
    return kReceiptSumOverflowMessage;
  }
  return 0;
}

void ShowReceiptTotal(PrinterLink& link, std::int64_t total) {
  if (StatusWindow* window = link.CurrentStatusWindow()) {
    window->SetSumLine(link.Host().LoadString(kSumText) + std::to_string(total));
    window->Show();
  }
}

}  // namespace

std::int32_t PrinterLink::FiscalLineEx(const std::string& goodsName, std::int32_t quantity,
                                       std::int32_t price, std::int32_t divisible,
                                       std::int32_t taxIndex1, std::int32_t taxIndex2,
                                       std::int32_t article, std::int32_t discountDirection,
                                       const std::string& discountName, std::int32_t discount) {
  LineRequest line{goodsName,
                   quantity,
                   price,
                   static_cast<std::int16_t>(divisible) != 0,
                   {static_cast<std::int16_t>(taxIndex1), static_cast<std::int16_t>(taxIndex2)},
                   article,
                   static_cast<std::int16_t>(discountDirection),
                   discountName,
                   discount};
  // Both indexes naming one group send that group once, and the printer books it once: so
  // does the link.
  if (line.taxIndexes[1] == line.taxIndexes[0]) line.taxIndexes[1] = 0;

  if (!m_checkOpen.load()) return -1;
  if (!PollStatus()) {
    AbortCheck();
    return -1;
  }
  // A late "READY" taken for the line's own would book a line the printer refused.
  if (!ReadyForOwnReply()) return -1;
  if (quantity > kMaxQuantity) {
    RaiseError(kQuantityTooLargeMessage, MessageBoxStyle::kStopOk);
    AbortCheck();
    return 0;
  }

  const LineFigures figures = FiguresOf(line);
  const PrinterConfig config = Config();
  const bool isReturn = m_returnCheck.load();
  LineTaxes taxes = TaxesOf(figures.amount, line.taxIndexes, config);
  if (const int refusal = LineRefusal(line, figures, taxes, Sums(), isReturn,
                                      m_taxesPerLine.load() ? nullptr : &config)) {
    RaiseError(refusal, MessageBoxStyle::kStopOk);
    return -1;
  }

  ShowLineInWindow(*this, line);
  const auto sentAt = GetClock().Now();
  if (!SendCommand(*this, FiscalLineCommand(*this, line, figures, config, isReturn))) return -1;
  std::int64_t printerFigure = 0;
  if (!AwaitLineBooked(*this, sentAt, printerFigure)) return -1;

  const std::int64_t extra = TakePrinterFigure(taxes, printerFigure);
  std::int64_t total = 0;
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    BookLine(m_sums, line, figures.amount, taxes, isReturn);
    total = m_sums.Total();
  }
  ShowReceiptTotal(*this, total);
  DrainQueue();
  return ClampToInt32(figures.amount + extra);
}

std::int32_t PrinterLink::FiscalLine(const std::string& goodsName, std::int32_t quantity,
                                     std::int32_t price, std::int32_t divisible,
                                     std::int32_t taxIndex1, std::int32_t taxIndex2,
                                     std::int32_t article) {
  return FiscalLineEx(goodsName, quantity, price, divisible, taxIndex1, taxIndex2, article, 0, "",
                      0);
}

namespace {

// The four payments of a close, the cash widened so that its adjustment cannot overflow.
struct Payments {
  std::int64_t cash;
  std::int64_t payCheck;
  std::int64_t credit;
  std::int64_t packing;

  std::int64_t Sum() const { return cash + payCheck + credit + packing; }
  bool AllZero() const { return cash == 0 && payCheck == 0 && credit == 0 && packing == 0; }
  // The six fields are unsigned 10-digit numbers; a sign would shift the fields after it.
  bool FitTheirFields() const {
    return payCheck >= 0 && credit >= 0 && packing >= 0 && std::llabs(cash) <= kMaxSum;
  }
};

// A close with no payments books nothing: the receipt's figures go with it.
void ClearReceiptSums(ReceiptSums& s) {
  s.salesSum = s.returnSum = 0;
  s.onSaleTaxes = s.returnOnSaleTaxes = 0;
  s.includedTaxes = s.returnIncludedTaxes = 0;
  s.saleIncludedTaxes = s.returnSaleIncludedTaxes = 0;
}

std::string CloseCommand(const ReceiptSums& sums, const Payments& pay) {
  return "COMP" + ZeroPadded(sums.salesSum, 10) + ZeroPadded(sums.returnSum, 10) +
         ZeroPadded(pay.packing, 10) + ZeroPadded(pay.payCheck, 10) + ZeroPadded(pay.credit, 10) +
         ZeroPadded(std::llabs(pay.cash), 10);
}

// The title of a receipt's last step over the shown window's lines; no window is created.
void RetitleStatusWindow(PrinterLink& link, int titleId) {
  StatusWindow* window = link.CurrentStatusWindow();
  if (window == nullptr) return;
  window->SetTitleLine(link.Host().LoadString(titleId));
  window->SetGoodsLine("");
  window->SetSumLine("");
  window->Show();
}

}  // namespace

std::int32_t PrinterLink::CloseCheckEx(std::int32_t cash, std::int32_t payCheck,
                                       std::int32_t credit, std::int32_t packing) {
  if (!SettleCloseInDoubt()) return -1;
  if (m_settledClosed && !m_checkOpen.load()) {
    // The retry of a close that was in doubt and turned out printed: its own answer, once.
    m_settledClosed = false;
    return m_doubtTotal;
  }
  if (!m_checkOpen.load()) return 0;
  if (!PollStatus()) {
    AbortCheck();
    return 0;
  }

  const PrinterConfig config = Config();
  std::int64_t total = 0;
  ReceiptSums sums;
  {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    if (!m_taxesPerLine.load()) RecomputeOnTotals(m_sums, config);
    total = m_sums.Total();
    sums = m_sums;
  }
  Payments payments{cash, payCheck, credit, packing};
  const bool adjusted = std::llabs(payments.Sum() - total) < 2;
  if (adjusted) payments.cash = total - payCheck - credit - packing;
  // The cash goes out without its sign, which only a return's may have: on a sale it would pay
  // out change the drawer never took. A card over the total by the kopeck adjusted pays it all.
  if (total >= 0 && payments.cash == -1 && adjusted) payments.cash = 0;
  const bool signedSaleCash = total >= 0 && payments.cash < 0;

  // A receipt whose sales and returns cancel out (an exchange) is closed with its own figures:
  // the printer refuses figures other than its own. The link's sums go only once the printer
  // has taken a close that books nothing, so that a refused one can still be paid.
  const bool booksNothing = payments.AllZero() && total != 0;
  if (booksNothing) {
    ClearReceiptSums(sums);
  } else if (payments.Sum() < total) {
    RaiseError(kPaymentShortMessage, MessageBoxStyle::kExclamationOk);
    DeleteStatusWindow();
    return -1;
  }
  if (!payments.FitTheirFields() || signedSaleCash) {
    RaiseError(kNegativePaymentMessage, MessageBoxStyle::kStopOk);
    DeleteStatusWindow();
    return -1;
  }

  RetitleStatusWindow(*this, kCloseCheckTitle);
  JournalClosing(total);
  const auto sentAt = GetClock().Now();
  const bool lostBefore = IsLost();
  const bool sent = SendCommand(*this, CloseCommand(sums, payments));
  // A write that failed part way (the device went away while it drained) may have reached the
  // printer all the same.
  bool unanswered = !sent && !lostBefore && IsLost();
  // "HARDPAPER": the receipt is booked; the paper runs out while it is being printed.
  bool figures = false;
  const bool closed = sent && AwaitReceiptReply(
                                  *this, kReceiptWaitMs, sentAt, "HARDPAPER",
                                  [&](const std::string& message) {
                                    if (!Holds(message, "COMP")) return;
                                    TakeCloseReply(message);
                                    figures = true;
                                  },
                                  &unanswered, "COMP");
  // The printer sends its figures once it has closed the receipt: a status word after them,
  // or a "READY" that does not follow in time, does not undo the close.
  std::optional<std::int32_t> told;
  if (sent && !closed && !figures && !unanswered) told = SettleRefusedClose(total);
  const std::int32_t result = told ? *told : FinishClose(closed || figures, unanswered, total);
  if (booksNothing && !m_checkOpen.load()) {
    std::lock_guard<std::mutex> lock(m_stateMutex);
    ClearReceiptSums(m_sums);
  }
  DeleteStatusWindow();
  return result;
}

std::int32_t PrinterLink::FinishClose(bool closed, bool unanswered, std::int64_t total) {
  if (closed) {
    m_checkOpen = false;
    m_settledClosed = false;
    JournalStep(ReceiptJournal::kClosed, total, CheckResultText());
    return ClampToInt32(total);
  }
  if (!unanswered) {
    JournalStep(ReceiptJournal::kOpen, total, "close refused");
    return -1;
  }
  // The printer may be printing a long receipt still, or the close never reached it, or the
  // device went away meanwhile: only the printer can tell, and it is asked before anything
  // else goes out on this port.
  m_doubtTotal = ClampToInt32(total);
  m_closeInDoubt = true;
  WriteLogLine("No reply to the close in time: the receipt is in doubt");
  JournalStep(ReceiptJournal::kInDoubt, total, "", true);
  RaiseError(kInDoubtMessage, MessageBoxStyle::kStopOk);
  return -1;
}

std::optional<std::int32_t> PrinterLink::SettleRefusedClose(std::int64_t total) {
  // A status word before the close's figures refuses it, but a printer also sends one unasked
  // (its clock, a sensor) and may print the receipt all the same, its figures coming after the
  // status word. As for a close that got no reply, the printer tells which.
  const std::string refusal = LastErrorText();
  WriteLogLine(
      "The close was refused before its figures came: the printer is asked whether the "
      "receipt printed");
  m_doubtTotal = ClampToInt32(total);
  m_closeInDoubt = true;
  if (!SettleCloseInDoubt()) return FinishClose(false, true, total);
  if (std::exchange(m_settledClosed, false)) return ClampToInt32(total);  // journalled closed
  SetLastErrorText(refusal);
  if (!m_checkOpen.load()) return -1;  // gone with the printer's session, journalled so
  return std::nullopt;
}

std::int32_t PrinterLink::CloseCheck() {
  // The cash is the total the close will compute. Taken from the per-line taxes instead, it
  // falls short of the group-rounded total by a kopeck a line, and the close is refused.
  ReceiptSums sums = Sums();
  if (!m_taxesPerLine.load()) RecomputeOnTotals(sums, Config());
  return CloseCheckEx(ClampToInt32(sums.Total()), 0, 0, 0);
}

short PrinterLink::AbortCheck() {
  // A close in doubt is settled first. One that printed leaves nothing to abort: told
  // "aborted", the till would sell the goods again. Its retried close still answers its total.
  if (!SettleCloseInDoubt()) return 0;
  if (m_settledClosed && !m_checkOpen.load()) {
    RaiseError(kPrintedNotAbortedMessage, MessageBoxStyle::kStopOk);
    return 0;
  }
  m_settledClosed = false;
  RetitleStatusWindow(*this, kAbortCheckTitle);
  if (ModelGeneration() == 0) GetClock().SleepFor(Timings().beforeCancGen0);
  const auto sentAt = GetClock().Now();
  const bool sent = SendCommand(*this, "CANC");

  short result = 0;
  if (sent && AwaitReceiptReply(*this, kReceiptWaitMs, sentAt, "")) {
    if (m_checkOpen.load()) JournalStep(ReceiptJournal::kAborted, Sums().Total());
    m_checkOpen = false;
    result = 1;
  }
  DeleteStatusWindow();
  return result;
}

void PrinterLink::AbortOpenReceipt() {
  if (IsCheckOpen() && SettleCloseInDoubt() && IsCheckOpen()) AbortCheck();
}

bool PrinterLink::AbortReceiptPerhapsOpen() {
  if (!m_receiptPerhapsOpen || m_checkOpen.load()) return true;
  // The open's late reply is put behind first, so that the abort's answer is its own. A
  // printer that does not answer is the reason the caller gives.
  if (!ReadyForOwnReply()) return false;
  WriteLogLine("An open was not answered in time: the receipt it may have opened is aborted");
  const bool quiet = m_quiet.exchange(true);
  const std::string lastError = LastErrorText();
  const std::uint64_t timeouts = m_stats.timeouts.load();
  const std::uint64_t sent = m_stats.commandsSent.load();
  // Sent and answered either way (a refusal too), the abort leaves no receipt open there.
  if (AbortCheck() == 1 ||
      (m_stats.commandsSent.load() > sent && m_stats.timeouts.load() == timeouts && !IsLost())) {
    m_receiptPerhapsOpen = false;
  }
  m_quiet = quiet;
  SetLastErrorText(lastError);
  return true;
}

ReceiptSums PrinterLink::Sums() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_sums;
}

std::int32_t PrinterLink::GetCheckSum() const {
  return Sums().salesSum;
}

std::int32_t PrinterLink::GetCheckOnSaleTaxes() const {
  return Sums().onSaleTaxes;
}

std::int32_t PrinterLink::GetCheckReturnSum() const {
  return Sums().returnSum;
}

std::int32_t PrinterLink::GetCheckReturnOnSaleTaxes() const {
  return Sums().returnOnSaleTaxes;
}

std::string PrinterLink::CheckResultText() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_checkResultText;
}

std::string PrinterLink::CheckResultXml() const {
  std::lock_guard<std::mutex> lock(m_stateMutex);
  return m_checkResultXml;
}

}  // namespace vekta
