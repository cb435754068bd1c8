// The main window's menus: "Файл", "Панель", "Соединение", "Настройки",
// "Отладка" and "Справка", their shortcuts (shown beside the items), and the
// boxes of "Справка". The items of "Соединение", "Настройки" and "Отладка"
// keep their places; "Файл" and "Панель" gather the everyday actions, the
// same QAction where an item is in two menus. GUI thread only.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "OstrelVersion.h"
#include "ui/MainForm.h"
#include "ui/NavBar.h"
#include "ui/Provision.h"
#include "ui/RecentFiles.h"

namespace {

QString U(const char* text) { return QString::fromUtf8(text); }

// The page keys, which have no menu items: named in the list of shortcuts.
const struct {
  const char* Keys;
  const char* What;
} kPageKeys[] = {
    {"Ctrl+1", "Страница «Общие»"}, {"Ctrl+2", "Страница «Ключи»"},
    {"Ctrl+3", "Страница «АЦП» (когда показана)"}, {"Ctrl+4", "Страница «GSM»"},
    {"F10", "Меню"}, {"F2, Enter", "Изменить выбранный ключ"},
};

}  // namespace

QAction* TForm1::AddMenuItem(QMenu* menu, const char* name, const char* text, const char* keys) {
  QAction* a = menu->addAction(U(text));
  a->setObjectName(name);
  if (keys) a->setShortcut(QKeySequence(QString::fromLatin1(keys)));
  return a;
}

void TForm1::CreateMenus() {
  // "Файл": the settings files and the end of the program. "Последние
  // файлы" follows "Сохранить…" (TRecentFiles); "Сравнить с файлом…" and
  // the like go after mnuFileCompareSlot.
  QMenu* file = menuBar()->addMenu(U("&Файл"));
  file->setObjectName("mnuFile");
  connect(AddMenuItem(file, "mnuOpen", "&Открыть…", "Ctrl+O"), &QAction::triggered, this, &TForm1::LoadAction);
  connect(AddMenuItem(file, "mnuSaveAs", "Со&хранить…", "Ctrl+S"), &QAction::triggered, this, &TForm1::SaveAction);
  file->addSeparator()->setObjectName("mnuFileCompareSlot");
  file->addSeparator();
  QAction* exit = AddMenuItem(file, "mnuExit", "&Выход", "Ctrl+Q");
  connect(exit, &QAction::triggered, this, &QWidget::close);

  // "Панель": the connection and the operations, enabled as they can run.
  QMenu* panel = menuBar()->addMenu(U("&Панель"));
  panel->setObjectName("mnuPanel");
  mnuConnect_ = AddMenuItem(panel, "mnuConnect", "&Подключиться", "Ctrl+K");
  connect(mnuConnect_, &QAction::triggered, this, &TForm1::Connect);
  mnuDisconnect_ = AddMenuItem(panel, "mnuDisconnect", "&Отключиться", "Ctrl+D");
  connect(mnuDisconnect_, &QAction::triggered, this, &TForm1::Disconnect);
  mnuDisconnect_->setEnabled(false);
  panel->addSeparator();
  // The items click the navigation items, so that both start an operation
  // the same way (the progress of Read all and Write all included).
  const struct {
    const char* Name;
    const char* Text;
    const char* Item;
    const char* Keys;
  } operations[] = {{"mnuRead", "П&рочитать", "Прочитать", "Ctrl+R"},
                    {"mnuWrite", "&Записать", "Записать", "Ctrl+W"},
                    {"mnuReadAll", "Прочитать &всё", "Прочитать всё", "Ctrl+Shift+R"},
                    {"mnuWriteAll", "Записать вс&ё", "Записать всё", "Ctrl+Shift+W"}};
  for (const auto& op : operations) {
    QAction* a = AddMenuItem(panel, op.Name, op.Text, op.Keys);
    a->setEnabled(false);
    const QString item = U(op.Item);
    connect(a, &QAction::triggered, this, [this, item] {
      if (TRzGroupItem* i = groupSettings_->Item(item); i && i->isEnabled()) i->Click();
    });
    panelOperations_ << a;
  }
  panel->addSeparator()->setObjectName("mnuPanelCompareSlot");

  QMenu* connections = menuBar()->addMenu(U("&Соединение"));
  connections->setObjectName("mnuConnections");
  connections->addAction(mnuConnect_);
  connections->addAction(mnuDisconnect_);

  QMenu* properties = menuBar()->addMenu(U("&Настройки"));
  properties->setObjectName("mnuProperties");
  AddMenuItem(properties, "mnuCommon", "Общие", nullptr)->setVisible(false);
  mnuSave_ = AddMenuItem(properties, "mnuSave", "&Сохранить", nullptr);
  connect(mnuSave_, &QAction::triggered, this, &TForm1::SaveAction);
  mnuLoad_ = AddMenuItem(properties, "mnuLoad", "&Загрузить", nullptr);
  connect(mnuLoad_, &QAction::triggered, this, &TForm1::LoadAction);

  QMenu* debug = menuBar()->addMenu(U("&Отладка"));
  debug->setObjectName("mnuDebug");
  mnuLog_ = AddMenuItem(debug, "mnuLog", "&Записывать информацию в лог файл", nullptr);
  connect(mnuLog_, &QAction::triggered, this, &TForm1::mnuLogClick);
  mnuLog_->setCheckable(true);

  QMenu* help = menuBar()->addMenu(U("Спра&вка"));
  help->setObjectName("mnuHelp");
  connect(AddMenuItem(help, "mnuShortcuts", "&Сочетания клавиш", "F1"), &QAction::triggered, this,
          &TForm1::ShowShortcuts);
  connect(AddMenuItem(help, "mnuAbout", "&О программе", nullptr), &QAction::triggered, this, &TForm1::ShowAbout);
}

// What exists only once the recent files and the provisioning are made.
void TForm1::FinishMenus() {
  auto* panel = menuBar()->findChild<QMenu*>("mnuPanel");
  if (auto* compare = findChild<QAction*>("mnuCompare")) {
    compare->setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
    panel->addAction(compare);
  }
  UpdateMenuActions();
}

void TForm1::UpdateMenuActions() {
  const bool free = connected_.load() && !busy_;
  for (QAction* a : panelOperations_) a->setEnabled(free);
  for (const char* name : {"mnuOpen", "mnuSaveAs"})
    if (auto* a = findChild<QAction*>(name)) a->setEnabled(!busy_);
}

QList<QPair<QString, QString>> TForm1::ShortcutList() const {
  // The menus' own items with a shortcut, in menu order, then the page keys.
  QList<QPair<QString, QString>> rows;
  QList<QAction*> seen;
  for (QAction* top : menuBar()->actions()) {
    if (!top->menu()) continue;
    for (QAction* a : top->menu()->actions()) {
      if (a->shortcut().isEmpty() || seen.contains(a)) continue;
      seen << a;
      rows.append({a->shortcut().toString(QKeySequence::NativeText), QString(a->text()).remove(u'&')});
    }
  }
  for (const auto& k : kPageKeys) rows.append({QString::fromLatin1(k.Keys), U(k.What)});
  return rows;
}

void TForm1::ShowShortcuts() {
  auto* box = new QDialog(this);
  box->setObjectName("dlgShortcuts");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(U("Сочетания клавиш"));
  auto* layout = new QVBoxLayout(box);
  const auto rows = ShortcutList();
  auto* table = new QTableWidget(int(rows.size()), 2, box);
  table->setObjectName("tblShortcuts");
  table->setHorizontalHeaderLabels({U("Клавиши"), U("Действие")});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int i = 0; i < rows.size(); ++i) {
    table->setItem(i, 0, new QTableWidgetItem(rows[i].first));
    table->setItem(i, 1, new QTableWidgetItem(rows[i].second));
  }
  table->resizeColumnsToContents();
  table->resizeRowsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
  buttons->button(QDialogButtonBox::Close)->setText(U("Закрыть"));
  connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
  layout->addWidget(buttons);
  box->resize(460, 420);
  box->open();
}

QString TForm1::AboutText() {
  return U("<b>OstrelGSM4</b> — настройка охранной панели «Ostrel GSM»<br>Версия ") +
         QStringLiteral(OSTREL_VERSION) +
         U("<br><br>Программа распространяется на условиях лицензии GNU GPL версии 3 "
           "(GNU General Public License v3), без каких-либо гарантий.<br>"
           "Текст лицензии — в файле LICENSE, поставляемом с программой.");
}

void TForm1::ShowAbout() {
  auto* box = new QDialog(this);
  box->setObjectName("dlgAbout");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(U("О программе"));
  auto* layout = new QVBoxLayout(box);
  auto* text = new QLabel(AboutText(), box);
  text->setObjectName("lbAbout");
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
  buttons->button(QDialogButtonBox::Close)->setText(U("Закрыть"));
  connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::reject);
  layout->addWidget(buttons);
  box->resize(420, 180);
  box->open();
}
