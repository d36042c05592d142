#pragma once

// The object protocol's own requests: create, call by name or by dispid, ping and release.
// A request is checked on the thread that serves it; the call itself then runs on the command
// executor of the object's port (or on the pool, for what does not talk to a printer), and its
// answer goes back through `Respond`.

#include <functional>

#include "app/call_executors.h"
#include "app/http_message.h"
#include "app/object_backend.h"
#include "app/object_table.h"

namespace vekta {

class ObjectCalls {
 public:
  // `afterChange` runs after every call that may have changed the connection list.
  ObjectCalls(ObjectBackend& backend, ObjectTable& objects, CallExecutors& executors,
              std::function<void()> afterChange);

  void Create(const HttpRequest& req, const Respond& respond);
  void CallByName(const HttpRequest& req, const Respond& respond);
  void CallByDispid(const HttpRequest& req, const Respond& respond);
  void Ping(const HttpRequest& req, const Respond& respond);
  void Release(const HttpRequest& req, const Respond& respond);

  // The member a request names, with how it is invoked and its arguments; null (and `error`
  // set) when the request names none.
  using Resolve =
      std::function<const MemberInfo*(ObjectClass, const nlohmann::json& body, InvokeKind& kind,
                                      nlohmann::json& args, ProtocolError& error)>;

 private:
  void Dispatch(const HttpRequest& req, const Respond& respond, const Resolve& resolve);
  // Runs `job` where calls on that port run; answers 503 when the server is stopping.
  void Run(std::int32_t port, const Respond& respond, std::function<HttpResponse()> job);
  // Runs `job` as Run does, once no other call of the same object runs.
  using Turns = ObjectTable::Entry::Turns;
  void RunInTurn(const std::shared_ptr<Turns>& turns, std::int32_t port, const Respond& respond,
                 std::function<HttpResponse()> job);
  void Answer(const Respond& respond, const std::function<HttpResponse()>& job);

  ObjectBackend& m_backend;
  ObjectTable& m_objects;
  CallExecutors& m_executors;
  std::function<void()> m_afterChange;
};

}  // namespace vekta
