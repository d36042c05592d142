// The printer's settings, its clock and the devices it drives: knife, drawer, display.

#include <ctime>

#include "sim/printer_state.h"

namespace vekta {

namespace {

// The switches' one argument: nothing is off, "1" is on.
bool ReadSwitch(const std::string& text, bool& on) {
  std::string arg = text.substr(4);
  if (!arg.empty() && arg != "1") return false;
  on = arg == "1";
  return true;
}

}  // namespace

void PrinterModel::Impl::TaxMode(const std::string& text, SimReply& reply) {
  bool on = false;
  if (!ReadSwitch(text, on)) return SimStatus(reply, "SOFTPARAM");
  // the tax calculation mode cannot change under an open receipt
  if (receipt) return SimStatus(reply, "SOFTPROTOC");
  taxesPerLine = !on;
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::PrintTaxesMode(const std::string& text, SimReply& reply) {
  if (!ReadSwitch(text, printTaxesPerLine)) return SimStatus(reply, "SOFTPARAM");
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::TableMode(const std::string& text, SimReply& reply) {
  if (!ReadSwitch(text, tableMode)) return SimStatus(reply, "SOFTPARAM");
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::DoubleWidth(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg != "0" && arg != "1") return SimStatus(reply, "SOFTPARAM");
  doubleWidth = arg == "1";
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::MessagesMode(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg.size() != 1 || arg[0] < '0' || arg[0] > '3') return SimStatus(reply, "SOFTPARAM");
  if (receipt) return SimStatus(reply, "SOFTPROTOC");
  messagesMode = arg[0] - '0';
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::HeadOrBottomLine(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (static_cast<int>(arg.size()) > HeadLimit()) return SimStatus(reply, "SOFTPARAM");
  (text.compare(0, 4, "HEAD") == 0 ? headLine : bottomLine) = arg;
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::DepartmentAlias(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg.size() > 5) return SimStatus(reply, "SOFTPARAM");
  deptAlias = arg;
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::SetClock(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (arg.size() != 6 || !SimDigits(arg)) return SimStatus(reply, "SOFTPARAM");
  int h = std::stoi(arg.substr(0, 2));
  int m = std::stoi(arg.substr(2, 2));
  int s = std::stoi(arg.substr(4, 2));
  if (h > 23 || m > 59 || s > 59) return SimStatus(reply, "SOFTPARAM");
  if (receipt || documentOpen) return SimStatus(reply, "SOFTPROTOC");
  // only the time of day moves; the date stays
  std::time_t t = std::chrono::system_clock::to_time_t(Now());
  std::tm tm{};
  localtime_r(&t, &tm);
  long delta = (h - tm.tm_hour) * 3600L + (m - tm.tm_min) * 60L + (s - tm.tm_sec);
  clockOffset += std::chrono::seconds(delta);
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::OpenDrawer(const std::string& text, SimReply& reply) {
  SimStatus(reply, text.size() > 4 ? "SOFTPARAM" : "READY");
}

void PrinterModel::Impl::Cut(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (generation == 0) return SimStatus(reply, "SOFTCOMMAN");
  if (arg.size() != 2 || (arg[0] != '0' && arg[0] != '1') || (arg[1] != '0' && arg[1] != '1')) {
    return SimStatus(reply, "SOFTPARAM");
  }
  SimStatus(reply, "READY");
}

void PrinterModel::Impl::Feed(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (!SimDigits(arg) || arg.size() > 3 || std::stoi(arg) > 255) {
    return SimStatus(reply, "SOFTPARAM");
  }
  reply.printedLines = std::stoi(arg);
  SimStatus(reply, "READY");
}

// The two-line display of the older printers: "1" or "2" and the line's 16 characters.
void PrinterModel::Impl::Display(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (generation != 0) return SimStatus(reply, "SOFTCOMMAN");
  if (arg.empty()) {
    display1.clear();
    display2.clear();
  } else if ((arg[0] != '1' && arg[0] != '2') || arg.size() != 17) {
    return SimStatus(reply, "SOFTPARAM");
  } else {
    (arg[0] == '1' ? display1 : display2) = arg.substr(1);
  }
  SimStatus(reply, "READY");
}

// The number display of the newer printers.
void PrinterModel::Impl::NumberDisplay(const std::string& text, SimReply& reply) {
  std::string arg = text.substr(4);
  if (generation != 1) return SimStatus(reply, "SOFTCOMMAN");
  if (arg.empty()) {
    display1.clear();
    return SimStatus(reply, "READY");
  }
  // label code, point indicator (0..10), ten characters of number
  if (arg.size() < 12 || arg.size() > 13 || arg[0] < '0' || arg[0] > '3') {
    return SimStatus(reply, "SOFTPARAM");
  }
  std::string point = arg.substr(1, arg.size() - 11);
  if (!SimDigits(point) || std::stoi(point) > 10) return SimStatus(reply, "SOFTPARAM");
  for (char c : arg.substr(arg.size() - 10)) {
    if (c != ' ' && (c < '0' || c > '9')) return SimStatus(reply, "SOFTPARAM");
  }
  display1 = arg;
  SimStatus(reply, "READY");
}

}  // namespace vekta
