#include "app/object_calls.h"

#include <openssl/evp.h>

#include <atomic>

#include "app/argument_conversion.h"

namespace vekta {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxIdempotencyKey = 200;
constexpr char kNoSuchObject[] = "no such object (unknown or released)";

const char* ClassName(ObjectClass cls) {
  return cls == ObjectClass::kOrbis ? "Orbis" : "VektaManager";
}

const InterfaceInfo& InterfaceOf(ObjectClass cls) {
  return cls == ObjectClass::kOrbis ? OrbisInterface() : VektaManagerInterface();
}

std::optional<ObjectClass> ClassFromName(const std::string& progid) {
  if (progid == "VektaManager.Orbis" || progid == "VektaManager.Orbis.1" || progid == "Orbis") {
    return ObjectClass::kOrbis;
  }
  if (progid == "VektaManager.Application" || progid == "VektaManager") {
    return ObjectClass::kVektaManager;
  }
  return std::nullopt;
}

bool IsEmptyArgs(const json& args) {
  return args.is_null() || ((args.is_array() || args.is_object()) && args.empty());
}

// The port whose executor runs the call; 0, the pool, for what does not talk to a printer.
std::int32_t PortOfCall(ServedObject& object, const MemberInfo& member, InvokeKind kind,
                        const std::vector<Value>& args) {
  const MemberInfo* orbis = &member;
  if (object.Class() == ObjectClass::kVektaManager) {
    const int dispid =
        kind == InvokeKind::kPropertyPut ? member.setterForwardsToDispid : member.forwardsToDispid;
    orbis = dispid != 0 ? OrbisInterface().FindByDispid(dispid) : nullptr;
  }
  if (orbis != nullptr && !orbis->runsOnPort) return 0;
  // InitEx reaches another server: this one's printer of that number has no part in it.
  if (member.wrapping == Wrapping::kInitEx) return 0;
  if (const std::int32_t port = object.Port(); port > 0) return port;
  // An object that is not attached yet is being attached to the port its first argument names.
  if (!member.params.empty() && member.params[0].name == "PortNumber" && !args.empty()) {
    if (const auto* port = std::get_if<std::int32_t>(&args[0]); port != nullptr && *port > 0) {
      return *port;
    }
  }
  return 0;
}

// Runs one checked call and renders its envelope.
StoredResponse RunCall(ServedObject& object, const MemberInfo& member, InvokeKind kind,
                       const std::vector<Value>& args) {
  if (object.Class() == ObjectClass::kOrbis) {
    OrbisCallResult r = object.CallOrbis(member, args);
    json out = json::object();
    for (const auto& [name, value] : r.outs) out[name] = ValueToJson(value);
    std::string name = HresultName(r.hr);
    if (name.empty()) name = HresultHex(r.hr);
    return {200,
            Dump({{"hresult", HresultHex(r.hr)},
                  {"hresultName", name},
                  {"ok", Succeeded(r.hr)},
                  {"out", out}}),
            {}};
  }
  Value v = object.CallVektaManager(member, kind, args);
  if (kind == InvokeKind::kPropertyPut) return {200, Dump({{"value", nullptr}}), {}};
  return {200, Dump({{"value", ValueToJson(v)}}), {}};
}

// A call's member, how it was invoked and its converted arguments, as a SHA-256 digest: an
// object keeps up to 256 answers, and the calls' own texts (up to a request body each) would
// make those records grow with what clients send.
std::string CallFingerprint(const MemberInfo& member, InvokeKind kind,
                            const std::vector<Value>& values) {
  json call = json::array();
  for (const auto& value : values) call.push_back(ValueToJson(value));
  const std::string text = std::to_string(member.dispid) + ":" +
                           std::to_string(static_cast<int>(kind)) + ":" + call.dump();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    return text;  // still tells the calls apart, only less compactly
  }
  return std::string(reinterpret_cast<const char*>(digest), size);
}

// The call under its Idempotency-Key: run, answered from the record, or refused.
HttpResponse RunOnce(ObjectTable::Entry& entry, const MemberInfo& member, InvokeKind kind,
                     const std::vector<Value>& values, const std::string& key) {
  HttpResponse res;
  const std::string fingerprint = CallFingerprint(member, kind, values);
  std::lock_guard<std::mutex> lock(entry.callMutex);
  StoredResponse answer;
  switch (ObjectTable::FindStored(entry, key, fingerprint, answer)) {
    case ObjectTable::Stored::kOtherCall:
      SendError(res, 422, E_INVALIDARG,
                "Idempotency-Key was already used on this object for another call (another "
                "member or other arguments): nothing was run");
      return res;
    case ObjectTable::Stored::kReplay:
      res.SetHeader("Idempotent-Replay", "true");
      break;
    case ObjectTable::Stored::kNone:
      answer = RunCall(*entry.object, member, kind, values);
      answer.call = fingerprint;
      ObjectTable::Store(entry, key, answer);
      break;
  }
  res.status = answer.status;
  res.SetContent(answer.body, kJsonType);
  return res;
}

// Keeps a call-in-flight mark on an object for the length of a request.
class CallScope {
 public:
  CallScope(ObjectTable& table, std::shared_ptr<ObjectTable::Entry> entry)
      : m_table(table), m_entry(std::move(entry)) {}
  ~CallScope() {
    if (m_entry) m_table.EndCall(m_entry);
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  ObjectTable& m_table;
  std::shared_ptr<ObjectTable::Entry> m_entry;
};

// The mark of a call that waits for its turn: ended when the turn comes, or when the queued call
// is dropped with its server. It holds the id alone, so that it never keeps a released object.
class QueuedCall {
 public:
  QueuedCall(ObjectTable& table, std::string id) : m_table(table), m_id(std::move(id)) {}
  ~QueuedCall() { End(); }
  QueuedCall(const QueuedCall&) = delete;
  QueuedCall& operator=(const QueuedCall&) = delete;
  void End() {
    if (!m_ended.exchange(true)) m_table.EndCall(m_id);
  }

 private:
  ObjectTable& m_table;
  const std::string m_id;
  std::atomic<bool> m_ended{false};
};

HttpResponse Refused(int status, HRESULT hr, std::string text) {
  HttpResponse res;
  SendError(res, status, hr, std::move(text));
  return res;
}

}  // namespace

ObjectCalls::ObjectCalls(ObjectBackend& backend, ObjectTable& objects, CallExecutors& executors,
                         std::function<void()> afterChange)
    : m_backend(backend),
      m_objects(objects),
      m_executors(executors),
      m_afterChange(std::move(afterChange)) {}

void ObjectCalls::Answer(const Respond& respond, const std::function<HttpResponse()>& job) {
  HttpResponse res;
  try {
    res = job();
    if (m_afterChange) m_afterChange();
  } catch (...) {
    LogCaught("an object call");
    res = Refused(500, E_UNEXPECTED, "internal error");
  }
  respond(std::move(res));
}

void ObjectCalls::Run(std::int32_t port, const Respond& respond,
                      std::function<HttpResponse()> job) {
  const bool posted =
      m_executors.Post(port, [this, respond, job = std::move(job)] { Answer(respond, job); });
  if (!posted) respond(Refused(503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down"));
}

void ObjectCalls::RunInTurn(const std::shared_ptr<Turns>& turns, std::int32_t port,
                            const Respond& respond, std::function<HttpResponse()> job) {
  const bool posted = m_executors.Post(port, [this, turns, port, respond, job] {
    {
      std::lock_guard<std::mutex> lock(turns->mutex);
      if (turns->running) {
        // Another call of this object runs elsewhere: this one waits for it off the executor,
        // and comes back to the end of the queue when it is done.
        turns->waiting.push_back(
            [this, turns, port, respond, job] { RunInTurn(turns, port, respond, job); });
        return;
      }
      turns->running = true;
    }
    Answer(respond, job);
    std::function<void()> next;
    {
      std::lock_guard<std::mutex> lock(turns->mutex);
      turns->running = false;
      if (!turns->waiting.empty()) {
        next = std::move(turns->waiting.front());
        turns->waiting.pop_front();
      }
    }
    if (next) next();
  });
  if (!posted) respond(Refused(503, RPC_S_SERVER_UNAVAILABLE, "the server is shutting down"));
}

void ObjectCalls::Create(const HttpRequest& req, const Respond& respond) {
  HttpResponse res;
  json body;
  if (!ParseBody(req, res, body)) return respond(std::move(res));
  if (!body.is_object()) {
    return respond(Refused(400, E_INVALIDARG, "expected {\"progid\":...} or {\"class\":...}"));
  }
  std::optional<ObjectClass> cls;
  for (const char* field : {"progid", "class"}) {
    auto it = body.find(field);
    if (it == body.end()) continue;
    if (!it->is_string()) {
      return respond(
          Refused(400, DISP_E_TYPEMISMATCH, std::string(field) + ": a text is expected"));
    }
    const std::string name = it->get<std::string>();
    cls = ClassFromName(name);
    if (!cls) return respond(Refused(400, REGDB_E_CLASSNOTREG, "no class " + name.substr(0, 100)));
  }
  if (!cls) {
    return respond(Refused(400, E_INVALIDARG, "expected {\"progid\":...} or {\"class\":...}"));
  }
  std::int64_t leaseMs = kDefaultLeaseMs;
  if (auto it = body.find("leaseMs"); it != body.end()) {
    const auto lease = WholeNumberIn(*it, 1, kMaxLeaseMs);
    if (!lease) {
      return respond(
          it->is_number_integer()
              ? Refused(400, DISP_E_OVERFLOW, "leaseMs: from 1 to 86400000")
              : Refused(400, DISP_E_TYPEMISMATCH, "leaseMs: a whole number is expected"));
    }
    leaseMs = *lease;
  }
  const std::string full = "the server holds its limit of " +
                           std::to_string(m_objects.MaxObjects()) +
                           " live objects ([Server] MaxObjects): release some first";
  if (m_objects.Count() >= m_objects.MaxObjects()) {
    return respond(Refused(503, RPC_S_SERVER_UNAVAILABLE, full));
  }
  Run(0, respond, [this, cls = *cls, leaseMs, full] {
    auto object = m_backend.Create(cls);
    if (!object) return Refused(500, E_FAIL, "the object cannot be created");
    const std::string id = m_objects.Add(std::move(object), leaseMs);
    // Full, or the server began to close (one started on demand, its last object gone).
    if (id.empty()) {
      return Refused(503, RPC_S_SERVER_UNAVAILABLE,
                     m_objects.Closed() ? "the server is shutting down" : full);
    }
    HttpResponse created;
    SendJson(created, 201, {{"object", id}, {"class", ClassName(cls)}, {"leaseMs", leaseMs}});
    return created;
  });
}

void ObjectCalls::Dispatch(const HttpRequest& req, const Respond& respond, const Resolve& resolve) {
  HttpResponse res;
  json body;
  if (!ParseBody(req, res, body)) return respond(std::move(res));
  std::string key = req.Header("Idempotency-Key");
  if (key.size() > kMaxIdempotencyKey) {
    return respond(Refused(400, E_INVALIDARG, "Idempotency-Key is limited to 200 characters"));
  }
  const std::string& id = req.matches[1];
  auto found = m_objects.Find(id);
  if (!found) return respond(Refused(404, RPC_E_DISCONNECTED, kNoSuchObject));
  ProtocolError error;
  InvokeKind kind = InvokeKind::kMethod;
  json args;
  const MemberInfo* member = resolve(found->object->Class(), body, kind, args, error);
  if (!member) {
    SendError(res, error);
    return respond(std::move(res));
  }
  auto values = ConvertArguments(InParameters(*member, kind), args, error);
  if (!values) {
    SendError(res, error);
    return respond(std::move(res));
  }
  const std::int32_t port = PortOfCall(*found->object, *member, kind, *values);
  const std::shared_ptr<Turns> turns = found->turns;
  found.reset();
  // Only a request that fits counts as a call: from its arrival it renews the lease and keeps the
  // object alive, also while it waits in its port's queue behind another client's long report.
  if (!m_objects.BeginCall(id)) return respond(Refused(404, RPC_E_DISCONNECTED, kNoSuchObject));
  auto queued = std::make_shared<QueuedCall>(m_objects, id);
  RunInTurn(turns, port, respond,
            [this, id, queued, member, kind, values = std::move(*values), key = std::move(key)] {
              auto entry = m_objects.BeginCall(id);  // null when released while it waited
              queued->End();
              if (!entry) return Refused(404, RPC_E_DISCONNECTED, kNoSuchObject);
              CallScope scope(m_objects, entry);
              return RunOnce(*entry, *member, kind, values, key);
            });
}

void ObjectCalls::CallByName(const HttpRequest& req, const Respond& respond) {
  const std::string name = req.matches[2];
  Dispatch(
      req, respond,
      [&name](ObjectClass cls, const json& body, InvokeKind& kind, json& args,
              ProtocolError& error) -> const MemberInfo* {
        const MemberInfo* member = InterfaceOf(cls).FindByName(name);
        if (!member) {
          error = {400, DISP_E_UNKNOWNNAME, "no member " + name + " in " + InterfaceOf(cls).name};
          return nullptr;
        }
        args = body;
        kind = InvokeKind::kMethod;
        if (member->kind == MemberKind::kProperty) {
          // {"value":5} or [5] puts the property.
          kind = IsEmptyArgs(body) ? InvokeKind::kPropertyGet : InvokeKind::kPropertyPut;
          if (kind == InvokeKind::kPropertyGet) args = nullptr;
        }
        return member;
      });
}

void ObjectCalls::CallByDispid(const HttpRequest& req, const Respond& respond) {
  Dispatch(
      req, respond,
      [](ObjectClass cls, const json& body, InvokeKind& kind, json& args,
         ProtocolError& error) -> const MemberInfo* {
        if (!body.is_object() || !body.contains("dispid") || !body["dispid"].is_number_integer()) {
          error = {400, DISP_E_TYPEMISMATCH, "expected {\"dispid\":N,\"args\":[...]}"};
          return nullptr;
        }
        const auto dispid = body["dispid"].get<std::int64_t>();
        const MemberInfo* member = dispid > 0 && dispid < 0x10000
                                       ? InterfaceOf(cls).FindByDispid(static_cast<int>(dispid))
                                       : nullptr;
        if (!member) {
          error = {
              400, DISP_E_UNKNOWNNAME,
              "no member with dispid " + std::to_string(dispid) + " in " + InterfaceOf(cls).name};
          return nullptr;
        }
        std::string kindText = "method";
        if (auto it = body.find("kind"); it != body.end()) {
          if (!it->is_string()) {
            error = {400, DISP_E_TYPEMISMATCH, "kind: method, propget or propput"};
            return nullptr;
          }
          kindText = it->get<std::string>();
        }
        args = body.contains("args") ? body["args"] : json(nullptr);
        const bool property = member->kind == MemberKind::kProperty;
        if (kindText == "method" || kindText == "propget") {
          // A late-binding client may get a property with a method call and call a
          // method with no arguments as a property get.
          kind = property ? InvokeKind::kPropertyGet : InvokeKind::kMethod;
        } else if (kindText == "propput" && property) {
          kind = InvokeKind::kPropertyPut;
        } else {
          error = {400, DISP_E_UNKNOWNNAME,
                   member->name + " cannot be called as " + kindText.substr(0, 20)};
          return nullptr;
        }
        return member;
      });
}

void ObjectCalls::Ping(const HttpRequest& req, const Respond& respond) {
  if (!m_objects.Renew(req.matches[1])) {
    return respond(Refused(404, RPC_E_DISCONNECTED, kNoSuchObject));
  }
  HttpResponse res;
  SendJson(res, 200, {{"object", req.matches[1]}});
  respond(std::move(res));
}

void ObjectCalls::Release(const HttpRequest& req, const Respond& respond) {
  // The final release may close the port: on the pool, where a wait of the object's own call
  // is ended by it rather than queued behind.
  Run(0, respond, [this, id = req.matches[1]] {
    if (!m_objects.Release(id)) return Refused(404, RPC_E_DISCONNECTED, kNoSuchObject);
    HttpResponse res;
    res.status = 204;
    return res;
  });
}

}  // namespace vekta
