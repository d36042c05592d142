#include "link/status_table.h"

#include <set>

#include "platform/string_table.h"
#include "tests/link/link_fixture.h"

namespace vekta {
namespace {

TEST_F(LinkTest, EveryStatusWordIsFoundInAReplyAndReportedWithItsOwnMessageText) {
  std::set<int> messages;
  for (const StatusRow& status : kStatusTable) {
    const std::string word(status.word);
    // Found inside a longer reply, unless an earlier row's word is part of it.
    const StatusRow* row = FindStatusRow("xx" + word + "yy");
    ASSERT_NE(row, nullptr) << word;
    EXPECT_LE(row, &status) << word;
    EXPECT_TRUE(IsErrorStatus(word)) << word;
    EXPECT_FALSE(LoadString1251(status.messageId).empty()) << status.messageId;
    EXPECT_TRUE(messages.insert(status.messageId).second) << "two words share " << status.messageId;
  }
  // The earlier row wins, wherever the words stand in the reply.
  EXPECT_EQ(FindStatusRow("SOFTCHECK SOFTUPAS")->messageId, 2009);
  EXPECT_EQ(FindStatusRow("SOFTSLNREP")->messageId, 2015);  // not "SOFTNREP"
  EXPECT_EQ(FindStatusRow("SOFTUNKNOWN"), nullptr);
  EXPECT_EQ(FindStatusRow("READY"), nullptr);
  EXPECT_FALSE(IsErrorStatus("READY"));
  EXPECT_FALSE(IsErrorStatus("soft"));

  // The link sets the error and shows it (the two log lines: ProtocolLogTest).
  MakeLink();
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFTUPAS SOFTCHECK"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2009));
  EXPECT_EQ(m_host.Calls(), (Texts{"top", "box:stop:" + Text(2009)}));

  // "HARDSENSOR" lets the command go on: no new text and no box with an old one.
  m_host.ClearCalls();
  EXPECT_TRUE(m_link->ReportPrinterStatus("HARDSENSOR"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2009));
  EXPECT_EQ(m_host.Calls(), Texts{"top"});

  m_host.ClearCalls();
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFTNEWWORD 12"));
  EXPECT_EQ(m_link->LastErrorText(), "SOFTNEWWORD 12");
  EXPECT_EQ(Boxes(), Texts{"box:stop:SOFTNEWWORD 12"});

  m_host.ClearCalls();
  m_link->SetShowErrorMessages(false);
  EXPECT_FALSE(m_link->ReportPrinterStatus("SOFFPOSNO"));
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(2037));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(m_link->Stats().ErrorStatuses().at("SOFTUPAS"), 1u);
}

}  // namespace
}  // namespace vekta
