#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/files.h"

namespace vekta {
namespace {

namespace fs = std::filesystem;

class SettingsStoreTest : public ::testing::Test {
 protected:
  void WriteFile(const std::string& content) { std::ofstream(m_path, std::ios::binary) << content; }
  std::string ReadFile() const { return ReadWholeFile(m_path); }

  TempDir m_temp;
  const std::string m_dir = m_temp.Path();
  const std::string m_path = m_dir + "/vektamanager.ini";
};

TEST_F(SettingsStoreTest, MissingOrMalformedSettingsGiveDefaultsAndLogSettingsKeepTheirRanges) {
  SettingsStore store(m_path);
  EXPECT_FALSE(ReadSaveToLog(store));
  EXPECT_EQ(ReadKeepLogFiles(store), 3u);
  EXPECT_EQ(store.ReadConfigDword("CurrentConfig", "KeepLogFiles", 77), 77u);
  EXPECT_EQ(store.ReadString("Server", "Listen", "127.0.0.1:8460"), "127.0.0.1:8460");
  // Reading creates nothing.
  EXPECT_FALSE(fs::exists(m_path));

  WriteFile(std::string("\x00\xFF\xFE garbage\n[[[\n=5\n", 19));
  EXPECT_EQ(ReadKeepLogFiles(store), 3u);
  EXPECT_FALSE(ReadSaveToLog(store));

  using Case = std::pair<const char*, std::uint32_t>;
  const Case values[] = {
      {"abc", 9},   {"-1", 9},    {"4294967296", 9}, {"", 9},
      {"12abc", 9}, {"1 2", 9},   {"+5", 9},         {"0x", 9},
      {"  7  ", 7}, {"0x10", 16}, {"0", 0},          {"4294967295", 4294967295u},
  };
  for (const auto& [text, expected] : values) {
    WriteFile(std::string("[CurrentConfig]\nValue=") + text + "\n");
    EXPECT_EQ(store.ReadConfigDword("CurrentConfig", "Value", 9), expected) << text;
  }
  for (const auto& [text, expected] :
       {Case{"0", 3}, {"1", 1}, {"2", 2}, {"4096", 4096}, {"4097", 3}, {"5000", 3}}) {
    WriteFile(std::string("[CurrentConfig]\nKeepLogFiles=") + text + "\n");
    EXPECT_EQ(ReadKeepLogFiles(store), expected) << text;
  }
  // Any value but 0 turns logging on; names and sections compare without case; another
  // section's value does not count.
  WriteFile("[currentconfig]\nsavetolog=5\n[Other]\nKeepLogFiles=9\n");
  EXPECT_TRUE(ReadSaveToLog(store));
  EXPECT_EQ(ReadKeepLogFiles(store), 3u);

  // A byte order mark before the first section: it counts, and a write changes it in place.
  WriteFile("\xEF\xBB\xBF[CurrentConfig]\r\nSaveToLog=1\r\n");
  EXPECT_TRUE(ReadSaveToLog(store));
  ASSERT_TRUE(store.WriteConfigDword("CurrentConfig", "SaveToLog", 0));
  EXPECT_EQ(ReadFile(), "\xEF\xBB\xBF[CurrentConfig]\r\nSaveToLog=0\r\n");
  EXPECT_FALSE(ReadSaveToLog(store));

  // A directory where the file should be: defaults, and a write does not destroy it.
  fs::remove(m_path);
  fs::create_directory(m_path);
  EXPECT_EQ(ReadKeepLogFiles(store), 3u);
  EXPECT_FALSE(store.WriteConfigDword("CurrentConfig", "KeepLogFiles", 5));
  EXPECT_TRUE(fs::is_directory(m_path));

  // UTF-16 from a Windows editor is refused, not read as an empty file and appended to.
  fs::remove(m_path);
  const std::string utf16("\xFF\xFE[\0P\0o\0r\0t\0s\0]\0\n\0C\0O\0M\0\x33\0=\0/\0x\0", 32);
  WriteFile(utf16);
  EXPECT_NE(store.ReadProblem().find("UTF-16"), std::string::npos);
  EXPECT_EQ(store.PortDevicePath("COM3"), "");
  EXPECT_FALSE(store.WriteConfigDword("CurrentConfig", "KeepLogFiles", 5));
  EXPECT_EQ(ReadFile(), utf16);
}

TEST_F(SettingsStoreTest, WriteChangesOnlyItsValue) {
  const std::string head =
      "; settings of the printer service\n[Server]\nListen = 127.0.0.1:8460\n"
      "this line is not ours\n\n[CurrentConfig]\r\n";
  WriteFile(head + "  SaveToLog = 0\r\n# kept comment\n\n[Ports]\nCOM3=/dev/ttyUSB0");
  ::chmod(m_path.c_str(), 0600);
  SettingsStore store(m_path);

  ASSERT_TRUE(store.WriteConfigDword("CurrentConfig", "SaveToLog", 1));
  ASSERT_TRUE(store.WriteConfigDword("CurrentConfig", "KeepLogFiles", 10));
  ASSERT_TRUE(store.WriteString("Remote", "Token", "secret value"));
  ASSERT_TRUE(store.WriteString("Ports", "COM4", "/dev/ttyUSB1"));
  // The value after "=" is replaced; a new name goes behind its section's last entry, a new
  // section at the end.
  EXPECT_EQ(ReadFile(),
            head +
                "  SaveToLog =1\r\n# kept comment\nKeepLogFiles=10\n\n"
                "[Ports]\nCOM3=/dev/ttyUSB0\nCOM4=/dev/ttyUSB1\n\n[Remote]\nToken=secret value\n");
  EXPECT_EQ(fs::status(m_path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(store.ReadString("Remote", "Token", ""), "secret value");

  // What would break the file's lines is refused and changes nothing.
  const std::string after = ReadFile();
  EXPECT_FALSE(store.WriteString("Server", "Listen", "1.2.3.4:1\n[Ports]\nCOM1=/dev/mem"));
  EXPECT_FALSE(store.WriteString("Server", "A=B", "x"));
  EXPECT_FALSE(store.WriteString("Se]rver", "A", "x"));
  EXPECT_FALSE(store.WriteString("", "A", "x"));
  // Nor is a file its owner made read-only rewritten (root may write any file).
  if (::geteuid() != 0) {
    fs::permissions(m_path, fs::perms::owner_read);
    EXPECT_FALSE(store.WriteString("Server", "Workers", "2"));
    fs::permissions(m_path, fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(ReadFile(), after);

  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);

  // A write creates the file and its missing directories.
  SettingsStore fresh(m_dir + "/a/b/vektamanager.ini");
  ASSERT_TRUE(fresh.WriteConfigDword("CurrentConfig", "KeepLogFiles", 7));
  EXPECT_EQ(ReadKeepLogFiles(fresh), 7u);
  EXPECT_EQ(fs::status(m_dir + "/a/b/vektamanager.ini").permissions() & fs::perms::others_all,
            fs::perms::none);
}

TEST_F(SettingsStoreTest, InterruptedWriteLeavesTheOldFileWhole) {
  const std::string before = "[CurrentConfig]\nSaveToLog=1\nKeepLogFiles=20\n[Server]\nWorkers=8\n";
  WriteFile(before);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SettingsStore store(m_path);
    store.SetBeforeReplaceHook([] { ::_exit(42); });
    store.WriteConfigDword("CurrentConfig", "KeepLogFiles", 99);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << "the writer did not replace";

  EXPECT_EQ(ReadFile(), before);
  SettingsStore store(m_path);
  EXPECT_EQ(ReadKeepLogFiles(store), 20u);
  EXPECT_TRUE(ReadSaveToLog(store));

  // The next write goes through in spite of the leftover temporary file.
  ASSERT_TRUE(store.WriteConfigDword("CurrentConfig", "KeepLogFiles", 21));
  EXPECT_EQ(ReadKeepLogFiles(store), 21u);
  EXPECT_EQ(store.ReadConfigDword("Server", "Workers", 0), 8u);
}

TEST_F(SettingsStoreTest, PortNamesMapOnlyToConfiguredOrSerialDevices) {
  const std::string regular = m_dir + "/plain-file";
  WriteFile("");
  fs::copy_file(m_path, regular);
  fs::create_symlink("/dev/null", m_dir + "/printer-link");
  std::string ports = "[Ports]\nCOM1=/dev/null\nCOM2=" + regular + "\nCOM3=" + m_dir +
                      "/printer-link\nCOM5=ttyUSB1\ncom7 = /dev/ttyUSB7\n";
  for (int n = 8; n <= 24; ++n) ports += "COM" + std::to_string(n) + "=/nonexistent/tty\n";
  ports += "COM4=/nonexistent/tty\nCOM6=/nonexistent/tty\n";
  WriteFile(ports);
  SettingsStore store(m_path);

  EXPECT_EQ(store.PortDevicePath("COM1"), "/dev/null");
  EXPECT_EQ(store.PortDevicePath("COM7"), "/dev/ttyUSB7");
  EXPECT_EQ(store.PortDevicePath("COM25"), "/dev/ttyS24");
  EXPECT_EQ(store.PortDevicePath("COM5"), "") << "a relative mapping opens nothing";
  for (const char* bad : {"COM0", "COM", "LPT1", "COM3x", "COM03", "COM-1", "COM+2", " COM1",
                          "/dev/ttyS0", "COM99999999999", "COM1\n"}) {
    EXPECT_EQ(store.PortDevicePath(bad), "") << bad;
  }
  EXPECT_EQ(store.ExistingPorts(), (std::vector<std::string>{"COM1", "COM3"}));
  // What the start-up line names: every mapping, there or not, past COM24 too.
  std::ofstream(m_path, std::ios::app) << "COM130=/nonexistent/tty\nCOM03=/dev/null\n";
  EXPECT_EQ(store.MappedPorts().size(), 25u);
  EXPECT_EQ(store.MappedPorts().back(), "COM130");

  // Without a settings file the default device; with one that cannot be read, none: it may map
  // the port elsewhere, and the default device may be another printer.
  fs::remove(m_path);
  EXPECT_EQ(store.PortDevicePath("COM1"), "/dev/ttyS0");
  fs::create_directory(m_path);
  EXPECT_EQ(store.PortDevicePath("COM1"), "");
}

TEST(SettingsPathsTest, ConfigAndLogLocations) {
  static constexpr const char* kSaved[] = {"VEKTA_CONFIG", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                           "HOME", "LOGS_DIRECTORY"};
  // The environment comes back however the test ends, for the tests after it.
  struct Restore {
    std::vector<std::pair<std::string, std::string>> values;
    ~Restore() {
      for (const char* name : kSaved) ::unsetenv(name);
      for (const auto& [name, value] : values) ::setenv(name.c_str(), value.c_str(), 1);
    }
  } restore;
  for (const char* name : kSaved) {
    if (const char* value = std::getenv(name)) restore.values.emplace_back(name, value);
    ::unsetenv(name);
  }
  const bool root = ::geteuid() == 0;

  ::setenv("HOME", "/home/cashier", 1);
  EXPECT_EQ(DefaultConfigPath("/opt/v.ini"), "/opt/v.ini");
  EXPECT_EQ(DefaultConfigPath(), root ? "/etc/vektamanager/vektamanager.ini"
                                      : "/home/cashier/.config/vektamanager/vektamanager.ini");
  ::setenv("XDG_CONFIG_HOME", "/xdg/config", 1);
  ::setenv("XDG_STATE_HOME", "relative/ignored", 1);
  if (!root) {
    EXPECT_EQ(DefaultConfigPath(), "/xdg/config/vektamanager/vektamanager.ini");
  }
  ::setenv("VEKTA_CONFIG", "/env/v.ini", 1);
  EXPECT_EQ(DefaultConfigPath(), "/env/v.ini");
  EXPECT_EQ(DefaultConfigPath("/opt/v.ini"), "/opt/v.ini");

  SettingsStore none("/nonexistent/vektamanager.ini");
  EXPECT_EQ(DefaultLogDirectory(none),
            root ? "/var/log/vektamanager" : "/home/cashier/.local/state/vektamanager/log");

  const TempDir temp;
  SettingsStore configured(temp.Path() + "/v.ini");
  ASSERT_TRUE(configured.WriteString("Server", "LogDir", "/srv/logs"));
  EXPECT_EQ(DefaultLogDirectory(configured), "/srv/logs");
  // Under the packaged unit with its settings deleted, or rewritten without the folder: the
  // folder systemd made for it; not another unit's (inherited by a daemon started on demand),
  // nor where settings exist and so does the usual folder.
  const std::string fallback = DefaultLogDirectory(none);
  ::setenv("LOGS_DIRECTORY", "/run/logs/vektamanager:/run/logs/other", 1);
  EXPECT_EQ(DefaultLogDirectory(none), "/run/logs/vektamanager");
  EXPECT_EQ(DefaultLogDirectory(configured), "/srv/logs");
  // (Root's usual folder is this machine's own, there or not.)
  SettingsStore withoutLogDir(temp.Write("w.ini", "[CurrentConfig]\nSaveToLog=1\n"));
  EXPECT_EQ(DefaultLogDirectory(withoutLogDir),
            std::filesystem::exists(fallback) ? fallback : "/run/logs/vektamanager");
  if (!root) {
    ::setenv("XDG_STATE_HOME", temp.Path().c_str(), 1);
    std::filesystem::create_directories(temp.Path() + "/vektamanager/log");
    EXPECT_EQ(DefaultLogDirectory(withoutLogDir), temp.Path() + "/vektamanager/log");
    ::setenv("XDG_STATE_HOME", "relative/ignored", 1);
  }
  ::setenv("LOGS_DIRECTORY", "/var/log/pos", 1);
  EXPECT_EQ(DefaultLogDirectory(none), fallback);
}

}  // namespace
}  // namespace vekta
