// The command line's table: its commands, their options and the exit
// statuses. The parser, the help text, the manual page and the bash
// completion are all made from it, so none of them falls behind another.
//
// Plain data and QtCore only: usable without widgets and by build tools.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

struct TCliCommand {
  const char* Name;
  const char* Help;
  // Options the command cannot run without, in synopsis order.
  QStringList Required;
  // The words after the command ("SITE", "[TEXT]", "sync|check"), if any.
  const char* Args = "";
};

struct TCliOption {
  const char* Name;       // without the leading "--"
  const char* ValueName;  // empty for a switch
  const char* Help;
  // The commands that take the option; "" stands for the window (no command).
  QStringList Commands;

  bool TakesValue() const { return ValueName[0] != '\0'; }
  bool TakenBy(const QString& command) const { return Commands.contains(command); }
};

struct TCliExit {
  int Status;
  const char* Meaning;
};

const std::vector<TCliCommand>& CliCommands();
const std::vector<TCliOption>& CliOptions();
const std::vector<TCliExit>& CliExitStatuses();

const TCliCommand* FindCliCommand(const QString& name);
const TCliOption* FindCliOption(const QString& name);

// "read --port PORT --out FILE [--adc] [--phone NUMBER] ...", in table order.
QString CliSynopsis(const TCliCommand& command);
// The text above the options in --help.
QString CliDescription();
