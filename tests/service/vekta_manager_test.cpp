#include "service/vekta_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "platform/clock.h"
#include "service/dispatch.h"
#include "service/member_table.h"
#include "service/printer_registry.h"
#include "tests/service/recording_orbis.h"
#include "tests/support/scripted_link_host.h"

namespace vekta {
namespace {

class FakeFactory : public OrbisFactory {
 public:
  HRESULT initHr = S_OK;
  bool giveObject = true;
  bool initThrows = false;         // the made object's Init throws, as a lost transport does
  std::function<void()> onCreate;  // may throw
  std::vector<std::string> log;
  std::string lastHost;
  RecordingOrbis* last = nullptr;

  HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) override { return Make(object); }
  HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) override {
    lastHost = host;
    return Make(object);
  }

 private:
  HRESULT Make(std::unique_ptr<IOrbis>& object) {
    if (onCreate) onCreate();
    if (giveObject) {
      const std::string id = std::to_string(m_next++);
      log.push_back("create " + id);
      auto made = std::make_unique<RecordingOrbis>();
      made->onEnd = [this, id] { log.push_back("release " + id); };
      made->hr = initHr;
      if (initThrows) {
        made->onCall = [](const char* name) {
          if (std::string(name) == "Init") throw ComError(RPC_S_SERVER_UNAVAILABLE);
        };
      }
      last = made.get();
      object = std::move(made);
    }
    return S_OK;
  }
  int m_next = 1;
};

// A method by name, or a property read (no arguments) or set (`put`).
Value Call(VektaManager& manager, const std::string& name, std::vector<Value> args = {},
           bool put = false) {
  const MemberInfo& member = *VektaManagerInterface().FindByName(name);
  InvokeKind kind = InvokeKind::kMethod;
  if (member.kind == MemberKind::kProperty) {
    kind = put ? InvokeKind::kPropertyPut : InvokeKind::kPropertyGet;
  }
  return InvokeVektaManager(manager, member, kind, args);
}
const auto L = [](std::int32_t value) { return Value(value); };
const auto S = [](const char* value) { return Value(std::string(value)); };
using Names = std::vector<std::string>;

TEST(VektaManager, WithoutAnObjectMembersFailAndWithOneEachForwardsAsTheTableSays) {
  FakeFactory factory;
  ScriptedLinkHost host;
  VektaManager manager(factory, host);
  for (const MemberInfo& member : VektaManagerInterface().members) {
    if (member.name == "Init" || member.name == "InitEx") continue;
    const Value failure = member.valueType == VarType::kBstr
                              ? S("")
                              : L(member.name == "GetPrinterKeyPosition" ? -1 : 0);
    EXPECT_EQ(Call(manager, member.name, DefaultArgs(member)), failure) << member.name;
  }
  EXPECT_TRUE(factory.log.empty());

  // A second Init releases the earlier object first.
  ASSERT_EQ(manager.Init(3, "C", "P", 0, "A"), 1);
  ASSERT_EQ(manager.Init(4, "C", "P", 0, "A"), 1);
  EXPECT_EQ(factory.log, (std::vector<std::string>{"create 1", "release 1", "create 2"}));
  EXPECT_EQ(manager.Done(), 1);
  EXPECT_EQ(manager.Done(), 0);
  EXPECT_EQ(factory.log.back(), "release 2");
  // A failed Init holds nothing and shows nothing.
  factory.initHr = E_FAIL;
  EXPECT_EQ(manager.Init(3, "C", "P", 1, "A"), 0);
  EXPECT_FALSE(manager.HoldsObject());
  EXPECT_EQ(factory.log.back(), "release 3");
  factory.initHr = S_OK;
  factory.onCreate = [] { throw std::bad_alloc(); };
  EXPECT_EQ(manager.Init(3, "C", "P", 1, "A"), 0);
  EXPECT_TRUE(host.Calls().empty());

  factory.onCreate = nullptr;
  ASSERT_EQ(manager.Init(3, "Cashier", "7777777777", 0, "Script"), 1);
  RecordingOrbis& orbis = *factory.last;
  EXPECT_EQ(orbis.calls, Names{"Init"});
  EXPECT_EQ(orbis.texts, (Names{"Cashier", "7777777777", "Script"}));

  auto forwardedTo = [](int dispid) {
    return dispid == 0 ? Names{} : Names{OrbisInterface().FindByDispid(dispid)->name};
  };
  for (const MemberInfo& member : VektaManagerInterface().members) {
    if (member.name == "Init" || member.name == "InitEx" || member.name == "Done") continue;
    orbis.calls.clear();
    Call(manager, member.name, DefaultArgs(member));
    EXPECT_EQ(orbis.calls, forwardedTo(member.forwardsToDispid)) << member.name;
    if (member.kind == MemberKind::kProperty) {
      orbis.calls.clear();
      InvokeVektaManager(manager, member, InvokeKind::kPropertyPut, {Value(std::int32_t{1})});
      EXPECT_EQ(orbis.calls, forwardedTo(member.setterForwardsToDispid)) << member.name << " put";
    }
  }

  // The wait is always 3000 ms, whatever the client asks for.
  orbis.longs.clear();
  Call(manager, "LowGetNextPendingPrinterMessage", {L(500)});
  EXPECT_EQ(orbis.longs, (std::vector<std::int32_t>{3000}));
  // Properties that forward a set read 0; the sums read the out value.
  orbis.number = 1234;
  orbis.text = "text";
  Call(manager, "ShowStatusDialogs", {L(1)}, true);
  EXPECT_EQ(Call(manager, "ShowStatusDialogs"), L(0));
  EXPECT_EQ(Call(manager, "CheckSumm"), L(1234));

  // Success is 1 or the out value; a failure is 0, "" or -1, whatever the out value holds.
  EXPECT_EQ(Call(manager, "OpenCheck", {S("1")}), L(1));
  const std::vector<Value> line{S("Bread"), L(1), L(1234), L(0), L(0), L(0), L(0)};
  EXPECT_EQ(Call(manager, "FiscalLine", line), L(1234));
  EXPECT_EQ(Call(manager, "GetPrinterKeyPosition"), L(1234));
  EXPECT_EQ(Call(manager, "GetCashInfo"), S("text"));
  EXPECT_EQ(Call(manager, "LastErrorMessage"), S("text"));
  orbis.hr = E_FAIL;
  EXPECT_EQ(Call(manager, "OpenCheck", {S("1")}), L(0));
  EXPECT_EQ(Call(manager, "FiscalLine", line), L(0));
  EXPECT_EQ(Call(manager, "CloseCheck"), L(0));
  EXPECT_EQ(Call(manager, "GetPrinterKeyPosition"), L(-1));
  EXPECT_EQ(Call(manager, "GetCashInfo"), S(""));
  EXPECT_EQ(Call(manager, "CheckSumm"), L(0));
  orbis.hr = CONTEXT_E_SYNCH_TIMEOUT;
  EXPECT_EQ(Call(manager, "LockPrinter", {L(10)}), L(0));
}

TEST(VektaManager, InitExShowsItsMessagesOnlyWhenAsked) {
  ScriptedLinkHost host;
  RealClock clock;
  PrinterRegistry registry(host, clock);
  LocalOrbisFactory local(registry);
  {
    VektaManager manager(local, host);
    EXPECT_EQ(manager.InitEx(1, "C", "P", 0, "A", "\\\\shop-server"), 0);
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(manager.InitEx(1, "C", "P", 1, "A", "shop-server"), 0);
    EXPECT_EQ(host.Calls(),
              (Names{"box:stop:CoCreateInstanceEx failed: 800706ba\n",
                     "box:stop:Error connecting to VektaManager server: 800706ba\n"}));
  }

  FakeFactory factory;
  VektaManager manager(factory, host);
  host.ClearCalls();
  ASSERT_EQ(manager.InitEx(1, "C", "P", 1, "A", "shop-server:8460"), 1);
  EXPECT_EQ(factory.lastHost, "shop-server:8460");
  EXPECT_EQ(manager.AttachedPort(), 0);  // its calls wait for no printer of this server
  EXPECT_TRUE(host.Calls().empty());

  // A failed InitEx gives 0; what it shows when asked to.
  auto shown = [&](std::int32_t show) {
    host.ClearCalls();
    EXPECT_EQ(manager.InitEx(1, "C", "P", show, "A", "h"), 0);
    EXPECT_FALSE(manager.HoldsObject());
    return host.Calls();
  };
  factory.initHr = E_FAIL;
  EXPECT_EQ(shown(1), Names{"box:stop:m_iOrbis->Init failed"});
  // Not to a client that let the object go while it was being made.
  {
    VektaManager gone(factory, host);
    factory.onCreate = [&gone] { gone.Abandon(); };
    host.ClearCalls();
    EXPECT_EQ(gone.InitEx(1, "C", "P", 1, "A", "h"), 0);
    EXPECT_TRUE(host.Calls().empty());
    factory.onCreate = nullptr;
  }
  // Creation that succeeds without an object: only the second message, with the code.
  factory.initHr = S_OK;
  factory.giveObject = false;
  EXPECT_EQ(shown(1), Names{"box:stop:Error connecting to VektaManager server: 0\n"});
  // Errors raised while reaching the server: named codes, others in upper-case hex.
  factory.giveObject = true;
  const std::pair<HRESULT, std::string> codes[] = {{REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
                                                   {E_INVALIDARG, "E_INVALIDARG"},
                                                   {RPC_S_SERVER_UNAVAILABLE, "800706BA"},
                                                   {E_ACCESSDENIED, "80070005"}};
  for (const auto& [code, name] : codes) {
    factory.onCreate = [code = code] { throw ComError(code); };
    EXPECT_EQ(shown(1), Names{"box:stop:[ERROR] COM error while accessing the VektaManager "
                              "server: " +
                              name + "\n"});
  }
  // The server reached, its Init lost on the way: not a success.
  factory.onCreate = nullptr;
  factory.initThrows = true;
  EXPECT_EQ(manager.InitEx(1, "C", "P", 0, "A", "h"), 0);
  factory.initThrows = false;

  // A call whose transport fails gives the failure value, and says what was caught.
  ASSERT_EQ(manager.InitEx(1, "C", "P", 0, "A", "h"), 1);
  factory.last->onCall = [](const char*) { throw ComError(RPC_S_SERVER_UNAVAILABLE); };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Call(manager, "OpenCheck", {S("1")}), L(0));
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(
                "a call of VektaManager's Orbis object failed: COM error 0x800706BA"),
            std::string::npos);
  factory.onCreate = [] { throw std::bad_alloc(); };
  EXPECT_EQ(shown(1), Names{"box:stop:[ERROR] std::bad_alloc"});
  EXPECT_TRUE(shown(0).empty());
}

}  // namespace
}  // namespace vekta
