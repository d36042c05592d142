// What a printer answers, as the link takes it: a login, a receipt with its lines, close and
// retries, the queries whose replies are cut into fields, reports, a text document and a
// reconnect, each command answered with whatever the input holds (noise on the line, a reply
// cut short, another command's reply, silence). Every call returns; a line the link did not
// report taken leaves the receipt's sums as they were; a receipt closed is no longer open; every
// XML document stays free of bytes no document may hold.
//
// The input: the first byte picks whether the login is answered from the input too (bit 0),
// and whether the link keeps its receipt journal and protocol log, with a second link after it
// on the same journal (bit 1).
// Then messages separated by '\n', each a reply in Windows-1251 that the printer sends framed;
// one that starts with '\x01' arrives as raw bytes instead. An empty message ends the replies of
// one command. Once the input is used up the printer is silent.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <stdlib.h>

#include "fiscal/xml_documents.h"
#include "fuzz/fuzz_check.h"
#include "link/printer_link.h"
#include "platform/clock.h"
#include "tests/fiscal/fiscal_fixture.h"
#include "tests/support/fake_serial_port.h"
#include "tests/support/scripted_link_host.h"

namespace {

using vekta::FakeLine;
using vekta::PrinterLink;
using vekta::ReceiptSums;
using Replies = std::vector<std::string>;

// A printer that logs in plainly: the fiscal tests' default one.
Replies LoginAnswer(const std::string& command) {
  const vekta::testing_fiscal::PrinterSetup setup;
  if (command == "CONf") return {vekta::testing_fiscal::ConfReply(setup), "READY"};
  if (command == "CNAL") return {vekta::testing_fiscal::CnalReply(setup), "READY"};
  return {command == "CCAS" ? "SOFTPARAM" : "READY"};
}

class Printer {
 public:
  Printer(const std::uint8_t* data, std::size_t size)
      : m_input(reinterpret_cast<const char*>(data), size) {}

  // The replies the input holds for the next command.
  Replies Next() {
    Replies replies;
    while (m_at < m_input.size()) {
      const std::size_t end = std::min(m_input.find('\n', m_at), m_input.size());
      std::string message = m_input.substr(m_at, end - m_at);
      m_at = end + 1;
      if (message.empty()) break;
      replies.push_back(std::move(message));
    }
    return replies;
  }
  // Sends them: framed, or as raw bytes.
  static void Deliver(FakeLine& line, const Replies& replies) {
    for (const std::string& reply : replies) {
      if (reply[0] == '\x01') {
        line.Feed({reply.begin() + 1, reply.end()});
      } else {
        line.FeedFrame(reply);
      }
    }
  }

 private:
  std::string m_input;
  std::size_t m_at = 0;
};

bool SameSums(const ReceiptSums& a, const ReceiptSums& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckDocument(const std::string& xml) {
  for (const char c : xml) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 || c == '\t' || c == '\r' || c == '\n',
               "an XML document holds a control byte");
  }
}

// A line the link reports refused or unanswered adds nothing to the receipt.
template <typename Line>
void SellLine(PrinterLink& link, Line line) {
  const ReceiptSums before = link.Sums();
  const bool wasOpen = link.IsCheckOpen();
  const std::int32_t sum = line();
  if (sum <= 0) FUZZ_CHECK(SameSums(before, link.Sums()), "a line not taken changed the sums");
  if (sum > 0) FUZZ_CHECK(wasOpen, "a line was taken without an open receipt");
}

void CloseReceipt(PrinterLink& link, std::int32_t cash) {
  const std::int32_t sum = link.CloseCheckEx(cash, 0, 0, 0);
  if (sum > 0) FUZZ_CHECK(!link.IsCheckOpen(), "a receipt closed with its sum is still open");
  CheckDocument(link.CheckResultXml());
}

void RunSession(PrinterLink& link) {
  link.OpenCheck("Dept");
  SellLine(link, [&] { return link.FiscalLine("Bread", 2, 1850, 0, 1, 0, 101); });
  SellLine(link,
           [&] { return link.FiscalLineEx("Milk", 1500, 1999, 1, 2, 0, 0, 1, "Discount", 500); });
  link.SetCurrentCheckDirection(1);
  SellLine(link, [&] { return link.FiscalLine("Returned", 1, 1000, 0, 3, 0, 0); });
  CloseReceipt(link, 10000);
  CloseReceipt(link, 10000);  // a retry after a close in doubt
  link.AbortCheck();

  CheckDocument(vekta::BuildCashInfoXml(link.GetCashInfo()));
  CheckDocument(vekta::BuildFiscalInfoXml(link.GetFiscalInfo()));
  CheckDocument(vekta::BuildArticleXml(link.GetArticleInfo(101)));
  link.GetTaxesInfo();
  link.GetPrinterTime();
  link.GetPrinterKeyPosition();
  link.ReadConfiguration();
  CheckDocument(vekta::BuildConfigXml(link.Config()));
  CheckDocument(vekta::BuildTaxesXml(link.Config()));

  link.MoveCash(1, 1000);
  link.XReportAsync();
  link.ZReport();
  link.NullCheck();
  link.CheckCopy();
  link.OpenTextDocument();
  link.FreeTextLine(0, 0, 0, "Text");
  link.CloseTextDocument(0);
  link.PutToDisplay("Line 1", "Line 2");

  link.OpenReturnCheck("Dept");
  SellLine(link, [&] { return link.FiscalLine("Bread", 1, 1000, 0, 1, 0, 0); });
  CloseReceipt(link, -1000);
  link.TakePendingMessage(10);
  link.Reconnect();
  link.OpenCheck("Dept");
  SellLine(link, [&] { return link.FiscalLine("Bread", 1, 1000, 0, 4, 0, 0); });
  link.CloseCheck();
}

// A folder of the run's own for the receipt journal and the protocol log, in memory where the
// machine has it (the journal commits every step), emptied before each input and removed at
// the end.
class Folder {
 public:
  Folder() {
    std::string name = (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
    name += "/printer_reply_fuzz.XXXXXX";
    if (mkdtemp(name.data()) != nullptr) m_path = name;
  }
  ~Folder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  const std::string& Emptied() const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_path, ignored)) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
    return m_path;
  }

 private:
  std::string m_path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool loginFromInput = (data[0] & 1) != 0;
  // Journalled, a second link follows on the same journal: it settles what the first left.
  const bool journalled = (data[0] & 2) != 0;
  Printer printer(data + 1, size - 1);
  auto line = std::make_shared<FakeLine>();
  vekta::ScriptedLinkHost host(line);
  static const Folder folder;
  if (journalled) host.SetLogDirectory(folder.Emptied());
  vekta::FakeClock clock;
  bool loggedIn = false;
  line->SetResponder([&](const std::string& command) -> Replies {
    if (!loggedIn && !loginFromInput) return LoginAnswer(command);
    Printer::Deliver(*line, printer.Next());  // in their order, framed or raw
    return {};
  });
  for (int run = 0; run < (journalled ? 2 : 1); ++run) {
    PrinterLink link(1, host, clock, vekta::LinkTimings::Short());
    link.SetShowErrorMessages(false);
    loggedIn = false;
    if (link.Connect("COM1", "CASHIER", "7777777777") > 0) {
      loggedIn = true;
      RunSession(link);
    }
  }
  line->SetResponder(nullptr);
  return 0;
}
