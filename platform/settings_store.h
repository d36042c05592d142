#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vekta {

// The INI settings file. Sections used: [CurrentConfig] (SaveToLog, KeepLogFiles), [Ports]
// (COM3=/dev/ttyUSB0), [Server], [Remote]. Reads re-read the file, so a value written by the
// options page reaches the next link created; a missing or malformed file or value gives the
// caller's default. Writes are atomic (temp file, fsync, rename) and keep every other line.
class SettingsStore {
 public:
  explicit SettingsStore(std::string path);

  const std::string& Path() const { return m_path; }
  // Why the file is there but cannot be read (its mode, a directory, its size); empty when it
  // can be read, or is missing and so stands for the defaults.
  std::string ReadProblem() const;

  // The stored number, or `defaultValue` when the value is missing or not a number in the
  // unsigned 32-bit range.
  std::uint32_t ReadConfigDword(const std::string& section, const std::string& name,
                                std::uint32_t defaultValue) const;
  bool WriteConfigDword(const std::string& section, const std::string& name, std::uint32_t value);

  std::string ReadString(const std::string& section, const std::string& name,
                         const std::string& defaultValue) const;
  bool WriteString(const std::string& section, const std::string& name, const std::string& value);

  // Device path of "COMn": [Ports] COMn=PATH, else /dev/ttyS<n-1>. Empty for a name that is
  // not "COM" followed by a number from 1 on.
  std::string PortDevicePath(const std::string& portName) const;
  // The COM names 1 to 24 whose mapped device exists and is a character device (not opened).
  std::vector<std::string> ExistingPorts() const;
  // The COM names that [Ports] maps, in the file's order, whether their devices exist or not.
  std::vector<std::string> MappedPorts() const;

  // Runs inside every write once the new contents sit complete and synced in the temporary
  // file, just before it replaces the settings file: a test ends the process there to show
  // that an interrupted write leaves the old file whole.
  void SetBeforeReplaceHook(std::function<void()> hook);

 private:
  bool WriteValue(const std::string& section, const std::string& name, const std::string& value);

  std::string m_path;
  mutable std::mutex m_mutex;             // serialises writers of this process
  std::function<void()> m_beforeReplace;  // guarded by m_mutex
};

// Replaces the file at `path` with `content` so that a reader sees either the old or the new
// file, never a part: temporary file in the same directory, fsync, rename, fsync of the
// directory. Creates missing directories; keeps the mode of a file it replaces (new files
// get `newFileMode`). `beforeReplace` runs after the temporary file is synced.
bool ReplaceFileAtomically(const std::string& path, const std::string& content,
                           unsigned newFileMode = 0644,
                           const std::function<void()>& beforeReplace = {});
// Creates the directory and its missing parents (like mkdir -p). True when it exists after.
bool MakeDirectories(const std::string& path, unsigned mode = 0755);

// --config PATH, else $VEKTA_CONFIG, else /etc/vektamanager/vektamanager.ini for root and
// $XDG_CONFIG_HOME/vektamanager/vektamanager.ini (default ~/.config/...) for others.
std::string DefaultConfigPath(const std::string& commandLinePath = "");
// [Server] LogDir, else /var/log/vektamanager for root, $XDG_STATE_HOME/vektamanager/log
// (default ~/.local/state/...) for others.
std::string DefaultLogDirectory(const SettingsStore& settings);

// The link's reading of the two log settings: SaveToLog on when not 0 (default off);
// KeepLogFiles default 3, and 0 or anything above 4096 reads as 3. KeepLogFilesDays is that
// rule for a value read elsewhere (the link reads through its host).
constexpr std::uint32_t kDefaultKeepLogFiles = 3;
constexpr std::uint32_t kMaxKeepLogFiles = 4096;
constexpr std::uint32_t KeepLogFilesDays(std::uint32_t stored) {
  return stored == 0 || stored > kMaxKeepLogFiles ? kDefaultKeepLogFiles : stored;
}
bool ReadSaveToLog(const SettingsStore& settings);
std::uint32_t ReadKeepLogFiles(const SettingsStore& settings);

}  // namespace vekta
