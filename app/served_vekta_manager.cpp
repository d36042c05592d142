#include "app/service_backend.h"
#include "service/vekta_manager.h"

namespace vekta {

namespace {

class ServedVektaManager : public ServedObject {
 public:
  ServedVektaManager(OrbisFactory& factory, LinkHost& host) : m_object(factory, host) {}
  ObjectClass Class() const override { return ObjectClass::kVektaManager; }
  OrbisCallResult CallOrbis(const MemberInfo&, const std::vector<Value>&) override {
    return {E_FAIL, {}};
  }
  Value CallVektaManager(const MemberInfo& member, InvokeKind kind,
                         const std::vector<Value>& args) override {
    return InvokeVektaManager(m_object, member, kind, args);
  }
  void Abandon() override { m_object.Abandon(); }
  std::int32_t Port() override { return m_object.AttachedPort(); }

 private:
  VektaManager m_object;
};

}  // namespace

std::unique_ptr<ServedObject> CreateVektaManagerObject(OrbisFactory& factory, LinkHost& host) {
  return std::make_unique<ServedVektaManager>(factory, host);
}

}  // namespace vekta
