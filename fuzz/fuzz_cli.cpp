// The command line's option parser: whatever the arguments, they are a
// command the table knows, with an action it has, the words it takes and
// only options it or its action takes, or a usage error that says why. What
// is accepted reads the same when written back out (options first, then
// "--" and the words), so no word is taken for an option or lost.
//
// The input is the arguments after the program's name, each ended by a NUL.
#include <QCoreApplication>

#include "app/CliOptions.h"
#include "fuzz/FuzzSupport.h"

namespace {

QStringList Arguments(const uint8_t* data, size_t size) {
  QStringList args{QStringLiteral("ostrelgsm4")};
  QByteArray word;
  for (size_t i = 0; i < size && args.size() < 24; ++i) {
    if (data[i] == 0) {
      args << QString::fromUtf8(word);
      word.clear();
    } else {
      word += char(data[i]);
    }
  }
  if (!word.isEmpty()) args << QString::fromUtf8(word);
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static int argc = 1;
  static char name[] = "ostrelgsm4";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
  qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TCliParse parse;
  const auto usage = ParseCliArguments(Arguments(data, size), &parse);
  if (usage) {
    fuzz::Require(!usage->isEmpty(), "a usage error says why");
    return 0;
  }
  if (parse.Help || parse.Version) return 0;
  fuzz::Require(parse.Command && FindCliCommand(QLatin1String(parse.Command->Name)) == parse.Command,
                "a command of the table");
  const QString command = QLatin1String(parse.Command->Name);
  const QString action = parse.Action ? QString::fromLatin1(parse.Action->Name) : QString();
  fuzz::Require(parse.Command->Actions.empty() || parse.Args.isEmpty() || (parse.Action && parse.Args[0] == action),
                "an action the command has");
  QStringList written{QStringLiteral("ostrelgsm4")};
  for (const TCliOption& option : CliOptions()) {
    const QString name = QLatin1String(option.Name);
    if (!parse.Parser.isSet(name)) continue;
    fuzz::Require(option.TakenBy(command, action), "only options the command takes");
    if (!option.TakesValue()) written << "--" + name;
    for (const QString& value : parse.Parser.values(name)) written << "--" + name + '=' + value;
  }
  written << QStringLiteral("--") << command << parse.Args;
  TCliParse again;
  const auto refused = ParseCliArguments(written, &again);
  fuzz::Require(!refused, "what was accepted is accepted written back");
  fuzz::Require(again.Command == parse.Command && again.Action == parse.Action && again.Args == parse.Args,
                "the same command and words");
  for (const TCliOption& option : CliOptions()) {
    const QString name = QLatin1String(option.Name);
    fuzz::Require(again.Parser.isSet(name) == parse.Parser.isSet(name) &&
                      again.Parser.values(name) == parse.Parser.values(name),
                  "the same options");
  }
  return 0;
}
