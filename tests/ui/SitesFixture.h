// What the tests of the "Объекты" group share: a SQLite site library in the
// test's own directory, records and sites made through it, and a look at the
// page's lists.
#pragma once

#include <QFile>
#include <atomic>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <QListWidget>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QCheckBox>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "library/LibraryUse.h"
#include "library/RecordSpool.h"
#include "persist/ProgramDir.h"
#include "link/Clock.h"
#include "serial/XComDrv.h"
#include "persist/SettingsCodec.h"
#include "persist/SettingsDialogs.h"
#include "tests/ui/GuiFixture.h"
#include "tools/ModemSim.h"
#include "tools/PanelSim.h"
#include "ui/CompareDlg.h"
#include "ui/Provision.h"
#include "ui/SiteDialogs.h"
#include "ui/SiteLibrary.h"
#include "ui/SettingNames.h"
#include "ui/Sites.h"
#include "ui/StatusPane.h"
#include "ui/f_common.h"

using ostrel::sim::EFault;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;


using ostrel::sim::EFault;
using ostrel::sim::TModemSim;
using ostrel::sim::TPanelSim;
using ostrel::sim::TPanelState;

namespace sitetest {

inline QString U(const char* text) { return QString::fromUtf8(text); }

inline QLineEdit* Phone(TForm1& form, int n) { return form.CommonPage()->findChild<QLineEdit*>(QString("etPhone%1").arg(n)); }

inline TSettings Settings(const char* phone3, int entryDelay, const char* phone4 = "") {
  TSettings s;
  s.Groups = TGroups::All();
  s.Phone[2] = phone3;
  s.Phone[3] = phone4;
  s.TimeOut = entryDelay;
  return s;
}

// A record of a site made through the library itself.
inline void AddRecord(TLibrary& library, const QString& site, TRecordKind kind, const TSettings& settings) {
  TRecord r;
  r.Operator = "anna";
  r.Host = "laptop";
  r.Kind = kind;
  r.Outcome = TRecordOutcome::Success;
  r.Port = "/dev/ttyUSB0";
  r.Firmware = "Ostrel GSM VER 05.01";
  r.Settings = RecordSettingsText(settings, r.Port);
  QVERIFY(library.AddRecord(site, &r));
}

// A record whose settings are the text given, as a library may hold one.
// The settings a record holds in the table of loadRecordTakesOnlyWhatItGives.
inline TSettings Recorded() {
  TSettings s;
  s.Groups = TGroups::All();
  for (int i = 0; i < TSettings::kEntries; ++i) s.Phone[i] = "+7900" + std::to_string(i + 1);
  for (int i = 0; i < TSettings::kKeys; ++i) s.Key[i] = "0123456789ABCDE" + std::to_string(i);
  s.TimeOut = 17;
  s.Module = 1;
  s.Ring = 2;
  return s;
}

inline void AddRecordText(TLibrary& library, const QString& site, const QByteArray& text) {
  TRecord r;
  r.Operator = "anna";
  r.Kind = TRecordKind::Read;
  r.Outcome = TRecordOutcome::Success;
  r.Settings = text;
  QVERIFY(library.AddRecord(site, &r));
}

inline void AddSite(TLibrary& library, const QString& name, const QString& address = QString(),
             const QString& number = QString()) {
  TSite site;
  site.Name = name;
  site.Address = address;
  site.DataNumber = number;
  QVERIFY2(library.AddSite(site), qPrintable(library.Error()));
}

inline QStringList Column(QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

inline QStringList Row(QTableWidget* table, int row) {
  QStringList cells;
  for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
  return cells;
}

// Chooses the history rows of the record numbers given.
inline void ChooseRecords(TSites& sites, std::initializer_list<int> numbers) {
  QTreeWidget* history = sites.Page()->History();
  history->clearSelection();
  for (int i = 0; i < history->topLevelItemCount(); ++i)
    for (int n : numbers)
      if (history->topLevelItem(i)->text(0) == QString::number(n)) history->topLevelItem(i)->setSelected(true);
}

inline void Click(TSites& sites, const char* button) {
  QPushButton* b = sites.Page()->Button(button);
  QVERIFY2(b->isEnabled(), button);
  b->click();
}


// The library of a test, made afresh for each one, with the window's files
// in a sandbox.
struct TSitesFixture {
  void Enter() {
    sandbox.Enter();
    dir = std::make_unique<QTemporaryDir>();
    place.File = dir->filePath("library.sqlite");
    library = std::make_unique<TLibrary>();
    QVERIFY(library->Open(place));
  }
  void Leave() {
    library.reset();
    dir.reset();
    sandbox.Leave();
  }
  // The panel started with phone 3 given, and the window connected to it
  // with the test's library open and no current site.
  void ConnectWithLibrary(TForm1& form, TPanelSim& panel, const char* phone3) {
    TPanelState state;
    state.Phones[2] = phone3;
    panel.SetState(state);
    panel.Start();
    form.Sites()->OpenLibrary(place);
    QVERIFY(form.Sites()->Library()->WaitIdle());
    gui::Connect(form, QString::fromStdString(panel.SlavePath()));
  }

  gui::TSandbox sandbox;
  std::unique_ptr<QTemporaryDir> dir;
  TLibraryPlace place;
  std::unique_ptr<TLibrary> library;
};

}  // namespace sitetest
