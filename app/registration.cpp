#include "app/registration.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string_view>

#include "app/command_line.h"
#include "app/typelib_document.h"
#include "platform/settings_store.h"

namespace vekta {

namespace embedded {
extern const unsigned char kServiceUnitTemplate[];
extern const std::size_t kServiceUnitTemplateSize;
}  // namespace embedded

namespace {

constexpr const char* kManifestName = "registration.json";
constexpr const char* kTypeLibName = "typelib.json";
constexpr const char* kUnitName = "vektamanager.service";

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.config";
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// A word of ExecStart, quoted when it holds anything the unit parser would split.
std::string UnitWord(const std::string& word) {
  if (word.find_first_of(" \t\"'\\%$") == std::string::npos) return word;
  std::string out = "\"";
  for (char c : word) {
    if (c == '"' || c == '\\') out.push_back('\\');
    if (c == '%') out.push_back('%');
    if (c == '$') out.push_back('$');
    out.push_back(c);
  }
  return out + "\"";
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
}

nlohmann::json ReadManifest(const RegistrationPaths& paths) {
  std::ifstream in(Join(paths.registrationDir, kManifestName));
  if (!in) return nlohmann::json();
  std::stringstream text;
  text << in.rdbuf();
  auto manifest = nlohmann::json::parse(text.str(), nullptr, false);
  return manifest.is_object() ? manifest : nlohmann::json();
}

bool RemoveFile(const std::string& path, std::string& error) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  error = path + ": " + std::strerror(errno);
  return false;
}

}  // namespace

RegistrationPaths DefaultRegistrationPaths(const std::string& registrationDir,
                                           const std::string& systemdDir) {
  RegistrationPaths paths;
  paths.systemScope = ::geteuid() == 0;
  if (!registrationDir.empty()) {
    paths.registrationDir = registrationDir;
  } else {
    paths.registrationDir =
        paths.systemScope ? "/etc/vektamanager" : ConfigHome() + "/vektamanager";
  }
  if (!systemdDir.empty()) {
    paths.systemdDir = systemdDir;
  } else if (!registrationDir.empty()) {
    paths.systemdDir = registrationDir;
  } else if (paths.systemScope) {
    paths.systemdDir = "/etc/systemd/system";
    paths.packagedUnitDirs = {"/lib/systemd/system", "/usr/lib/systemd/system"};
  } else {
    paths.systemdDir = ConfigHome() + "/systemd/user";
  }
  return paths;
}

bool RefreshesRegistration(const RegistrationPaths& paths, bool simulating) {
  if (simulating) return false;
  for (const std::string& dir : paths.packagedUnitDirs) {
    if (::access(Join(dir, kUnitName).c_str(), F_OK) == 0) return false;
  }
  return true;
}

namespace {

// A path an earlier version stored as it was typed names another file in each folder a start
// runs in (a client's, for a start on demand).
bool HoldsRelativePath(const std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    for (const std::string_view option : {"--config", "--sim-tape-dir", "--registration-dir"}) {
      std::string_view value;
      if (argument == option && i + 1 < arguments.size()) {
        value = arguments[i + 1];
      } else if (argument.starts_with(option) && argument.substr(option.size()).starts_with('=')) {
        value = argument.substr(option.size() + 1);
      }
      if (!value.empty() && value.front() != '/') return true;
    }
  }
  return false;
}

}  // namespace

RegistrationInfo RefreshedRegistration(const RegistrationPaths& paths, RegistrationInfo info) {
  const nlohmann::json manifest = ReadManifest(paths);
  const auto listen = manifest.find("listen");
  const auto arguments = manifest.find("serverArguments");
  if (listen == manifest.end() || !listen->is_string() || arguments == manifest.end() ||
      !arguments->is_array() ||
      !std::all_of(arguments->begin(), arguments->end(),
                   [](const nlohmann::json& a) { return a.is_string(); })) {
    return info;
  }
  const auto stored = arguments->get<std::vector<std::string>>();
  // The service starting itself writes what it runs with, its listen address as it now reads it
  // included; options an earlier version stored that no start would take, or relative paths,
  // are replaced.
  if (stored == info.serverArguments || !ParseCommandLine(stored).error.empty() ||
      HoldsRelativePath(stored)) {
    return info;
  }
  info.listen = listen->get<std::string>();
  info.serverArguments = stored;
  return info;
}

std::string ExecutablePath() {
  char buffer[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string ManifestText(const RegistrationPaths& paths, const RegistrationInfo& info) {
  const std::string localServer = "\"" + info.executablePath + "\"";
  nlohmann::json manifest = {
      {"AppID", {{"id", kAppId}, {"name", "VektaManager"}, {"exe", "vektamanager"}}},
      {"typelib",
       {{"id", kTypeLibId}, {"name", "VektaManager"}, {"version", "1.0"}, {"file", kTypeLibName}}},
      {"classes", nlohmann::json::array({{{"name", "Orbis"},
                                          {"clsid", kOrbisClassId},
                                          {"description", "Orbis Class"},
                                          {"progid", "VektaManager.Orbis.1"},
                                          {"versionIndependentProgid", "VektaManager.Orbis"},
                                          {"AppID", kAppId},
                                          {"LocalServer32", localServer},
                                          {"typelib", kTypeLibId},
                                          {"programmable", true}},
                                         {{"name", "VektaManager"},
                                          {"clsid", kVektaManagerClassId},
                                          {"description", "VektaManager"},
                                          {"progid", "VektaManager.Application"},
                                          {"AppID", kAppId},
                                          {"LocalServer32", localServer},
                                          {"typelib", kTypeLibId}}})},
      {"progids",
       {{"VektaManager.Orbis.1", kOrbisClassId},
        {"VektaManager.Orbis", kOrbisClassId},
        {"VektaManager.Application", kVektaManagerClassId}}},
      {"LocalServer32", localServer},
      {"serverArguments", info.serverArguments},
      {"listen", info.listen},
      {"files",
       {Join(paths.registrationDir, kManifestName), Join(paths.registrationDir, kTypeLibName),
        Join(paths.systemdDir, kUnitName)}}};
  return manifest.dump(2) + "\n";
}

std::string ServiceUnitText(const RegistrationPaths& paths, const RegistrationInfo& info) {
  std::string exec = UnitWord(info.executablePath);
  for (const auto& arg : info.serverArguments) exec += " " + UnitWord(arg);
  std::string unit(reinterpret_cast<const char*>(embedded::kServiceUnitTemplate),
                   embedded::kServiceUnitTemplateSize);
  ReplaceAll(unit, "@EXEC_START@", exec);
  // A system unit never runs as root: the daemon needs only the serial ports.
  ReplaceAll(unit, "@USER_LINES@",
             paths.systemScope ? "User=vektamanager\nGroup=dialout\nSupplementaryGroups=dialout\n"
                                 "LogsDirectory=vektamanager\nStateDirectory=vektamanager\n"
                               : "");
  ReplaceAll(unit, "@WANTED_BY@", paths.systemScope ? "multi-user.target" : "default.target");
  return unit;
}

bool Register(const RegistrationPaths& paths, const RegistrationInfo& info, std::string& error) {
  if (!MakeDirectories(paths.registrationDir) || !MakeDirectories(paths.systemdDir)) {
    error = "cannot create " + paths.registrationDir + " or " + paths.systemdDir;
    return false;
  }
  const std::pair<std::string, std::string> files[] = {
      {Join(paths.registrationDir, kTypeLibName), TypeLibDocument().dump(2) + "\n"},
      {Join(paths.systemdDir, kUnitName), ServiceUnitText(paths, info)},
      // The manifest last: a client that finds it finds everything it names.
      {Join(paths.registrationDir, kManifestName), ManifestText(paths, info)},
  };
  for (const auto& [path, content] : files) {
    if (!ReplaceFileAtomically(path, content, 0644)) {
      error = "cannot write " + path;
      return false;
    }
  }
  return true;
}

bool Unregister(const RegistrationPaths& paths, std::string& error) {
  const std::string manifestPath = Join(paths.registrationDir, kManifestName);
  std::vector<std::string> files;
  if (const nlohmann::json manifest = ReadManifest(paths);
      manifest.contains("files") && manifest["files"].is_array()) {
    for (const auto& f : manifest["files"]) {
      if (f.is_string()) files.push_back(f.get<std::string>());
    }
  }
  if (files.empty()) {
    files = {Join(paths.registrationDir, kTypeLibName), Join(paths.systemdDir, kUnitName)};
  }
  bool ok = true;
  for (const auto& f : files) {
    // Only our own file names: a damaged manifest must not make us delete anything else.
    const auto slash = f.find_last_of('/');
    const std::string base = slash == std::string::npos ? f : f.substr(slash + 1);
    if (base != kManifestName && base != kTypeLibName && base != kUnitName) continue;
    if (base == kManifestName) continue;
    ok = RemoveFile(f, error) && ok;
  }
  ok = RemoveFile(manifestPath, error) && ok;
  return ok;
}

}  // namespace vekta
