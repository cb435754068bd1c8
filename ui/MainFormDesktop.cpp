// The main window's desktop side: its icon, the keyboard (shortcuts, menu
// mnemonics, F10), the wheel guard, a navigation bar that scrolls when the
// window is short, the mark of the current page and the smallest window size
// at which nothing overlaps. GUI thread only.
#include <QAction>
#include <QEvent>
#include <functional>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>
#include <QStatusBar>
#include <QLabel>
#include <QTimer>

#include "protocol/OperationSize.h"
#include "ui/AppSetup.h"
#include "ui/Accessibility.h"
#include "ui/ConnectDlg.h"
#include "ui/FocusReturn.h"
#include "ui/MainForm.h"
#include "ui/NavBar.h"
#include "ui/OperationProgress.h"
#include "ui/Page.h"
#include "ui/WheelGuard.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/KeyDialog.h"
#include "ui/f_keys.h"

namespace {

// Keys of the navigation items that act on the panel; the tooltips show them.
const struct {
  const char* Item;
  const char* Keys;
} kItemKeys[] = {
    {"Прочитать", "Ctrl+R"},
    {"Записать", "Ctrl+W"},
    {"Прочитать всё", "Ctrl+Shift+R"},
    {"Записать всё", "Ctrl+Shift+W"},
};

// Runs an action when a watched widget is shown.
class TShowHook : public QObject {
 public:
  TShowHook(QObject* parent, std::function<void(QWidget*)> onShow) : QObject(parent), onShow_(std::move(onShow)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) onShow_(static_cast<QWidget*>(watched));
    return false;
  }

 private:
  std::function<void(QWidget*)> onShow_;
};

}  // namespace

void TForm1::SetUpDesktop() {
  // The icon (an SVG: its engine is a library of its own to load) comes
  // after the window is on the screen, so that it does not delay it.
  auto* iconHook = new TShowHook(this, [this](QWidget*) {
    if (iconSet_) return;
    iconSet_ = true;
    QTimer::singleShot(0, this, [this] { setWindowIcon(ProgramIcon()); });
  });
  installEventFilter(iconHook);
  setMinimumSize(kMinWidth, kMinHeight);

  // The navigation bar scrolls when the window is too short for all groups.
  auto* navScroll = new QScrollArea(navBar_->parentWidget());
  navScroll->setObjectName(QStringLiteral("RzGroupBarScroll"));
  navScroll->setFrameShape(QFrame::NoFrame);
  navScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  navScroll->setWidgetResizable(true);
  // The bar keeps its designed width beside the scroll bar, so that no
  // caption is clipped when the bar scrolls.
  navScroll->setFixedWidth(navBar_->width() + navScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  navScroll->setFocusPolicy(Qt::NoFocus);
  delete navBar_->parentWidget()->layout()->replaceWidget(navBar_, navScroll);  // the old layout item is ours
  navBar_->setMinimumWidth(0);
  navBar_->setMaximumWidth(QWIDGETSIZE_MAX);
  navScroll->setWidget(navBar_);

  // Read all and Write all bring each page to the front themselves ("Show"):
  // whatever shows a page, it is the only page of the work area (so Tab never
  // reaches a control the user cannot see) and the mark follows it.
  auto* showHook = new TShowHook(this, [this](QWidget* shown) { PageShown(static_cast<TPage*>(shown)); });
  for (TPage* page : Pages()) page->installEventFilter(showHook);
  // The scroll areas of the pages are frames, not places to type: Tab goes
  // straight to the controls inside them.
  for (TPage* page : Pages())
    for (QScrollArea* area : page->findChildren<QScrollArea*>()) area->setFocusPolicy(Qt::NoFocus);

  // A paste or keystroke that an edit refuses says why, for a few seconds.
  noteLabel_ = new QLabel(this);
  noteLabel_->setObjectName(QStringLiteral("lbNote"));
  noteLabel_->hide();
  statusBar()->addWidget(noteLabel_);
  auto* noteTimer = new QTimer(noteLabel_);
  noteTimer->setSingleShot(true);
  noteTimer->setInterval(5000);
  connect(noteTimer, &QTimer::timeout, noteLabel_, &QLabel::hide);
  for (TPage* page : Pages())
    for (TCharValidator* v : page->findChildren<TCharValidator*>())
      connect(v, &TCharValidator::Refused, this, [this, noteTimer](const QString& note) {
        noteLabel_->setText(note);
        noteLabel_->show();
        noteTimer->start();
      });

  FrameFocus(keys_->List());
  // A dialog that closes gives the keyboard back to where it was opened from.
  new TFocusReturn(this);
  TWheelGuard::Install(mpanel_);
  TWheelGuard::Install(dlgConnect_);
  SetUpShortcuts();
  SetUpProgress();
  DescribeNavigation(navBar_);
  DescribePages(common_, keys_, acp_, gsm_);
}

void TForm1::SetUpShortcuts() {
  // F10 opens the menu bar, as in other desktop programs.
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(f10, &QShortcut::activated, this, [this] {
    const QList<QAction*> menus = menuBar()->actions();
    if (!menus.isEmpty()) menuBar()->setActiveAction(menus.first());
  });
  // The keys of these items belong to the items of the menu "Панель",
  // which are enabled only while the items can be clicked.
  for (const auto& k : kItemKeys) {
    TRzGroupItem* item = groupSettings_->Item(QString::fromUtf8(k.Item));
    const QKeySequence keys(QString::fromLatin1(k.Keys));
    item->setToolTip(item->Caption() + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) + u')');
  }
  // Ctrl+1 .. Ctrl+4 show the pages, as their navigation items do (a hidden
  // item's page stays out of reach).
  const char* const pageItems[] = {"Общие", "Ключи", "АЦП", "GSM"};
  for (int i = 0; i < 4; ++i) {
    TRzGroupItem* item = groupPages_->Item(QString::fromUtf8(pageItems[i]));
    const QKeySequence keys(Qt::CTRL | Qt::Key(Qt::Key_1 + i));
    item->setToolTip(item->Caption() + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) + u')');
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, item, [this, item] {
      if (item->isVisibleTo(this) && item->isEnabled()) item->Click();
    });
  }
  // Tab runs through the navigation, then the page shown, then the memo and
  // its button. The navigation items were created after the pages and the
  // memo, so the memo and its button move behind the last page control.
  auto* clear = findChild<QWidget*>(QStringLiteral("RzBitBtn1"));
  QWidget* lastPageControl = nullptr;
  for (QWidget* w = clear->nextInFocusChain(); w && w != clear && !qobject_cast<TRzGroupItem*>(w);
       w = w->nextInFocusChain())
    if (mpanel_->isAncestorOf(w)) lastPageControl = w;
  if (lastPageControl) {
    setTabOrder(lastPageControl, memo_);
    setTabOrder(memo_, clear);
    if (auto* verbose = findChild<QWidget*>(QStringLiteral("cbVerbose"))) setTabOrder(clear, verbose);
  }
}

void TForm1::SetUpProgress() {
  progress_ = new TOperationProgress(statusBar(), [this] { return link_ ? link_->GetMode() : uint8_t{0}; });
  // Chained: whoever watched the elements before still sees them.
  applier_.Observe = [this, before = applier_.Observe](const TOutElement& e) {
    progress_->See(e);
    if (before) before(e);
  };
  // The items start the progress once their action has set the link mode.
  const struct {
    const char* Item;
    uint8_t Mode;
    int Total;
  } operations[] = {{"Прочитать всё", 5, OperationSize::ReadAllCommands},
                    {"Записать всё", 6, OperationSize::WriteAllCommands}};
  for (const auto& op : operations) {
    TRzGroupItem* item = groupSettings_->Item(QString::fromUtf8(op.Item));
    item->OnClick = [this, action = item->OnClick, mode = op.Mode, total = op.Total] {
      action();
      if (link_ && link_->GetMode() == mode) progress_->Start(mode, total);
    };
  }
}

void TForm1::PageShown(TPage* page) {
  for (TPage* other : Pages())
    if (other && other != page && !other->isHidden()) other->hide();
  page->setGeometry(mpanel_->rect());
  MarkCurrentPage(page);
}

void TForm1::MarkCurrentPage(TPage* page) {
  const struct {
    const char* Item;
    TPage* Page;
  } items[] = {{"Общие", common_}, {"Ключи", keys_}, {"АЦП", acp_}, {"GSM", gsm_}};
  for (const auto& i : items)
    if (TRzGroupItem* item = groupPages_->Item(QString::fromUtf8(i.Item))) item->SetCurrent(i.Page == page);
}

void TForm1::SetAdcItemVisible(bool visible) {
  groupPages_->Item(QString::fromUtf8("АЦП"))->setVisible(visible);
}
