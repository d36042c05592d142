#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

namespace fs = std::filesystem;

// 5 December 2026, 21:58:05 local time.
Clock::WallTime LogDay() {
  std::tm when{};
  ::strptime("12/05/26 21:58:05", "%D %T", &when);
  when.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&when));
}

class ProtocolLogTest : public ::testing::Test {
 protected:
  // The folder does not exist yet: the link makes it.
  ProtocolLogTest() : m_clock(LogDay()) {
    m_host.SetLogDirectory(m_dir);
    m_host.SetSetting("SaveToLog", 1);
  }
  std::unique_ptr<PrinterLink> Make(int port) {
    return std::make_unique<PrinterLink>(port, m_host, m_clock, LinkTimings::Short());
  }
  // Last written at `written`: by default long before the day the tests run on.
  void Touch(const std::string& name, std::time_t written = 0) {
    fs::create_directories(m_dir);
    std::ofstream(m_dir + "/" + name) << "x";
    const timeval times[2] = {{written, 0}, {written, 0}};
    ::utimes((m_dir + "/" + name).c_str(), times);
  }
  bool Exists(const std::string& name) const { return fs::exists(m_dir + "/" + name); }

  TempDir m_temp;
  const std::string m_dir = m_temp.Path() + "/logs";
  ScriptedLinkHost m_host;
  FakeClock m_clock;
};

TEST_F(ProtocolLogTest, OneFilePerPortAndDayWithStampedLinesThatStayWhole) {
  ::umask(022);
  auto link = Make(3);
  const std::string path = m_dir + "/VektaManager_3_20261205.log";
  EXPECT_EQ(link->LogFilePath(), path);
  EXPECT_EQ(fs::status(path).permissions(), static_cast<fs::perms>(0640));

  link->LogSent(std::string("KASS\t1\r\n2\v\x1B[2J\0\x7F\x98", 17));
  link->LogReceived("READY");
  link->LogReceived("");
  EXPECT_FALSE(link->ReportPrinterStatus("SOFTPARAM"));
  link.reset();
  const std::string start = LoadString1251(1000), stop = LoadString1251(1001);
  EXPECT_EQ(ReadWholeFile(path), "12/05/26 21:58:05;" + start +
                                     "\r\n"
                                     "12/05/26 21:58:05;>>> To Printer >>>KASS12??[2J???\r\n"
                                     "12/05/26 21:58:05;<< From Printer <<READY\r\n"
                                     "12/05/26 21:58:05;ERROR: SOFTPARAM\r\n"
                                     "12/05/26 21:58:05;ERROR: " +
                                     LoadString1251(2008) + "\r\n12/05/26 21:58:05;" + stop +
                                     "\r\n");

  // The same port again that day appends; another port has its own file.
  Make(3).reset();
  Make(12).reset();
  const std::string again = ReadWholeFile(path);
  EXPECT_EQ(again.rfind(";" + start + "\r\n"), again.find(stop + "\r\n") + stop.size() + 19);
  EXPECT_TRUE(Exists("VektaManager_12_20261205.log"));

  // Lines stay whole when both threads write.
  link = Make(4);
  const std::string sent(40, 'S'), received(40, 'R');
  std::thread other([&] {
    for (int i = 0; i < 10000; ++i) link->LogReceived(received);
  });
  for (int i = 0; i < 10000; ++i) link->LogSent(sent);
  other.join();
  std::istringstream lines(ReadWholeFile(link->LogFilePath()));
  const std::regex whole(
      R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d;(>>> To Printer >>>S{40}|<< From Printer <<R{40})\r)");
  int wholeLines = 0, others = 0;
  for (std::string line; std::getline(lines, line);)
    ++(std::regex_match(line, whole) ? wholeLines : others);
  EXPECT_EQ(wholeLines, 20000);
  EXPECT_EQ(others, 1);  // the start line
}

TEST_F(ProtocolLogTest, OldFilesArePurgedByAgeAndAnUnwritableLogIsOnlyReported) {
  // Kept: 3 days old, no such day, not a date, another port, not a log, a copy someone made.
  const std::vector<std::pair<std::string, bool>> files = {
      {"VektaManager_3_20261202.log", true},  {"VektaManager_3_20261201.log", false},
      {"VektaManager_3_20250101.log", false}, {"VektaManager_3_20261131.log", true},
      {"VektaManager_3_2026x201.log", true},  {"VektaManager_31_20250101.log", true},
      {"VektaManager_3_20250101.txt", true},  {"VektaManager_3_20250101-copy.log", true},
  };
  for (const std::uint32_t keep : {0u, 5000u, 3u}) {
    for (const auto& file : files) Touch(file.first);
    m_host.SetSetting("SaveToLog", 0);
    m_host.SetSetting("KeepLogFiles", keep);
    auto link = Make(3);
    EXPECT_EQ(link->KeepLogFiles(), 3);
    EXPECT_FALSE(link->SaveToLog());
    EXPECT_EQ(link->LogFilePath(), "");
    EXPECT_FALSE(Exists("VektaManager_3_20261205.log"));
    for (const auto& [name, kept] : files) EXPECT_EQ(Exists(name), kept) << name << " " << keep;
  }
  m_host.SetSetting("KeepLogFiles", 1);
  // Named for a day long gone but written to yesterday (its link lived that long): kept.
  Touch(files[1].first, std::chrono::system_clock::to_time_t(LogDay()) - 86400);
  Make(3);
  EXPECT_FALSE(Exists(files[0].first));
  EXPECT_TRUE(Exists(files[1].first));

  // An unwritable directory or disk means no log and no error, but is reported.
  m_host.SetSetting("SaveToLog", 1);
  Touch("plain_file");
  m_host.SetLogDirectory(m_dir + "/plain_file/logs");
  auto link = Make(3);
  EXPECT_EQ(link->LogFilePath(), "");
  link->LogSent("KASS");
  EXPECT_EQ(link->LastErrorText(), "");
  EXPECT_TRUE(m_host.Calls().empty());
  const auto logProblems = [&] {
    std::vector<std::string> found = m_host.PortProblems();
    std::erase_if(found, [](const std::string& text) {
      return text.find("protocol log") == std::string::npos;
    });
    return found;
  };
  ASSERT_EQ(logProblems().size(), 1u);
  EXPECT_NE(logProblems()[0].find("plain_file/logs/VektaManager_3_"), std::string::npos);

  // A full disk: the first of the lines that fail is reported.
  m_host.SetLogDirectory(m_dir);
  const std::string path = Make(4)->LogFilePath();
  ASSERT_NE(path, "");
  fs::remove(path);
  ASSERT_EQ(::symlink("/dev/full", path.c_str()), 0);
  link = Make(4);
  link->LogSent("KASS");
  link->LogSent("KASS");
  ASSERT_EQ(logProblems().size(), 2u);
  EXPECT_NE(logProblems()[1].find("No space left on device"), std::string::npos);

  m_host.SetLogDirectory("");
  EXPECT_EQ(Make(3)->LogFilePath(), "");
}

}  // namespace
}  // namespace vekta
