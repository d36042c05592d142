#include "service/printer_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "tests/support/scripted_link_host.h"

namespace vekta {
namespace {

using namespace std::chrono_literals;

// A link handed out by the registry reads without the command mutex but talks to the printer
// only through it: an operation on the handle itself must not compile.
template <class L>
concept TalksToThePrinter = requires(L link) {
  link->OpenCheck(std::string());
};
static_assert(!TalksToThePrinter<const SharedLink&>);
static_assert(TalksToThePrinter<const LockedLink&>);

// Handing the lock over to a waiter when its owner lets go is OrbisOnSimulator's (the last Done).
TEST(PrinterLock, CountsRecursiveLocksOfItsOwnerAndIgnoresOtherOwnersUnlocks) {
  PrinterLock lock;
  int a = 0;
  int b = 0;
  EXPECT_TRUE(lock.Lock(&a, 0));
  EXPECT_TRUE(lock.Lock(&a, 1000));  // recursive for its owner: no wait
  EXPECT_FALSE(lock.Lock(&b, 0));
  EXPECT_FALSE(lock.Lock(&b, 20));
  EXPECT_TRUE(lock.Unlock(&b));  // not the owner: no effect
  lock.ReleaseAll(&b);
  EXPECT_EQ(lock.LockCount(), 2);
  EXPECT_TRUE(lock.IsHeldBy(&a));
  EXPECT_TRUE(lock.Unlock(&a));
  EXPECT_EQ(lock.LockCount(), 1);
  EXPECT_FALSE(lock.Lock(&b, 0));  // one level is still held
  EXPECT_TRUE(lock.Unlock(&a));
  EXPECT_TRUE(lock.Unlock(&a));  // an Unlock too many leaves 0
  EXPECT_EQ(lock.LockCount(), 0);
  EXPECT_TRUE(lock.Lock(&b, 0));
  EXPECT_TRUE(lock.IsHeldBy(&b));
}

struct FakeRegistry {
  ScriptedLinkHost host;
  RealClock clock;
  PrinterRegistry registry{host, clock, LinkTimings::Short()};
};

// Destroying the registry at the end destroys every entry, whatever is attached or locked.
TEST(PrinterRegistry, AttachAndDetachCountClientsAndNamesLockANewEntryForItsCreatorAndEndWithIt) {
  auto f = std::make_unique<FakeRegistry>();
  PrinterRegistry& registry = f->registry;
  int creator = 0;
  int other = 0;
  auto a = registry.AttachClient(3, "A", &creator);
  auto b = registry.AttachClient(3, "B", &other);
  auto c = registry.AttachClient(12, "A");
  EXPECT_TRUE(a.created);
  EXPECT_FALSE(b.created);
  EXPECT_TRUE(c.created);
  EXPECT_EQ(a.entry, b.entry);
  EXPECT_EQ(a.entry->ReferenceCount(), 2);
  EXPECT_EQ(a.entry->ClientNames(), (std::vector<std::string>{"A", "B"}));
  ASSERT_NE(a.entry->Link(), nullptr);
  EXPECT_EQ(a.entry->Link()->PortNumber(), 3);
  EXPECT_TRUE(a.entry->GetLock().IsHeldBy(&creator));  // not for the second client
  EXPECT_EQ(a.entry->LockCount(), 1);
  EXPECT_FALSE(b.entry->Lock(&other, 0));
  a.entry->Unlock(&creator);
  EXPECT_EQ(a.entry->LockCount(), 0);

  std::vector<std::uint32_t> ports;
  registry.ForEachEntry([&](std::uint32_t port, const PrinterEntry&) { ports.push_back(port); });
  EXPECT_EQ(ports, (std::vector<std::uint32_t>{3, 12}));

  // The same name twice: one detachment removes one of them.
  registry.AttachClient(3, "A");
  EXPECT_FALSE(registry.DetachClient(3, "A"));
  EXPECT_EQ(a.entry->ClientNames(), (std::vector<std::string>{"B", "A"}));
  // A name that is not listed still drops a reference.
  EXPECT_FALSE(registry.DetachClient(3, "nobody"));
  EXPECT_EQ(a.entry->ReferenceCount(), 1);
  EXPECT_EQ(a.entry->ClientNames(), (std::vector<std::string>{"B", "A"}));
  EXPECT_TRUE(registry.DetachClient(3, "B"));
  EXPECT_EQ(a.entry->Link(), nullptr);  // the entry is gone, its link destroyed
  EXPECT_EQ(registry.EntryCount(), 1u);
  EXPECT_FALSE(registry.DetachClient(3, "B"));
  EXPECT_FALSE(registry.DetachClient(4, "A"));

  auto again = registry.AttachClient(3, "C", &creator);
  EXPECT_TRUE(again.created);
  EXPECT_NE(again.entry, a.entry);
  registry.AttachClient(3, "D");
  f.reset();
  EXPECT_EQ(again.entry->Link(), nullptr);  // an object outliving the registry is detached
  EXPECT_EQ(c.entry->Link(), nullptr);
}

TEST(PrinterRegistry, WaitersGetTheOutcomeOfTheConnectTheyWaitedForAndAbandonedWaitsEnd) {
  FakeRegistry f;
  int first = 0;
  int second = 0;
  int third = 0;
  auto a = f.registry.AttachClient(3, "A", &first);
  auto b = f.registry.AttachClient(3, "B", &second);
  EXPECT_TRUE(a.connects);
  EXPECT_FALSE(b.connects);
  EXPECT_FALSE(b.entry->GetLock().IsHeldBy(&second));
  auto waited = std::async(std::launch::async, [&] { return b.entry->WaitConnected(); });
  EXPECT_EQ(waited.wait_for(30ms), std::future_status::timeout);
  // a's connect fails; c attaches before a and b have detached and connects again, under its
  // own lock, while b is told of the failure it waited for.
  a.entry->Unlock(&first);
  a.entry->FinishConnect(false);
  auto c = f.registry.AttachClient(3, "C", &third);
  EXPECT_FALSE(c.created);
  EXPECT_TRUE(c.connects);
  EXPECT_TRUE(c.entry->GetLock().IsHeldBy(&third));
  ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(waited.get());
  c.entry->Unlock(&third);
  c.entry->FinishConnect(true);
  auto d = f.registry.AttachClient(3, "D", &second);
  EXPECT_FALSE(d.connects);
  EXPECT_TRUE(d.entry->WaitConnected());  // at once
  EXPECT_EQ(d.entry->LockCount(), 0);

  // The waits of an object that is being released end, and such an object takes no lock.
  auto e = f.registry.AttachClient(4, "E", &first);
  std::atomic<bool> abandoned{false};
  auto connect = std::async(std::launch::async, [&] { return e.entry->WaitConnected(&abandoned); });
  auto lock = std::async(std::launch::async, [&] {
    return e.entry->Lock(&second, PrinterLock::kInfinite, &abandoned);
  });
  EXPECT_EQ(lock.wait_for(30ms), std::future_status::timeout);
  abandoned = true;
  e.entry->WakeWaiters();
  ASSERT_EQ(connect.wait_for(10s), std::future_status::ready);
  ASSERT_EQ(lock.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(connect.get());
  EXPECT_FALSE(lock.get());
  e.entry->Unlock(&first);
  EXPECT_FALSE(e.entry->Lock(&second, 0, &abandoned));
  EXPECT_EQ(e.entry->LockCount(), 0);
}

TEST(PrinterRegistry, AttachOfAClosingPortWaitsUntilItIsClosed) {
  FakeRegistry f;
  auto a = f.registry.AttachClient(7, "A");
  f.registry.AttachClient(8, "B");
  // A call still running on the link keeps it (and its port) alive past the detachment.
  SharedLink running = a.entry->Link();
  EXPECT_TRUE(f.registry.DetachClient(7, "A"));

  std::atomic<bool> attached{false};
  std::thread reattach([&] {
    f.registry.AttachClient(7, "C");
    attached = true;
  });
  // Another port is not held back meanwhile.
  EXPECT_FALSE(f.registry.AttachClient(8, "D").created);
  EXPECT_FALSE(f.registry.DetachClient(8, "B"));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(attached.load());
  running = {};  // the call ends: the old port closes
  reattach.join();
  EXPECT_TRUE(attached.load());
}

}  // namespace
}  // namespace vekta
