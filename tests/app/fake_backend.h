#pragma once

// An object backend that records every call, so that a test can tell that a refused request
// reached no object.

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/object_backend.h"
#include "link/link_stats.h"

namespace vekta {

class FakeBackend : public ObjectBackend {
 public:
  struct Call {
    std::string member;
    std::vector<Value> args;
  };

  std::unique_ptr<ServedObject> Create(ObjectClass cls) override {
    return std::make_unique<Object>(*this, cls);
  }
  std::vector<ConnectionInfo> Connections() override {
    return {{3, true, "AB12345678", {"POS"}}, {4, false, "", {"", "Kasa 2"}}};
  }
  void VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) override {
    visit(3, m_stats);
  }
  std::vector<Call> Calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }

  std::atomic<int> live{0};
  std::atomic<int> destroyed{0};
  LinkStats m_stats;
  // Runs at the start of every IOrbis call, on the thread that runs it, with the object's port
  // (a test holds a call there, as a prompt or a long report would).
  std::function<void(const std::string& member, std::int32_t port)> onCall;

 private:
  // IOrbis answers S_OK, but FiscalLine E_FAIL with ThisLineSum -1; the wrapper answers 7 or
  // a Cyrillic text.
  class Object : public ServedObject {
   public:
    Object(FakeBackend& backend, ObjectClass cls) : m_backend(backend), m_class(cls) {
      ++m_backend.live;
    }
    ~Object() override {
      --m_backend.live;
      ++m_backend.destroyed;
    }
    ObjectClass Class() const override { return m_class; }
    std::int32_t Port() override { return m_port.load(); }
    OrbisCallResult CallOrbis(const MemberInfo& member, const std::vector<Value>& args) override {
      // Init attaches to the port its first argument names.
      if (member.name == "Init") m_port = std::get<std::int32_t>(args[0]);
      if (m_backend.onCall) m_backend.onCall(member.name, m_port.load());
      m_backend.Record({member.name, args});
      OrbisCallResult r;
      if (member.name == "FiscalLine") {
        r.hr = E_FAIL;
        r.outs["ThisLineSum"] = Value(std::int32_t{-1});
      }
      return r;
    }
    Value CallVektaManager(const MemberInfo& member, InvokeKind kind,
                           const std::vector<Value>& args) override {
      m_backend.Record({member.name + (kind == InvokeKind::kPropertyPut   ? ":put"
                                       : kind == InvokeKind::kPropertyGet ? ":get"
                                                                          : ""),
                        args});
      if (member.valueType == VarType::kBstr) return Value(std::string("Сума"));
      return Value(std::int32_t{7});
    }

   private:
    FakeBackend& m_backend;
    ObjectClass m_class;
    std::atomic<std::int32_t> m_port{0};
  };

  void Record(Call call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(std::move(call));
  }

  mutable std::mutex m_mutex;
  std::vector<Call> m_calls;
};

}  // namespace vekta
