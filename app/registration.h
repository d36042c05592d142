#pragma once

// Registration of the server: the manifest registration.json (class ids, AppID, ProgIDs, the
// type library, LocalServer32 and the listen endpoint) that the client library reads to start
// a server on demand, the type library as typelib.json, and a systemd unit.

#include <string>
#include <vector>

namespace vekta {

struct RegistrationPaths {
  std::string registrationDir;
  std::string systemdDir;
  bool systemScope = false;  // root: a system unit run as a non-root user in group dialout
  // Where the Debian package puts its unit. A unit written to /etc/systemd/system would take
  // the place of the package's one, with none of its settings.
  std::vector<std::string> packagedUnitDirs;
};

// --registration-dir, else /etc/vektamanager for root and $XDG_CONFIG_HOME/vektamanager
// (default ~/.config/vektamanager) for others. The unit goes to --systemd-dir, else next to the
// manifest when --registration-dir was given, else /etc/systemd/system for root and
// $XDG_CONFIG_HOME/systemd/user for others.
RegistrationPaths DefaultRegistrationPaths(const std::string& registrationDir,
                                           const std::string& systemdDir);

struct RegistrationInfo {
  std::string executablePath;                // absolute
  std::string listen;                        // "127.0.0.1:8460"
  std::vector<std::string> serverArguments;  // own options passed on to an on-demand start
};

// Whether a normal start refreshes the registration: not with simulated printers (a trial),
// and not where the package's unit is the service.
bool RefreshesRegistration(const RegistrationPaths& paths, bool simulating);
// What a normal start writes when it refreshes: its own executable, but the listen endpoint and
// the options of the registration it finds. Those are the service's: a start by hand with other
// options (another address, no --config) must not become what the service runs with at the next
// boot. Only /Regserver changes them. A start with the stored options, or stored options that no
// start would take, writes its own.
RegistrationInfo RefreshedRegistration(const RegistrationPaths& paths, RegistrationInfo info);

// Writes (or rewrites) the three files; each write replaces its file whole, so registering
// twice leaves one set. False with `error` when a file cannot be written.
bool Register(const RegistrationPaths& paths, const RegistrationInfo& info, std::string& error);
// Removes the files the manifest lists (what registration wrote), and the manifest; leaves the
// directories. True when nothing of ours is left.
bool Unregister(const RegistrationPaths& paths, std::string& error);

std::string ManifestText(const RegistrationPaths& paths, const RegistrationInfo& info);
std::string ServiceUnitText(const RegistrationPaths& paths, const RegistrationInfo& info);

// The absolute path of the running executable.
std::string ExecutablePath();

}  // namespace vekta
