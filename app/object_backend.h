#pragma once

// What the object protocol needs from the objects' side of the process. The service backend
// implements it on the printer registry; the HTTP tests use a fake so that they can tell
// that a refused request reached nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/dispatch.h"
#include "service/member_table.h"

namespace vekta {

struct LinkStats;

enum class ObjectClass { kOrbis, kVektaManager };

// One served object. Calls arrive already checked against the member table.
class ServedObject {
 public:
  virtual ~ServedObject() = default;
  virtual ObjectClass Class() const = 0;
  // Orbis members: kind is always kMethod.
  virtual OrbisCallResult CallOrbis(const MemberInfo& member, const std::vector<Value>& args) = 0;
  virtual Value CallVektaManager(const MemberInfo& member, InvokeKind kind,
                                 const std::vector<Value>& args) = 0;
  // Released while a call may still run on it: that call's waits end (IOrbis::Abandon).
  virtual void Abandon() {}
  // The port the object is attached to; 0 when none.
  virtual std::int32_t Port() { return 0; }
};

// One port of the connection list.
struct ConnectionInfo {
  std::int32_t port = 0;
  bool locked = false;
  std::string serialNumber;  // UTF-8, empty when the printer is not yet identified
  std::vector<std::string> clients;
};

class ObjectBackend {
 public:
  virtual ~ObjectBackend() = default;
  // Null when the object cannot be made.
  virtual std::unique_ptr<ServedObject> Create(ObjectClass cls) = 0;
  virtual std::vector<ConnectionInfo> Connections() = 0;
  // Calls `visit` for every open port with its counters, under the registry's lock.
  virtual void VisitLinkStats(const std::function<void(std::int32_t, LinkStats&)>& visit) = 0;
};

}  // namespace vekta
