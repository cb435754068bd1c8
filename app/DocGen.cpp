// Writes the manual page and the bash completion of ostrelgsm4 from the
// command line's own table, at build time:
//   ostrelgsm4-docgen man TEMPLATE OUTPUT
//   ostrelgsm4-docgen completion OUTPUT
// The template's lines "@SYNOPSIS@", "@COMMANDS@", "@OPTIONS@" and
// "@EXIT_STATUS@" are replaced by the table's parts, "@VERSION@" anywhere by
// the version.
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "OstrelVersion.h"
#include "app/CliOptions.h"

namespace {

// Text for roff: backslashes and hyphens escaped.
QString Roff(const QString& text) {
  QString out = text;
  out.replace(u'\\', QStringLiteral("\\e"));
  out.replace(u'-', QStringLiteral("\\-"));
  return out;
}

QString Flag(const TCliOption& option) { return Roff(QStringLiteral("--") + QLatin1String(option.Name)); }

QString Synopsis() {
  QStringList lines{QStringLiteral(".B ostrelgsm4"), QStringLiteral(".RB [ \\-\\-port"),
                    QStringLiteral(".IR PORT ]"), QStringLiteral(".RB [ \\-\\-adc ]")};
  for (const TCliCommand& command : CliCommands()) {
    lines << QStringLiteral(".br") << QStringLiteral(".B ostrelgsm4 ") + QLatin1String(command.Name);
    if (const QString args = CliArgs(command); !args.isEmpty()) lines << QStringLiteral(".I ") + Roff(args);
    for (const QString& name : command.Required) {
      const TCliOption* option = FindCliOption(name);
      if (!option) continue;
      if (option->TakesValue())
        lines << QStringLiteral(".BI %1 \" %2\"").arg(Flag(*option), QLatin1String(option->ValueName));
      else
        lines << QStringLiteral(".B ") + Flag(*option);
    }
    for (const TCliOption& option : CliOptions()) {
      if (!option.TakenBy(command.Name) || command.Required.contains(QLatin1String(option.Name))) continue;
      if (option.TakesValue())
        // Quoted: a value of two words ("N M") is one argument of .IR.
        lines << QStringLiteral(".RB [ ") + Flag(option)
              << QStringLiteral(".IR \"%1\" ]").arg(QLatin1String(option.ValueName));
      else
        lines << QStringLiteral(".RB [ %1 ]").arg(Flag(option));
    }
  }
  return lines.join(u'\n');
}

QString Commands() {
  QStringList lines;
  for (const TCliCommand& command : CliCommands())
    lines << QStringLiteral(".TP") << QStringLiteral(".B ") + QLatin1String(command.Name)
          << Roff(QString::fromUtf8(command.Help)) + u'.';
  return lines.join(u'\n');
}

QString Options() {
  QStringList lines;
  for (const TCliOption& option : CliOptions()) {
    lines << QStringLiteral(".TP");
    if (option.TakesValue())
      lines << QStringLiteral(".BI %1 \" %2\"").arg(Flag(option), QLatin1String(option.ValueName));
    else
      lines << QStringLiteral(".B ") + Flag(option);
    QStringList takers;
    for (const QString& command : option.Commands)
      takers << (command.isEmpty() ? QStringLiteral("the window") : command);
    lines << Roff(QString::fromUtf8(option.Help)) << QStringLiteral("(") + Roff(takers.join(QStringLiteral(", "))) + u')';
  }
  lines << QStringLiteral(".TP") << QStringLiteral(".B \\-\\-help") << QStringLiteral("show the commands and options.");
  lines << QStringLiteral(".TP") << QStringLiteral(".B \\-\\-version") << QStringLiteral("show the version.");
  return lines.join(u'\n');
}

QString ExitStatus() {
  QStringList lines;
  for (const TCliExit& exit : CliExitStatuses())
    lines << QStringLiteral(".TP") << QStringLiteral(".B %1").arg(exit.Status) << Roff(QString::fromUtf8(exit.Meaning)) + u'.';
  return lines.join(u'\n');
}

// The options a command takes, for completion: with an action, those of the
// action; a command with actions but none given yet, those of any of them.
QString Flags(const QString& command, const QString& action = QString()) {
  QStringList words;
  for (const TCliOption& option : CliOptions())
    if (action.isEmpty() ? option.TakenBy(command) : option.TakenBy(command, action))
      words << QStringLiteral("--") + QLatin1String(option.Name);
  return words.join(u' ');
}

QString Completion() {
  QStringList commands;
  for (const TCliCommand& command : CliCommands()) commands << QString::fromLatin1(command.Name);
  QStringList portOptions, fileOptions, otherValueOptions, valueOptions;
  for (const TCliOption& option : CliOptions()) {
    if (!option.TakesValue()) continue;
    const QString flag = QStringLiteral("--") + QLatin1String(option.Name);
    const QString value = QLatin1String(option.ValueName);
    valueOptions << flag;
    if (value == QLatin1String("PORT"))
      portOptions << flag;
    else if (value == QLatin1String("FILE") || value == QLatin1String("BACKUP"))
      fileOptions << flag;
    else
      otherValueOptions << flag;
  }
  QString text = QStringLiteral(
      "# bash completion for ostrelgsm4 (generated from its command-line table)\n"
      "\n"
      "_ostrelgsm4()\n"
      "{\n"
      "    local cur prev words cword\n"
      "    _init_completion -s || return\n"
      "\n"
      "    case $prev in\n");
  text += QStringLiteral(
              "        %1)\n"
              "            # Serial devices, and what the program itself lists.\n"
              "            COMPREPLY=($(compgen -W \"$(ostrelgsm4 ports 2>/dev/null) $(compgen -G '/dev/ttyUSB*' "
              "2>/dev/null) $(compgen -G '/dev/ttyACM*' 2>/dev/null)\" -- \"$cur\"))\n"
              "            return\n"
              "            ;;\n")
              .arg(portOptions.join(u'|'));
  text += QStringLiteral(
              "        %1)\n"
              "            _filedir ini\n"
              "            return\n"
              "            ;;\n")
              .arg(fileOptions.join(u'|'));
  if (!otherValueOptions.isEmpty())
    text += QStringLiteral(
                "        %1)\n"
                "            return\n"
                "            ;;\n")
                .arg(otherValueOptions.join(u'|'));
  // The command is the first word that is neither an option nor an option's
  // value (in "--site diff", diff is a site's name); the words after it are
  // its arguments, an action first for site and library.
  text += QStringLiteral(
              "    esac\n"
              "\n"
              "    local command=\"\" args=() i=1\n"
              "    while ((i < cword)); do\n"
              "        case ${words[i]} in\n"
              "            %1)\n"
              "                # --option VALUE, or --option = VALUE as bash splits --option=VALUE.\n"
              "                if [[ ${words[i + 1]-} == = ]]; then ((i += 3)); else ((i += 2)); fi\n"
              "                continue\n"
              "                ;;\n"
              "            -* | =) ;;\n"
              "            *)\n"
              "                if [[ -z $command ]]; then command=${words[i]}; else args+=(\"${words[i]}\"); fi\n"
              "                ;;\n"
              "        esac\n"
              "        ((i++))\n"
              "    done\n"
              "\n"
              "    if [[ $cur == -* ]]; then\n"
              "        case $command in\n")
              .arg(valueOptions.join(u'|'));
  for (const TCliCommand& command : CliCommands()) {
    const QString name = QString::fromLatin1(command.Name);
    if (command.Actions.empty()) {
      text += QStringLiteral("            %1) COMPREPLY=($(compgen -W \"%2\" -- \"$cur\")) ;;\n").arg(name, Flags(name));
      continue;
    }
    text += QStringLiteral("            %1)\n"
                           "                case ${args[0]-} in\n")
                .arg(name);
    for (const TCliAction& action : command.Actions) {
      const QString actionName = QString::fromLatin1(action.Name);
      text += QStringLiteral("                    %1) COMPREPLY=($(compgen -W \"%2\" -- \"$cur\")) ;;\n")
                  .arg(actionName, Flags(name, actionName));
    }
    text += QStringLiteral("                    *) COMPREPLY=($(compgen -W \"%1\" -- \"$cur\")) ;;\n"
                           "                esac\n"
                           "                ;;\n")
                .arg(Flags(name));
  }
  text += QStringLiteral(
              "            *) COMPREPLY=($(compgen -W \"%1 --help --version\" -- \"$cur\")) ;;\n"
              "        esac\n"
              "        return\n"
              "    fi\n"
              "    if [[ -z $command ]]; then\n"
              "        COMPREPLY=($(compgen -W \"%2\" -- \"$cur\"))\n"
              "        return\n"
              "    fi\n"
              "    case $command in\n")
              .arg(Flags(QString()), commands.join(u' '));
  for (const TCliCommand& command : CliCommands()) {
    if (command.Actions.empty()) continue;
    QStringList actions, withDir;
    for (const TCliAction& action : command.Actions) {
      actions << QString::fromLatin1(action.Name);
      if (QLatin1String(action.Arg) == QLatin1String("DIR")) withDir << QString::fromLatin1(action.Name);
    }
    text += QStringLiteral("        %1)\n"
                           "            if ((${#args[@]} == 0)); then\n"
                           "                COMPREPLY=($(compgen -W \"%2\" -- \"$cur\"))\n")
                .arg(QString::fromLatin1(command.Name), actions.join(u' '));
    if (!withDir.isEmpty())
      text += QStringLiteral("            elif ((${#args[@]} == 1)); then\n"
                             "                case ${args[0]} in\n"
                             "                    %1) _filedir -d ;;\n"
                             "                esac\n")
                  .arg(withDir.join(u'|'));
    text += QStringLiteral("            fi\n"
                           "            ;;\n");
  }
  text += QStringLiteral(
      "    esac\n"
      "} &&\n"
      "    complete -F _ostrelgsm4 ostrelgsm4\n");
  return text;
}

bool Write(const QString& name, const QString& text) {
  QFile file(name);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0) {
    std::fprintf(stderr, "ostrelgsm4-docgen: cannot write %s\n", qPrintable(name));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  const QStringList args = [&] {
    QStringList list;
    for (int i = 1; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
    return list;
  }();
  if (args.size() == 2 && args[0] == QLatin1String("completion")) return Write(args[1], Completion()) ? 0 : 1;
  if (args.size() == 3 && args[0] == QLatin1String("man")) {
    QFile in(args[1]);
    if (!in.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "ostrelgsm4-docgen: cannot read %s\n", qPrintable(args[1]));
      return 1;
    }
    QString text = QString::fromUtf8(in.readAll());
    text.replace(QStringLiteral("@VERSION@"), QStringLiteral(OSTREL_VERSION));
    text.replace(QStringLiteral("@SYNOPSIS@"), Synopsis());
    text.replace(QStringLiteral("@COMMANDS@"), Commands());
    text.replace(QStringLiteral("@OPTIONS@"), Options());
    text.replace(QStringLiteral("@EXIT_STATUS@"), ExitStatus());
    return Write(args[2], text) ? 0 : 1;
  }
  std::fputs("usage: ostrelgsm4-docgen man TEMPLATE OUTPUT | completion OUTPUT\n", stderr);
  return 2;
}
