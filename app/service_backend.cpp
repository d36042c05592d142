#include "app/service_backend.h"

#include "link/printer_link.h"
#include "platform/codepage.h"
#include "service/orbis.h"
#include "service/printer_registry.h"

namespace vekta {

namespace {

class ServedOrbis : public ServedObject {
 public:
  explicit ServedOrbis(PrinterRegistry& registry) : m_orbis(registry) {}
  ObjectClass Class() const override { return ObjectClass::kOrbis; }
  OrbisCallResult CallOrbis(const MemberInfo& member, const std::vector<Value>& args) override {
    return InvokeOrbis(m_orbis, member, args);
  }
  Value CallVektaManager(const MemberInfo&, InvokeKind, const std::vector<Value>&) override {
    return Value(0);
  }
  void Abandon() override { m_orbis.Abandon(); }
  std::int32_t Port() override { return m_orbis.AttachedPort(); }

 private:
  Orbis m_orbis;
};

}  // namespace

ServiceBackend::ServiceBackend(PrinterRegistry& registry, OrbisFactory& factory, LinkHost& host)
    : m_registry(registry), m_factory(factory), m_host(host) {}

std::unique_ptr<ServedObject> ServiceBackend::Create(ObjectClass cls) {
  if (cls == ObjectClass::kOrbis) return std::make_unique<ServedOrbis>(m_registry);
  return CreateVektaManagerObject(m_factory, m_host);
}

std::vector<ConnectionInfo> ServiceBackend::Connections() {
  std::vector<ConnectionInfo> rows;
  m_registry.ForEachEntry([&rows](std::uint32_t port, const PrinterEntry& entry) {
    ConnectionInfo info;
    info.port = static_cast<std::int32_t>(port);
    info.locked = entry.LockCount() > 0;
    if (auto link = entry.Link()) info.serialNumber = Cp1251ToUtf8(link->SerialNumber());
    for (const std::string& name : entry.ClientNames()) info.clients.push_back(Cp1251ToUtf8(name));
    rows.push_back(std::move(info));
  });
  return rows;
}

void ServiceBackend::VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) {
  m_registry.ForEachEntry([&visit](std::uint32_t port, const PrinterEntry& entry) {
    if (auto link = entry.Link()) visit(static_cast<std::int32_t>(port), link.Stats());
  });
}

DaemonOrbisFactory::DaemonOrbisFactory(PrinterRegistry& registry,
                                       std::unique_ptr<OrbisFactory> remote)
    : m_registry(registry), m_remote(std::move(remote)) {}

HRESULT DaemonOrbisFactory::CreateLocal(std::unique_ptr<IOrbis>& object) {
  object = std::make_unique<Orbis>(m_registry);
  return S_OK;
}

HRESULT DaemonOrbisFactory::CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) {
  object.reset();
  if (!m_remote) return RPC_S_SERVER_UNAVAILABLE;
  return m_remote->CreateRemote(host, object);
}

}  // namespace vekta
