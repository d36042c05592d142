#include "service/vekta_manager.h"

#include <cstdio>
#include <new>

#include "platform/codepage.h"
#include "service/dispatch.h"
#include "service/orbis.h"

namespace vekta {

namespace {

// The wait the wrapper always gives LowGetNextPendingPrinterMessage, whatever the client asked.
constexpr std::int32_t kPendingMessageWaitMs = 3000;
constexpr std::size_t kMaxFailureText = 1024;

std::string Format(const char* format, unsigned value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The name of a code in the COM error message: a few have names, the rest show as "%X".
std::string ErrorCodeName(HRESULT hr) {
  switch (hr) {
    case E_NOINTERFACE:
    case E_FAIL:
    case E_UNEXPECTED:
    case REGDB_E_CLASSNOTREG:
    case REGDB_E_IIDNOTREG:
    case E_INVALIDARG:
      return HresultName(hr);
    default:
      return Format("%X", static_cast<unsigned>(hr));
  }
}

}  // namespace

HRESULT LocalOrbisFactory::CreateLocal(std::unique_ptr<IOrbis>& object) {
  object = std::make_unique<Orbis>(m_registry);
  return S_OK;
}

HRESULT LocalOrbisFactory::CreateRemote(const std::string&, std::unique_ptr<IOrbis>& object) {
  object.reset();
  return RPC_S_SERVER_UNAVAILABLE;
}

VektaManager::VektaManager(OrbisFactory& factory, LinkHost& host)
    : m_factory(factory), m_host(host) {}

VektaManager::~VektaManager() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();
}

bool VektaManager::HoldsObject() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iOrbis != nullptr;
}

void VektaManager::Abandon() {
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  m_abandoned = true;
  if (m_iOrbis) m_iOrbis->Abandon();
}

bool VektaManager::Abandoned() {
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  return m_abandoned;
}

void VektaManager::Hold(std::unique_ptr<IOrbis> object) {
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  m_iOrbis = std::move(object);
  if (m_abandoned && m_iOrbis) m_iOrbis->Abandon();
}

void VektaManager::Drop() {
  std::unique_ptr<IOrbis> gone;
  {
    std::lock_guard<std::mutex> lock(m_abandonMutex);
    gone = std::move(m_iOrbis);
  }
  m_attachedPort = 0;
  // Its final release detaches it (closing a port takes a while): not under m_abandonMutex.
  gone.reset();
}

Value FailureValue(const MemberInfo& member) {
  if (member.valueType == VarType::kBstr) return std::string();
  return member.failureNumber;
}

Value VektaManager::Forward(int orbisDispid, const Value& failure, const std::vector<Value>& args) {
  const MemberInfo* target = OrbisInterface().FindByDispid(orbisDispid);
  if (target == nullptr || target->invoke == nullptr || Failed(CheckArguments(*target, args))) {
    return failure;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return failure;
  try {
    std::optional<Value> out;
    if (Failed(target->invoke(*m_iOrbis, args, out))) return failure;
    if (target->OutParam() == nullptr) return std::int32_t{1};
    return out ? *out : failure;
  } catch (...) {
    LogCaught("a call of VektaManager's Orbis object");
    return failure;
  }
}

void VektaManager::ShowBox(const std::string& text) {
  m_host.ShowMessageBox(Utf8ToCp1251(text), MessageBoxStyle::kStopOk);
}

std::int32_t VektaManager::Init(std::int32_t portNumber, const std::string& cashierName,
                                const std::string& cashierPassword, std::int32_t showStatusDialogs,
                                const std::string& callerApplicationName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();  // detaches the earlier object from its port first
  try {
    std::unique_ptr<IOrbis> object;
    if (Succeeded(m_factory.CreateLocal(object)) && object) {
      // Held while it connects, so that Abandon reaches it.
      Hold(std::move(object));
      if (Failed(m_iOrbis->Init(portNumber, cashierName, cashierPassword, showStatusDialogs,
                                callerApplicationName))) {
        Drop();
      }
    }
  } catch (...) {
    LogCaught("VektaManager.Init");
    Drop();
    // Init shows nothing; the value says it all.
  }
  if (m_iOrbis) m_attachedPort = portNumber;
  return m_iOrbis ? 1 : 0;
}

std::int32_t VektaManager::InitEx(std::int32_t portNumber, const std::string& cashierName,
                                  const std::string& cashierPassword,
                                  std::int32_t showStatusDialogs,
                                  const std::string& callerApplicationName,
                                  const std::string& remoteHostName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();
  const bool show = showStatusDialogs != 0;
  try {
    std::unique_ptr<IOrbis> object;
    const HRESULT created = m_factory.CreateRemote(remoteHostName, object);
    if (Failed(created) && show) {
      ShowBox(Format("CoCreateInstanceEx failed: %x\n", static_cast<unsigned>(created)));
    }
    if (!object && show) {
      ShowBox(
          Format("Error connecting to VektaManager server: %x\n", static_cast<unsigned>(created)));
    }
    Hold(std::move(object));
    if (m_iOrbis && Failed(m_iOrbis->Init(portNumber, cashierName, cashierPassword,
                                          showStatusDialogs, callerApplicationName))) {
      // A client that let the object go meanwhile is not told.
      if (show && !Abandoned()) ShowBox("m_iOrbis->Init failed");
      Drop();
    }
  } catch (const ComError& error) {
    // What is held stays held, but an Init that did not come back is no success.
    if (show) {
      ShowBox("[ERROR] COM error while accessing the VektaManager server: " +
              ErrorCodeName(error.Code()) + "\n");
    }
    return 0;
  } catch (const std::bad_alloc& error) {
    Drop();
    if (show) ShowBox("[ERROR] " + std::string(error.what()).substr(0, kMaxFailureText));
    return 0;
  } catch (const std::exception& error) {
    Drop();
    if (show) ShowBox("[ERROR] " + std::string(error.what()).substr(0, kMaxFailureText));
    return 0;
  }
  // The object is another server's: its calls wait for no printer of this one.
  return m_iOrbis ? 1 : 0;
}

std::int32_t VektaManager::Done() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return 0;
  // Releasing the only reference is the object's final release, which detaches it.
  Drop();
  return 1;
}

Value VektaManager::Run(const MemberInfo& method, const std::vector<Value>& args) {
  auto number = [&](std::size_t i) { return std::get<std::int32_t>(args[i]); };
  auto text = [&](std::size_t i) -> const std::string& { return std::get<std::string>(args[i]); };
  switch (method.wrapping) {
    case Wrapping::kInit:
      return Init(number(0), text(1), text(2), number(3), text(4));
    case Wrapping::kInitEx:
      return InitEx(number(0), text(1), text(2), number(3), text(4), text(5));
    case Wrapping::kDone:
      return Done();
    case Wrapping::kFixedWait:
      return Forward(method.forwardsToDispid, FailureValue(method), {Value(kPendingMessageWaitMs)});
    case Wrapping::kForward:
      break;
  }
  return Forward(method.forwardsToDispid, FailureValue(method), args);
}

Value VektaManager::Get(const MemberInfo& property) {
  if (property.forwardsToDispid == 0) return FailureValue(property);
  return Forward(property.forwardsToDispid, FailureValue(property), {});
}

void VektaManager::Put(const MemberInfo& property, const Value& value) {
  if (property.setterForwardsToDispid != 0) {
    Forward(property.setterForwardsToDispid, std::int32_t{0}, {value});
  }
}

}  // namespace vekta
