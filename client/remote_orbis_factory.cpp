#include "client/remote_orbis_factory.h"

#include <cctype>

#include "client/remote_orbis.h"

namespace vekta {

RemoteOrbisFactory::RemoteOrbisFactory() : RemoteOrbisFactory(Options{}) {}

RemoteOrbisFactory::RemoteOrbisFactory(Options options)
    : m_options(std::move(options)), m_keeper(std::make_shared<LeaseKeeper>()) {}

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
  if (!m_options.startOnDemand) return CreateAt(m_options.local, object);
  ServerLauncher launcher(m_options.manifestDirectories);
  std::string error;
  if (!launcher.EnsureServer(m_options.local, error)) return RPC_S_SERVER_UNAVAILABLE;
  const HRESULT hr = CreateAt(m_options.local, object);
  // A server started on demand ends with its last object: one asked for just as it closes is
  // refused, or its connection cut. It releases every object as it ends, so that none is left
  // twice: the next one is started once it has gone.
  if (Succeeded(hr) || ObjectConnection(m_options.local).Healthy(std::chrono::seconds(1))) {
    return hr;
  }
  if (!launcher.EnsureServer(m_options.local, error)) return RPC_S_SERVER_UNAVAILABLE;
  return CreateAt(m_options.local, object);
}

HRESULT RemoteOrbisFactory::CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) {
  object.reset();
  auto address = ParseServerName(host, m_options.defaultPort);
  if (!address) return RPC_S_SERVER_UNAVAILABLE;
  // The caller names the host: the token is only for the servers the configuration trusts.
  if (TokenGoesTo(*address)) address->token = m_options.token;
  return CreateAt(*address, object);
}

bool RemoteOrbisFactory::TokenGoesTo(const ServerAddress& address) const {
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string host = lower(address.host);
  for (const std::string& entry : m_options.tokenHosts) {
    // An entry is read as a server name is ("[::1]:8460" included); port 0 means any port. One
    // written "https://" keeps the token on TLS: a client naming the host plainly gets none.
    auto allowed = ParseServerName(entry, 0);
    if (!allowed || (allowed->tls && !address.tls)) continue;
    if (lower(allowed->host) == host && (allowed->port == 0 || allowed->port == address.port)) {
      return true;
    }
  }
  return false;
}

}  // namespace vekta
