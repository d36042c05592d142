#include "client/remote_orbis_factory.h"

#include "client/remote_orbis.h"

namespace vekta {

RemoteOrbisFactory::RemoteOrbisFactory() : RemoteOrbisFactory(Options{}) {}

RemoteOrbisFactory::RemoteOrbisFactory(Options options)
    : m_options(std::move(options)), m_keeper(LeaseKeeper::Shared()) {}

HRESULT RemoteOrbisFactory::CreateAt(const ServerAddress& address,
                                     std::unique_ptr<IOrbis>& object) {
  object.reset();
  auto connection = std::make_shared<ObjectConnection>(address);
  std::unique_ptr<RemoteOrbis> remote;
  const HRESULT hr = RemoteOrbis::Create(connection, remote, m_keeper);
  if (Failed(hr)) return hr;
  object = std::move(remote);
  return S_OK;
}

HRESULT RemoteOrbisFactory::CreateLocal(std::unique_ptr<IOrbis>& object) {
  object.reset();
  if (m_options.startOnDemand) {
    ServerLauncher launcher(m_options.manifestDirectories);
    std::string error;
    if (!launcher.EnsureServer(m_options.local, error)) return RPC_S_SERVER_UNAVAILABLE;
  }
  return CreateAt(m_options.local, object);
}

HRESULT RemoteOrbisFactory::CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) {
  object.reset();
  auto address = ParseServerName(host, m_options.defaultPort);
  if (!address) return RPC_S_SERVER_UNAVAILABLE;
  address->token = m_options.token;
  return CreateAt(*address, object);
}

}  // namespace vekta
