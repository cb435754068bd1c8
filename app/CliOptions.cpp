#include "app/CliOptions.h"

#include <algorithm>

#include "OstrelVersion.h"

namespace {

const QStringList kPanelCommands{"read", "write", "diff"};
const QStringList kMonitor{"monitor"};
const QStringList kLibraryCommands{"read", "write", "diff", "sites", "history", "show", "site", "library"};

}  // namespace

const std::vector<TCliCommand>& CliCommands() {
  static const std::vector<TCliCommand> commands{
      {"read", "check the firmware and read the panel into a settings file", {"port", "out"}},
      {"write", "load a settings file, check the firmware and write it to the panel", {"port", "in"}},
      {"diff", "list what differs between the panel and a settings file, writing nothing", {"port", "in"}},
      {"monitor", "read the ADC thresholds once, then print a line per reading of the channels until the time "
                  "is up or Ctrl+C: seconds since the start, channel, value and the state it stands for "
                  "(value - and state failed for a reading that failed)", {"port"}},
      {"ports", "list the serial ports", {}},
      {"sites", "list the library's sites whose name, address, notes, data number, or phone numbers and keys "
                "in their latest record hold TEXT (all without TEXT)", {}, "[TEXT]"},
      {"history", "list the records of a site: number, time, operator, kind, outcome, firmware, port; "
                  "with --diff N M the settings that differ between its records N and M", {}, "SITE"},
      {"show", "print a record of a site as a settings file that write accepts (the latest without --record)",
       {}, "SITE"},
      {"site", "add NAME: a new site; edit NAME: change its name, address, notes or data number; "
               "archive NAME: take it out of the list of sites, its history kept", {}, "",
       {{"add", "NAME"}, {"edit", "NAME"}, {"archive", "NAME"}}},
      {"library", "sync: store the records waiting in the spool; check: check the library's integrity; "
                  "import DIR: each settings file DIR/NAME.ini becomes a record of site NAME; "
                  "export DIR: each site's latest record into DIR/NAME.ini", {}, "",
       {{"sync", ""}, {"check", ""}, {"import", "DIR"}, {"export", "DIR"}}},
  };
  return commands;
}

const std::vector<TCliOption>& CliOptions() {
  static const std::vector<TCliOption> options{
      {"port", "PORT", "Serial port: a device path (/dev/ttyUSB0) or a name (ttyUSB0, COM1).",
       {"", "read", "write", "diff", "monitor"}},
      {"out", "FILE", "Settings file to write (read): a new file holding exactly what was read, replacing FILE.",
       {"read"}},
      {"in", "FILE", "Settings file to write (write) or to compare with (diff); both check it strictly first.",
       {"write", "diff"}},
      {"backup", "BACKUP", "write: first read the panel and save it into BACKUP; if that fails nothing is written.",
       {"write"}},
      {"verify", "", "write: read the panel back afterwards and list every setting it did not keep (exit status 3).",
       {"write"}},
      {"adc", "", "Also read or write the ADC channels' thresholds; without a command, show the window's ADC page.",
       {"", "read", "write", "diff"}},
      {"phone", "NUMBER", "Reach the panel through a GSM modem data call to NUMBER.", kPanelCommands + kMonitor},
      {"quiet", "", "Do not show the traffic on standard error.", kPanelCommands + kMonitor},
      {"site", "NAME", "Record the operation in the site library under NAME (a new name makes a new site); "
                       "the panel's work and exit status never depend on the library.", kPanelCommands},
      {"library", "PLACE", "The site library: a SQLite file or postgresql://user@host/dbname (password from "
                           "~/.pgpass or PGPASSWORD); else $OSTREL_LIBRARY, else [Library] Url= in current.ini, "
                           "else library.sqlite in the data directory.", kLibraryCommands},
      {"operator", "NAME", "The operator recorded with --site (default: the system user).", kPanelCommands},
      {"record", "N", "show: the record numbered N (history lists the numbers).", {"show"}},
      {"diff", "N M", "history: list the settings that differ between the site's records N and M, as diff "
                      "does (exit status 4 when any differ).", {"history"}},
      {"channel", "1|2", "monitor: read only this ADC channel (both by default).", kMonitor},
      {"duration", "SECONDS", "monitor: stop after SECONDS (until Ctrl+C by default).", kMonitor},
      {"csv", "", "monitor: print comma-separated values under a header line time,channel,value,state.", kMonitor},
      {"json", "", "sites, history, diff: print JSON for scripts (diff and history --diff: an array of "
                   "{section, key, name, and the two values: panel and file, or from and to}); monitor: one "
                   "object a line, {time, channel, value, state}, value and state null for a failed reading.",
       {"sites", "history", "diff", "monitor"}},
      {"address", "TEXT", "site add, site edit: the site's address.", {"site add", "site edit"}},
      {"notes", "TEXT", "site add, site edit: notes on the site.", {"site add", "site edit"}},
      {"number", "NUMBER", "site add, site edit: the number of the panel's GSM data line.",
       {"site add", "site edit"}},
      {"rename", "NAME", "site edit: the site's new name.", {"site edit"}},
  };
  return options;
}

const std::vector<TCliExit>& CliExitStatuses() {
  static const std::vector<TCliExit> statuses{
      {0, "success (diff: the panel holds the file's settings)"},
      {1, "usage error, or a settings file that cannot be read or written"},
      {2, "the connection failed"},
      {3, "a read or write failed after connecting (a request the panel did not confirm, the link lost, "
          "or --verify found a setting the panel did not keep)"},
      {4, "diff or history --diff found differences"},
      {5, "the site library could not be used, or library check found problems"},
      {129, "stopped by SIGHUP"},
      {130, "stopped by SIGINT (Ctrl+C)"},
      {141, "standard output could not be written: closed early (a reader such as head ended) or full"},
      {143, "stopped by SIGTERM"},
  };
  return statuses;
}

const TCliAction* TCliCommand::FindAction(const QString& name) const {
  for (const TCliAction& action : Actions)
    if (name == QLatin1String(action.Name)) return &action;
  return nullptr;
}

bool TCliOption::TakenBy(const QString& command) const {
  if (Commands.contains(command)) return true;
  const QString prefix = command + u' ';
  return !command.isEmpty() && std::any_of(Commands.begin(), Commands.end(),
                                           [&](const QString& taker) { return taker.startsWith(prefix); });
}

bool TCliOption::TakenBy(const QString& command, const QString& action) const {
  return Commands.contains(command) || (!action.isEmpty() && Commands.contains(command + u' ' + action));
}

namespace {

// Whether every action takes the same word after it (site: NAME), so that the
// word is written once.
bool OneArgForAll(const TCliCommand& command) {
  return std::all_of(command.Actions.begin(), command.Actions.end(), [&](const TCliAction& action) {
    return QLatin1String(action.Arg) == QLatin1String(command.Actions.front().Arg);
  });
}

QStringList ActionWords(const TCliCommand& command) {
  const bool oneArg = OneArgForAll(command);
  QStringList words;
  for (const TCliAction& action : command.Actions) {
    QString word = QLatin1String(action.Name);
    if (!oneArg && action.Arg[0] != '\0') word += u' ' + QLatin1String(action.Arg);
    words << word;
  }
  return words;
}

}  // namespace

QString CliArgs(const TCliCommand& command) {
  if (command.Actions.empty()) return QLatin1String(command.Args);
  QString text = ActionWords(command).join(u'|');
  if (OneArgForAll(command) && command.Actions.front().Arg[0] != '\0')
    text += u' ' + QLatin1String(command.Actions.front().Arg);
  return text;
}

QString CliActionList(const TCliCommand& command) {
  QStringList words = ActionWords(command);
  if (words.size() < 2) return words.join(QString());
  const QString last = words.takeLast();
  return words.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

const TCliCommand* FindCliCommand(const QString& name) {
  for (const TCliCommand& command : CliCommands())
    if (name == QLatin1String(command.Name)) return &command;
  return nullptr;
}

const TCliOption* FindCliOption(const QString& name) {
  for (const TCliOption& option : CliOptions())
    if (name == QLatin1String(option.Name)) return &option;
  return nullptr;
}

QString CliSynopsis(const TCliCommand& command) {
  QString line = QString::fromLatin1(command.Name);
  if (const QString args = CliArgs(command); !args.isEmpty()) line += u' ' + args;
  auto word = [](const TCliOption& option) {
    QString text = QStringLiteral("--") + QLatin1String(option.Name);
    if (option.TakesValue()) text += u' ' + QLatin1String(option.ValueName);
    return text;
  };
  for (const QString& name : command.Required)
    if (const TCliOption* option = FindCliOption(name)) line += u' ' + word(*option);
  for (const TCliOption& option : CliOptions())
    if (option.TakenBy(command.Name) && !command.Required.contains(QLatin1String(option.Name)))
      line += QStringLiteral(" [") + word(option) + u']';
  return line;
}

QString CliDescription() {
  QString text = QString::fromUtf8(
      "Configuration utility for the \"Ostrel GSM\" security alarm panel, version " OSTREL_VERSION ".\n"
      "Without arguments it opens its window; --port PORT fills in its port dialog, and --adc shows\n"
      "its \"АЦП\" page (the ADC thresholds): ostrelgsm4 [--port PORT] [--adc].\n"
      "Commands:\n");
  for (const TCliCommand& command : CliCommands())
    text += QStringLiteral("  ostrelgsm4 ") + CliSynopsis(command) + QStringLiteral("\n      ") +
            QLatin1String(command.Help) + u'\n';
  text += QStringLiteral("Exit status:\n");
  for (const TCliExit& exit : CliExitStatuses())
    text += QStringLiteral("  %1 %2\n").arg(exit.Status, 3).arg(QLatin1String(exit.Meaning));
  text += QStringLiteral("Every failure ends with one line \"ostrelgsm4: ...\" saying why; it is always the last line.");
  return text;
}
