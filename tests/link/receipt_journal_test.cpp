// The journal's writes are made in the background: what was asked for before a Flush, or before
// the journal is closed, must be on disk for the next reader, in the order it was asked for.
#include "link/receipt_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/files.h"

namespace vekta {
namespace {

TEST(ReceiptJournalTest, WritesAskedForAreOnDiskInOrderAfterFlushAndAfterClosing) {
  const TempDir temp;
  const std::string dir = temp.Path(), path = dir + "/log/receipts.sqlite";
  ASSERT_FALSE(dir.empty());
  {
    // A reader before there is a journal finds nothing and creates nothing.
    ReceiptJournal reader(path, true);
    EXPECT_TRUE(reader.Unsettled(1).empty());
    EXPECT_FALSE(std::filesystem::exists(dir + "/log"));
  }
  ReceiptJournal journal(path);
  ASSERT_TRUE(journal.IsOpen());
  const ReceiptJournal::Row first = journal.Opened(1, "AB12345678", "baseline-1");
  journal.Update(first, ReceiptJournal::kClosing, 1050, "");
  journal.Update(first, ReceiptJournal::kInDoubt, 1050, "", true);
  journal.Opened(2, "CD12345678", "");
  journal.Flush();

  ReceiptJournal reader(path, true);
  const auto left = reader.Unsettled(1);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].state, ReceiptJournal::kInDoubt);  // the last of the steps, not the first
  EXPECT_EQ(left[0].total, 1050);
  EXPECT_EQ(left[0].baseline, "baseline-1");
  EXPECT_EQ(reader.Unsettled(2).size(), 1u);

  // Steps still queued when the journal closes are written, not dropped.
  {
    ReceiptJournal last(path);
    const ReceiptJournal::Row row = last.Opened(3, "EF12345678", "b");
    last.Update(row, ReceiptJournal::kClosed, 700, "figures", true);
    // A later, unremarkable step leaves it on the list.
    last.Update(row, ReceiptJournal::kClosed, 700, "figures", false);
  }
  const auto settled = reader.Settled(10);
  ASSERT_EQ(settled.size(), 2u);
  EXPECT_EQ(settled[0].port, 3);
  EXPECT_EQ(settled[0].state, ReceiptJournal::kClosed);
  EXPECT_EQ(settled[0].note, "figures");
  EXPECT_TRUE(reader.Unsettled(3).empty());
}

}  // namespace
}  // namespace vekta
