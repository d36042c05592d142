#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace vekta {
namespace {

// A settings file larger than this is not ours; it is read as empty and never rewritten.
constexpr std::size_t kMaxFileSize = 1 << 20;
constexpr int kPortProbeCount = 24;

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\r\n\f\v";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

enum class LoadResult { kLoaded, kMissing, kUnreadable };

// Reads the whole file. A missing file is an empty one; anything else that keeps us from the
// real contents (permissions, a directory, an oversized file, UTF-16) is unreadable, and `why`
// says so.
LoadResult LoadFile(const std::string& path, std::string& content, std::string* why = nullptr) {
  content.clear();
  const auto unreadable = [&](const std::string& reason) {
    if (why != nullptr) *why = reason;
    content.clear();
    return LoadResult::kUnreadable;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? LoadResult::kMissing : unreadable(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
    const bool regular = S_ISREG(st.st_mode);
    ::close(fd);
    return unreadable(regular ? "larger than " + std::to_string(kMaxFileSize) + " bytes"
                              : "not a regular file");
  }
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || content.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
      const std::string reason = n < 0 ? std::strerror(errno) : "it grew while it was read";
      ::close(fd);
      return unreadable(reason);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  // Windows editors save "Unicode" as UTF-16: read byte by byte it holds no line we know.
  if (content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF")) {
    return unreadable("UTF-16 text: save it as UTF-8");
  }
  return LoadResult::kLoaded;
}

// The file as lines; each line keeps its own '\r' so that a write changes nothing but the
// value it sets.
struct IniLines {
  std::vector<std::string> lines;
  bool endsWithNewline = true;
};

IniLines SplitLines(const std::string& content) {
  IniLines ini;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string::npos) {
      ini.lines.push_back(content.substr(start));
      ini.endsWithNewline = false;
      break;
    }
    ini.lines.push_back(content.substr(start, end - start));
    start = end + 1;
  }
  return ini;
}

std::string JoinLines(const IniLines& ini) {
  std::string out;
  for (std::size_t i = 0; i < ini.lines.size(); ++i) {
    out += ini.lines[i];
    if (i + 1 < ini.lines.size() || ini.endsWithNewline) out += '\n';
  }
  return out;
}

// An editor may have saved the file with a UTF-8 byte order mark before its first line.
std::string_view WithoutBom(std::string_view line) {
  return line.substr(0, 3) == "\xEF\xBB\xBF" ? line.substr(3) : line;
}

// "[Name]" gives the section name; anything else gives nothing.
std::optional<std::string_view> SectionOf(std::string_view line) {
  line = Trim(WithoutBom(line));
  if (line.size() < 2 || line.front() != '[') return std::nullopt;
  std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

struct KeyLine {
  std::string_view name;
  std::string_view value;
};

std::optional<KeyLine> KeyOf(std::string_view line) {
  std::string_view trimmed = Trim(WithoutBom(line));
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#' ||
      trimmed.front() == '[') {
    return std::nullopt;
  }
  std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view name = Trim(trimmed.substr(0, eq));
  if (name.empty()) return std::nullopt;
  return KeyLine{name, Trim(trimmed.substr(eq + 1))};
}

std::optional<std::string> FindValue(const IniLines& ini, std::string_view section,
                                     std::string_view name) {
  bool inSection = false;
  for (const std::string& line : ini.lines) {
    if (auto header = SectionOf(line)) {
      inSection = EqualsNoCase(*header, section);
      continue;
    }
    if (!inSection) continue;
    if (auto key = KeyOf(line); key && EqualsNoCase(key->name, name)) {
      return std::string(key->value);
    }
  }
  return std::nullopt;
}

// Sets name=value in the section: the first line of that key is rewritten in place, else a
// line is added after the section's last entry, else the section is appended.
void SetValue(IniLines& ini, std::string_view section, std::string_view name,
              std::string_view value) {
  bool inSection = false;
  std::optional<std::size_t> insertAt;
  for (std::size_t i = 0; i < ini.lines.size(); ++i) {
    std::string& line = ini.lines[i];
    if (auto header = SectionOf(line)) {
      inSection = EqualsNoCase(*header, section);
      if (inSection && !insertAt) insertAt = i + 1;
      continue;
    }
    if (!inSection) continue;
    if (auto key = KeyOf(line); key && EqualsNoCase(key->name, name)) {
      std::size_t eq = line.find('=');
      bool carriageReturn = !line.empty() && line.back() == '\r';
      line = line.substr(0, eq + 1) + std::string(value) + (carriageReturn ? "\r" : "");
      return;
    }
    if (!Trim(line).empty() && insertAt) insertAt = i + 1;
  }
  std::string entry = std::string(name) + "=" + std::string(value);
  if (insertAt) {
    ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(*insertAt), entry);
    if (*insertAt == ini.lines.size() - 1) ini.endsWithNewline = true;
    return;
  }
  if (!ini.lines.empty() && !Trim(ini.lines.back()).empty()) ini.lines.emplace_back();
  ini.lines.push_back("[" + std::string(section) + "]");
  ini.lines.push_back(entry);
  ini.endsWithNewline = true;
}

std::optional<std::uint32_t> ParseDword(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::uint32_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// A name or value that would break the line structure of the file is refused.
bool IsSafeToken(std::string_view text) {
  return text.find_first_of("\r\n") == text.npos;
}

std::string ParentDirectory(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteWhole(int fd, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void SyncDirectory(const std::string& directory) {
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Holds an exclusive flock on the settings directory, so that writers in different processes
// do not lose each other's changes between their read and their rename.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory)
      : m_fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (m_fd >= 0) {
      while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirectoryLock() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int m_fd;
};

// The file a write must replace: the target of a symbolic link rather than the link itself.
std::string ResolveTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string target(resolved);
  std::free(resolved);
  return target;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return home;
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

// $VAR when it names an absolute directory, else ~/fallback (relative paths in the XDG
// variables are invalid and ignored).
std::string XdgDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  return HomeDirectory() + "/" + fallback;
}

std::optional<int> ComPortNumber(const std::string& portName) {
  if (portName.size() < 4 || !EqualsNoCase(std::string_view(portName).substr(0, 3), "COM")) {
    return std::nullopt;
  }
  std::string_view digits = std::string_view(portName).substr(3);
  if (digits.front() == '0') return std::nullopt;
  int number = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (ec != std::errc() || ptr != digits.data() + digits.size() || number < 1) {
    return std::nullopt;
  }
  return number;
}

std::string DevicePathFrom(const IniLines& ini, const std::string& portName) {
  std::optional<int> number = ComPortNumber(portName);
  if (!number) return {};
  if (auto mapped = FindValue(ini, "Ports", portName)) {
    // A mapping that is not an absolute path is a mistake; it must not open some other device.
    return !mapped->empty() && mapped->front() == '/' ? *mapped : std::string();
  }
  return "/dev/ttyS" + std::to_string(*number - 1);
}

IniLines LoadLines(const std::string& path) {
  std::string content;
  LoadFile(path, content);
  return SplitLines(content);
}

}  // namespace

SettingsStore::SettingsStore(std::string path) : m_path(std::move(path)) {}

std::uint32_t SettingsStore::ReadConfigDword(const std::string& section, const std::string& name,
                                             std::uint32_t defaultValue) const {
  std::optional<std::string> text = FindValue(LoadLines(m_path), section, name);
  if (!text) return defaultValue;
  return ParseDword(*text).value_or(defaultValue);
}

bool SettingsStore::WriteConfigDword(const std::string& section, const std::string& name,
                                     std::uint32_t value) {
  return WriteValue(section, name, std::to_string(value));
}

std::string SettingsStore::ReadString(const std::string& section, const std::string& name,
                                      const std::string& defaultValue) const {
  return FindValue(LoadLines(m_path), section, name).value_or(defaultValue);
}

bool SettingsStore::WriteString(const std::string& section, const std::string& name,
                                const std::string& value) {
  return WriteValue(section, name, value);
}

bool SettingsStore::WriteValue(const std::string& section, const std::string& name,
                               const std::string& value) {
  std::string_view trimmedName = Trim(name);
  if (Trim(section).empty() || trimmedName.empty() || !IsSafeToken(section) || !IsSafeToken(name) ||
      !IsSafeToken(value) || section.find(']') != std::string::npos ||
      name.find('=') != std::string::npos || trimmedName.front() == '[' ||
      trimmedName.front() == ';' || trimmedName.front() == '#') {
    return false;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  const std::string target = ResolveTarget(m_path);
  if (!MakeDirectories(ParentDirectory(target))) return false;
  DirectoryLock directoryLock(ParentDirectory(target));

  // A file made read-only is left so: replacing it needs only the folder's write access.
  if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) return false;
  std::string content;
  // A file we cannot read in full is left alone: rewriting it would lose what we could not see.
  if (LoadFile(target, content) == LoadResult::kUnreadable) return false;
  IniLines ini = SplitLines(content);
  SetValue(ini, Trim(section), trimmedName, value);
  // A new file is not world-readable: it may come to hold the [Server] and [Remote] tokens.
  return ReplaceFileAtomically(target, JoinLines(ini), 0640, m_beforeReplace);
}

void SettingsStore::SetBeforeReplaceHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_beforeReplace = std::move(hook);
}

std::string SettingsStore::ReadProblem() const {
  std::string content, why;
  LoadFile(m_path, content, &why);
  return why;
}

std::string SettingsStore::PortDevicePath(const std::string& portName) const {
  if (!ComPortNumber(portName)) return {};
  // A settings file that is there but cannot be read now (no descriptor left, a changed mode)
  // may map the port elsewhere, and the default device may be another printer: none is opened.
  std::string content;
  if (LoadFile(m_path, content) == LoadResult::kUnreadable) return {};
  return DevicePathFrom(SplitLines(content), portName);
}

std::vector<std::string> SettingsStore::ExistingPorts() const {
  const IniLines ini = LoadLines(m_path);
  std::vector<std::string> ports;
  for (int number = 1; number <= kPortProbeCount; ++number) {
    std::string name = "COM" + std::to_string(number);
    std::string device = DevicePathFrom(ini, name);
    struct stat st {};
    if (!device.empty() && ::stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
      ports.push_back(name);
    }
  }
  return ports;
}

std::vector<std::string> SettingsStore::MappedPorts() const {
  std::vector<std::string> ports;
  bool inPorts = false;
  for (const std::string& line : LoadLines(m_path).lines) {
    if (auto header = SectionOf(line)) {
      inPorts = EqualsNoCase(*header, "Ports");
      continue;
    }
    const auto key = inPorts ? KeyOf(line) : std::nullopt;
    const auto number = key ? ComPortNumber(std::string(key->name)) : std::nullopt;
    if (!number) continue;
    std::string name = "COM" + std::to_string(*number);
    if (std::find(ports.begin(), ports.end(), name) == ports.end()) ports.push_back(name);
  }
  return ports;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& content,
                           unsigned newFileMode, const std::function<void()>& beforeReplace) {
  const std::string directory = ParentDirectory(path);
  if (!MakeDirectories(directory)) return false;

  struct stat old {};
  const bool existed = ::stat(path.c_str(), &old) == 0;

  std::string temp = path + ".tmpXXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteWhole(fd, content);
  if (ok) {
    ok = ::fchmod(fd, existed ? (old.st_mode & 07777) : static_cast<mode_t>(newFileMode)) == 0;
    // root rewriting a file of the service user must not take it away from that user; should
    // that fail, the file is still written, owned by root
    if (existed && ::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    }
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && beforeReplace) beforeReplace();
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  SyncDirectory(directory);
  return true;
}

bool MakeDirectories(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    std::string parent = path.substr(0, slash);
    if (!MakeDirectories(parent, mode)) return false;
  }
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) return true;
  // another process may have made it in the meantime
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string DefaultConfigPath(const std::string& commandLinePath) {
  if (!commandLinePath.empty()) return commandLinePath;
  if (const char* env = std::getenv("VEKTA_CONFIG"); env && env[0] != '\0') return env;
  if (::geteuid() == 0) return "/etc/vektamanager/vektamanager.ini";
  return XdgDirectory("XDG_CONFIG_HOME", ".config") + "/vektamanager/vektamanager.ini";
}

std::string DefaultLogDirectory(const SettingsStore& settings) {
  std::string configured = settings.ReadString("Server", "LogDir", "");
  if (!configured.empty()) return configured;
  const std::string fallback =
      ::geteuid() == 0 ? std::string("/var/log/vektamanager")
                       : XdgDirectory("XDG_STATE_HOME", ".local/state") + "/vektamanager/log";
  // The folder systemd made for the service (LogsDirectory=vektamanager): the packaged service
  // still has its journal where its settings, which name the folder, were deleted, and where
  // the page then wrote a settings file without the folder's name (the service user's home does
  // not exist). Not another unit's folder (a daemon started on demand inherits its starter's
  // environment), and not where a settings file exists and the usual folder too: an existing
  // journal stays where it is.
  if (const char* env = std::getenv("LOGS_DIRECTORY"); env && env[0] != '\0') {
    const std::string_view dirs = env;
    const std::string dir(dirs.substr(0, dirs.find(':')));
    struct stat st {};
    const bool noSettings = ::stat(settings.Path().c_str(), &st) != 0 && errno == ENOENT;
    if (dir.ends_with("/vektamanager") && (noSettings || ::stat(fallback.c_str(), &st) != 0)) {
      return dir;
    }
  }
  return fallback;
}

bool ReadSaveToLog(const SettingsStore& settings) {
  return settings.ReadConfigDword("CurrentConfig", "SaveToLog", 0) != 0;
}

std::uint32_t ReadKeepLogFiles(const SettingsStore& settings) {
  return KeepLogFilesDays(
      settings.ReadConfigDword("CurrentConfig", "KeepLogFiles", kDefaultKeepLogFiles));
}

}  // namespace vekta
