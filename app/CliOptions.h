// The command line's table: its commands, their options and the exit
// statuses. The parser, the help text, the manual page and the bash
// completion are all made from it, so none of them falls behind another.
//
// Plain data and QtCore only: usable without widgets and by build tools.
#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// A word that names what a command does ("site add NAME", "library sync").
struct TCliAction {
  const char* Name;
  const char* Arg;  // the word after it ("NAME", "DIR"), empty for none
};

struct TCliCommand {
  const char* Name;
  const char* Help;
  // Options the command cannot run without, in synopsis order.
  QStringList Required;
  // The words after a command without actions ("SITE", "[TEXT]"), if any.
  const char* Args = "";
  // A command with actions takes one of them, with its word, after its name.
  std::vector<TCliAction> Actions = {};

  const TCliAction* FindAction(const QString& name) const;
};

struct TCliOption {
  const char* Name;       // without the leading "--"
  const char* ValueName;  // empty for a switch
  const char* Help;
  // The commands that take the option; "" stands for the window (no command),
  // "site edit" for one action of a command only.
  QStringList Commands;

  bool TakesValue() const { return ValueName[0] != '\0'; }
  // Taken by the command, or by at least one of its actions.
  bool TakenBy(const QString& command) const;
  // Taken by the command with this action ("" when it has none).
  bool TakenBy(const QString& command, const QString& action) const;
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

// The words after a command: its Args, or its actions ("add|edit|archive NAME",
// "sync|check|import DIR|export DIR").
QString CliArgs(const TCliCommand& command);
// What a command's actions are listed as in a message: "add, edit or archive",
// "sync, check, import DIR or export DIR".
QString CliActionList(const TCliCommand& command);
// "read --port PORT --out FILE [--adc] [--phone NUMBER] ...", in table order.
QString CliSynopsis(const TCliCommand& command);
// The text above the options in --help.
QString CliDescription();

// A command line read against the table.
struct TCliParse {
  QCommandLineParser Parser;   // the options' values
  bool Help = false;           // --help or --help-all: nothing else was checked
  bool Version = false;        // --version: nothing else was checked
  const TCliCommand* Command = nullptr;
  const TCliAction* Action = nullptr;  // of a command with actions, when one is given
  QStringList Args;            // the words after the command (the action's name first)
};

// Reads arguments (the program's name first): a known command, an action
// the command has, as many words as it takes, and only options it or its
// action takes. The usage error's text, or nothing with *parse filled in.
std::optional<QString> ParseCliArguments(const QStringList& arguments, TCliParse* parse);
