#include "sim/sim_control.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

#include "sim/sim_printer.h"
#include "sim/sim_text.h"

namespace vekta {

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

// The text after the first word, as typed.
std::string Rest(const std::string& line) {
  auto start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return {};
  auto space = line.find_first_of(" \t", start);
  if (space == std::string::npos) return {};
  auto text = line.find_first_not_of(" \t", space);
  return text == std::string::npos ? std::string() : line.substr(text);
}

bool OnOff(const std::string& word, bool& value) {
  if (word == "on" || word == "1" || word == "out" || word == "off-line") {
    value = true;
  } else if (word == "off" || word == "0" || word == "in") {
    value = false;
  } else {
    return false;
  }
  return true;
}

// Bytes that would end or restart a frame cannot travel inside one.
std::string FrameSafe(std::string text) {
  for (char& c : text) {
    auto b = static_cast<unsigned char>(c);
    if (b == 0xFD || b == 0xFE) c = '?';
  }
  if (text.size() > 251) text.resize(251);
  return text;
}

// What a control command gets: the printer, its line and the line's words (the command first).
struct ControlLine {
  SimPrinter& printer;
  const std::string& line;
  const std::vector<std::string>& words;
  bool* quit;
};

// A command's answer; nothing when its arguments are not the ones it takes.
using Answer = std::optional<std::string>;

Answer Help(const ControlLine&) {
  return "commands: garbage split silence unsolicited status status-first paper key power unplug "
         "replug clock registers line quit";
}

Answer Quit(const ControlLine& in) {
  if (in.quit != nullptr) *in.quit = true;
  return "ok";
}

Answer Garbage(const ControlLine& in) {
  std::string bytes;
  if (in.words.size() == 1) bytes = std::string("\x01\x41\x42\x13\x80\xFE\x00\xFF", 8);
  for (std::size_t i = 1; i < in.words.size(); ++i) {
    const std::string& word = in.words[i];
    char* end = nullptr;
    long value = std::strtol(word.c_str(), &end, 16);
    if (end == word.c_str() || *end != '\0' || value < 0 || value > 255) {
      return "error: garbage takes hexadecimal bytes, e.g. garbage 41 42 fe";
    }
    bytes += static_cast<char>(value);
  }
  in.printer.SendGarbage(bytes);
  return "ok";
}

Answer Split(const ControlLine& in) {
  bool on = false;
  if (in.words.size() != 2 || !OnOff(in.words[1], on)) return std::nullopt;
  in.printer.SetSplitFrames(on);
  return "ok";
}

Answer Silence(const ControlLine& in) {
  bool on = false;
  if (in.words.size() != 2 || !OnOff(in.words[1], on)) return std::nullopt;
  in.printer.Model().SetSilent(on);
  return "ok";
}

Answer Unsolicited(const ControlLine& in) {
  if (in.words.size() < 2) return std::nullopt;
  in.printer.SendUnsolicited(FrameSafe(SimUtf8ToCp866(Rest(in.line))));
  return "ok";
}

// "status" answers the next command with the word alone; "status-first" sends it ahead.
Answer Status(const ControlLine& in) {
  if (in.words.size() != 2) return std::nullopt;
  in.printer.Model().InjectStatus(FrameSafe(SimUtf8ToCp866(in.words[1])),
                                  in.words[0] == "status-first");
  return "ok";
}

Answer Paper(const ControlLine& in) {
  if (in.words.size() != 2 || (in.words[1] != "out" && in.words[1] != "in")) return std::nullopt;
  in.printer.Model().SetPaperOut(in.words[1] == "out");
  return "ok";
}

Answer Key(const ControlLine& in) {
  if (in.words.size() != 2 || in.words[1].size() != 1 ||
      std::string("RXZPO").find(in.words[1][0]) == std::string::npos) {
    return std::nullopt;
  }
  in.printer.Model().SetKeyPosition(in.words[1][0]);
  return "ok";
}

Answer Power(const ControlLine& in) {
  if (in.words.size() != 2 || (in.words[1] != "on" && in.words[1] != "off")) return std::nullopt;
  in.printer.Model().SetPower(in.words[1] == "on");
  return "ok";
}

Answer Unplug(const ControlLine& in) {
  in.printer.Unplug();
  return "ok";
}

Answer Replug(const ControlLine& in) {
  std::string error;
  if (!in.printer.Replug(&error)) return "error: " + error;
  return in.printer.SlavePath();
}

Answer Clock(const ControlLine& in) {
  if (in.words.size() != 2) return std::nullopt;
  char* end = nullptr;
  long long seconds = std::strtoll(in.words[1].c_str(), &end, 10);
  if (end == in.words[1].c_str() || *end != '\0') {
    return "error: clock takes seconds, e.g. clock +3600";
  }
  in.printer.Model().AdvanceClock(std::chrono::seconds(seconds));
  return "ok";
}

Answer Registers(const ControlLine& in) {
  SimRegisters r = in.printer.Model().Registers();
  std::ostringstream out;
  out << "checks=" << r.checkNumber << " z=" << r.zNumber << " cash=" << r.cashRest
      << " sales=" << r.daySales << " returns=" << r.dayReturns << " receipts=" << r.receiptsToday
      << " cancelled=" << r.cancelledToday;
  return out.str();
}

Answer Line(const ControlLine& in) {
  const SimPrinter::LineCounts counts = in.printer.Counts();
  std::ostringstream out;
  out << "in=" << counts.bytesIn << " out=" << counts.bytesOut << " print_ms=" << counts.printMs;
  return out.str();
}

struct ControlCommand {
  const char* name;
  Answer (*handler)(const ControlLine& in);
};

constexpr ControlCommand kControlCommands[] = {
    {"help", Help},
    {"quit", Quit},
    {"exit", Quit},
    {"garbage", Garbage},
    {"split", Split},
    {"silence", Silence},
    {"unsolicited", Unsolicited},
    {"status", Status},
    {"status-first", Status},
    {"paper", Paper},
    {"key", Key},
    {"power", Power},
    {"unplug", Unplug},
    {"replug", Replug},
    {"clock", Clock},
    {"registers", Registers},
    {"line", Line},
};

}  // namespace

std::string RunSimControl(SimPrinter& printer, const std::string& line, bool* quit) {
  const auto words = Words(line);
  if (words.empty()) return "ok";
  for (const auto& command : kControlCommands) {
    if (words[0] != command.name) continue;
    if (Answer answer = command.handler({printer, line, words, quit})) return *answer;
    break;
  }
  return "error: unknown or malformed control command (try help): " + line;
}

std::string SimHelpText() {
  return R"(orbis-sim: a simulated Orbis fiscal printer on a pseudo-terminal.

The first line written to standard output is the path of the slave side; open it as the
printer's serial device (or use --link). Control commands are read from standard input, one
per line; each is answered with one line: "ok", data, or "error: REASON".

Options:
  --link PATH        make PATH a symlink to the slave side (e.g. for [Ports] COM1=PATH)
  --model G.V        printer generation and variant: 0.0, 0.1, 1.2, 1.3 (default), 1.4
  --serial TEXT      serial number (10 characters; default: the model's own)
  --firmware TEXT    firmware id (4 characters; default: the model's own)
  --password TEXT    the cashier password the printer accepts (default 7777777777)
  --key R|X|Z|P|O    mode key position at start (default R, registration)
  --baud N           emulate the line: 12 bits per byte at N baud (default 0: no delay)
  --print-ms N       time to print one line (default 20 with --baud, else 0)
  --tape FILE        append the control tape (every printed document, UTF-8) to FILE
  --replay LOG       answer with the replies recorded in a protocol log instead of the model
  --version          the version
  --help             this text

Control commands:
  garbage [HEX...]   write bytes outside any frame (default: a few bytes of line noise)
  split on|off       send every reply frame in two writes 150 ms apart
  silence on|off     take commands and answer nothing
  unsolicited TEXT   send TEXT now as a message of its own
  status WORD        answer the next command with WORD only (it is not carried out)
  status-first WORD  send WORD before the next command's own replies
  paper out|in       paper out: printing commands get HARDPAPER until paper is in again
  key R|X|Z|P|O      turn the mode key
  power off|on       off: silence; on: a fresh session (logged out, open receipt lost)
  unplug             close the pseudo-terminal, as a pulled cable
  replug             open a new pseudo-terminal (and move --link); prints its path
  clock SECONDS      move the printer clock (e.g. clock 90000 passes the 24 hour limit)
  registers          print the check and Z numbers, cash and day totals
  line               print the bytes taken and sent and the time spent printing, so far
  quit               end the simulator

Printer behaviour worth knowing:
  - The wake-up byte 0x55 outside a frame is answered "READY".
  - Every command but the cashier login "UPAS" is refused with "SOFTPROTOC" until a cashier
    has logged in; a wrong password gets "SOFTUPAS". Any cashier name is accepted.
  - Unknown commands get "SOFTCOMMAN"; a frame whose length byte does not match its text gets
    "SOFTBLOCK"; empty frames are ignored.
  - Status words and data replies go out as messages of their own, the status word last.
  - Receipts, cash movements and the copy need the key at R (else "SOFTSLWORK"); the X report
    ("ZREP1"), "ARTZ" and "DIZV" need R or X (else "SOFTSLZREP"); the Z report "NREP" and the
    periodic reports need R or Z (else "SOFTSLNREP"). At O only the login and the queries
    (CONf, CNAL, GETD, CCAS, CFIS, ARTD, PPMD) are answered; the rest gets "SOFTSYSLOCK".
  - Printing commands get "HARDPAPER" while the paper is out and are not carried out.
  - "PREP", "NULL" and "CAIO" get "SOFT24HOUR" 24 hours after the first of them since the last
    Z report.
  - Query replies ("CONf", "CNAL", "CCAS", "CFIS", "ARTD", "GETD") and the fiscal line and
    close replies ("FISC" + on-sale tax, "COMP" + nine fields) come before "READY", all in one
    write; with --baud each frame is written when its last byte would have left the printer.
  - A sale line with an article number fixes that article's name, tax groups and divisibility
    until the article report "ARTZ" (which zeroes the articles); a line that changes any of them
    gets "SOFTDIFART".
)";
}

}  // namespace vekta
