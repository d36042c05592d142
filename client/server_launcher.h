#pragma once

// Starts a registered server on demand: when nothing answers at a loopback address and the
// registration manifest exists, its LocalServer32 is started with /Embedding, detached, and
// given up to 10 s to answer /healthz. The process ends by itself with its last object.

#include <chrono>
#include <string>
#include <vector>

#include "client/object_connection.h"

namespace vekta {

struct ServerManifest {
  std::string executable;  // LocalServer32 without its quotes
  std::vector<std::string> arguments;
  std::string listen;
};

// The directories where registration puts the manifest, in the order they are looked at:
// $VEKTA_REGISTRATION_DIR, $XDG_CONFIG_HOME/vektamanager (~/.config/vektamanager),
// /etc/vektamanager.
std::vector<std::string> ManifestDirectories();
bool ReadServerManifest(const std::string& directory, ServerManifest& manifest);

class ServerLauncher {
 public:
  // An empty directory list means ManifestDirectories().
  explicit ServerLauncher(std::vector<std::string> manifestDirectories = {},
                          std::chrono::milliseconds wait = std::chrono::seconds(10));

  // True when a server answers at `address`, started here if need be. `error` says why not.
  // A server that does not answer but still listens is ending (one started on demand, its last
  // object gone; a service that restarts): it frees its port only after it has closed its
  // printers' ports, and one started before would not bind. It is waited for, and then one that
  // takes its place, before a server is started here.
  bool EnsureServer(const ServerAddress& address, std::string& error);

 private:
  enum class Listener { kNone, kAnswers, kWentAway, kStays };
  // Up to the launcher's wait: nothing listens at the address (kNone), a server answers there,
  // the one that listened went away, or it stays without answering.
  Listener WaitForListener(const ServerAddress& address, ObjectConnection& probe);
  bool Start(const ServerManifest& manifest, std::string& error);

  std::vector<std::string> m_directories;
  std::chrono::milliseconds m_wait;
};

}  // namespace vekta
