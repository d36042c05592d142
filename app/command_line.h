#pragma once

#include <string>
#include <vector>

namespace vekta {

enum class RunMode { kNormal, kEmbedding, kAutomation, kRegister, kUnregister, kHelp, kVersion };

struct CommandLine {
  RunMode mode = RunMode::kNormal;
  std::string configPath;
  std::string listen;
  std::string registrationDir;
  std::string systemdDir;
  std::string simTapeDir;
  std::vector<int> simulatePorts;
  // Set when an own option is malformed; the process then ends with the usage text.
  std::string error;
  // Our own options as given, to be passed on to a server started on demand.
  std::vector<std::string> serverArguments;

  bool StartedOnDemand() const {
    return mode == RunMode::kEmbedding || mode == RunMode::kAutomation;
  }
};

// The switches /Regserver /Register /Unregserver /Unregister /Embedding /Automation count
// case-insensitively after "/", "-" or "--"; embedding and automation win over the others, and
// of register and unregister the last one given counts. Anything else unknown is ignored.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace vekta
