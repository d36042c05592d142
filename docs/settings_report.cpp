// settings_report: the settings the daemon takes from an INI file, one "[Section] Key=value" a
// line, as the daemon reads them (defaults, limits and lists applied). Two files give the same
// report exactly when the daemon would run the same with either.
//   settings_report FILE

#include <iostream>
#include <string>
#include <vector>

#include "app/server_config.h"
#include "platform/settings_store.h"

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: settings_report FILE\n";
    return 2;
  }
  const vekta::SettingsStore settings(argv[1]);
  std::cout << "[CurrentConfig] SaveToLog=" << (vekta::ReadSaveToLog(settings) ? 1 : 0) << "\n"
            << "[CurrentConfig] KeepLogFiles=" << vekta::ReadKeepLogFiles(settings) << "\n";
  for (int port = 1; port <= 24; ++port) {
    const std::string name = "COM" + std::to_string(port);
    std::cout << "[Ports] " << name << "=" << settings.PortDevicePath(name) << "\n";
  }
  std::string error;
  const auto config = vekta::LoadServerConfig(settings, "", error);
  if (!config) {
    std::cout << "[Server] refused: " << error << "\n";
  } else {
    std::cout << "[Server] Listen=" << config->listen.host << " port " << config->listen.port
              << "\n"
              << "[Server] Token=" << config->token << "\n"
              << "[Server] AllowedHosts=" << Joined(config->allowedHosts) << "\n"
              << "[Server] AllowedOrigins=" << Joined(config->allowedOrigins) << "\n"
              << "[Server] CertFile=" << config->certFile << "\n"
              << "[Server] KeyFile=" << config->keyFile << "\n"
              << "[Server] Workers=" << config->workers << "\n"
              << "[Server] MaxConnections=" << config->maxConnections << "\n"
              << "[Server] MaxObjects=" << config->maxObjects << "\n"
              << "[Server] PromptTimeoutSeconds=" << config->promptTimeoutSeconds << "\n"
              << "[Server] LogDir=" << config->logDirectory << "\n";
  }
  // Read by the daemon at start for VektaManager.InitEx and the page's remote connect.
  std::cout << "[Remote] Token=" << settings.ReadString("Remote", "Token", "") << "\n"
            << "[Remote] Hosts="
            << Joined(vekta::SplitList(settings.ReadString("Remote", "Hosts", ""))) << "\n";
  return 0;
}
