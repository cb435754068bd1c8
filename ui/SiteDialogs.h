// The dialogs of the "Объекты" group: a site's card (new or changed) and the
// offer to attach a read of the whole panel to a site. GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "library/Library.h"

class QLabel;
class QLineEdit;
class QTreeWidget;
class QPlainTextEdit;
class QPushButton;

// "Новый объект" / "Объект": name, address, notes and the number of the
// panel's GSM data line (the pages' phone filter).
class TdlgSite : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgSite(QWidget* parent = nullptr);
  void SetSite(const TSite& site);
  TSite Site() const;
  // Says why the card is shown (again) under the form.
  void SetNote(const QString& note);
  // OK is refused, with a note in the dialog, for a name the library would
  // refuse and for a number with nothing to dial.
  void accept() override;
  // The Russian reason a name is refused, or nothing.
  static std::optional<QString> NameProblem(const QString& name);

  QLineEdit* NameEdit() const { return name_; }
  QLineEdit* AddressEdit() const { return address_; }
  QLineEdit* NumberEdit() const { return number_; }
  QLabel* NoteLabel() const { return note_; }

 private:
  QLineEdit* name_;
  QLineEdit* address_;
  QPlainTextEdit* notes_;
  QLineEdit* number_;
  QLabel* note_;
};

// Offered after "Прочитать всё" with no current site: every site of the
// library, those whose latest settings share a phone number with the panel
// first (in bold), a search field that narrows the list by name or address,
// and "Новый объект". Non-modal: the window works on while it is up.
class TdlgAttach : public QDialog {
  Q_OBJECT
 public:
  // The role of an item that holds the site's name.
  static constexpr int kNameRole = Qt::UserRole;
  static constexpr int kSharingRole = Qt::UserRole + 1;

  explicit TdlgAttach(QWidget* parent = nullptr);
  void SetSites(const std::vector<TSite>& sharing, const std::vector<TSite>& others);
  QLineEdit* SearchEdit() const { return search_; }
  // Name and address; the text may be elided on screen, kNameRole holds the name.
  QTreeWidget* List() const { return list_; }
  // The names the list shows now (the search applied), in order.
  QStringList Shown() const;
  QPushButton* AttachButton() const { return attach_; }
  QPushButton* NewButton() const { return new_; }
  QPushButton* DeclineButton() const { return decline_; }

 signals:
  void Attach(const QString& site);
  void NewSite();
  void Declined();

 private:
  void Filter(const QString& text);

  QLabel* text_;
  QLineEdit* search_;
  QLabel* nothing_;
  QTreeWidget* list_;
  QPushButton* attach_;
  QPushButton* new_;
  QPushButton* decline_;
};
