#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "link/printer_link.h"
#include "platform/codepage.h"

namespace vekta {

namespace {

// Log lines read the same on every machine: "%x %X" of the C locale, whatever the process's.
locale_t CLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

std::string LocalStamp(Clock::WallTime when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  const std::size_t n = strftime_l(text, sizeof text, "%x %X", &local, CLocale());
  return std::string(text, n);
}

std::string Prefix(std::int32_t portNumber) {
  return "VektaManager_" + std::to_string(portNumber) + "_";
}

// Local midnight of the YYYYMMDD date after the last underscore, or false when the name holds no
// valid date.
bool LogFileDate(const std::string& name, std::time_t& midnight) {
  const std::size_t underscore = name.rfind('_');
  if (underscore == std::string::npos || name.size() < underscore + 9) return false;
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    const char c = name[underscore + 1 + static_cast<std::size_t>(i)];
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    digits[i] = c - '0';
  }
  std::tm date{};
  date.tm_year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3] - 1900;
  date.tm_mon = digits[4] * 10 + digits[5] - 1;
  date.tm_mday = digits[6] * 10 + digits[7];
  date.tm_isdst = -1;
  const int year = date.tm_year, month = date.tm_mon, day = date.tm_mday;
  if (month < 0 || month > 11 || day < 1 || day > 31) return false;
  midnight = std::mktime(&date);
  // mktime moves 31 February to March: such a name holds no date.
  return midnight != static_cast<std::time_t>(-1) && date.tm_year == year && date.tm_mon == month &&
         date.tm_mday == day;
}

}  // namespace

void PrinterLink::OpenLog() {
  std::string problem;
  {
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_saveToLog && m_logFile == nullptr) {
      const std::string dir = m_host.LogDirectory();
      if (!dir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(dir, error);
        const std::string path = dir + "/" + Prefix(m_portNumber) + m_logDate + ".log";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0640);
        m_logFile = fd >= 0 ? fdopen(fd, "a") : nullptr;
        if (m_logFile != nullptr) {
          m_logPath = path;
          m_logFailing = false;
        } else {
          problem = "the protocol log " + path + " cannot be written (" + std::strerror(errno) +
                    "): this port's protocol is not logged";
          if (fd >= 0) ::close(fd);
        }
      }
    } else if (!m_saveToLog && m_logFile != nullptr) {
      std::fclose(m_logFile);
      m_logFile = nullptr;
      m_logPath.clear();
    }
  }
  // Logging was asked for: whoever reads the service's messages learns that there is none.
  if (!problem.empty()) m_host.ReportPortProblem(problem);
  PurgeOldLogs();
}

void PrinterLink::WriteLogLine(std::string_view text) {
  std::string line;
  {
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logFile == nullptr) return;
  }
  line.reserve(text.size() + 32);
  line = LocalStamp(m_clock.WallNow());
  line += ';';
  for (const char c : text) {
    // Any other control byte is shown as '?': a client's text must not break a line for some
    // readers, make the file binary to grep or reach the terminal of whoever reads it. So is
    // 0x98, which has no 1251 character (the wire carries '?' for it): a reader converting the
    // file from 1251 would stop there.
    if (c == '\t' || c == '\r' || c == '\n') continue;
    line += IsControlByte(c) || c == '\x98' ? '?' : c;
  }
  line += "\r\n";
  std::string problem;
  {
    std::lock_guard<std::mutex> lock(m_logMutex);
    if (m_logFile == nullptr) return;
    // One write per line under the lock: both threads' lines stay whole.
    const bool written = std::fwrite(line.data(), 1, line.size(), m_logFile) == line.size() &&
                         std::fflush(m_logFile) == 0;
    // The first of a run of failed writes is reported (a full disk); one that succeeds ends it.
    if (!written && !m_logFailing) {
      problem = "a write to the protocol log " + m_logPath + " failed (" + std::strerror(errno) +
                "): protocol lines are lost";
    }
    m_logFailing = !written;
  }
  if (!problem.empty()) m_host.ReportPortProblem(problem);
}

void PrinterLink::LogMessageId(int id) {
  WriteLogLine(m_host.LoadString(id));
}

void PrinterLink::LogError(std::string_view text) {
  WriteLogLine("ERROR: " + std::string(text));
}

void PrinterLink::LogErrorId(int id) {
  LogError(m_host.LoadString(id));
}

void PrinterLink::LogSent(std::string_view text) {
  WriteLogLine(">>> To Printer >>>" + std::string(text));
}

void PrinterLink::LogReceived(std::string_view text) {
  if (text.empty()) return;
  WriteLogLine("<< From Printer <<" + std::string(text));
}

void PrinterLink::CloseLog() {
  std::lock_guard<std::mutex> lock(m_logMutex);
  if (m_logFile != nullptr) std::fclose(m_logFile);
  m_logFile = nullptr;
  m_logPath.clear();
}

void PrinterLink::PurgeOldLogs() {
  const std::string dir = m_host.LogDirectory();
  if (dir.empty()) return;
  const std::string prefix = Prefix(m_portNumber);
  const std::time_t now = std::chrono::system_clock::to_time_t(m_clock.WallNow());
  std::error_code error;
  // Stepped with an error code: a folder that fails to read mid-way ends the purge, not the link.
  for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    struct stat st {};
    // Only the files this link writes, by their whole name: a copy kept beside them
    // ("..._20250101-copy.log") is someone's, not ours to remove.
    if (name.size() != prefix.size() + 8 + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".log") != 0 || ::stat(entry.path().c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    std::time_t midnight = 0;
    if (!LogFileDate(name.substr(0, name.size() - 4), midnight)) continue;
    // A file is named for the day its link was made, and a link may live for weeks: one still
    // written to within the days kept (this morning's receipts, say) is not old.
    const long long ageDays = static_cast<long long>(now - std::max(midnight, st.st_mtime)) / 86400;
    std::error_code ignored;
    if (ageDays > m_keepLogFiles) std::filesystem::remove(entry.path(), ignored);
  }
}

std::string PrinterLink::LogFilePath() const {
  std::lock_guard<std::mutex> lock(m_logMutex);
  return m_logPath;
}

}  // namespace vekta
