// TformKeys: the keys page ("Ключи"): the panel's ten Touch Memory keys.
//
// The list TMLV (a QTreeWidget in report view) shows the keys of the window's
// settings model (ui/PageSettings.h): row i (i = 1..10,
// top-level item i - 1) has the text i in column 0 ("№") and the key, 16
// hexadecimal digits, in column 1 ("Ключ Touch Memory"). "0000000000000000"
// marks an empty slot. A row's state image index is kept as an int in column
// 0 under StateImageRole (-1, no image, for new rows).
//
// A double-click on the list edits the selected row in the key entry dialog,
// which the program creates once at start and hands over with SetKeyDialog;
// without a dialog, or without a selected row, a double-click does nothing.
// GUI thread only.
#pragma once

#include <QPointer>
#include <QString>

#include "ui/Page.h"

class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;
class TOKRightDlg;

class TformKeys : public TPage {
  Q_OBJECT

 public:
  static constexpr int kRows = 10;
  static constexpr int StateImageRole = Qt::UserRole;
  static inline const QString EmptyKey = QStringLiteral("0000000000000000");

  explicit TformKeys(QWidget* parent = nullptr);

  // Removes every row, then adds rows 1..10, each with EmptyKey, and then
  // says so once (Cleared); the rows' own changes are not announced.
  void ClearPage() override;

  void SetKeyDialog(TOKRightDlg* dialog) { dialog_ = dialog; }
  TOKRightDlg* KeyDialog() const { return dialog_; }

  QTreeWidget* List() const { return list_; }

  // Edits the selected row through the key dialog (what a double-click does):
  // the row's key goes into KeyEdit, the dialog runs modally, and unless it is
  // cancelled KeyEdit's text becomes the row's key.
  void EditSelected();

 signals:
  void Cleared();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void AddRow(int number, const QString& key);

  QScrollArea* scrollBox_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QPointer<TOKRightDlg> dialog_;
};
