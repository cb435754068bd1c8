// The "Объекты" page's actions on records: compare two (or one with the
// pages), load one into the pages, save one as a settings file.
#include <QDir>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QStandardPaths>

#include "library/LibraryUse.h"
#include "persist/SettingsCodec.h"
#include "persist/SettingsDialogs.h"
#include "ui/CompareDlg.h"
#include "ui/Unsaved.h"
#include "ui/MainForm.h"
#include "ui/MessageBox.h"
#include "ui/RecentFiles.h"
#include "ui/SiteLibrary.h"
#include "ui/Sites.h"
#include "ui/WindowTexts.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// The folder a record's file is offered in: the one last used, else the
// user's documents (else the home folder), with a trailing separator.
QString StartFolder(TForm1& form) {
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (documents.isEmpty() || !QFileInfo(documents).isDir()) documents = QDir::homePath();
  if (!documents.endsWith('/')) documents += '/';
  return form.RecentFiles() ? form.RecentFiles()->LastDir(documents) : documents;
}

}  // namespace

// "Склад 7 2026-12-11.ini": the site and the record's date (the user's
// clock); a character no file name takes becomes "_", and the name stays
// within the file system's 255 bytes.
QString RecordFileName(const QString& site, const QDateTime& time) {
  QString base = site;
  for (QChar& c : base)
    if (c == '/' || c == '\\' || c.category() == QChar::Other_Control) c = '_';
  base = base.trimmed();
  if (base.startsWith('.')) base.replace(0, 1, '_');
  const QString tail = ' ' + time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".ini");
  while (!base.isEmpty() && (base + tail).toUtf8().size() > 255) base.chop(1);
  // A surrogate pair is never cut in half.
  if (!base.isEmpty() && base.back().isHighSurrogate()) base.chop(1);
  return (base.isEmpty() ? U("запись") : base) + tail;
}

void TSites::CompareRecords() {
  const std::vector<int> numbers = ChosenRecords();
  const QString site = historySite_;
  if (site.isEmpty() || numbers.empty() || numbers.size() > 2) return;
  library_->Run<std::vector<TSettings>>(
      [site, numbers](TLibrary& library) {
        std::vector<TSettings> settings;
        for (int number : numbers)
          if (const auto record = library.Record(site, number)) settings.push_back(RecordSettings(record->Settings));
        return settings;
      },
      [this, numbers, site](std::vector<TSettings> settings) {
        if (settings.size() != numbers.size()) {
          MessageBox::Show(U("Записи объекта «%1» не прочитаны из библиотеки.").arg(site), &form_);
          return;
        }
        const TSettings& left = settings[0];
        TSettings right;
        QString rightName;
        if (numbers.size() == 2) {
          // As history --diff: a setting only one record holds shows empty
          // on the other side.
          right = settings[1];
          rightName = U("Запись %1").arg(numbers[1]);
        } else {
          // The pages hold everything: what the record holds is compared.
          right = form_.PagesSettings(left.Groups);
          rightName = U("На странице");
        }
        if (!compare_) compare_ = new TdlgCompare(&form_);
        compare_->SetSides(U("Сравнение записей объекта «%1»").arg(site), U("Запись %1").arg(numbers[0]), rightName,
                           numbers.size() == 2 ? U("Записи совпадают.") : U("Запись и страницы совпадают."));
        compare_->Show(Differences(left, right));
      });
}

void TSites::LoadRecord() {
  const std::vector<int> numbers = ChosenRecords();
  const QString site = historySite_;
  if (site.isEmpty() || numbers.size() != 1) return;
  const int number = numbers[0];
  library_->Run<std::optional<QByteArray>>(
      [site, number](TLibrary& library) -> std::optional<QByteArray> {
        const auto record = library.Record(site, number);
        if (!record) return std::nullopt;
        return record->Settings;
      },
      [this, site, number](std::optional<QByteArray> text) {
        if (!text) {
          MessageBox::Show(U("Запись %1 объекта «%2» не прочитана из библиотеки.").arg(number).arg(site), &form_,
                           MessageBox::TKind::Error);
          return;
        }
        // A running write sends what the pages held when it began; a read
        // would overwrite them: wait until the panel is free.
        if (form_.IsBusy()) {
          MessageBox::Show(U("Идёт обмен с панелью: загрузите запись после его окончания."), &form_);
          return;
        }
        // As the window's Load takes a file: the groups the record holds, what
        // it lacks of them kept and named.
        TDecodedSettings loaded = LoadSettingsText(*text, form_.PagesSettings(TGroups::AllWithAdc()));
        if (!loaded.Taken) {
          MessageBox::Show(U("В записи %1 объекта «%2» нет настроек панели.\nНичего не загружено, страницы не изменились.")
                               .arg(number)
                               .arg(site),
                           &form_, MessageBox::TKind::Error);
          return;
        }
        // Changes the record would replace are asked about; the load can be undone.
        const TUnsaved::TPoint before = form_.Unsaved()->Point();
        if (!form_.Unsaved()->MayReplace(TReplacing::LoadRecord, loaded.Settings.Groups,
                                         U("записи %1 объекта «%2»").arg(number).arg(site), [this] { LoadRecord(); }))
          return;
        loaded = LoadSettingsText(*text, form_.PagesSettings(TGroups::AllWithAdc()));  // over what "Отбросить" left
        form_.ShowSettings(loaded.Settings);
        form_.Unsaved()->Loaded(before, loaded);
        form_.Memo()->appendPlainText(U("Загружена в страницы запись %1 объекта «%2»").arg(number).arg(site));
        const QString leftOut = WindowTexts::LoadLeftOut(WindowTexts::RecordSource(number, site), loaded);
        if (!leftOut.isEmpty()) MessageBox::Show(leftOut, &form_, MessageBox::TKind::Warning);
      });
}

void TSites::SaveRecord() {
  const std::vector<int> numbers = ChosenRecords();
  const QString site = historySite_;
  if (site.isEmpty() || numbers.size() != 1) return;
  const int number = numbers[0];
  library_->Run<std::optional<TRecord>>(
      [site, number](TLibrary& library) { return library.Record(site, number); },
      [this, site, number](std::optional<TRecord> record) {
        if (!record) {
          MessageBox::Show(U("Запись %1 объекта «%2» не прочитана из библиотеки.").arg(number).arg(site), &form_,
                           MessageBox::TKind::Error);
          return;
        }
        if (RecordSettings(record->Settings).Groups.Empty()) {
          MessageBox::Show(U("В записи %1 объекта «%2» нет настроек панели: сохранять нечего.").arg(number).arg(site),
                           &form_, MessageBox::TKind::Warning);
          return;
        }
        const QString file = SettingsDialogs::Choose(SettingsDialogs::TKind::Save, &form_,
                                                     StartFolder(form_) + RecordFileName(site, record->Time));
        if (file.isEmpty()) return;
        // The text Save writes, as "show --record" gives it: a file that
        // Load and write take.
        QSaveFile out(file);
        const QByteArray text = CanonicalRecordText(record->Settings);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
          MessageBox::Show(U("Не удалось записать файл %1: %2").arg(QDir::toNativeSeparators(file), out.errorString()),
                           &form_, MessageBox::TKind::Error);
          return;
        }
        if (form_.RecentFiles()) form_.RecentFiles()->Add(file);
        form_.Memo()->appendPlainText(
            U("Запись %1 объекта «%2» сохранена в файл %3").arg(number).arg(site, QDir::toNativeSeparators(file)));
      });
}
