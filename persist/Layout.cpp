#include "persist/Layout.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QWidget>
#include <algorithm>
#include <climits>
#include <optional>
#include <utility>

#include "persist/IniFile.h"

namespace {

const QString kPercent = QStringLiteral(".Percent");

// The splitter never gives either pane less than this share of its length,
// whatever a file says or the user drags: a squashed work area or memo would
// be saved and come back at every start.
constexpr int kMinPercent = 15;
constexpr int kMaxPercent = 90;

int ClampPercent(int percent) { return std::clamp(percent, kMinPercent, kMaxPercent); }

// A stored integer; a value that is absent or not a number counts as missing.
std::optional<qint64> StoredNumber(const TIniFile& ini, const QString& section, const QString& key) {
  if (!ini.ValueExists(section, key)) return std::nullopt;
  bool ok = false;
  const qint64 value = ini.ReadString(section, key, QString()).trimmed().toLongLong(&ok);
  if (!ok) return std::nullopt;
  return value;
}

const QScreen* ScreenFor(const QWidget* form, QPoint at) {
  if (const QScreen* screen = QGuiApplication::screenAt(at)) return screen;
  return form->screen() ? form->screen() : QGuiApplication::primaryScreen();
}

// The frame as it fits into the available part of the screen that holds
// its top-left corner (else the window's own screen).
QRect FitToScreen(const QWidget* form, qint64 left, qint64 top, qint64 width, qint64 height) {
  const QPoint corner(int(std::clamp<qint64>(left, INT_MIN, INT_MAX)), int(std::clamp<qint64>(top, INT_MIN, INT_MAX)));
  const QScreen* screen = ScreenFor(form, corner);
  if (!screen) return form->geometry();
  return FitFrame(left, top, width, height, form->minimumSize(), screen->availableGeometry());
}

void CentreOnScreen(QWidget* form) {
  const QScreen* screen = form->screen() ? form->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect r = form->frameGeometry();
  r.moveCenter(screen->availableGeometry().center());
  form->move(r.topLeft());
}

}  // namespace

namespace {

// One side of the window within one side of the screen: the length no more
// than the screen's nor less than the window's minimum (unless the screen is
// smaller), the start so that the whole length is on the screen. Computed in
// 64 bits, so that no stored value can overflow.
void FitSide(qint64& start, qint64& length, qint64 minimum, qint64 screenStart, qint64 screenLength) {
  screenLength = std::max<qint64>(screenLength, 1);
  length = std::clamp<qint64>(length, std::max<qint64>(minimum, 1), std::max<qint64>(minimum, screenLength));
  start = std::clamp(start, screenStart, std::max(screenStart, screenStart + screenLength - length));
}

}  // namespace

QRect FitFrame(qint64 left, qint64 top, qint64 width, qint64 height, QSize minimum, QRect available) {
  FitSide(left, width, minimum.width(), available.x(), available.width());
  FitSide(top, height, minimum.height(), available.y(), available.height());
  return QRect(int(left), int(top), int(width), int(height));
}

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
  const auto value = [&](const char* key, int now) { return StoredNumber(ini, s, key).value_or(now); };
  const std::optional<qint64> left = StoredNumber(ini, s, "xForm.Left");
  // Stored or designed, the frame is fitted into the screen: a first start
  // on a small screen shows the whole window too.
  const QRect fitted = FitToScreen(form_, left.value_or(form_->x()), value("xForm.Top", form_->y()),
                                   value("xForm.Width", form_->width()), value("xForm.Height", form_->height()));
  form_->resize(fitted.size());
  // Centred with the size the window will have.
  if (left)
    form_->move(fitted.topLeft());
  else
    CentreOnScreen(form_);

  for (QSplitter* splitter : Splitters()) {
    const std::optional<qint64> stored = StoredNumber(ini, s, splitter->objectName() + kPercent);
    if (!stored) continue;
    const int percent = ClampPercent(int(std::clamp<qint64>(*stored, 0, 100)));
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
    int percent = 76;
    if (const TSplitterShare* keeper = TSplitterShare::Of(splitter)) {
      percent = keeper->Percent();
    } else if (const QList<int> sizes = splitter->sizes(); sizes.size() >= 2 && sizes[0] + sizes[1] > 0) {
      percent = qRound(100.0 * sizes[0] / (sizes[0] + sizes[1]));
    }
    percent = ClampPercent(percent);
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
  qint64 left = StoredNumber(ini, s, "Left").value_or(now.x());
  qint64 top = StoredNumber(ini, s, "Top").value_or(now.y());
  qint64 width = StoredNumber(ini, s, "Right").value_or(left + now.width()) - left;
  qint64 height = StoredNumber(ini, s, "Bottom").value_or(top + now.height()) - top;
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
    : QObject(splitter), splitter_(splitter), share_(ClampPercent(percent) / 100.0) {
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

int TSplitterShare::Percent() const { return ClampPercent(qRound(CurrentShare() * 100)); }

void TSplitterShare::SetPercent(int percent) {
  share_ = ClampPercent(percent) / 100.0;
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
