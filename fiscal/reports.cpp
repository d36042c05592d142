// Reports: X and Z (also without waiting), periodic fiscal reports by Z number or by date,
// article and discount reports, the null receipt.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "fiscal/command_helpers.h"
#include "link/printer_link.h"

namespace vekta {

using fiscal::ClearOpenDocuments;
using fiscal::SendCommand;
using fiscal::ZeroPadded;

namespace {

constexpr int kXReportTitle = 3005;
constexpr int kZReportTitle = 3006;
constexpr int kPeriodicReportTitle = 3007;
constexpr int kDiscountReportTitle = 3011;
constexpr int kArticleReportTitle = 4016;

// OLE dates cover 1 January 100 (day -657434) to 31 December 9999 (day 2958465).
constexpr double kFirstOleDay = -657434.0;
constexpr double kLastOleDay = 2958465.0;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kOleEpochToUnixDays = -25569;  // 30 December 1899 to 1 January 1970

// A report runs once: a refusal still queued from an earlier command is reported before the
// report goes out (taken for the report's own, a retry would print a second Z report), and an
// earlier command's late "READY" is put behind (taken for the report's own, a refused Z report
// would pass for done and the day stay open).
short RunReport(PrinterLink& link, int titleId, const std::string& command) {
  if (!link.ReadyForOwnReply()) return 0;
  link.ReplaceStatusWindow(titleId);
  const bool ok = SendCommand(link, command) && link.WaitReadyOnce();
  link.DeleteStatusWindow();
  return ok ? 1 : 0;
}

// Succeeds once the command is written, whatever the printer does with it; a command that could
// not be written (no link, or a close still in doubt) is no report started.
short SendWithoutWait(PrinterLink& link, const std::string& command) {
  link.DeleteStatusWindow();
  // The report's replies, "READY" included, are met by the next wait on the link: after the
  // next command has gone out, as a timed-out command's are.
  if (!SendCommand(link, command)) return 0;
  link.ExpectLateReplies(true);
  return 1;
}

bool UsesNewReportWords(const PrinterLink& link) {
  return link.ModelGeneration() == 1 && link.ModelVariant() >= 3;
}

// Before 30 December 1899 an OLE date counts its day backwards but its time of day forwards:
// -1.25 is 29 December 1899, 06:00. This is the point in time, in days, that a value stands for.
double OlePointInTime(double date) {
  const double day = std::trunc(date);
  return day + std::fabs(date - day);
}

// The calendar date of an OLE date as "%Y%m%d", the time of day rounded to the second as OLE
// does; "Invalid DateTime" outside the years 100 to 9999.
std::string OleDateText(double date) {
  static const std::string kInvalid = "Invalid DateTime";
  if (!std::isfinite(date)) return kInvalid;
  const double day = std::trunc(date);
  if (day < kFirstOleDay || day > kLastOleDay) return kInvalid;
  const std::int64_t seconds = static_cast<std::int64_t>(day) * kSecondsPerDay +
                               std::llround(std::fabs(date - day) * kSecondsPerDay);
  std::int64_t days = seconds / kSecondsPerDay;
  if (seconds % kSecondsPerDay < 0) --days;

  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  const std::int64_t z = days + kOleEpochToUnixDays + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  if (y < 100 || y > 9999) return kInvalid;
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", static_cast<int>(y), static_cast<int>(m),
                static_cast<int>(d));
  return text;
}

}  // namespace

short PrinterLink::XReport() {
  return RunReport(*this, kXReportTitle, "ZREP1");
}

short PrinterLink::XReportAsync() {
  return SendWithoutWait(*this, "ZREP1");
}

short PrinterLink::ZReport() {
  if (!ClearOpenDocuments(*this)) return 0;
  return RunReport(*this, kZReportTitle, "NREP");
}

short PrinterLink::ZReportAsync() {
  if (!ClearOpenDocuments(*this)) return 0;
  return SendWithoutWait(*this, "NREP");
}

short PrinterLink::ArticleReport() {
  if (!ClearOpenDocuments(*this)) return 0;
  return RunReport(*this, kArticleReportTitle, "ARTZ");
}

short PrinterLink::DiscountReport() {
  if (!ClearOpenDocuments(*this)) return 0;
  return RunReport(*this, kDiscountReportTitle, "DIZV");
}

short PrinterLink::PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport) {
  if (!ClearOpenDocuments(*this)) return 0;
  std::int16_t first = static_cast<std::int16_t>(firstZReport);
  std::int16_t last = static_cast<std::int16_t>(lastZReport);
  std::string command = UsesNewReportWords(*this) ? "FIRN" : "IREN";
  if (first != last) {
    if (last < first) std::swap(first, last);
    command += ZeroPadded(first, 4) + ZeroPadded(last, 4);
  }
  return RunReport(*this, kPeriodicReportTitle, command);
}

short PrinterLink::PeriodicalFiscalReportDate(double dateFrom, double dateTo) {
  if (!ClearOpenDocuments(*this)) return 0;
  if (OlePointInTime(dateTo) < OlePointInTime(dateFrom)) std::swap(dateFrom, dateTo);
  const std::string command = std::string(UsesNewReportWords(*this) ? "FIRP" : "IREP") +
                              OleDateText(dateFrom) + OleDateText(dateTo);
  return RunReport(*this, kPeriodicReportTitle, command);
}

short PrinterLink::NullCheck() {
  return ReadyForOwnReply() && SendCommand(*this, "NULL") && WaitReadyOnce() ? 1 : 0;
}

}  // namespace vekta
