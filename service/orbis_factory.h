#pragma once

#include <memory>
#include <string>

#include "service/hresult.h"
#include "service/i_orbis.h"

namespace vekta {

// How a VektaManager object gets its Orbis object: in this process (Init), or from a server on
// another host (InitEx). The client library provides the remote half.
class OrbisFactory {
 public:
  virtual ~OrbisFactory() = default;
  virtual HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) = 0;
  // `host` as the caller gave it: "name", "name:port" or "\\name".
  virtual HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) = 0;
};

}  // namespace vekta
