#include "app/application.h"

#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "app/command_line.h"
#include "app/http_server.h"
#include "app/object_table.h"
#include "app/registration.h"
#include "app/server_config.h"
#include "app/service_backend.h"
#include "app/service_notifier.h"
#include "app/web_host.h"
#include "client/remote_orbis_factory.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/string_table.h"
#include "service/printer_registry.h"
#include "sim/sim_printer.h"

namespace vekta {

namespace {

constexpr int kMessageSocketsFailed = 103;
constexpr auto kOnDemandIdleLimit = std::chrono::seconds(30);
// Descriptors kept free of connections: serial ports, protocol logs, the journal, the settings
// file and the watchdog's own check.
constexpr rlim_t kReservedDescriptors = 128;
constexpr rlim_t kMostDescriptors = 65536;

// Every connection holds a descriptor. The soft limit a service or a shell starts with (1024)
// is raised towards the hard one, and the connections are held below it: a crowd of idle
// clients is then answered 503, instead of waiting unanswered while the ports, the journal and
// the watchdog's check find no descriptor left. An empty text when `maxConnections` stands.
std::string HoldConnectionsWithinOpenFileLimit(int& maxConnections) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
  const rlim_t wanted = std::min(limit.rlim_max, kMostDescriptors);
  if (limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  if (limit.rlim_cur == RLIM_INFINITY) return {};
  const rlim_t room = limit.rlim_cur > 2 * kReservedDescriptors
                          ? limit.rlim_cur - kReservedDescriptors
                          : limit.rlim_cur / 2;
  if (static_cast<rlim_t>(maxConnections) <= room) return {};
  const std::string text = "[Server] MaxConnections " + std::to_string(maxConnections) +
                           " is held to " + std::to_string(room) + " by the open-file limit (" +
                           std::to_string(limit.rlim_cur) + ")";
  maxConnections = static_cast<int>(room);
  return text;
}

// Why the process is asked to end.
class StopSignal {
 public:
  void Request(const std::string& reason) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_reason.empty()) m_reason = reason;
    m_cv.notify_all();
  }
  bool Requested() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_reason.empty();
  }
  // False when the time ran out first.
  bool WaitFor(std::chrono::steady_clock::duration d) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, d, [this] { return !m_reason.empty(); });
  }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_cv;
  std::string m_reason;
};

// Whether the listener answers a request of our own: any answer counts, a refusal of the token
// or of the Host as well.
bool ServerAnswers(std::string host, int port, bool tls, std::chrono::milliseconds patience) {
  if (host.empty() || host == "0.0.0.0") host = "127.0.0.1";
  if (host == "::") host = "::1";
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  httplib::Client client((tls ? "https://" : "http://") + host + ":" + std::to_string(port));
  client.enable_server_certificate_verification(false);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(patience);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(patience - seconds);
  client.set_connection_timeout(seconds.count(), micros.count());
  client.set_read_timeout(seconds.count(), micros.count());
  return static_cast<bool>(client.Get("/healthz"));
}

std::string SocketsMessage() {
  std::string text = LoadStringUtf8(kMessageSocketsFailed);
  return text.empty() ? "Не вдається іниціалізувати Windows sockets." : text;
}

const char* RunModeName(RunMode mode) {
  switch (mode) {
    case RunMode::kEmbedding:
      return "embedding";
    case RunMode::kAutomation:
      return "automation";
    default:
      return "normal";
  }
}

}  // namespace

int RunApplication(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return RunApplication(args);
}

int RunApplication(const std::vector<std::string>& args) {
  const CommandLine cl = ParseCommandLine(args);
  if (!cl.error.empty()) {
    std::cerr << "vektamanager: " << cl.error << "\n\n" << UsageText();
    return 2;
  }
  if (cl.mode == RunMode::kHelp) {
    std::cout << UsageText();
    return 0;
  }
  if (cl.mode == RunMode::kVersion) {
    std::cout << "vektamanager " VEKTA_VERSION "\n";
    return 0;
  }

  SettingsStore settings(DefaultConfigPath(cl.configPath));
  const RegistrationPaths regPaths = DefaultRegistrationPaths(cl.registrationDir, cl.systemdDir);
  std::string error;
  auto config = LoadServerConfig(settings, cl.listen, error);

  if (cl.mode == RunMode::kUnregister) {
    if (!Unregister(regPaths, error)) {
      std::cerr << "vektamanager: unregistration incomplete: " << error << "\n";
      return 1;
    }
    return 0;
  }
  // Read as the defaults, a file that is there would move the journal and the logs elsewhere
  // without a word.
  if (const std::string why = settings.ReadProblem(); !why.empty()) {
    std::cerr << "vektamanager: cannot read the settings file " << settings.Path() << ": " << why
              << "\n";
    return 1;
  }
  // Settings no start could take are not registered either: the service would fail each start.
  if (!config) {
    std::cerr << "vektamanager: " << error << "\n";
    return 1;
  }
  // An IPv6 address is bracketed, as in a URL.
  const std::string listenHost = config->listen.host.find(':') != std::string::npos
                                     ? "[" + config->listen.host + "]"
                                     : config->listen.host;
  const std::string listenText = listenHost + ":" + std::to_string(config->listen.port);
  const RegistrationInfo regInfo{ExecutablePath(), listenText, cl.serverArguments};
  if (cl.mode == RunMode::kRegister) {
    if (!Register(regPaths, regInfo, error)) {
      std::cerr << "vektamanager: registration failed: " << error << "\n";
      return 1;
    }
    return 0;
  }
  const std::string connectionsHeld = HoldConnectionsWithinOpenFileLimit(config->maxConnections);
  if (!connectionsHeld.empty()) std::cerr << "vektamanager: " << connectionsHeld << "\n";
  // A normal start refreshes it; failures do not matter. A start with simulated printers is a
  // trial: the service's unit and the on-demand start must not come to run a simulator in place
  // of the shop's printer. Nor does an administrator's start beside the packaged service.
  if (cl.mode == RunMode::kNormal && RefreshesRegistration(regPaths, !cl.simulatePorts.empty())) {
    std::string ignored;
    Register(regPaths, RefreshedRegistration(regPaths, regInfo), ignored);
  }

  // Signals are taken by one thread with sigwait; every other thread has them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // A closed terminal, or a habitual "reload": ends the daemon as SIGTERM does, its receipts
  // settled, not killed with them open. Unless it was started to ignore it (nohup).
  struct sigaction hangUp {};
  if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN) {
    sigaddset(&signals, SIGHUP);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  StopSignal stop;
  const std::string logDirectory = config->logDirectory;
  EventHub events;
  RealClock clock;
  WebHost host(settings, logDirectory, events, clock);
  host.SetPromptTimeout(std::chrono::seconds(config->promptTimeoutSeconds));

  std::vector<std::unique_ptr<SimPrinter>> simulators;
  for (int port : cl.simulatePorts) {
    SimOptions options;
    options.keepCommands = 1000;  // a demo may run for days; nobody reads the history here
    if (!cl.simTapeDir.empty()) {
      MakeDirectories(cl.simTapeDir);
      options.tapePath = cl.simTapeDir + "/COM" + std::to_string(port) + ".tape";
    }
    auto sim = std::make_unique<SimPrinter>(options);
    std::string simError;
    if (!sim->Start(&simError)) {
      std::cerr << "vektamanager: the simulated printer on COM" << port
                << " cannot start: " << simError << "\n";
      return 1;
    }
    host.MapPort(port, sim->SlavePath());
    simulators.push_back(std::move(sim));
  }

  auto registry = std::make_unique<PrinterRegistry>(host, clock);
  RemoteOrbisFactory::Options remoteOptions;
  remoteOptions.token = settings.ReadString("Remote", "Token", "");
  remoteOptions.tokenHosts = SplitList(settings.ReadString("Remote", "Hosts", ""));
  remoteOptions.startOnDemand = false;
  DaemonOrbisFactory factory(*registry, std::make_unique<RemoteOrbisFactory>(remoteOptions));
  ServiceBackend backend(*registry, factory, host);
  auto objects = std::make_unique<ObjectTable>(clock);
  if (cl.StartedOnDemand()) objects->SetOnEmpty([&stop] { stop.Request("last object released"); });

  ServerContext context;
  context.config = *config;
  context.backend = &backend;
  context.objects = objects.get();
  context.settings = &settings;
  context.startedOnDemand = cl.StartedOnDemand();
  context.runMode = RunModeName(cl.mode);
  context.requestExit = [&stop] { stop.Request("exit"); };
  context.status = [&host] { return host.StatusDocument(); };
  context.ports = [&host] { return host.Ports(); };
  context.events = &events;
  context.answerPrompt = [&host](const std::string& id, const nlohmann::json& answer) {
    return host.AnswerPrompt(id, answer);
  };
  auto server = std::make_unique<HttpServer>(context);
  if (!server->Bind()) {
    std::cerr << SocketsMessage() << "\n";
    return 1;
  }
  std::thread serving([&server] { server->Serve(); });
  // The mapped ports too whose devices are not there (yet), or whose numbers are past those
  // looked for: an administrator checks the [Ports] map here.
  std::vector<std::string> portNames = host.Ports();
  for (std::string& name : settings.MappedPorts()) {
    if (std::find(portNames.begin(), portNames.end(), name) == portNames.end()) {
      portNames.push_back(std::move(name));
    }
  }
  std::sort(portNames.begin(), portNames.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(3)) < std::stoi(b.substr(3));
  });
  std::string ports;
  for (const std::string& name : portNames) {
    const std::string device = host.PortDevicePath(name);
    struct stat st {};
    ports += (ports.empty() ? "" : ", ") + name + "=" + (device.empty() ? "(not a path)" : device) +
             (device.empty() || ::stat(device.c_str(), &st) == 0 ? "" : " (not there)");
  }
  const std::string started =
      std::string("serving ") + (server->Tls() ? "https://" : "http://") + listenHost + ":" +
      std::to_string(server->Port()) + " (" + RunModeName(cl.mode) + "); ports " +
      (ports.empty() ? "none" : ports) + "; logs " + (logDirectory.empty() ? "none" : logDirectory);
  std::cerr << "vektamanager " VEKTA_VERSION ": " << started << "\n";
  ServiceNotifier notifier([&](std::chrono::milliseconds patience) {
    return ServerAnswers(config->listen.host, server->Port(), server->Tls(), patience);
  });
  notifier.Ready(started);

  std::thread signalWaiter([&signals, &stop] {
    timespec step{0, 200'000'000};
    while (!stop.Requested()) {
      const int sig = sigtimedwait(&signals, nullptr, &step);
      if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
        stop.Request(sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "SIGHUP");
      }
    }
  });

  if (cl.StartedOnDemand()) {
    // Started for a client that did not come: do not stay around for nothing.
    if (!stop.WaitFor(kOnDemandIdleLimit) && objects->CloseIfNoneCreated()) {
      stop.Request("no object within 30 s");
    }
  }
  while (!stop.WaitFor(std::chrono::hours(1))) {
  }

  // Every object's final release, then the registry (every port closed), then the listener.
  notifier.Stopping();
  server->BeginClosing();
  objects->Shutdown();
  server->WaitForCalls();
  registry.reset();
  server->Stop();
  serving.join();
  signalWaiter.join();
  server.reset();
  objects.reset();
  simulators.clear();
  return 0;
}

}  // namespace vekta
