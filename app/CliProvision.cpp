#include "protocol/OperationSize.h"
#include "app/CliProvision.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

#include "app/Session.h"
#include "persist/SettingsCodec.h"
#include "ui/ConnectDlg.h"
#include "ui/f_ACP.h"

namespace {

TGroups Groups(bool adc) { return adc ? TGroups::AllWithAdc() : TGroups::All(); }

void PrintDifferences(const std::vector<TDifference>& differences) {
  for (const TDifference& d : differences) {
    const QByteArray line = DifferenceLine(d, QStringLiteral("panel"), QStringLiteral("file")).toUtf8();
    std::printf("%s\n", line.constData());
  }
  std::fflush(stdout);
}

QString Names(const std::vector<TDifference>& differences) {
  QStringList names;
  for (const TDifference& d : differences) names << FieldName(*d.Field);
  return names.join(", ");
}

// Loads the settings file into the pages; exOk or the usage failure.
int LoadInput(TForm1& form, const QString& in) {
  QString why;
  if (!QFileInfo(in).isFile()) return Fail(exUsage, "cannot read the settings file " + in);
  if (!form.LoadSettings(in, &why)) return Fail(exUsage, why);
  return exOk;
}

// Ends the link; a signal that came meanwhile still counts.
int EndLink(TSession& session) {
  session.Disconnect();
  QCoreApplication::processEvents();
  return session.Interrupted() ? Interrupted(session) : exOk;
}

}  // namespace

int RunAll(TForm1& form, TSession& session, bool adc, bool write) {
  struct TTexts {
    bool (TForm1::*all)();
    bool (TForm1::*page)();
    int allCommands;
    int pageCommands;
    const char* done;
    const char* allFailed;
    const char* adcFailed;
  };
  // The ADC page: a reading and five thresholds of each channel, or the ten
  // thresholds written.
  static const TTexts read{&TForm1::ReadAll,
                           &TForm1::Read,
                           OperationSize::ReadAllCommands,
                           12,
                           "Чтение всех параметров завершено!",
                           "reading the panel failed: ",
                           "reading the ADC channels failed: "};
  static const TTexts written{&TForm1::WriteAll,
                              &TForm1::Write,
                              OperationSize::WriteAllCommands,
                              10,
                              "Запись всех параметров завершена!",
                              "writing the panel failed: ",
                              "writing the ADC thresholds failed: "};
  const TTexts& t = write ? written : read;
  QString why;
  const bool all = session.Run(t.all, t.allCommands, QString::fromUtf8(t.done), &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!all) {
    session.Disconnect();
    return Fail(exExchange, t.allFailed + why);
  }
  if (adc) {
    form.ShowPage(form.ACPPage());
    const bool adcDone = session.Run(t.page, t.pageCommands, QString(), &why);
    if (session.Interrupted()) return Interrupted(session);
    if (!adcDone) {
      session.Disconnect();
      return Fail(exExchange, t.adcFailed + why);
    }
  }
  return exOk;
}

int ReadIntoPages(TForm1& form, TSession& session, bool adc) { return RunAll(form, session, adc, false); }

int DiffPanel(TForm1& form, TSession& session, const QString& port, const std::string& phone, const QString& in,
              bool adc) {
  if (const int status = LoadInput(form, in); status != exOk) return status;
  // What writing the file would send: the file as the pages take it.
  const TSettings file = form.PagesSettings(Groups(adc));
  QString why;
  const bool connected = session.Connect(port, phone, &why);
  if (session.Interrupted()) return Interrupted(session);
  if (!connected) return Fail(exConnect, "connection failed: " + why);
  if (const int status = ReadIntoPages(form, session, adc); status != exOk) return status;
  if (const int status = EndLink(session); status != exOk) return status;
  const std::vector<TDifference> differences = Differences(form.PagesSettings(Groups(adc)), file);
  if (differences.empty()) return exOk;
  PrintDifferences(differences);
  return Fail(exDifferent, QString::number(int(differences.size())) + " settings differ from " + in);
}

int BackupBeforeWrite(TForm1& form, TSession& session, const QString& port, const QString& in,
                      const QString& backup, bool adc) {
  if (const int status = ReadIntoPages(form, session, adc); status != exOk) return status;
  form.ConnectDialog()->ComPorts()->setEditText(port);
  QString why;
  if (!form.SaveSettings(backup, &why)) {
    session.Disconnect();
    return Fail(exUsage, "the backup was not saved, nothing written: " + why);
  }
  if (const int status = LoadInput(form, in); status != exOk) {
    session.Disconnect();
    return status;
  }
  return exOk;
}

int VerifyAfterWrite(TForm1& form, TSession& session, const TSettings& written, bool adc) {
  if (const int status = ReadIntoPages(form, session, adc); status != exOk) return status;
  if (const int status = EndLink(session); status != exOk) return status;
  const std::vector<TDifference> differences = Differences(form.PagesSettings(Groups(adc)), written);
  if (differences.empty()) return exOk;
  PrintDifferences(differences);
  return Fail(exExchange, "the panel did not keep what was written: " + Names(differences));
}
