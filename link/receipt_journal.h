#pragma once

// The receipt journal: every receipt's way from open to closed (or aborted, or in doubt) in an
// SQLite file beside the protocol logs, committed at each step, so that a server that was
// killed mid-receipt can settle what it left behind the next time it reaches the printer.
//
// A writer thread of the journal's own makes the commits, in the order they were asked for, so
// that waiting for the disk does not hold up the printer's line; `Flush` waits for them.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct sqlite3;

namespace vekta {

class ReceiptJournal {
 public:
  // Told why the journal could not be opened, or why a write failed (once, until a write
  // succeeds again); called on the journal's writer for a write.
  using ProblemReport = std::function<void(const std::string& text)>;

  // Opens (creating) the journal file; a journal that cannot be opened writes nothing. A reader
  // (`readOnly`) creates nothing and finds no entries where there is no journal yet. Rows are
  // marked with the server's `run` (by default this process, whatever link writes them).
  explicit ReceiptJournal(const std::string& path, bool readOnly = false, ProblemReport report = {},
                          std::string run = {});
  ~ReceiptJournal();
  ReceiptJournal(const ReceiptJournal&) = delete;
  ReceiptJournal& operator=(const ReceiptJournal&) = delete;
  bool IsOpen() const { return m_db != nullptr; }

  // The states a receipt goes through. kClosing is written before the close is sent.
  static constexpr const char* kOpen = "open";
  static constexpr const char* kClosing = "closing";
  static constexpr const char* kClosed = "closed";
  static constexpr const char* kInDoubt = "in doubt";
  static constexpr const char* kAborted = "aborted";
  static constexpr const char* kNotPrinted = "not printed";

  struct Entry {
    std::int64_t id = 0;
    int port = 0;
    std::string serial;
    std::string state;
    std::int64_t total = 0;
    std::string note;  // how it was settled, or the printer's figures
    std::string opened;
    std::string updated;
    std::string baseline;  // the printer's sales and return registers when it was opened
  };

  // A receipt's row. Its id is known to the writer once the row is in; a row that could not be
  // written keeps id 0 and takes no updates.
  using Row = std::shared_ptr<std::int64_t>;

  // A receipt opened on `port` of the printer `serial`, written in the background.
  Row Opened(int port, const std::string& serial, const std::string& baseline);
  // `remarkable`: the receipt was in doubt or left by an earlier run, and stays listed.
  void Update(const Row& row, const char* state, std::int64_t total, const std::string& note,
              bool remarkable = false);
  void Update(std::int64_t id, const char* state, std::int64_t total, const std::string& note,
              bool remarkable = false);
  // Returns once every write asked for so far is on disk.
  void Flush();
  // Receipts still open, closing or in doubt, newest first: those of `port`, and those an
  // earlier run left on another port for the printer `serial` (after a restart its device may
  // come under another COM number). The other ports' receipts of this run are their own links'.
  // None when the file cannot be read (a damaged page), which is reported.
  std::optional<std::vector<Entry>> Unsettled(int port, const std::string& serial = {});
  // The newest `limit` remarkable receipts, newest first; none when the file cannot be read.
  std::optional<std::vector<Entry>> Settled(int limit);

 private:
  // Runs `task` on the writer after the writes asked for before it (at once for a reader).
  void Post(std::function<void()> task);
  void RunWriter();
  // The entries `where` picks, once the writes before it are in: its first parameter is
  // `number`, the next ones `texts`.
  std::optional<std::vector<Entry>> Select(const std::string& where, std::int64_t number,
                                           const std::vector<std::string>& texts = {});
  void WriteUpdate(std::int64_t id, const std::string& state, std::int64_t total,
                   const std::string& note, bool remarkable);
  // Reports the first of a run of failed writes; a write that succeeds ends the run.
  void Written(bool ok);

  std::string m_path;
  ProblemReport m_report;
  std::string m_run;
  bool m_runColumn = false;    // the file marks rows with their run (set when it is opened)
  bool m_failing = false;      // writer only
  bool m_readFailing = false;  // writer only: the last read stopped short
  bool m_unopened = false;     // set when it is opened: the file is there but cannot be opened

  sqlite3* m_db = nullptr;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_tasks;  // guarded by m_mutex
  std::uint64_t m_posted = 0;                 // guarded by m_mutex
  std::uint64_t m_done = 0;                   // guarded by m_mutex
  bool m_stopping = false;                    // guarded by m_mutex
  std::thread m_writer;                       // none for a reader
};

}  // namespace vekta
