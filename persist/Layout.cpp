#include "persist/Layout.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <utility>

#include "persist/IniFile.h"

namespace {

const QString kPercent = QStringLiteral(".Percent");

// Values present but not numbers give these.
constexpr int kDefaultLeft = 0;
constexpr int kDefaultTop = 0;
constexpr int kDefaultHeight = 480;
constexpr int kDefaultWidth = 600;
constexpr int kDefaultPercent = 30;

const QScreen* ScreenFor(const QWidget* form, QPoint at) {
  if (const QScreen* screen = QGuiApplication::screenAt(at)) return screen;
  return form->screen() ? form->screen() : QGuiApplication::primaryScreen();
}

// One side of the window within one side of the screen: the length no more
// than the screen's (nor less than the window's minimum, unless the screen is
// smaller), the start so that the whole length is on the screen. Computed in
// 64 bits, so that no stored value can overflow.
void FitSide(qint64& start, qint64& length, qint64 minimum, qint64 screenStart, qint64 screenLength) {
  length = std::max(std::min(length, screenLength), std::min(std::max<qint64>(minimum, 1), screenLength));
  start = std::clamp(start, screenStart, screenStart + screenLength - length);
}

// The stored frame as it fits into the available part of the screen that
// holds its top-left corner (else the window's own screen).
QRect FitToScreen(const QWidget* form, qint64 left, qint64 top, qint64 width, qint64 height) {
  const QPoint corner(int(std::clamp<qint64>(left, INT_MIN, INT_MAX)), int(std::clamp<qint64>(top, INT_MIN, INT_MAX)));
  const QScreen* screen = ScreenFor(form, corner);
  if (!screen) return form->geometry();
  const QRect avail = screen->availableGeometry();
  FitSide(left, width, form->minimumWidth(), avail.x(), avail.width());
  FitSide(top, height, form->minimumHeight(), avail.y(), avail.height());
  return QRect(int(left), int(top), int(width), int(height));
}

void CentreOnScreen(QWidget* form) {
  const QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect r = form->frameGeometry();
  r.moveCenter(screen->availableGeometry().center());
  form->move(r.topLeft());
}

}  // namespace

TWindowLayout::TWindowLayout(QWidget* form, QString fileName) : form_(form), fileName_(std::move(fileName)) {}

QString TWindowLayout::FileName() const { return FindFileIgnoringCase(fileName_); }

QString TWindowLayout::Section() const { return form_->objectName(); }

QString TWindowLayout::PlacementSection() const { return form_->objectName() + QStringLiteral("FormState"); }

QList<QSplitter*> TWindowLayout::Splitters() const {
  QList<QSplitter*> splitters;
  for (QSplitter* s : form_->findChildren<QSplitter*>())
    if (!s->objectName().isEmpty()) splitters << s;
  return splitters;
}

void TWindowLayout::Load() {
  TIniFile ini(FileName());
  (void)ini.Load();  // an unreadable file reads as empty: the window stays as designed
  const QString s = Section();
  const auto value = [&](const char* key, int now, int def) {
    return ini.ValueExists(s, key) ? ini.ReadInteger(s, key, def) : now;
  };
  const bool hasLeft = ini.ValueExists(s, "xForm.Left");
  const bool stored = hasLeft || ini.ValueExists(s, "xForm.Top") || ini.ValueExists(s, "xForm.Width") ||
                      ini.ValueExists(s, "xForm.Height");
  // Without a stored frame the window keeps its designed size.
  const QRect fitted = !stored ? form_->geometry() : FitToScreen(form_, value("xForm.Left", form_->x(), kDefaultLeft),
                                   value("xForm.Top", form_->y(), kDefaultTop),
                                   value("xForm.Width", form_->width(), kDefaultWidth),
                                   value("xForm.Height", form_->height(), kDefaultHeight));
  form_->resize(fitted.size());
  // Centred with the size the window will have.
  if (hasLeft)
    form_->move(fitted.topLeft());
  else
    CentreOnScreen(form_);

  for (QSplitter* splitter : Splitters()) {
    const QString key = splitter->objectName() + kPercent;
    if (!ini.ValueExists(s, key)) continue;
    const int percent = std::clamp(ini.ReadInteger(s, key, kDefaultPercent), 0, 100);
    if (TSplitterShare* keeper = TSplitterShare::Of(splitter))
      keeper->SetPercent(percent);
    else
      splitter->setSizes({percent, 100 - percent});
  }
}

bool TWindowLayout::Save(QString* error) {
  TIniFile ini(FileName());
  (void)ini.Load();
  const QString s = Section();
  ini.WriteInteger(s, "xForm.Left", form_->x());
  ini.WriteInteger(s, "xForm.Top", form_->y());
  ini.WriteInteger(s, "xForm.Height", form_->height());
  ini.WriteInteger(s, "xForm.Width", form_->width());
  for (QSplitter* splitter : Splitters()) {
    int percent = kDefaultPercent;
    if (const TSplitterShare* keeper = TSplitterShare::Of(splitter)) {
      percent = keeper->Percent();
    } else if (const QList<int> sizes = splitter->sizes(); sizes.size() >= 2 && sizes[0] + sizes[1] > 0) {
      percent = qRound(100.0 * sizes[0] / (sizes[0] + sizes[1]));
    }
    ini.WriteInteger(s, splitter->objectName() + kPercent, percent);
  }
  return ini.Save(error);
}

void TWindowLayout::RestorePlacement() {
  TIniFile ini(FileName());
  (void)ini.Load();
  const QString s = PlacementSection();
  if (!ini.SectionExists(s)) {
    // Nothing stored: the layout section placed the window (by its frame).
    if (!QGuiApplication::screenAt(form_->pos())) form_->move(0, 0);
    return;
  }
  const QRect now = form_->geometry();
  qint64 left = ini.ReadInteger(s, "Left", now.x());
  qint64 top = ini.ReadInteger(s, "Top", now.y());
  qint64 width = ini.ReadInteger(s, "Right", now.x() + now.width()) - left;
  qint64 height = ini.ReadInteger(s, "Bottom", now.y() + now.height()) - top;
  if (width <= 0 || height <= 0) {
    width = now.width();
    height = now.height();
  }
  if (left < INT_MIN || left > INT_MAX || top < INT_MIN || top > INT_MAX ||
      !QGuiApplication::screenAt(QPoint(int(left), int(top)))) {
    left = 0;
    top = 0;
  }
  form_->setGeometry(FitToScreen(form_, left, top, width, height));
  if (ini.ReadBool(s, "Maximized", false)) form_->setWindowState(form_->windowState() | Qt::WindowMaximized);
}

bool TWindowLayout::SavePlacement(QString* error) {
  TIniFile ini(FileName());
  (void)ini.Load();
  const QString s = PlacementSection();
  const bool maximized = form_->isMaximized();
  QRect normal = maximized ? form_->normalGeometry() : form_->geometry();
  if (!normal.isValid()) normal = form_->geometry();
  ini.WriteBool(s, "Maximized", maximized);
  ini.WriteInteger(s, "Left", normal.x());
  ini.WriteInteger(s, "Top", normal.y());
  ini.WriteInteger(s, "Right", normal.x() + normal.width());
  ini.WriteInteger(s, "Bottom", normal.y() + normal.height());
  ini.WriteBool(s, "Saved", true);
  return ini.Save(error);
}

TSplitterShare::TSplitterShare(QSplitter* splitter, int percent)
    : QObject(splitter), splitter_(splitter), share_(std::clamp(percent, 0, 100) / 100.0) {
  splitter_->installEventFilter(this);
}

TSplitterShare* TSplitterShare::Of(const QSplitter* splitter) {
  return splitter->findChild<TSplitterShare*>(QString(), Qt::FindDirectChildrenOnly);
}

double TSplitterShare::CurrentShare() const {
  const QList<int> sizes = splitter_->sizes();
  if (placed_.isEmpty() || sizes == placed_ || sizes.size() != 2 || sizes[0] + sizes[1] <= 0) return share_;
  return double(sizes[0]) / (sizes[0] + sizes[1]);
}

int TSplitterShare::Percent() const { return qRound(CurrentShare() * 100); }

void TSplitterShare::SetPercent(int percent) {
  share_ = std::clamp(percent, 0, 100) / 100.0;
  // Before the first layout there is no length to share yet: the first
  // resize places the bar.
  if (!placed_.isEmpty() || splitter_->isVisible()) Apply();
}

void TSplitterShare::Apply() {
  if (splitter_->count() != 2) return;
  const QRect r = splitter_->contentsRect();
  const int length = (splitter_->orientation() == Qt::Vertical ? r.height() : r.width()) - splitter_->handleWidth();
  if (length <= 0) return;
  const int first = qRound(length * share_);
  splitter_->setSizes({first, length - first});
  placed_ = splitter_->sizes();
}

bool TSplitterShare::eventFilter(QObject* watched, QEvent* event) {
  if (watched == splitter_ && event->type() == QEvent::Resize) {
    // Runs before the splitter lays out its panes for the new size.
    share_ = CurrentShare();
    Apply();
  }
  return QObject::eventFilter(watched, event);
}
