#include "app/object_table.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <limits>
#include <optional>

#include "app/service_backend.h"
#include "service/member_table.h"
#include "service/vekta_manager.h"
#include "tests/service/sim_ports.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

const std::vector<Value> kInit = {std::int32_t{1}, std::string("Cashier"),
                                  std::string("7777777777"), std::int32_t{0}, std::string("POS")};

// The objects of the daemon on one simulated printer, called as the server calls them: a call
// keeps its object alive, and its lease from running out, until it returns.
struct ServedPrinter {
  SimPorts ports{1};
  LocalOrbisFactory factory{*ports.registry};
  ServiceBackend backend{*ports.registry, factory, ports.host};
  RealClock clock;
  ObjectTable table{clock};  // released before the registry goes

  std::string Add(ObjectClass cls, std::int64_t leaseMs = kDefaultLeaseMs) {
    return table.Add(backend.Create(cls), leaseMs);
  }
  HRESULT Call(const std::string& id, const std::string& member, std::vector<Value> args) {
    auto entry = table.BeginCall(id);
    if (!entry) return RPC_E_DISCONNECTED;
    const HRESULT hr = entry->object->CallOrbis(*OrbisInterface().FindByName(member), args).hr;
    table.EndCall(entry);
    return hr;
  }
  Value CallWrapper(const std::string& id, const std::string& member, std::vector<Value> args) {
    auto entry = table.BeginCall(id);
    if (!entry) return Value(-1);
    const Value value = entry->object->CallVektaManager(*VektaManagerInterface().FindByName(member),
                                                        InvokeKind::kMethod, args);
    table.EndCall(entry);
    return value;
  }
  std::future<HRESULT> CallLater(const std::string& id, const std::string& member,
                                 std::vector<Value> args) {
    return std::async(std::launch::async, [=, this] { return Call(id, member, args); });
  }
  std::int32_t LockCount() {
    std::int32_t count = -1;
    ports.registry->ForEachEntry(
        [&](std::uint32_t, const PrinterEntry& entry) { count = entry.LockCount(); });
    return count;
  }
};

// The call's result when it ends within a generous bound; when it does not, `unblock` ends it
// another way so that the test can go on to its end.
template <class T, class Unblock>
std::optional<T> EndsInTime(std::future<T>& call, Unblock&& unblock) {
  if (call.wait_for(10s) == std::future_status::ready) return call.get();
  unblock();
  call.wait();
  return std::nullopt;
}

TEST(ObjectTableOnSimulator, ALockWaitEndsWhenTheHolderIsReleasedOrLeasedOutOrTheWaiterReleased) {
  ServedPrinter p;
  const std::string shortLived = p.Add(ObjectClass::kOrbis, 200);
  const std::string holder = p.Add(ObjectClass::kOrbis);
  const std::string waiter = p.Add(ObjectClass::kOrbis);
  const std::string wrapper = p.Add(ObjectClass::kVektaManager);
  for (const std::string& id : {shortLived, holder, waiter})
    ASSERT_EQ(p.Call(id, "Init", kInit), S_OK);
  ASSERT_EQ(p.CallWrapper(wrapper, "Init", kInit), Value(1));

  // The lock of an object whose client went quiet goes with it when its lease runs out.
  ASSERT_EQ(p.Call(shortLived, "LockPrinter", {std::int32_t{0}}), S_OK);
  auto afterLease = p.CallLater(holder, "LockPrinter", {std::int32_t{-1}});
  EXPECT_EQ(EndsInTime(afterLease, [&] { p.table.Release(shortLived); }), S_OK);

  // The holder is released while one of its calls still waits for a message: its lock goes at
  // once, and its wait ends.
  auto pending = p.CallLater(holder, "LowGetNextPendingPrinterMessage",
                             {std::numeric_limits<std::int32_t>::max()});
  auto locked = p.CallLater(waiter, "LockPrinter", {std::int32_t{-1}});
  EXPECT_EQ(locked.wait_for(50ms), std::future_status::timeout);
  ASSERT_TRUE(p.table.Release(holder));
  auto unsolicited = [&] { p.ports.Sim(1).Printer().SendUnsolicited("PAPER LOW"); };
  EXPECT_EQ(EndsInTime(locked, unsolicited), S_OK);
  EXPECT_EQ(EndsInTime(pending, unsolicited), S_OK);
  EXPECT_EQ(p.LockCount(), 1);

  // A waiter that is released stops waiting, here a wrapper's, and takes nothing.
  auto wrapped = std::async(std::launch::async, [&] {
    return p.CallWrapper(wrapper, "LockPrinter", {std::int32_t{-1}});
  });
  EXPECT_EQ(wrapped.wait_for(50ms), std::future_status::timeout);
  ASSERT_TRUE(p.table.Release(wrapper));
  EXPECT_EQ(EndsInTime(wrapped, [&] { p.table.Release(waiter); }), Value(0));
  EXPECT_EQ(p.LockCount(), 1);
  EXPECT_EQ(p.Call(waiter, "UnlockPrinter", {}), S_OK);
  EXPECT_EQ(p.LockCount(), 0);

  // Once the table is shut down nothing new is taken in.
  p.table.Shutdown();
  EXPECT_EQ(p.Add(ObjectClass::kOrbis), "");
}

TEST(ObjectTable, QuietClientsAreAbandonedBeforeAnyIsReleasedAndAnEndingTableTakesNoMore) {
  struct Recorder : ServedObject {
    Recorder(std::vector<std::string>& events, std::string name)
        : events(events), name(std::move(name)) {}
    ~Recorder() override { events.push_back("released " + name); }
    ObjectClass Class() const override { return ObjectClass::kOrbis; }
    OrbisCallResult CallOrbis(const MemberInfo&, const std::vector<Value>&) override { return {}; }
    Value CallVektaManager(const MemberInfo&, InvokeKind, const std::vector<Value>&) override {
      return {};
    }
    void Abandon() override { events.push_back("abandoned " + name); }
    std::vector<std::string>& events;
    std::string name;
  };
  std::vector<std::string> events;
  FakeClock clock;
  ObjectTable table{clock};
  table.Add(std::make_unique<Recorder>(events, "a"), 100);
  table.Add(std::make_unique<Recorder>(events, "b"), 100);
  clock.Advance(200ms);
  table.ExpireDue();
  table.Shutdown();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].rfind("abandoned", 0), 0u);
  EXPECT_EQ(events[1].rfind("abandoned", 0), 0u);

  // A table of a server that ends with its last object takes none after it: created as the
  // server closes, it would be released at once after its creation was answered.
  int ended = 0;
  ObjectTable onDemand{clock};
  onDemand.SetOnEmpty([&] { ++ended; });
  const std::string id = onDemand.Add(std::make_unique<Recorder>(events, "c"), 100);
  EXPECT_FALSE(onDemand.CloseIfNoneCreated());
  ASSERT_TRUE(onDemand.Release(id));
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(onDemand.Add(std::make_unique<Recorder>(events, "d"), 100), "");
  EXPECT_TRUE(onDemand.Closed());
  ObjectTable plain{clock};  // of a server that does not end so
  ASSERT_TRUE(plain.Release(plain.Add(std::make_unique<Recorder>(events, "f"), 100)));
  EXPECT_NE(plain.Add(std::make_unique<Recorder>(events, "g"), 100), "");
  ObjectTable unused{clock};
  EXPECT_TRUE(unused.CloseIfNoneCreated());
  EXPECT_EQ(unused.Add(std::make_unique<Recorder>(events, "e"), 100), "");
}

}  // namespace
}  // namespace vekta
