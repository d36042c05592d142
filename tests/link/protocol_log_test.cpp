#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "platform/string_table.h"
#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

namespace fs = std::filesystem;

Clock::WallTime LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm when{};
  when.tm_year = year - 1900;
  when.tm_mon = month - 1;
  when.tm_mday = day;
  when.tm_hour = hour;
  when.tm_min = minute;
  when.tm_sec = second;
  when.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&when));
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

class ProtocolLogTest : public ::testing::Test {
 protected:
  ProtocolLogTest() : m_clock(LocalTime(2026, 12, 5, 21, 58, 5)) {
    m_dir = ::testing::TempDir() + "/protocol_log_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(m_dir);
    m_host.SetLogDirectory(m_dir);
    m_host.SetSetting("SaveToLog", 1);
  }
  std::unique_ptr<PrinterLink> Make(int port) {
    return std::make_unique<PrinterLink>(port, m_host, m_clock, LinkTimings::Short());
  }
  void Touch(const std::string& name) {
    fs::create_directories(m_dir);
    std::ofstream(m_dir + "/" + name) << "x";
  }
  bool Exists(const std::string& name) const { return fs::exists(m_dir + "/" + name); }

  std::shared_ptr<FakeLine> m_line = std::make_shared<FakeLine>();
  ScriptedLinkHost m_host{m_line};
  FakeClock m_clock;
  std::string m_dir;
};

TEST_F(ProtocolLogTest, OneFilePerPortAndDayWithStampedLines) {
  ::umask(022);
  auto link = Make(3);
  const std::string path = m_dir + "/VektaManager_3_20261205.log";
  EXPECT_EQ(link->LogFilePath(), path);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);

  link->LogSent("KASS\t1\r\n2");
  link->LogReceived("READY");
  link->LogReceived("");
  EXPECT_FALSE(link->ReportPrinterStatus("SOFTPARAM"));
  link.reset();
  const std::string start = LoadString1251(1000), stop = LoadString1251(1001);
  EXPECT_EQ(ReadFile(path), "12/05/26 21:58:05;" + start +
                                "\r\n"
                                "12/05/26 21:58:05;>>> To Printer >>>KASS12\r\n"
                                "12/05/26 21:58:05;<< From Printer <<READY\r\n"
                                "12/05/26 21:58:05;ERROR: SOFTPARAM\r\n"
                                "12/05/26 21:58:05;ERROR: " +
                                LoadString1251(2008) + "\r\n12/05/26 21:58:05;" + stop + "\r\n");

  // The same port again that day appends; another port has its own file.
  Make(3).reset();
  Make(12).reset();
  const std::string again = ReadFile(path);
  EXPECT_EQ(again.rfind(";" + start + "\r\n"), again.find(stop + "\r\n") + stop.size() + 19);
  EXPECT_TRUE(Exists("VektaManager_12_20261205.log"));
}

TEST_F(ProtocolLogTest, OldFilesArePurgedByAgeEvenWithLoggingOff) {
  const std::vector<std::string> names = {
      "VektaManager_3_20261202.log",   // 3 days: kept
      "VektaManager_3_20261201.log",   // 4 days: deleted
      "VektaManager_3_20250101.log",   // deleted
      "VektaManager_3_20261131.log",   // no such day: left alone
      "VektaManager_3_2026x201.log",   // not a date: left alone
      "VektaManager_31_20250101.log",  // another port
      "VektaManager_3_20250101.txt",   // not a log
  };
  for (const std::uint32_t keep : {0u, 5000u, 3u}) {
    for (const std::string& name : names) Touch(name);
    m_host.SetSetting("SaveToLog", 0);
    m_host.SetSetting("KeepLogFiles", keep);
    auto link = Make(3);
    EXPECT_EQ(link->KeepLogFiles(), 3);
    EXPECT_FALSE(link->SaveToLog());
    EXPECT_EQ(link->LogFilePath(), "");
    EXPECT_FALSE(Exists("VektaManager_3_20261205.log"));
    EXPECT_TRUE(Exists(names[0])) << keep;
    EXPECT_FALSE(Exists(names[1])) << keep;
    EXPECT_FALSE(Exists(names[2])) << keep;
    EXPECT_TRUE(Exists(names[3]));
    EXPECT_TRUE(Exists(names[4]));
    EXPECT_TRUE(Exists(names[5]));
    EXPECT_TRUE(Exists(names[6]));
  }
  m_host.SetSetting("KeepLogFiles", 1);
  Make(3);
  EXPECT_FALSE(Exists(names[0]));
}

TEST_F(ProtocolLogTest, LinesStayWholeWhenBothThreadsWrite) {
  auto link = Make(4);
  const std::string sent(40, 'S'), received(40, 'R');
  std::thread other([&] {
    for (int i = 0; i < 10000; ++i) link->LogReceived(received);
  });
  for (int i = 0; i < 10000; ++i) link->LogSent(sent);
  other.join();
  const std::string path = link->LogFilePath();
  link.reset();
  std::istringstream lines(ReadFile(path));
  const std::regex whole(
      R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d;(>>> To Printer >>>S{40}|<< From Printer <<R{40})\r)");
  int count = 0, broken = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Printer") == std::string::npos) continue;  // start and stop lines
    ++count;
    if (!std::regex_match(line, whole)) ++broken;
  }
  EXPECT_EQ(count, 20000);
  EXPECT_EQ(broken, 0);
}

TEST_F(ProtocolLogTest, UnwritableDirectoryMeansNoLogAndNoError) {
  Touch("plain_file");
  m_host.SetLogDirectory(m_dir + "/plain_file/logs");
  auto link = Make(3);
  EXPECT_EQ(link->LogFilePath(), "");
  link->LogSent("KASS");
  EXPECT_EQ(link->LastErrorText(), "");
  EXPECT_TRUE(m_host.Calls().empty());

  m_host.SetLogDirectory("");
  EXPECT_EQ(Make(3)->LogFilePath(), "");
}

}  // namespace
}  // namespace vekta
