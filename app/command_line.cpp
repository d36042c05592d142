#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace vekta {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "/Name", "-Name" or "--Name" to "name"; empty for anything else.
std::string SwitchName(const std::string& arg) {
  if (arg.rfind("--", 0) == 0) return Lower(arg.substr(2));
  if (arg.rfind("-", 0) == 0 || arg.rfind("/", 0) == 0) return Lower(arg.substr(1));
  return "";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool embedding = false;
  bool automation = false;
  bool help = false;
  bool version = false;
  RunMode registration = RunMode::kNormal;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string name = SwitchName(arg);
    if (name == "embedding") {
      embedding = true;
    } else if (name == "automation") {
      automation = true;
    } else if (name == "regserver" || name == "register") {
      registration = RunMode::kRegister;
    } else if (name == "unregserver" || name == "unregister") {
      registration = RunMode::kUnregister;
    } else if (arg == "--help" || arg == "-h" || arg == "-?" || arg == "/?") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg.rfind("--", 0) == 0) {
      std::string option = arg;
      std::string value;
      bool hasValue = false;
      if (auto eq = arg.find('='); eq != std::string::npos) {
        option = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        hasValue = true;
      }
      static const char* kValued[] = {"--config",           "--listen",      "--simulate",
                                      "--registration-dir", "--systemd-dir", "--sim-tape-dir"};
      if (std::find(std::begin(kValued), std::end(kValued), option) == std::end(kValued)) {
        continue;  // unknown: ignored, as the switches of other tools are
      }
      if (!hasValue) {
        if (i + 1 >= args.size()) {
          cl.error = option + " needs a value";
          break;
        }
        value = args[++i];
        // "--config --listen X" is a value forgotten, not a settings file named "--listen".
        if (value.rfind("-", 0) == 0) {
          cl.error = option + " needs a value, not " + value;
          break;
        }
      }
      // Empty, --config= would silently mean the default settings and their log folder.
      if (value.empty()) {
        cl.error = option + " needs a value";
        break;
      }
      // Paths are kept absolute: a server started on demand runs in its client's folder, and
      // the registration written now is read from anywhere.
      if (option != "--listen" && option != "--simulate" && !value.empty()) {
        std::error_code ignored;
        const std::filesystem::path absolute = std::filesystem::absolute(value, ignored);
        if (!absolute.empty()) value = absolute.lexically_normal().string();
      }
      if (option == "--config") {
        cl.configPath = value;
        cl.serverArguments.insert(cl.serverArguments.end(), {"--config", value});
      } else if (option == "--listen") {
        cl.listen = value;
        cl.serverArguments.insert(cl.serverArguments.end(), {"--listen", value});
      } else if (option == "--registration-dir") {
        cl.registrationDir = value;
      } else if (option == "--systemd-dir") {
        cl.systemdDir = value;
      } else if (option == "--sim-tape-dir") {
        cl.simTapeDir = value;
        cl.serverArguments.insert(cl.serverArguments.end(), {"--sim-tape-dir", value});
      } else if (option == "--simulate") {
        const bool digits =
            !value.empty() && value.size() <= 2 &&
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        const int port = digits ? std::stoi(value) : 0;
        if (port < 1 || port > 24) {
          cl.error = "--simulate takes a COM port number from 1 to 24";
          break;
        }
        if (std::find(cl.simulatePorts.begin(), cl.simulatePorts.end(), port) ==
            cl.simulatePorts.end()) {
          cl.simulatePorts.push_back(port);
          cl.serverArguments.insert(cl.serverArguments.end(), {"--simulate", value});
        }
      }
    }
  }
  if (help) {
    cl.mode = RunMode::kHelp;
  } else if (version) {
    cl.mode = RunMode::kVersion;
  } else if (embedding) {
    cl.mode = RunMode::kEmbedding;
  } else if (automation) {
    cl.mode = RunMode::kAutomation;
  } else {
    cl.mode = registration;
  }
  return cl;
}

std::string UsageText() {
  return "Usage: vektamanager [SWITCH] [OPTIONS]\n"
         "Serves the Orbis and VektaManager objects of the fiscal printers on this computer\n"
         "over HTTP (default http://127.0.0.1:8460).\n"
         "\n"
         "Switches (after /, - or --, any case):\n"
         "  /Regserver, /Register      write the registration (manifest, typelib.json,\n"
         "                             systemd unit) and end\n"
         "  /Unregserver, /Unregister  remove what registration wrote and end\n"
         "  /Embedding, /Automation    started on demand by a client: ends when its last\n"
         "                             object is released (or after 30 s without one);\n"
         "                             win over the register switches\n"
         "  without a switch           normal start: refreshes the registration (its\n"
         "                             executable; the options stay those of /Regserver)\n"
         "                             and serves until SIGINT, SIGTERM, SIGHUP or\n"
         "                             POST /api/v1/app/exit\n"
         "\n"
         "Options:\n"
         "  --config PATH              settings file (else $VEKTA_CONFIG, else\n"
         "                             /etc/vektamanager/vektamanager.ini for root and\n"
         "                             ~/.config/vektamanager/vektamanager.ini for others)\n"
         "  --listen HOST:PORT         listen address (else [Server] Listen, 127.0.0.1:8460);\n"
         "                             an address other computers reach needs [Server] Token\n"
         "  --simulate N               COM N is a simulated printer in this process\n"
         "                             (repeatable)\n"
         "  --sim-tape-dir DIR         the simulated printers write their control tapes to\n"
         "                             DIR/COM<N>.tape\n"
         "  --registration-dir DIR     where registration writes and removes its files\n"
         "  --systemd-dir DIR          where registration puts vektamanager.service\n"
         "  --version                  the version, and end\n"
         "  --help                     this text\n";
}

}  // namespace vekta
