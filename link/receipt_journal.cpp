#include "link/receipt_journal.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <thread>

namespace vekta {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS receipts ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " port INTEGER NOT NULL,"
    " serial TEXT NOT NULL,"
    " state TEXT NOT NULL,"
    " total INTEGER NOT NULL DEFAULT 0,"
    " note TEXT NOT NULL DEFAULT '',"
    " settled INTEGER NOT NULL DEFAULT 0,"
    " baseline TEXT NOT NULL DEFAULT '',"
    " run TEXT NOT NULL DEFAULT '',"
    " opened TEXT NOT NULL DEFAULT (datetime('now', 'localtime')),"
    " updated TEXT NOT NULL DEFAULT (datetime('now', 'localtime')));"
    "CREATE INDEX IF NOT EXISTS receipts_port_state ON receipts (port, state);"
    "CREATE INDEX IF NOT EXISTS receipts_serial_state ON receipts (serial, state);";

// One prepared statement, finalized on every path.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return m_stmt != nullptr; }
  Statement& Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
  }
  Statement& Bind(int index, const std::string& text) {
    sqlite3_bind_text(m_stmt, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  bool Step() { return m_stmt != nullptr && (m_last = sqlite3_step(m_stmt)) == SQLITE_ROW; }
  bool Run() { return m_stmt != nullptr && sqlite3_step(m_stmt) == SQLITE_DONE; }
  // The rows were read to their end: no damaged page or busy file stopped the steps.
  bool Done() const { return m_last == SQLITE_DONE; }
  std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
  std::string Text(int column) const {
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_last = SQLITE_OK;
};

std::optional<std::vector<ReceiptJournal::Entry>> Entries(Statement& select) {
  std::vector<ReceiptJournal::Entry> entries;
  while (select.Step()) {
    entries.push_back({select.Int(0), static_cast<int>(select.Int(1)), select.Text(2),
                       select.Text(3), select.Int(4), select.Text(5), select.Text(6),
                       select.Text(7), select.Text(8)});
  }
  if (!select.Done()) return std::nullopt;
  return entries;
}

constexpr const char* kColumns = "id, port, serial, state, total, note, opened, updated, baseline";

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// This process, told apart from every other run on any boot: the boot, the pid and the start
// time since boot (a pid is used again, and a service may get the same one at each boot). Empty
// when they cannot be read.
std::string RunFromProc() {
  const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
  const std::string stat = FirstLine("/proc/self/stat");
  const std::size_t name = stat.rfind(')');
  if (boot.empty() || name == std::string::npos) return {};
  std::istringstream fields(stat.substr(name + 1));
  std::string field, started;
  int count = 2;
  while (count < 22 && fields >> field) {
    ++count;
    started = field;  // the 22nd field is the start time
  }
  if (count != 22) return {};
  return boot + ":" + std::to_string(::getpid()) + ":" + started;
}

// The same for every journal of this process. Where /proc does not tell (the packaged unit
// shows the service no /proc/sys), a random mark stands in: without one, no row would count as
// another run's, and a receipt left on another COM number would never be settled.
std::string ThisRun() {
  static const std::string run = [] {
    std::string mark = RunFromProc();
    if (!mark.empty()) return mark;
    std::random_device device;
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "random:%08x%08x%08x%08x", device(), device(), device(),
                  device());
    return std::string(buffer);
  }();
  return run;
}

// Journals written before rows were marked with their run: their rows are all of earlier runs.
bool HasRunColumn(sqlite3* db) {
  return Statement(db, "SELECT run FROM receipts LIMIT 0") ? true : false;
}

// The first link makes the file before its table: a reader in between finds an empty journal,
// which has nothing to read and is not damaged. Asked before any select: a table made after a
// select failed to find it would make that failure look like damage.
bool HasNoTable(sqlite3* db) {
  Statement count(db, "SELECT count(*) FROM sqlite_master WHERE name = 'receipts'");
  return count && count.Step() && count.Int(0) == 0;
}

// The journal's mode, table and run column, as a link finds or makes them: SQLITE_OK, or the
// code of the step that failed.
int MakeJournal(sqlite3* db) {
  int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr,
                        nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK && !HasRunColumn(db)) {
    rc = sqlite3_exec(db, "ALTER TABLE receipts ADD COLUMN run TEXT NOT NULL DEFAULT ''", nullptr,
                      nullptr, nullptr);
    if (rc != SQLITE_OK && HasRunColumn(db)) rc = SQLITE_OK;  // another link added it meanwhile
  }
  return rc;
}

}  // namespace

ReceiptJournal::ReceiptJournal(const std::string& path, bool readOnly, ProblemReport report,
                               std::string run)
    : m_path(path), m_report(std::move(report)), m_run(run.empty() ? ThisRun() : std::move(run)) {
  if (path.empty()) return;
  if (readOnly) {
    // No journal yet is nothing to read; one that cannot be opened is not "nothing left". Asked
    // before the open: the first link may make the file between a failed open and the question.
    std::error_code error;
    const bool there = std::filesystem::exists(path, error) || error;
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      m_unopened = there;
      if (m_unopened && m_report) {
        m_report("the receipt journal " + path + " cannot be opened (" +
                 (m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory") + ")");
      }
      sqlite3_close(m_db);
      m_db = nullptr;
    }
    // A link writing its receipt holds the file a moment: that is no journal that cannot be read.
    if (m_db != nullptr) sqlite3_busy_timeout(m_db, 2000);
    if (m_db != nullptr && HasNoTable(m_db)) {
      sqlite3_close(m_db);  // nothing yet, as with no file
      m_db = nullptr;
    }
    m_runColumn = m_db != nullptr && HasRunColumn(m_db);
    return;
  }
  // The journal is kept whether or not protocol logging is on, so its folder may not exist yet.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  // Without a journal a receipt left in doubt by a killed server cannot be settled: say so.
  const auto unusable = [&](const char* why) {
    if (m_report) {
      m_report("the receipt journal " + path + " cannot be used (" + why +
               "): receipts are not journalled");
    }
    sqlite3_close(m_db);
    m_db = nullptr;
  };
  // Made as the protocol logs are, for the service's group only: it holds the shop's receipts
  // (SQLite gives the -wal and -shm files the same mode). Only made: closing a descriptor of a
  // journal already there would drop every lock this process's connections hold on it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
  if (fd >= 0) ::close(fd);
  if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    unusable(m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory");
    return;
  }
  // Every commit is on disk before the writer takes the next: a server killed right after a
  // close was sent still finds the receipt in the journal. Several ports' links share the file.
  sqlite3_busy_timeout(m_db, 2000);
  // Links making a new journal at once can each hold what the other waits for: SQLite refuses
  // one of them at once rather than let both wait. That one tries again, within the time it
  // would have waited; a journal someone keeps locked has had its wait after the first try.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int rc = MakeJournal(m_db);
  while ((rc & 0xff) == SQLITE_BUSY && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    rc = MakeJournal(m_db);
  }
  if (rc != SQLITE_OK) {
    unusable(sqlite3_errstr(rc));
    return;
  }
  m_runColumn = true;
  m_writer = std::thread([this] { RunWriter(); });
}

ReceiptJournal::~ReceiptJournal() {
  if (m_writer.joinable()) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_changed.notify_all();
    m_writer.join();  // after the writes still queued
  }
  sqlite3_close(m_db);
}

void ReceiptJournal::Post(std::function<void()> task) {
  if (!m_writer.joinable()) {
    task();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::move(task));
    ++m_posted;
  }
  m_changed.notify_all();
}

void ReceiptJournal::RunWriter() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
    if (m_tasks.empty()) return;
    std::function<void()> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    lock.unlock();
    task();
    lock.lock();
    ++m_done;
    m_changed.notify_all();
  }
}

void ReceiptJournal::Flush() {
  std::unique_lock<std::mutex> lock(m_mutex);
  const std::uint64_t posted = m_posted;
  m_changed.wait(lock, [&] { return m_done >= posted; });
}

ReceiptJournal::Row ReceiptJournal::Opened(int port, const std::string& serial,
                                           const std::string& baseline) {
  auto row = std::make_shared<std::int64_t>(0);
  if (m_db == nullptr) return row;
  Post([this, row, port, serial, baseline] {
    Statement insert(
        m_db, "INSERT INTO receipts (port, serial, state, baseline, run) VALUES (?, ?, ?, ?, ?)");
    const bool ok = insert && insert.Bind(1, port)
                                  .Bind(2, serial)
                                  .Bind(3, std::string(kOpen))
                                  .Bind(4, baseline)
                                  .Bind(5, m_run)
                                  .Run();
    if (ok) *row = sqlite3_last_insert_rowid(m_db);
    Written(ok);
  });
  return row;
}

void ReceiptJournal::Update(const Row& row, const char* state, std::int64_t total,
                            const std::string& note, bool remarkable) {
  if (m_db == nullptr || !row) return;
  // The row's id is read on the writer, after the insert that sets it.
  Post([this, row, state = std::string(state), total, note, remarkable] {
    WriteUpdate(*row, state, total, note, remarkable);
  });
}

void ReceiptJournal::Update(std::int64_t id, const char* state, std::int64_t total,
                            const std::string& note, bool remarkable) {
  if (m_db == nullptr) return;
  Post([this, id, state = std::string(state), total, note, remarkable] {
    WriteUpdate(id, state, total, note, remarkable);
  });
}

void ReceiptJournal::WriteUpdate(std::int64_t id, const std::string& state, std::int64_t total,
                                 const std::string& note, bool remarkable) {
  if (id <= 0) return;
  Statement update(m_db,
                   "UPDATE receipts SET state = ?, total = ?, note = ?, settled = settled OR ?,"
                   " updated = datetime('now', 'localtime') WHERE id = ?");
  Written(update && update.Bind(1, state)
                        .Bind(2, total)
                        .Bind(3, note)
                        .Bind(4, remarkable ? 1 : 0)
                        .Bind(5, id)
                        .Run());
}

void ReceiptJournal::Written(bool ok) {
  if (!ok && !m_failing && m_report) {
    m_report("a write to the receipt journal " + m_path + " failed (" + sqlite3_errmsg(m_db) +
             "): a receipt step is not journalled");
  }
  m_failing = !ok;
}

std::optional<std::vector<ReceiptJournal::Entry>> ReceiptJournal::Select(
    const std::string& where, std::int64_t number, const std::vector<std::string>& texts) {
  std::optional<std::vector<Entry>> entries = std::vector<Entry>();
  if (m_db == nullptr) return m_unopened ? std::nullopt : entries;
  Post([&] {
    Statement select(m_db,
                     (std::string("SELECT ") + kColumns + " FROM receipts WHERE " + where).c_str());
    if (select) {
      select.Bind(1, number);
      for (std::size_t i = 0; i < texts.size(); ++i) {
        select.Bind(static_cast<int>(i) + 2, texts[i]);
      }
      entries = Entries(select);
    } else {
      entries.reset();
    }
    // Read as "nothing left", a damaged file would forget the receipts an earlier run left.
    if (!entries && !m_readFailing && m_report) {
      m_report("the receipt journal " + m_path + " cannot be read (" + sqlite3_errmsg(m_db) +
               "): receipts an earlier run left are not settled");
    }
    m_readFailing = !entries;
  });
  Flush();  // after the writes asked for before it
  return entries;
}

std::optional<std::vector<ReceiptJournal::Entry>> ReceiptJournal::Unsettled(
    int port, const std::string& serial) {
  const std::string unsettled = "state IN ('open', 'closing', 'in doubt')";
  // A reader of a journal older than the run marks finds the port's own alone.
  if (!m_runColumn) return Select(unsettled + " AND port = ?1 ORDER BY id DESC", port);
  return Select(unsettled +
                    " AND (port = ?1 OR (?2 != '' AND ?3 != '' AND serial = ?2 AND run != ?3))"
                    " ORDER BY id DESC",
                port, {serial, m_run});
}

std::optional<std::vector<ReceiptJournal::Entry>> ReceiptJournal::Settled(int limit) {
  return Select("settled != 0 ORDER BY id DESC LIMIT ?", limit);
}

}  // namespace vekta
