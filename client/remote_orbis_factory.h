#pragma once

// Orbis objects of a server reached over HTTP: VektaManager's InitEx (any host), and clients
// outside the server process (the local server, started on demand when it is registered).

#include <memory>
#include <string>
#include <vector>

#include "client/lease_keeper.h"
#include "client/object_connection.h"
#include "client/server_launcher.h"
#include "service/orbis_factory.h"

namespace vekta {

class RemoteOrbisFactory final : public OrbisFactory {
 public:
  struct Options {
    ServerAddress local;  // the server of CreateLocal
    std::string token;    // [Remote] Token: sent to the servers of CreateRemote in tokenHosts
    // [Remote] Hosts: the servers the token may go to, "name" (any port) or "name:port"
    // ("[::1]:8460" for an IPv6 address), names compared exactly but without regard to case.
    // Empty: the token goes nowhere.
    std::vector<std::string> tokenHosts;
    int defaultPort = 8460;
    bool startOnDemand = true;  // CreateLocal starts a registered server when none answers
    std::vector<std::string> manifestDirectories;
  };

  RemoteOrbisFactory();
  explicit RemoteOrbisFactory(Options options);

  HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) override;
  // "name", "name:port" or "\\name": http://name:8460 unless a port is given.
  HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) override;

  HRESULT CreateAt(const ServerAddress& address, std::unique_ptr<IOrbis>& object);

 private:
  bool TokenGoesTo(const ServerAddress& address) const;

  Options m_options;
  std::shared_ptr<LeaseKeeper> m_keeper;
};

}  // namespace vekta
