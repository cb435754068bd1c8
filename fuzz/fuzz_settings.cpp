// The INI reader with the settings-file loader: any file content is read, the
// write check decides on it, and a window load puts only values that keep
// their rules into the settings and so into the pages.
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTreeWidget>
#include <cstring>

#include "fuzz/FuzzPages.h"
#include "fuzz/FuzzSupport.h"
#include "persist/IniFile.h"
#include "persist/SettingsCodec.h"
#include "ui/PageSettings.h"

namespace {

struct TPages : fuzz::TPages {
  QComboBox ports;
  TSettingsModel model{TSettings()};
  TPagesView view{model, &common, &keys, &acp, &gsm};
  TPagesFile file{{&ports, &model, [] { return true; }, [] {}}};
};

TPages* pages = nullptr;

bool Only(const QString& text, const char* allowed, int maxLength) {
  if (text.size() > maxLength) return false;
  for (const QChar c : text)
    if (c.unicode() > 0x7E || !std::strchr(allowed, char(c.unicode()))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::StartApplication();
  pages = new TPages;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString path = fuzz::InputFile("settings.ini", data, size);

  TIniFile ini(path);
  fuzz::Require(ini.Load(), "a small regular file loads");
  for (const TIniFile::TKeyLine& k : ini.KeyLines())
    fuzz::Require(k.Line >= 1 && ini.ValueExists(k.Section, k.Key), "every key line is found by its names");

  (void)ReadSettingsForWrite(path, TGroups::All(), nullptr);
  const bool refused = ReadSettingsForWrite(path, TGroups::AllWithAdc(), nullptr).has_value();
  QString error;
  const bool clean = pages->file.Load(path, &error);
  fuzz::Require(clean || !error.isEmpty(), "a load that leaves something out says so");
  // A file fit to be written loads without leaving anything out.
  if (!refused) fuzz::Require(clean, "a file fit to write loads whole");

  // The user's Load: a setting the file does not give stays as it was, and
  // a file it does not take changes nothing.
  const TSettings before = pages->model.Settings();
  const TDecodedSettings kept = pages->file.LoadKeeping(path);
  for (const TField* f : kept.Absent)
    fuzz::Require(FieldText(pages->model.Settings(), *f) == FieldText(before, *f), "an absent setting stays");
  if (!kept.Taken) fuzz::Require(pages->model.Settings() == before, "a file not taken changes nothing");

  for (int n = 1; n <= 12; ++n) {
    const auto* phone = pages->common.findChild<QLineEdit*>("etPhone" + QString::number(n));
    fuzz::Require(Only(phone->text(), "0123456789+", 20), "a phone holds only digits and +");
  }
  for (int i = 0; i < pages->keys.List()->topLevelItemCount(); ++i)
    fuzz::Require(Only(pages->keys.List()->topLevelItem(i)->text(1), "0123456789ABCDEF", 16),
                  "a key holds only upper-case hexadecimal digits");
  for (const char* name : {"ts", "ts2"}) {
    const auto* slider = pages->acp.findChild<TTrislider*>(name);
    for (int k = 0; k < slider->GetCount(); ++k)
      fuzz::Require(slider->GetPosition(k) >= 0 && slider->GetPosition(k) <= 1023, "a threshold is 0..1023");
  }
  const auto* ring = pages->gsm.findChild<QComboBox*>("cbRing");
  fuzz::Require(ring->currentIndex() >= 0 && ring->currentIndex() <= 5, "the ring index is 0..5");
  fuzz::ServeEvents();
  return 0;
}
