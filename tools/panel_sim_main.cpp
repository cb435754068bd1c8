// ostrelgsm4-panel-sim: a simulated panel (or GSM modem with the panel behind it) on a
// pseudo-terminal, to try the program without hardware. See tools/README.md.

#include "tools/ModemSim.h"
#include "tools/PanelSim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace ostrel::sim;

namespace {

constexpr const char* kUsage =
    "Usage: ostrelgsm4-panel-sim [options]\n"
    "Simulates the Ostrel GSM panel on a pseudo-terminal and prints the terminal's path.\n"
    "\n"
    "  --link PATH          also make PATH a symbolic link to the terminal (removed at exit)\n"
    "  --state FILE         load the panel's settings from FILE if it exists; save them\n"
    "                       after every write and at exit\n"
    "  --version-text TEXT  reply line to \"+v\" (default \"Ostrel GSM VER 05.01\")\n"
    "  --fault FAULT        inject a fault, PREFIX:KIND[:once]; KIND is silence, no-ok,\n"
    "                       error, lower-ok, no-carrier, busy, close, refuse, keep\n"
    "                       (answers OK, keeps the old value) or reply=TEXT (repeatable)\n"
    "  --delay MS           delay every panel reply by MS milliseconds\n"
    "  --adc-script FILE    the ADC readings follow FILE's levels, one a line:\n"
    "                       CHANNEL VALUE DURATION [NOISE]; \"loop\" or \"hold\" (the\n"
    "                       default) after the last one, \"seed N\" for the noise\n"
    "  --modem              act as a GSM modem with the panel behind its data call\n"
    "  --creg TEXT          modem: registration reply (default \"+CREG: 0,1\")\n"
    "  --dial TEXT          modem: dial result (default \"CONNECT 9600\"; empty: no answer)\n"
    "  --verbose            print every command received on stderr\n"
    "  --help               show this help\n"
    "\n"
    "Stops on SIGINT or SIGTERM.\n";

struct TOptions
{
  std::string Link;
  std::string StateFile;
  std::string VersionText = kDefaultVersionText;
  std::vector<TFault> Faults;
  int DelayMs = 0;
  std::string AdcScript;
  bool Modem = false;
  std::string Creg = "+CREG: 0,1";
  std::string Dial = "CONNECT 9600";
  bool Verbose = false;
  bool Help = false;
};

bool ParseInt(const std::string& text, int& value)
{
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < 0 || parsed > 600'000) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseOptions(int argc, char** argv, TOptions& options, std::string& error)
{
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string& target) {
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return false;
      }
      target = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--link") {
      if (!value(options.Link)) return false;
    } else if (arg == "--state") {
      if (!value(options.StateFile)) return false;
    } else if (arg == "--version-text") {
      if (!value(options.VersionText)) return false;
    } else if (arg == "--fault") {
      if (!value(text)) return false;
      const auto fault = ParseFault(text, error);
      if (!fault) return false;
      options.Faults.push_back(*fault);
    } else if (arg == "--delay") {
      if (!value(text)) return false;
      if (!ParseInt(text, options.DelayMs)) {
        error = "bad --delay \"" + text + "\"";
        return false;
      }
    } else if (arg == "--adc-script") {
      if (!value(options.AdcScript)) return false;
    } else if (arg == "--modem") {
      options.Modem = true;
    } else if (arg == "--creg") {
      if (!value(options.Creg)) return false;
    } else if (arg == "--dial") {
      if (!value(options.Dial)) return false;
    } else if (arg == "--verbose") {
      options.Verbose = true;
    } else {
      error = "unknown option \"" + arg + "\"";
      return false;
    }
  }
  return true;
}

bool FileExists(const std::string& path)
{
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

void SaveState(const std::string& file, const TPanelState& state)
{
  std::string error;
  if (!SavePanelState(state, file, error)) std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n", error.c_str());
}

// Waits for SIGINT or SIGTERM; they were blocked before any thread started, so only this
// descriptor sees them.
int WaitForSignal(const sigset_t& signals)
{
  const int fd = signalfd(-1, &signals, SFD_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "ostrelgsm4-panel-sim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }
  pollfd pfd{fd, POLLIN, 0};
  while (::poll(&pfd, 1, -1) < 0 && errno == EINTR) {
  }
  signalfd_siginfo info{};
  [[maybe_unused]] const ssize_t n = ::read(fd, &info, sizeof info);
  ::close(fd);
  return 0;
}

int Run(const TOptions& options)
{
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
    std::fprintf(stderr, "ostrelgsm4-panel-sim: cannot block signals\n");
    return 1;
  }

  std::unique_ptr<TSimServer> sim;
  if (options.Modem) {
    auto modem = std::make_unique<TModemSim>();
    modem->SetCregReply(options.Creg);
    modem->SetDialReply(options.Dial);
    sim = std::move(modem);
  } else {
    sim = std::make_unique<TPanelSim>();
  }
  sim->SetVersionText(options.VersionText);
  sim->SetReplyDelay(options.DelayMs);
  for (const auto& fault : options.Faults) sim->AddFault(fault);

  if (!options.StateFile.empty() && FileExists(options.StateFile)) {
    TPanelState state;
    std::string error;
    // A file we cannot read is not overwritten with defaults: stop instead.
    if (!LoadPanelState(options.StateFile, state, error)) {
      std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n", error.c_str());
      return 1;
    }
    sim->SetState(state);
  }
  if (!options.AdcScript.empty()) {
    TAdcScript script;
    std::string error;
    if (!LoadAdcScript(options.AdcScript, script, error)) {
      std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n", error.c_str());
      return 1;
    }
    sim->SetAdcScript(script);
  }
  if (!options.StateFile.empty()) {
    sim->SetStateChangedHandler([file = options.StateFile](const TPanelState& state) { SaveState(file, state); });
  }
  if (options.Verbose) {
    sim->SetCommandHandler([](const std::string& command) { std::fprintf(stderr, "<- %s\n", command.c_str()); });
  }
  if (!options.Link.empty()) {
    std::string error;
    if (!sim->MakeLink(options.Link, error)) {
      std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n", error.c_str());
      return 1;
    }
  }

  sim->Start();
  std::printf("%s\n", sim->SlavePath().c_str());
  std::fflush(stdout);

  const int rc = WaitForSignal(signals);
  sim->Stop();
  if (!options.StateFile.empty()) SaveState(options.StateFile, sim->State());
  sim.reset();  // also removes the link
  return rc;
}

}  // namespace

int main(int argc, char** argv)
{
  TOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options.Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ostrelgsm4-panel-sim: %s\n", e.what());
    return 1;
  }
}
