#pragma once

// VektaManager ("VektaManager.Application"; CVektaManagerDlgAutoProxy in the Windows program):
// the automation wrapper for late-binding clients. It holds one IOrbis object, made in this
// process by Init or on another host by InitEx, and turns each result into a plain value:
// flags 1/0, numbers (0 on failure), texts (empty on failure). Texts are UTF-8.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/link_host.h"
#include "service/i_orbis.h"
#include "service/member_table.h"
#include "service/orbis_factory.h"

namespace vekta {

class PrinterRegistry;

// What a member of the IVektaManager table gives when there is no object or its call fails: an
// empty text or the member's failure number.
Value FailureValue(const MemberInfo& member);

// Makes Orbis objects in this process. It reaches no other host: the client library provides
// the remote factory.
class LocalOrbisFactory final : public OrbisFactory {
 public:
  explicit LocalOrbisFactory(PrinterRegistry& registry) : m_registry(registry) {}
  HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) override;
  HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) override;

 private:
  PrinterRegistry& m_registry;
};

class VektaManager {
 public:
  // `host` shows InitEx's message boxes.
  VektaManager(OrbisFactory& factory, LinkHost& host);
  // Releasing the held object detaches it from its port.
  ~VektaManager();
  VektaManager(const VektaManager&) = delete;
  VektaManager& operator=(const VektaManager&) = delete;

  bool HoldsObject() const;
  // The server lets the wrapper go while a call may still run: the held object is abandoned
  // (IOrbis::Abandon), and so is any object a later Init of that call makes. Any thread.
  void Abandon();

  std::int32_t Init(std::int32_t portNumber, const std::string& cashierName,
                    const std::string& cashierPassword, std::int32_t showStatusDialogs,
                    const std::string& callerApplicationName);
  std::int32_t Done();
  std::int32_t InitEx(std::int32_t portNumber, const std::string& cashierName,
                      const std::string& cashierPassword, std::int32_t showStatusDialogs,
                      const std::string& callerApplicationName, const std::string& remoteHostName);

  // A method of the IVektaManager table, its [in] arguments checked: Init, InitEx and Done as
  // above, the others forwarded to the IOrbis member the table names. The result becomes a plain
  // value: a flag 1/0, the out number (the member's failure number when the call fails), or the
  // out text (empty on failure). The pending-message read always waits 3000 ms, whatever the
  // client asked.
  Value Run(const MemberInfo& method, const std::vector<Value>& args);
  // Properties. The receipt sums and LastErrorMessage read through the held object and ignore
  // a set; ShowStatusDialogs and ShowErrorMessages forward a set and always read 0, since
  // nothing keeps a copy. Reading LastErrorMessage empties the link's last error text.
  Value Get(const MemberInfo& property);
  void Put(const MemberInfo& property, const Value& value);

  // The port of this server the last successful Init named; 0 when none, and after InitEx (the
  // object is another server's). Read without waiting for a running call.
  std::int32_t AttachedPort() const { return m_attachedPort.load(); }

 private:
  // Calls the IOrbis member `orbisDispid` with `args`: 1 for a member without an out value, else
  // the out value; `failure` when there is no object or the call fails.
  Value Forward(int orbisDispid, const Value& failure, const std::vector<Value>& args);
  void ShowBox(const std::string& text);
  // Whether the holder has let the object go.
  bool Abandoned();
  // Both with m_mutex held.
  void Hold(std::unique_ptr<IOrbis> object);
  void Drop();

  OrbisFactory& m_factory;
  LinkHost& m_host;
  // Calls on one wrapper object run one at a time, as they did in its apartment.
  mutable std::mutex m_mutex;
  // Changed under both mutexes: read under m_mutex by the calls, under m_abandonMutex by
  // Abandon, which cannot wait for a running call. m_abandonMutex is taken last.
  std::unique_ptr<IOrbis> m_iOrbis;
  std::mutex m_abandonMutex;
  bool m_abandoned = false;  // guarded by m_abandonMutex
  std::atomic<std::int32_t> m_attachedPort{0};
};

}  // namespace vekta
