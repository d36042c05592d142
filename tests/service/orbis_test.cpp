#include "service/orbis.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <semaphore>
#include <set>
#include <thread>

#include <unistd.h>

#include "service/dispatch.h"
#include "service/member_table.h"
#include "tests/service/recording_orbis.h"
#include "tests/service/sim_ports.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCashier = "Cashier";
constexpr const char* kPassword = "7777777777";
constexpr std::int32_t kForever = std::numeric_limits<std::int32_t>::max();

// The result of a call that must end; the bound is generous: only a call that hangs misses it.
template <class T>
T Ended(std::future<T>& call) {
  EXPECT_EQ(call.wait_for(10s), std::future_status::ready);
  return call.get();
}

// A member's result code and its out value, `unset` when it set none.
template <class T, class Member, class... In>
std::pair<HRESULT, T> Got(T unset, Orbis& orbis, Member member, In... in) {
  const HRESULT hr = (orbis.*member)(in..., &unset);
  return {hr, unset};
}
const std::string kUntouched = "untouched";

// A host whose Retry/Cancel boxes stay open until the test answers them, so that a connect that
// asks stays in progress for as long as the test needs.
struct GatedHost : ScriptedLinkHost {
  MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) override {
    if (style == MessageBoxStyle::kStopRetryCancel) {
      asked.release();
      answered.try_acquire_for(20s);  // a test that fails before it answers gets Cancel in the end
    }
    return ScriptedLinkHost::ShowMessageBox(text1251, style);
  }
  bool Asked() { return asked.try_acquire_for(10s); }  // the next box has opened
  void Answer(MessageBoxResult answer) {
    QueueMessageBoxAnswer(answer);
    answered.release();
  }
  std::counting_semaphore<> asked{0};
  std::counting_semaphore<> answered{0};
};

TEST(Orbis, DetachedObjectFailsEveryMemberZeroesOnlyTheSumsAndRefusesBadArguments) {
  ScriptedLinkHost host;
  RealClock clock;
  PrinterRegistry registry(host, clock, LinkTimings::Short());
  Orbis orbis(registry);

  EXPECT_EQ(Got(99, orbis, &Orbis::GetPortNumber), std::pair(S_OK, -1));
  // Argument errors leave a new object as it was.
  EXPECT_EQ(orbis.Init(0, kCashier, kPassword, 0, "POS"), E_INVALIDARG);
  EXPECT_EQ(orbis.Init(-3, kCashier, kPassword, 0, "POS"), E_INVALIDARG);
  EXPECT_EQ(orbis.Init(3, kCashier, kPassword, 0, ""), E_INVALIDARG);
  EXPECT_EQ(Got(99, orbis, &Orbis::GetPortNumber), std::pair(S_OK, -1));
  EXPECT_EQ(registry.EntryCount(), 0u);

  const std::set<std::string> zeroed = {"GetCheckSum",       "GetCheckOnSaleTaxes",
                                        "GetCheckReturnSum", "GetCheckReturnOnSaleTaxes",
                                        "CloseCheck",        "CloseCheckEx"};
  for (const MemberInfo& member : OrbisInterface().members) {
    if (member.name == "Init" || member.name == "GetPortNumber" || member.name == "Done") continue;
    OrbisCallResult result = InvokeOrbis(orbis, member, DefaultArgs(member));
    EXPECT_EQ(result.hr, E_FAIL) << member.name;
    ASSERT_EQ(result.outs.size(), zeroed.count(member.name)) << member.name;
    if (!result.outs.empty()) {
      EXPECT_EQ(result.outs.begin()->second, Value(0)) << member.name;
    }
  }
  EXPECT_TRUE(host.Calls().empty());  // nothing shown, nothing opened

  const MemberInfo& feed = *OrbisInterface().FindByName("Feed");
  EXPECT_EQ(InvokeOrbis(orbis, feed, {}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(InvokeOrbis(orbis, feed, {std::string("1")}).hr, DISP_E_TYPEMISMATCH);
  // A wrapper member is not an IOrbis member, even where the dispid exists in both.
  const MemberInfo& wrapperXml = *VektaManagerInterface().FindByDispid(0x22);
  EXPECT_EQ(InvokeOrbis(orbis, wrapperXml, {std::int32_t{1}}).hr, DISP_E_UNKNOWNNAME);

  EXPECT_EQ(orbis.Done(), S_OK);
  EXPECT_EQ(Got(99, orbis, &Orbis::GetPortNumber), std::pair(S_OK, 0));
  EXPECT_EQ(orbis.Done(), S_OK);
}

TEST(OrbisOnSimulator, ClientsOfOnePortShareLinkLockFlagsLastErrorAndWaitsUntilTheLastDone) {
  SimPorts ports(1);
  Orbis a(*ports.registry);
  Orbis b(*ports.registry);
  ASSERT_EQ(a.Init(1, kCashier, kPassword, 0, "POS"), S_OK);
  const std::size_t sent = ports.Sim(1).Model().Commands().size();
  // The second client shares the link as it is: its wrong password is never sent.
  EXPECT_EQ(b.Init(1, "Other", "0000000000", 1, "Back office"), S_OK);
  EXPECT_EQ(ports.Sim(1).Model().Commands().size(), sent);
  EXPECT_EQ(ports.Sim(1).Model().Cashier(), kCashier);
  const PrinterEntry* entry = ports.FindEntry(1);
  ASSERT_NE(entry, nullptr);
  auto link = a.Entry()->Link();
  EXPECT_FALSE(link->ShowStatusWindows());  // the first client's choice stands

  // A pending-message wait holds no other client back; it takes what the printer sends unasked
  // (that also frees a held port).
  auto waiting = std::async(std::launch::async, [&a] {
    std::string message = "untouched";
    const HRESULT hr = a.LowGetNextPendingPrinterMessage(kForever, &message);
    return std::make_pair(hr, message);
  });
  std::this_thread::sleep_for(50ms);  // a is in its wait
  auto query = std::async(std::launch::async, [&b] {
    std::string time;
    return b.GetPrinterTime(&time);
  });
  EXPECT_EQ(query.wait_for(10s), std::future_status::ready)
      << "b's call waits behind a's pending-message wait";
  EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout);
  ports.Sim(1).Printer().SendUnsolicited("PAPER LOW");
  EXPECT_EQ(query.get(), S_OK);
  EXPECT_EQ(Ended(waiting), std::make_pair(S_OK, std::string("PAPER LOW")));
  // A client let go while it waits: the wait ends with nothing, and it takes no lock.
  {
    Orbis gone(*ports.registry);
    ASSERT_EQ(gone.Init(1, kCashier, kPassword, 0, "Monitor"), S_OK);
    auto abandoned = std::async(std::launch::async, [&gone] {
      std::string message = "untouched";
      const HRESULT hr = gone.LowGetNextPendingPrinterMessage(kForever, &message);
      return std::make_pair(hr, message);
    });
    std::this_thread::sleep_for(50ms);
    gone.Abandon();
    EXPECT_EQ(Ended(abandoned), std::make_pair(S_OK, std::string()));
    EXPECT_EQ(gone.LockPrinter(0), E_FAIL);
  }

  EXPECT_EQ(a.LockPrinter(0), S_OK);
  EXPECT_EQ(a.LockPrinter(1000), S_OK);
  EXPECT_EQ(b.LockPrinter(50), CONTEXT_E_SYNCH_TIMEOUT);
  EXPECT_EQ(b.Feed(1), S_OK);  // nothing but LockPrinter looks at the lock

  EXPECT_EQ(a.SetShowErrorMessages(0), S_OK);
  EXPECT_FALSE(link->ShowErrorMessages());
  EXPECT_EQ(b.SetShowPrinterStatus(1), S_OK);
  EXPECT_TRUE(link->ShowStatusWindows());
  EXPECT_EQ(b.SetShowPrinterStatus(0), S_OK);
  ports.host.ClearCalls();
  ports.Sim(1).Model().SetPaperOut(true);
  EXPECT_EQ(b.Feed(1), E_FAIL);
  EXPECT_TRUE(ports.host.CallsStartingWith("box:").empty());  // silenced by a, for b too
  std::string message;
  EXPECT_EQ(a.GetLastErrorMessage(&message), S_OK);
  EXPECT_FALSE(message.empty());
  // a consumed it for both.
  EXPECT_EQ(Got(kUntouched, b, &Orbis::GetLastErrorMessage), std::pair(E_FAIL, kUntouched));
  ports.Sim(1).Model().SetPaperOut(false);

  std::atomic<HRESULT> waited{E_UNEXPECTED};
  std::thread waiter([&] { waited = b.LockPrinter(-1); });  // -1: no limit
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(waited.load(), E_UNEXPECTED);
  EXPECT_EQ(a.Done(), S_OK);  // detaching gives up both levels
  waiter.join();
  EXPECT_EQ(waited.load(), S_OK);
  EXPECT_EQ(entry->LockCount(), 1);
  ASSERT_EQ(ports.FindEntry(1), entry);
  EXPECT_TRUE(entry->Link()->IsConnected());
  EXPECT_EQ(Got(std::string(), b, &Orbis::GetPrinterSerialNumber),
            std::pair(S_OK, ports.Sim(1).Model().SerialNumber()));
  EXPECT_EQ(b.UnlockPrinter(), S_OK);
  EXPECT_EQ(b.UnlockPrinter(), S_OK);
  EXPECT_EQ(entry->LockCount(), 0);

  link = {};
  EXPECT_EQ(b.Done(), S_OK);
  EXPECT_EQ(ports.registry->EntryCount(), 0u);
  // The port was closed: a new first client opens it again (exclusive open) and logs in.
  Orbis c(*ports.registry);
  EXPECT_EQ(c.Init(1, "Second", kPassword, 0, "POS"), S_OK);
  EXPECT_EQ(ports.Sim(1).Model().Cashier(), "Second");
}

TEST(OrbisOnSimulator, ASecondInitWaitsForTheConnectInProgressAndSharesItsOutcome) {
  SimHarness sim;
  GatedHost host;
  host.UseRealPorts({{"COM1", sim.DevicePath()}});
  RealClock clock;
  PrinterRegistry registry(host, clock, LinkTimings::Short());
  Orbis a(registry);
  Orbis b(registry);
  auto init = [](Orbis& orbis, const char* cashier, const char* caller) {
    return std::async(std::launch::async, [&orbis, cashier, caller] {
      return orbis.Init(1, cashier, kPassword, 0, caller);
    });
  };

  // The printer stays silent: a's connect asks Retry/Cancel and waits for the answer.
  sim.Model().SetSilent(true);
  auto first = init(a, kCashier, "POS");
  ASSERT_TRUE(host.Asked());
  auto second = init(b, "Other", "Back office");
  EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);  // b waits for a's connect
  host.Answer(MessageBoxResult::kCancel);
  EXPECT_EQ(Ended(first), E_FAIL);
  EXPECT_EQ(Ended(second), E_FAIL);  // not S_OK on a link that never connected
  EXPECT_EQ(Got(99, b, &Orbis::GetPortNumber), std::pair(S_OK, 0));
  EXPECT_EQ(b.Entry(), nullptr);
  EXPECT_EQ(registry.EntryCount(), 0u);  // the port is closed again
  EXPECT_EQ(b.Feed(1), E_FAIL);

  // The printer answers once a's connect retries: both clients are attached to one link,
  // logged in with a's cashier, and the lock the connect ran under is given back.
  auto again = init(a, kCashier, "POS");
  ASSERT_TRUE(host.Asked());
  auto joined = init(b, "Other", "Back office");
  EXPECT_EQ(joined.wait_for(50ms), std::future_status::timeout);
  sim.Model().SetSilent(false);
  host.Answer(MessageBoxResult::kRetry);
  EXPECT_EQ(Ended(again), S_OK);
  EXPECT_EQ(Ended(joined), S_OK);
  ASSERT_NE(b.Entry(), nullptr);
  EXPECT_EQ(a.Entry(), b.Entry());
  EXPECT_EQ(b.Entry()->ReferenceCount(), 2);
  EXPECT_EQ(b.Entry()->LockCount(), 0);
  EXPECT_EQ(sim.Model().Cashier(), kCashier);
  EXPECT_EQ(b.Feed(1), S_OK);
}

TEST(OrbisOnSimulator, ReceiptResultsQueriesRawMessagesAndUnplugOnOnePrinter) {
  SimOptions options;
  options.linkPath = "/tmp/vekta-service-test-" + std::to_string(::getpid());
  SimPorts ports(1, {options});
  ports.host.UseRealPorts({{"COM1", options.linkPath}});
  Orbis orbis(*ports.registry);
  ASSERT_EQ(orbis.Init(1, kCashier, kPassword, 0, "POS"), S_OK);
  ASSERT_EQ(orbis.SetShowErrorMessages(0), S_OK);

  // No receipt open.
  EXPECT_EQ(orbis.SetCurrentCheckDirection(1), E_FAIL);
  EXPECT_EQ(Got(77, orbis, &Orbis::CloseCheck), std::pair(S_OK, 0));  // refused, still S_OK
  EXPECT_EQ(Got(kUntouched, orbis, &Orbis::GetCheckResultXML), std::pair(E_FAIL, kUntouched));

  ASSERT_EQ(orbis.OpenCheck("1"), S_OK);
  EXPECT_EQ(Got(0, orbis, &Orbis::FiscalLine, "Хліб", 2, 1000, 0, 0, 0, 0), std::pair(S_OK, 2000));
  // A line turned down with 0 is S_OK with 0, not a failure.
  EXPECT_EQ(Got(7, orbis, &Orbis::FiscalLine, "Bread", 100000, 1000, 0, 0, 0, 0),
            std::pair(S_OK, 0));

  ASSERT_EQ(orbis.OpenCheck("1"), S_OK);
  std::int32_t value = 0;
  EXPECT_EQ(orbis.FiscalLine("Milk", 1, 1500, 0, 0, 0, 0, &value), S_OK);
  EXPECT_EQ(orbis.SetCurrentCheckDirection(0), S_OK);  // the argument is not used
  EXPECT_TRUE(orbis.Entry()->Link()->IsReturnCheck());
  EXPECT_EQ(orbis.SetCurrentCheckDirection(0), S_OK);  // stays a return
  EXPECT_TRUE(orbis.Entry()->Link()->IsReturnCheck());
  EXPECT_EQ(orbis.AbortCheck(), S_OK);

  ASSERT_EQ(orbis.OpenCheck("1"), S_OK);
  EXPECT_EQ(orbis.FiscalLine("Milk", 1, 1500, 0, 0, 0, 7, &value), S_OK);
  EXPECT_EQ(Got(0, orbis, &Orbis::CloseCheck), std::pair(S_OK, 1500));
  std::string text;
  EXPECT_EQ(orbis.GetCheckResult(&text), S_OK);
  EXPECT_NE(text.find(";1500;"), std::string::npos) << text;
  // The article just sold: the raw record, and its document.
  EXPECT_EQ(orbis.GetArticleInfo(7, &text), S_OK);
  EXPECT_NE(text.rfind("<?xml", 0), 0u) << text;
  EXPECT_EQ(orbis.GetArticleInfoXML(7, &text), S_OK);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?><vekta_article>", 0), 0u) << text;

  std::int32_t key = -5;
  EXPECT_EQ(orbis.GetPrinterKeyPosition(&key), S_OK);
  EXPECT_GE(key, 0);
  EXPECT_EQ(orbis.GetTaxesInfoXML(&text), S_OK);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\"?><vekta_taxes><taxes>", 0), 0u) << text;
  EXPECT_EQ(orbis.GetCashInfoXML(&text), S_OK);
  EXPECT_NE(text.find("<cash_info rest=\""), std::string::npos) << text;

  // Texts the frame cannot carry are refused before anything is written.
  const std::size_t sent = ports.Sim(1).Model().Commands().size();
  EXPECT_EQ(orbis.LowSendMessageToPrinter(std::string(252, 'A')), E_INVALIDARG);
  EXPECT_EQ(orbis.LowSendMessageToPrinter("GETD\xC2\xA4"), E_INVALIDARG);  // ¤ is 0xFD in 866
  EXPECT_EQ(ports.Sim(1).Model().Commands().size(), sent);
  EXPECT_EQ(Got(kUntouched, orbis, &Orbis::LowGetNextPendingPrinterMessage, 0),
            std::pair(S_OK, std::string()));
  std::string message;
  EXPECT_EQ(orbis.LowSendMessageToPrinter("GETD"), S_OK);
  EXPECT_EQ(orbis.LowGetNextPendingPrinterMessage(2000, &message), S_OK);
  EXPECT_FALSE(message.empty());
  for (int i = 0; i < 20 && !message.empty(); ++i) {
    orbis.LowGetNextPendingPrinterMessage(200, &message);
  }

  // A printer that stopped answering: the refresh fails, the stored configuration is shown.
  ports.Sim(1).Model().SetSilent(true);
  EXPECT_EQ(orbis.GetPrinterConfigXML(1, &text), S_OK);
  EXPECT_NE(text.find(ports.Sim(1).Model().SerialNumber()), std::string::npos) << text;
  EXPECT_EQ(Got(kUntouched, orbis, &Orbis::GetPrinterTime), std::pair(E_FAIL, kUntouched));
  EXPECT_EQ(orbis.GetLastErrorMessage(&message), S_OK);

  // Unplugged, the printer fails at once: the reader thread notices the hang-up on its own. The
  // next call after it is back logs in again and goes through.
  ports.Sim(1).Model().SetSilent(false);
  auto link = orbis.Entry()->Link();
  ports.Sim(1).Printer().Unplug();
  for (int i = 0; i < 400 && !link->IsLost(); ++i) std::this_thread::sleep_for(5ms);
  ASSERT_TRUE(link->IsLost());
  EXPECT_EQ(orbis.Feed(1), E_FAIL);
  ASSERT_TRUE(ports.Sim(1).Printer().Replug());
  EXPECT_EQ(orbis.Feed(1), S_OK);
}

TEST(OrbisOnSimulator, ObjectsMoveBetweenPortsAndALongCallOnOneDoesNotDelayAnother) {
  SimPorts ports(2);
  Orbis slow(*ports.registry);
  Orbis fast(*ports.registry);
  ASSERT_EQ(fast.Init(1, kCashier, kPassword, 0, "POS"), S_OK);
  ASSERT_EQ(fast.Init(2, kCashier, kPassword, 0, "POS"), S_OK);
  EXPECT_EQ(ports.FindEntry(1), nullptr);  // the earlier attachment is not leaked
  ASSERT_NE(ports.FindEntry(2), nullptr);
  // Init again on its own port, as some POS programs do at each sale: the receipt stays open.
  ASSERT_EQ(fast.OpenCheck("1"), S_OK);
  ASSERT_EQ(Got(0, fast, &Orbis::FiscalLine, "Bread", 1, 1000, 0, 0, 0, 0).first, S_OK);
  ASSERT_EQ(fast.Init(2, kCashier, kPassword, 0, "POS"), S_OK);
  EXPECT_EQ(ports.FindEntry(2)->ReferenceCount(), 1);
  EXPECT_TRUE(ports.Sim(2).Model().ReceiptOpen());
  EXPECT_EQ(Got(0, fast, &Orbis::GetCheckSum), std::pair(S_OK, 1000));
  EXPECT_EQ(fast.AbortCheck(), S_OK);
  // COM5 maps to no device: the connection fails and the object ends detached.
  EXPECT_EQ(slow.Init(5, kCashier, kPassword, 0, "Reports"), E_FAIL);
  EXPECT_EQ(Got(99, slow, &Orbis::GetPortNumber), std::pair(S_OK, 0));
  EXPECT_EQ(ports.FindEntry(5), nullptr);
  EXPECT_EQ(Got(9, slow, &Orbis::GetCheckSum), std::pair(E_FAIL, 0));

  ASSERT_EQ(slow.Init(1, kCashier, kPassword, 0, "Reports"), S_OK);
  slow.SetShowErrorMessages(0);
  // Port 1's printer stops answering: its Z report runs until the reply wait runs out.
  ports.Sim(1).Model().SetSilent(true);

  auto report = std::async(std::launch::async, [&] { return slow.ZReport(); });
  // Wait until the report is on the wire.
  for (int i = 0; i < 200 && ports.Sim(1).Model().Commands().back().rfind("NREP", 0) != 0; ++i) {
    std::this_thread::sleep_for(5ms);
  }
  // A member that only reads the link does not wait behind the report on its own port.
  EXPECT_EQ(Got(0, slow, &Orbis::GetCheckSum).first, S_OK);
  EXPECT_EQ(report.wait_for(0ms), std::future_status::timeout);
  // Nor does a receipt on another port.
  EXPECT_EQ(fast.OpenCheck("1"), S_OK);
  EXPECT_EQ(Got(0, fast, &Orbis::FiscalLine, "Bread", 1, 1000, 0, 0, 0, 0).first, S_OK);
  EXPECT_EQ(Got(0, fast, &Orbis::CloseCheck), std::pair(S_OK, 1000));
  EXPECT_EQ(report.wait_for(0ms), std::future_status::timeout);
  report.wait();
}

}  // namespace
}  // namespace vekta
