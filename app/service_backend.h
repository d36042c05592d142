#pragma once

// The object backend of the daemon: Orbis and VektaManager objects on the process's printer
// registry.

#include <memory>

#include "app/object_backend.h"
#include "service/orbis_factory.h"

namespace vekta {

class LinkHost;
class PrinterRegistry;

class ServiceBackend : public ObjectBackend {
 public:
  // `factory` makes the Orbis objects that VektaManager objects hold (local or remote).
  ServiceBackend(PrinterRegistry& registry, OrbisFactory& factory, LinkHost& host);

  std::unique_ptr<ServedObject> Create(ObjectClass cls) override;
  std::vector<ConnectionInfo> Connections() override;
  void VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) override;

 private:
  PrinterRegistry& m_registry;
  OrbisFactory& m_factory;
  LinkHost& m_host;
};

// Orbis objects of this process for VektaManager's Init, and remote ones for its InitEx.
class DaemonOrbisFactory : public OrbisFactory {
 public:
  // `remote` makes the objects of other servers; none refuses InitEx.
  DaemonOrbisFactory(PrinterRegistry& registry, std::unique_ptr<OrbisFactory> remote);
  HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) override;
  HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) override;

 private:
  PrinterRegistry& m_registry;
  std::unique_ptr<OrbisFactory> m_remote;
};

// A VektaManager object served over the object protocol.
std::unique_ptr<ServedObject> CreateVektaManagerObject(OrbisFactory& factory, LinkHost& host);

}  // namespace vekta
