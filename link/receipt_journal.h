#pragma once

// The receipt journal: every receipt's way from open to closed (or aborted, or in doubt) in an
// SQLite file beside the protocol logs, committed at each step, so that a server that was
// killed mid-receipt can settle what it left behind the next time it reaches the printer.

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace vekta {

class ReceiptJournal {
 public:
  // Opens (creating) the journal file; a journal that cannot be opened writes nothing. A reader
  // (`readOnly`) creates nothing and finds no entries where there is no journal yet.
  explicit ReceiptJournal(const std::string& path, bool readOnly = false);
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

  // A receipt opened on `port` of the printer `serial`: its id (0 when nothing was written).
  std::int64_t Opened(int port, const std::string& serial, const std::string& baseline);
  // `remarkable`: the receipt was in doubt or left by an earlier run, and stays listed.
  void Update(std::int64_t id, const char* state, std::int64_t total, const std::string& note,
              bool remarkable = false);
  // Receipts of `port` still open, closing or in doubt, newest first.
  std::vector<Entry> Unsettled(int port) const;
  // The newest `limit` remarkable receipts, newest first.
  std::vector<Entry> Settled(int limit) const;

 private:
  sqlite3* m_db = nullptr;
};

}  // namespace vekta
