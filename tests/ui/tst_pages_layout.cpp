// Every page at the work area's designed size (725 x 415) and several font
// sizes: no control clipped by its container, no two controls on top of each
// other, texts shown whole. With OSTREL_PAGE_SHOTS set to a folder, the pages
// are also saved there as images for a look by eye.
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>

#include <memory>

#include "ui/KeyDialog.h"
#include "ui/Panel.h"
#include "ui/Trislider.h"
#include "ui/f_ACP.h"
#include "ui/f_common.h"
#include "ui/f_gsm.h"
#include "ui/f_keys.h"

namespace {

// Controls placed by the pages themselves; parts inside Qt's composite
// widgets (a spin box's edit, a scroll area's viewport and bars, a list's
// header) are Qt's business.
bool IsPlacedControl(const QWidget* w) {
  const QWidget* parent = w->parentWidget();
  if (parent == nullptr) return false;
  if (qobject_cast<const QAbstractScrollArea*>(parent) || qobject_cast<const QSpinBox*>(parent) ||
      qobject_cast<const QComboBox*>(parent) || qobject_cast<const TTrislider*>(parent)) {
    return false;
  }
  return qobject_cast<const QAbstractScrollArea*>(parent->parentWidget()) == nullptr;
}

QString Describe(const QWidget* w) {
  QString text;
  if (auto* label = qobject_cast<const QLabel*>(w)) text = label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(w)) text = button->text();
  return QStringLiteral("%1 '%2' %3 in %4")
      .arg(QLatin1String(w->metaObject()->className()), w->objectName() + QLatin1Char('/') + text)
      .arg(QStringLiteral("(%1,%2 %3x%4)").arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height()),
           w->parentWidget()->objectName());
}

std::unique_ptr<QWidget> MakePage(const QString& name) {
  if (name == "TformCommon") return std::make_unique<TformCommon>();
  if (name == "TformGSM") return std::make_unique<TformGSM>();
  if (name == "TformKeys") return std::make_unique<TformKeys>();
  if (name == "TformACP") return std::make_unique<TformACP>();
  return std::make_unique<TOKRightDlg>();
}

}  // namespace

class TstPagesLayout : public QObject {
  Q_OBJECT

 private slots:
  void noClippingOrOverlap_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("points");
    QTest::addColumn<bool>("fontAfterCreation");
    for (const char* page : {"TformCommon", "TformGSM", "TformKeys", "TformACP", "TOKRightDlg"}) {
      for (const int points : {8, 9, 11}) {
        QTest::addRow("%s-%dpt", page, points) << QString::fromLatin1(page) << points << false;
      }
    }
    // The main window may set its font after the page has been made.
    for (const char* page : {"TformCommon", "TformACP"}) {
      QTest::addRow("%s-font-changed-later", page) << QString::fromLatin1(page) << 11 << true;
    }
  }
  void noClippingOrOverlap() {
    QFETCH(QString, page);
    QFETCH(int, points);
    QFETCH(bool, fontAfterCreation);
    const QFont original = QApplication::font();
    // The application font goes back at the end of the row, whatever happens.
    const auto restore = qScopeGuard([&original] { QApplication::setFont(original); });
    QFont font = original;
    font.setPointSize(points);
    if (!fontAfterCreation) QApplication::setFont(font);
    std::unique_ptr<QWidget> widget = MakePage(page);
    if (fontAfterCreation) widget->setFont(font);
    const bool dialog = page == "TOKRightDlg";
    if (!dialog) widget->resize(725, 415);
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget.get()));
    QCoreApplication::processEvents();  // font changes arrive as events

    const QList<QWidget*> all = widget->findChildren<QWidget*>();
    QList<QWidget*> placed;
    for (QWidget* w : all) {
      if (w->isVisibleTo(widget.get()) && IsPlacedControl(w)) placed << w;
    }
    if (auto* keys = qobject_cast<TformKeys*>(widget.get())) {
      // The list fills the page; both its columns are in view.
      QTreeWidget* list = keys->List();
      QVERIFY(list->columnWidth(0) + list->columnWidth(1) <= list->viewport()->width());
      QVERIFY(list->visualItemRect(list->topLevelItem(9)).bottom() < list->viewport()->height());
    } else {
      QVERIFY(placed.size() > 3);
    }
    for (QWidget* w : placed) {
      const QWidget* parent = w->parentWidget();
      QVERIFY2(parent->rect().contains(w->geometry()), qPrintable(QStringLiteral("clipped: ") + Describe(w)));
      // Texts shown whole.
      const QFontMetrics fm = w->fontMetrics();
      bool whole = true;
      if (auto* label = qobject_cast<QLabel*>(w); label && label->wordWrap()) {
        whole = w->height() >= label->heightForWidth(w->width());
      } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        whole = w->width() >= fm.horizontalAdvance(button->text()) + 8 && w->height() >= fm.height() + 4;
      } else if (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) {
        whole = w->width() >= w->sizeHint().width() && w->height() >= w->sizeHint().height() - 2;
      }
      QVERIFY2(whole, qPrintable(QStringLiteral("text cut: ") + Describe(w)));
      for (QWidget* other : placed) {
        if (other == w || other->parentWidget() != parent || other < w) continue;
        // The dialog's bevel is drawn around its edit by design.
        if (w->objectName() == QLatin1String("Bevel1") || other->objectName() == QLatin1String("Bevel1")) continue;
        QVERIFY2(!w->geometry().intersects(other->geometry()),
                 qPrintable(QStringLiteral("overlap: ") + Describe(w) + QStringLiteral(" / ") + Describe(other)));
      }
      // A phone edit holds all its twenty digits.
      if (w->objectName().startsWith(QLatin1String("etPhone"))) {
        QVERIFY(w->width() >= w->fontMetrics().horizontalAdvance(QString(20, QLatin1Char('8'))) + 6);
      }
    }
    // The common page scrolls only vertically at the designed size.
    if (auto* scroll = widget->findChild<QScrollArea*>(QStringLiteral("ScrollBox1")); scroll && page == "TformCommon") {
      QVERIFY2(!scroll->horizontalScrollBar()->isVisible(),
               qPrintable(QStringLiteral("content %1 wide").arg(scroll->widget()->width())));
    }
    // The pages without a scroll box fit the work area.
    if (page == "TformGSM" || page == "TformACP") {
      for (QWidget* w : placed) {
        if (w->parentWidget() == widget.get()) QVERIFY2(QRect(0, 0, 725, 415).contains(w->geometry()), qPrintable(Describe(w)));
      }
    }

    const QString shots = qEnvironmentVariable("OSTREL_PAGE_SHOTS");
    if (!shots.isEmpty()) {
      // The sliders draw on their timer; draw a frame now.
      for (TTrislider* slider : widget->findChildren<TTrislider*>()) slider->TimerTick();
      QCoreApplication::processEvents();
      const QString file = QStringLiteral("%1/page_%2_%3pt%4.png")
                               .arg(shots, page)
                               .arg(points)
                               .arg(fontAfterCreation ? QStringLiteral("_later") : QString());
      QVERIFY(widget->grab().save(file));
      if (auto* scroll = widget->findChild<QScrollArea*>(QStringLiteral("ScrollBox1")); scroll && page == "TformCommon") {
        QVERIFY(scroll->widget()->grab().save(QString(file).replace(QStringLiteral(".png"), QStringLiteral("_all.png"))));
      }
    }
  }
};

QTEST_MAIN(TstPagesLayout)
#include "tst_pages_layout.moc"
