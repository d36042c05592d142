// The journal's writes are made in the background: what was asked for before a Flush, or before
// the journal is closed, must be on disk for the next reader, in the order it was asked for.
#include "link/receipt_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"

namespace vekta {
namespace {

TEST(ReceiptJournalTest, WritesAreOnDiskInOrderAfterFlushAndClosingAndOldJournalsAreRead) {
  const TempDir temp;
  const std::string dir = temp.Path(), path = dir + "/log/receipts.sqlite";
  {
    // A reader before there is a journal finds nothing and creates nothing.
    ReceiptJournal reader(path, true);
    EXPECT_TRUE(reader.Unsettled(1).value().empty());
    EXPECT_FALSE(std::filesystem::exists(dir + "/log"));
    // One there that cannot be opened is no empty journal.
    std::filesystem::create_directories(dir + "/other/receipts.sqlite");
    EXPECT_FALSE(ReceiptJournal(dir + "/other/receipts.sqlite", true).Settled(5));
  }
  const mode_t umask = ::umask(022);
  ReceiptJournal journal(path);
  ASSERT_TRUE(journal.IsOpen());
  const ReceiptJournal::Row first = journal.Opened(1, "AB12345678", "baseline-1");
  journal.Update(first, ReceiptJournal::kClosing, 1050, "");
  journal.Update(first, ReceiptJournal::kInDoubt, 1050, "", true);
  journal.Opened(2, "CD12345678", "");
  journal.Flush();
  // Readable by the service's group only, as the protocol logs are.
  for (const char* file : {"", "-wal", "-shm"}) {
    EXPECT_EQ(std::filesystem::status(path + file).permissions(),
              static_cast<std::filesystem::perms>(0640))
        << file;
  }
  ::umask(umask);

  ReceiptJournal reader(path, true);
  const auto left = reader.Unsettled(1).value();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].state, ReceiptJournal::kInDoubt);  // the last of the steps, not the first
  EXPECT_EQ(left[0].total, 1050);
  EXPECT_EQ(left[0].baseline, "baseline-1");
  EXPECT_EQ(reader.Unsettled(2).value().size(), 1u);

  // Another port's link opening the journal leaves this process's hold on it as it was: another
  // process (an operator's sqlite3, a second server) must still see it.
  {
    ReceiptJournal another(path);
    const pid_t child = ::fork();
    if (child == 0) {
      struct flock shared = {};
      shared.l_type = F_WRLCK;
      shared.l_whence = SEEK_SET;
      shared.l_start = 0x40000002;  // where SQLite's readers lock the file
      shared.l_len = 510;
      const int fd = ::open(path.c_str(), O_RDONLY);
      ::_exit(fd >= 0 && ::fcntl(fd, F_GETLK, &shared) == 0 && shared.l_type == F_RDLCK ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "the readers' lock was dropped";
  }

  // Steps still queued when the journal closes are written, not dropped.
  {
    ReceiptJournal last(path);
    const ReceiptJournal::Row row = last.Opened(3, "EF12345678", "b");
    last.Update(row, ReceiptJournal::kClosed, 700, "figures", true);
    // A later, unremarkable step leaves it on the list.
    last.Update(row, ReceiptJournal::kClosed, 700, "figures", false);
  }
  const auto settled = reader.Settled(10).value();
  ASSERT_EQ(settled.size(), 2u);
  EXPECT_EQ(settled[0].port, 3);
  EXPECT_EQ(settled[0].state, ReceiptJournal::kClosed);
  EXPECT_EQ(settled[0].note, "figures");
  EXPECT_TRUE(reader.Unsettled(3).value().empty());

  // A journal written before rows were marked with their server's run is taken as it is: its
  // rows are an earlier run's, and a printer finds its own on any port.
  const std::string oldPath = dir + "/old.sqlite";
  sqlite3* old = nullptr;
  ASSERT_EQ(sqlite3_open(oldPath.c_str(), &old), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(old,
                         "CREATE TABLE receipts (id INTEGER PRIMARY KEY AUTOINCREMENT, port "
                         "INTEGER NOT NULL, serial TEXT NOT NULL, state TEXT NOT NULL, total "
                         "INTEGER NOT NULL DEFAULT 0, note TEXT NOT NULL DEFAULT '', settled "
                         "INTEGER NOT NULL DEFAULT 0, baseline TEXT NOT NULL DEFAULT '', opened "
                         "TEXT NOT NULL DEFAULT '', updated TEXT NOT NULL DEFAULT '');"
                         "INSERT INTO receipts (port, serial, state) VALUES (2, 'AB12345678', "
                         "'open');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(old);

  ReceiptJournal upgraded(oldPath);
  ASSERT_TRUE(upgraded.IsOpen());
  upgraded.Opened(3, "AB12345678", "");  // this run's, on a port of its own
  const auto earlier = upgraded.Unsettled(1, "AB12345678").value();
  ASSERT_EQ(earlier.size(), 1u);
  EXPECT_EQ(earlier[0].port, 2);
  EXPECT_EQ(upgraded.Unsettled(3, "AB12345678").value().size(), 2u);
}

// The receipts list reads the journal while the first link in its folder may be making it: every
// read of a journal on its way is an empty list, none is a journal that cannot be read.
TEST(ReceiptJournalTest, AJournalBeingMadeReadsAsEmptyNeverAsUnreadable) {
  const TempDir temp;
  std::atomic<int> made{0};
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, failed{0};
  const auto pathOf = [&](int n) { return temp.Path() + "/" + std::to_string(n) + "/j.sqlite"; };
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      while (!done) {
        if (!ReceiptJournal(pathOf(made), true, [&](const std::string&) { ++failed; }).Settled(5)) {
          ++failed;
        }
        ++reads;
      }
    });
  }
  for (int n = 1; n <= 60; ++n) {
    made = n;  // read from now on, made just after
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    ReceiptJournal(pathOf(n)).Flush();
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_GT(reads, 60);
  EXPECT_EQ(failed, 0);
}

// Links opened at once on a new log folder all keep the journal: none is left without it.
TEST(ReceiptJournalTest, LinksMakingTheJournalAtOnceAllKeepIt) {
  const TempDir temp;
  int without = 0;
  for (int n = 0; n < 50 && without == 0; ++n) {
    const std::string path = temp.Path() + "/" + std::to_string(n) + "/j.sqlite";
    std::atomic<int> closed{0};
    std::vector<std::thread> links;
    for (int i = 0; i < 4; ++i) {
      links.emplace_back([&] { closed += ReceiptJournal(path).IsOpen() ? 0 : 1; });
    }
    for (std::thread& link : links) link.join();
    without += closed;
  }
  EXPECT_EQ(without, 0);
}

}  // namespace
}  // namespace vekta
