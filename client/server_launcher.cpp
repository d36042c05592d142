#include "client/server_launcher.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

namespace vekta {

namespace {

bool IsLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// Between fork and exec of a threaded caller: system calls only, no allocation.
void CloseFromThree() {
  if (::close_range(3, ~0U, 0) == 0) return;
  rlimit limit{};
  rlim_t last = 1 << 16;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    last = std::min<rlim_t>(limit.rlim_cur, 1 << 20);
  }
  for (rlim_t fd = 3; fd < last; ++fd) ::close(static_cast<int>(fd));
}

// Whether nothing listens at any address of the host: each refuses a connection or cannot be
// reached at all (::1 where IPv6 is off). One that takes it, or does not answer in time, may be
// a server.
bool Refused(const ServerAddress& address) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found) !=
          0 ||
      found == nullptr) {
    return false;
  }
  bool tried = false;
  bool listening = false;
  for (const addrinfo* at = found; at != nullptr && !listening; at = at->ai_next) {
    const int fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) continue;
    tried = true;
    const timeval wait{0, 500'000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof(wait));
    listening = ::connect(fd, at->ai_addr, at->ai_addrlen) == 0 || errno == EINPROGRESS ||
                errno == EAGAIN || errno == ETIMEDOUT || errno == EINTR;
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return tried && !listening;
}

}  // namespace

std::vector<std::string> ManifestDirectories() {
  std::vector<std::string> dirs;
  if (const char* dir = std::getenv("VEKTA_REGISTRATION_DIR"); dir && *dir) dirs.push_back(dir);
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    dirs.push_back(std::string(xdg) + "/vektamanager");
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    dirs.push_back(std::string(home) + "/.config/vektamanager");
  }
  dirs.push_back("/etc/vektamanager");
  return dirs;
}

bool ReadServerManifest(const std::string& directory, ServerManifest& manifest) {
  std::ifstream in(directory + "/registration.json");
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  const auto doc = nlohmann::json::parse(text.str(), nullptr, false);
  if (!doc.is_object() || !doc.contains("LocalServer32") || !doc["LocalServer32"].is_string()) {
    return false;
  }
  std::string exe = doc["LocalServer32"].get<std::string>();
  if (exe.size() >= 2 && exe.front() == '"' && exe.back() == '"')
    exe = exe.substr(1, exe.size() - 2);
  if (exe.empty() || exe.front() != '/') return false;
  manifest.executable = exe;
  manifest.arguments.clear();
  if (doc.contains("serverArguments") && doc["serverArguments"].is_array()) {
    for (const auto& a : doc["serverArguments"]) {
      if (a.is_string()) manifest.arguments.push_back(a.get<std::string>());
    }
  }
  manifest.listen =
      doc.contains("listen") && doc["listen"].is_string() ? doc["listen"].get<std::string>() : "";
  return true;
}

ServerLauncher::ServerLauncher(std::vector<std::string> manifestDirectories,
                               std::chrono::milliseconds wait)
    : m_directories(std::move(manifestDirectories)), m_wait(wait) {
  if (m_directories.empty()) m_directories = ManifestDirectories();
}

bool ServerLauncher::EnsureServer(const ServerAddress& address, std::string& error) {
  ObjectConnection probe(address);
  if (probe.Healthy(std::chrono::milliseconds(1000))) return true;
  if (!IsLoopback(address.host)) {
    error = "no server at " + address.Url();
    return false;
  }
  ServerManifest manifest;
  bool found = false;
  for (const auto& dir : m_directories) {
    if (ReadServerManifest(dir, manifest)) {
      found = true;
      break;
    }
  }
  if (!found) {
    error = "no server at " + address.Url() + " and none registered";
    return false;
  }
  switch (WaitForListener(address, probe)) {
    case Listener::kAnswers:
      return true;
    case Listener::kStays:
      error = "the server at " + address.Url() + " neither answers nor ends";
      return false;
    case Listener::kWentAway:
      // A service that restarts binds again within moments, and one started here would take its
      // place (as another user, without its ports): it is given a second to.
      for (int i = 0; i < 20; ++i) {
        if (probe.Healthy(std::chrono::milliseconds(200))) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      break;
    case Listener::kNone:
      break;
  }
  if (!Start(manifest, error)) return false;
  const auto deadline = std::chrono::steady_clock::now() + m_wait;
  while (std::chrono::steady_clock::now() < deadline) {
    if (probe.Healthy(std::chrono::milliseconds(500))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "the server started on demand did not answer within " +
          std::to_string(m_wait.count() / 1000) + " s";
  return false;
}

ServerLauncher::Listener ServerLauncher::WaitForListener(const ServerAddress& address,
                                                         ObjectConnection& probe) {
  bool seen = false;
  const auto deadline = std::chrono::steady_clock::now() + m_wait;
  while (std::chrono::steady_clock::now() < deadline) {
    if (Refused(address)) return seen ? Listener::kWentAway : Listener::kNone;
    seen = true;
    // Slow to answer the first time (a loaded machine), or started meanwhile.
    if (probe.Healthy(std::chrono::milliseconds(500))) return Listener::kAnswers;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return Listener::kStays;
}

bool ServerLauncher::Start(const ServerManifest& manifest, std::string& error) {
  std::vector<std::string> args = {manifest.executable, "/Embedding"};
  args.insert(args.end(), manifest.arguments.begin(), manifest.arguments.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    error = "cannot start " + manifest.executable;
    return false;
  }
  if (child == 0) {
    // Detached: a grandchild in its own session, so that it outlives the client and is not
    // a zombie of it.
    ::setsid();
    if (::fork() != 0) ::_exit(0);
    // Without O_CLOEXEC: a caller without stdin gets fd 0 itself here, and it must stay.
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    // The caller's sockets and files would stay open for the server's whole life otherwise.
    CloseFromThree();
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return true;
}

}  // namespace vekta
