#include "persist/SettingsFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <QtDebug>
#include <optional>
#include <utility>

#include "persist/IniFile.h"
#include "persist/SettingsCheck.h"
#include "ui/KeyDialog.h"  // f_keys.h holds a QPointer to the dialog
#include "ui/RadioButton.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

constexpr int kEntries = 12;
constexpr int kFirstLoopEntry = 5;
constexpr int kLoops = 4;
constexpr int kKeys = 10;
constexpr int kThumbs = 5;

QString Numbered(const char* name, int n) { return QLatin1String(name) + QString::number(n); }

// A control the pages must have; a missing one is a defect of the page and
// its key is skipped.
template <class T>
T* Control(const QWidget* page, const QString& name) {
  T* control = page ? page->findChild<T*>(name) : nullptr;
  if (!control) qWarning() << "settings file: no control" << name;
  return control;
}

QString KeyText(const QTreeWidget* list, int row) {
  const QTreeWidgetItem* item = list ? list->topLevelItem(row) : nullptr;
  return item ? item->text(1) : TSettingsFile::EmptyKey;
}

// The Boolean that a check box, or a radio button of ours, shows.
bool Checked(const QWidget* page, const QString& name) {
  const auto* box = Control<QAbstractButton>(page, name);
  return box && box->isChecked();
}

void SetChecked(const QWidget* page, const QString& name, bool on) {
  // Our radio buttons can also be switched off, leaving their group empty.
  auto* button = Control<QAbstractButton>(page, name);
  if (auto* radio = qobject_cast<TRadioButton*>(button))
    radio->SetOn(on);
  else if (button)
    button->setChecked(on);
}

}  // namespace

TSettingsFile::TSettingsFile(TSettingsTargets targets) : t_(std::move(targets)) {}

bool TSettingsFile::Save(const QString& fileName, QString* error) const {
  TIniFile ini(fileName);
  // An unreadable file is not replaced: Save reports it below.
  (void)ini.Load();
  Store(ini);
  return ini.Save(error);
}

TSnapshot TSettingsFile::Snapshot(bool adc) const {
  TIniFile ini{QString()};
  Store(ini);
  return TSnapshot::FromIni(ini, adc);
}

void TSettingsFile::Store(TIniFile& ini) const {
  ini.WriteString("Connect", "ComPort", t_.ComPorts ? t_.ComPorts->currentText() : QString());
  ini.WriteBool("Debug", "Log", t_.LogMarked && t_.LogMarked());

  const QWidget* common = t_.Common;
  for (int n = 1; n <= kEntries; ++n) {
    const auto* phone = Control<QLineEdit>(common, Numbered("etPhone", n));
    ini.WriteString("Phones", Numbered("Phone", n), phone ? phone->text() : QString());
    ini.WriteBool("React", Numbered("React", n), Checked(common, Numbered("cbReact", n)));
    if (n >= kFirstLoopEntry) ini.WriteBool("Norm", Numbered("Norm", n), Checked(common, Numbered("rbNorm", n)));
  }
  for (int loop = 1; loop <= kLoops; ++loop)
    ini.WriteBool("24Hours", Numbered("24-", loop), Checked(common, Numbered("cb24", loop)));

  ini.WriteBool("Other", "FastGuard", Checked(common, "cbFastGuard"));
  const auto* timeOut = Control<QSpinBox>(common, "seTimeOut");
  ini.WriteInteger("Other", "TimeOut", timeOut ? timeOut->value() : 0);
  ini.WriteBool("Other", "WaitSend", Checked(common, "cbWaitSend"));
  const auto* timeOut2 = Control<QSpinBox>(common, "seTimeOut2");
  ini.WriteInteger("Other", "TimeOut2", timeOut2 ? timeOut2->value() : 0);

  const QTreeWidget* list = t_.Keys ? t_.Keys->List() : nullptr;
  for (int i = 0; i < kKeys; ++i) {
    const QString key = KeyText(list, i);
    ini.WriteString("Keys", Numbered("Key", i), key == BlankKey ? EmptyKey : key);
  }

  const TTrislider* ts = Control<TTrislider>(t_.ACP, "ts");
  const TTrislider* ts2 = Control<TTrislider>(t_.ACP, "ts2");
  for (int k = 0; k < kThumbs; ++k) {
    ini.WriteInteger("ts1", Numbered("slider", k), ts && k < ts->GetCount() ? ts->GetPosition(k) : 0);
    ini.WriteInteger("ts2", Numbered("slider", k), ts2 && k < ts2->GetCount() ? ts2->GetPosition(k) : 0);
  }

  const QWidget* gsm = t_.GSM;
  for (int mode = 1; mode <= 3; ++mode)
    ini.WriteBool("GSM", Numbered("MODE", mode), Checked(gsm, Numbered("rb", mode)));
  const auto* ring = Control<QComboBox>(gsm, "cbRing");
  ini.WriteInteger("GSM", "RING", ring ? ring->currentIndex() : -1);
}

bool TSettingsFile::Load(const QString& fileName, QString* error) const {
  TIniFile ini(fileName);
  if (!ini.Load()) {
    if (error) *error = QStringLiteral("Unable to read ") + fileName;
    return false;
  }
  // A missing file loads every default; an existing one must hold settings.
  const bool exists = QFileInfo(fileName).isFile();
  const TSettingsCheck check(ini, true);
  if (exists && !check.HasSettings()) {
    if (error) *error = fileName + QStringLiteral(": none of the settings sections; nothing was loaded");
    return false;
  }
  // A value that breaks its rule is left out: its control keeps its value.
  const auto text = [&](const char* section, const QString& key, const QString& def) {
    return check.Rejected(section, key) ? std::optional<QString>() : ini.ReadString(section, key, def);
  };
  const auto flag = [&](const char* section, const QString& key, bool def) {
    return check.Rejected(section, key) ? std::optional<bool>() : ini.ReadBool(section, key, def);
  };
  const auto number = [&](const char* section, const QString& key, int def) {
    return check.Rejected(section, key) ? std::optional<int>() : ini.ReadInteger(section, key, def);
  };
  const auto setFlag = [](const QWidget* page, const QString& name, std::optional<bool> on) {
    if (on) SetChecked(page, name, *on);
  };

  const QString port = ini.ReadString("Connect", "ComPort", QString());
  if (t_.ComPorts && !port.isEmpty()) t_.ComPorts->setCurrentText(port);
  if (ini.ReadBool("Debug", "Log", false) && t_.LogMarked && !t_.LogMarked() && t_.LogClick) t_.LogClick();

  const QWidget* common = t_.Common;
  if (common) {
    for (int n = 1; n <= kEntries; ++n) {
      auto* phone = Control<QLineEdit>(common, Numbered("etPhone", n));
      if (const auto value = text("Phones", Numbered("Phone", n), QString()); phone && value) phone->setText(*value);
      setFlag(common, Numbered("cbReact", n), flag("React", Numbered("React", n), false));
      if (n >= kFirstLoopEntry) setFlag(common, Numbered("rbNorm", n), flag("Norm", Numbered("Norm", n), false));
    }
    for (int loop = 1; loop <= kLoops; ++loop)
      setFlag(common, Numbered("cb24", loop), flag("24Hours", Numbered("24-", loop), false));

    setFlag(common, "cbFastGuard", flag("Other", "FastGuard", false));
    auto* timeOut = Control<QSpinBox>(common, "seTimeOut");
    if (const auto value = number("Other", "TimeOut", 0); timeOut && value) timeOut->setValue(*value);
    setFlag(common, "cbWaitSend", flag("Other", "WaitSend", false));
    auto* timeOut2 = Control<QSpinBox>(common, "seTimeOut2");
    if (const auto value = number("Other", "TimeOut2", 0); timeOut2 && value) timeOut2->setValue(*value);
  }

  if (t_.Keys) {
    // Every one of the ten rows is set below, so a list cut short can be reset first.
    if (t_.Keys->List()->topLevelItemCount() < kKeys) t_.Keys->ClearPage();
    for (int i = 0; i < kKeys; ++i) {
      std::optional<QString> key = text("Keys", Numbered("Key", i), EmptyKey);
      if (!key) continue;
      // As the key dialog takes typed letters: in capitals.
      *key = key->toUpper();
      if (*key == BlankKey) *key = EmptyKey;
      t_.Keys->List()->topLevelItem(i)->setText(1, *key);
    }
  }

  TTrislider* ts = Control<TTrislider>(t_.ACP, "ts");
  TTrislider* ts2 = Control<TTrislider>(t_.ACP, "ts2");
  for (int k = 0; k < kThumbs; ++k) {
    const QString key = Numbered("slider", k);
    if (const auto value = number("ts1", key, 0); ts && value && k < ts->GetCount()) ts->SetPosition(k, *value);
    if (const auto value = number("ts2", key, 0); ts2 && value && k < ts2->GetCount()) ts2->SetPosition(k, *value);
  }

  if (const QWidget* gsm = t_.GSM) {
    for (int mode = 1; mode <= 3; ++mode) {
      const QString name = Numbered("rb", mode);
      setFlag(gsm, name, flag("GSM", Numbered("MODE", mode), Checked(gsm, name)));
    }
    auto* ring = Control<QComboBox>(gsm, "cbRing");
    if (const auto value = number("GSM", "RING", ring ? ring->currentIndex() : 0); ring && value)
      ring->setCurrentIndex(*value);
  }

  if (check.Problems().empty()) return true;
  if (error) {
    QStringList skipped;
    for (const TSettingsCheck::TProblem& p : check.Problems()) skipped << p.Text;
    *error = fileName + QStringLiteral(": these values were not loaded:\n") + skipped.join(u'\n');
  }
  return false;
}
