#include "link/status_table.h"
#include "platform/string_table.h"
#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

TEST(StatusTableTest, EveryWordMapsToItsMessageInOrder) {
  const std::vector<std::pair<std::string, int>> expected = {
      {"SOFTBLOCK", 2000},  {"SOFTNREP", 2001},   {"SOFTSYSLOCK", 2002}, {"SOFTCOMMAN", 2003},
      {"SOFTPROTOC", 2004}, {"SOFTZREPOR", 2005}, {"SOFTFMFULL", 2006},  {"SOFTTIMER", 2007},
      {"SOFTPARAM", 2008},  {"SOFTUPAS", 2009},   {"SOFTCHECK", 2010},   {"SOFTFACT", 2011},
      {"SOFTSLWORK", 2012}, {"SOFTSLPROG", 2013}, {"SOFTSLZREP", 2014},  {"SOFTSLNREP", 2015},
      {"SOFTREPL", 2016},   {"SOFTREGIST", 2017}, {"SOFTMONEY", 2018},   {"SOFTOVER", 2019},
      {"HARDPAPER", 2020},  {"HARDSENSOR", 2021}, {"HARDPOINT", 2022},   {"HARDTXD", 2023},
      {"HARDTIMER", 2024},  {"HARDMEMORY", 2025}, {"HARDLCD", 2039},     {"SHUTDOWN", 2040},
      {"SOFTNEED", 2026},   {"SOFTACTIVE", 2027}, {"SOFTFMTEST", 2028},  {"SOFTOPTEST", 2029},
      {"SOFT24HOUR", 2030}, {"SOFTDIFART", 2031}, {"SOFTBADART", 2032},  {"SOFTCOPY", 2033},
      {"SOFTOVART", 2034},  {"SOFTOVTRK", 2035},  {"SOFTBADDISC", 2036}, {"SOFFPOSNO", 2037},
      {"SOFTBADCS", 2041},  {"SOFTARTMODE", 2042}};
  ASSERT_EQ(kStatusTable.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(kStatusTable[i].word, expected[i].first) << i;
    EXPECT_EQ(kStatusTable[i].messageId, expected[i].second) << i;
    // Found inside a longer reply, and every message has its text.
    const StatusRow* row = FindStatusRow("xx" + expected[i].first + "yy");
    ASSERT_NE(row, nullptr) << expected[i].first;
    EXPECT_EQ(row->messageId, expected[i].second);
    EXPECT_FALSE(LoadString1251(expected[i].second).empty()) << expected[i].second;
    EXPECT_TRUE(IsErrorStatus(expected[i].first)) << expected[i].first;
  }
  // The earlier row wins, wherever the words stand in the reply.
  EXPECT_EQ(FindStatusRow("SOFTCHECK SOFTUPAS")->messageId, 2009);
  EXPECT_EQ(FindStatusRow("SOFTSLNREP")->messageId, 2015);  // not "SOFTNREP"
  EXPECT_EQ(FindStatusRow("SOFTUNKNOWN"), nullptr);
  EXPECT_EQ(FindStatusRow("READY"), nullptr);
  EXPECT_FALSE(IsErrorStatus("READY"));
  EXPECT_FALSE(IsErrorStatus("soft"));
}

TEST_F(LinkTest, ReportPrinterStatusSetsTheErrorShowsItAndLogsTwoLines) {
  MakeLink();
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFTUPAS SOFTCHECK"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2009));
  EXPECT_EQ(m_host.Calls(), (std::vector<std::string>{"top", "box:stop:" + Text(2009)}));

  // "HARDSENSOR" lets the command go on: no new text and no box with an old one.
  m_host.ClearCalls();
  EXPECT_TRUE(m_link->ReportPrinterStatus("HARDSENSOR"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2009));
  EXPECT_EQ(m_host.Calls(), std::vector<std::string>{"top"});

  m_host.ClearCalls();
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFTNEWWORD 12"));
  EXPECT_EQ(m_link->LastErrorText(), "SOFTNEWWORD 12");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"box:stop:SOFTNEWWORD 12"});

  m_host.ClearCalls();
  m_link->SetShowErrorMessages(false);
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFFPOSNO"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2037));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(m_link->Stats().ErrorStatuses().at("SOFTUPAS"), 1u);

  // The three styles, and nothing shown (Cancel) with error messages off.
  EXPECT_EQ(m_link->RaiseError(1004, MessageBoxStyle::kExclamationOk), MessageBoxResult::kCancel);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1004));
  m_link->SetShowErrorMessages(true);
  m_host.QueueMessageBoxAnswer(MessageBoxResult::kRetry);
  EXPECT_EQ(m_link->RaiseError(3012, MessageBoxStyle::kStopRetryCancel, "COM7"),
            MessageBoxResult::kRetry);
  EXPECT_EQ(m_link->RaiseError(1004, MessageBoxStyle::kExclamationOk), MessageBoxResult::kOk);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"box:retry:" + Text(3012) + "COM7",
                                               "box:excl:" + Text(1004)}));
}

}  // namespace
}  // namespace vekta
