#include "ui/f_common.h"

#include "ui/GuiThread.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "ui/Marks.h"
#include "ui/RadioButton.h"

namespace {

// The designed sizes of the three groups; a wider font makes them grow.
constexpr int kGroupWidth = 417;
constexpr int kEventsHeight = 129;
constexpr int kLoopsHeight = 305;
constexpr int kDelaysHeight = 96;
constexpr int kPhoneLength = 20;

const char* const kEventsHeader = "Событие                           | Реакиця | Телефон";
const char* const kLoopsHeader =
    "№ | Норм. состояние  | Реакиця      | Телефон                                      |  24 часа";
const char* const kEventNames[4] = {"Постановка на охрану", "Снятие с охраны", "Сбой питания",
                                    "Восстановление питания"};

// One column under a header such as "A | B | C", in pixels from the header's
// left edge: the stretch between two "|" (or an end), and the text inside it
// without the padding spaces.
struct TColumn {
  int Left = 0;
  int Right = 0;
  int TextLeft = 0;
  int TextRight = 0;
  int TextCentre() const { return (TextLeft + TextRight) / 2; }
};

std::vector<TColumn> HeaderColumns(const QFontMetrics& fm, const QString& header) {
  std::vector<TColumn> columns;
  qsizetype start = 0;
  while (start <= header.size()) {
    qsizetype end = header.indexOf(QLatin1Char('|'), start);
    if (end < 0) end = header.size();
    qsizetype textStart = start;
    while (textStart < end && header.at(textStart) == QLatin1Char(' ')) ++textStart;
    qsizetype textEnd = end;
    while (textEnd > textStart && header.at(textEnd - 1) == QLatin1Char(' ')) --textEnd;
    TColumn column;
    column.Left = fm.horizontalAdvance(header.left(start));
    column.Right = fm.horizontalAdvance(header.left(end));
    column.TextLeft = fm.horizontalAdvance(header.left(textStart));
    column.TextRight = fm.horizontalAdvance(header.left(textEnd));
    columns.push_back(column);
    start = end + 1;
  }
  return columns;
}

QString Name(const char* prefix, int n) { return QLatin1String(prefix) + QString::number(n); }

// The first row inside a group box below its caption and frame line, as the
// style draws them.
int GroupContentsTop(const QGroupBox* box) {
  QStyleOptionGroupBox option;
  option.initFrom(box);
  option.rect = QRect(0, 0, 400, 300);
  option.text = box->title();
  option.lineWidth = 1;
  option.midLineWidth = 0;
  option.textAlignment = box->alignment();
  option.subControls = QStyle::SC_GroupBoxFrame;
  if (!box->title().isEmpty()) option.subControls |= QStyle::SC_GroupBoxLabel;
  option.features = QStyleOptionFrame::None;
  return box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, box).top();
}

// Places a widget at its size hint, centred on column x and row y of height h.
void PlaceCentred(QWidget* widget, int x, int y, int h) {
  const QSize hint = widget->sizeHint();
  widget->setGeometry(x - hint.width() / 2, y + (h - hint.height()) / 2, hint.width(), hint.height());
}

// Places a widget at its size hint, left-aligned at x, centred on row y of height h.
void PlaceLeft(QWidget* widget, int x, int y, int h) {
  const QSize hint = widget->sizeHint();
  widget->setGeometry(x, y + (h - hint.height()) / 2, hint.width(), hint.height());
}

}  // namespace

TformCommon::TformCommon(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformCommon"));
  setWindowTitle(QStringLiteral("Общие установки"));

  // The scroll box lets the groups scroll when the work area is smaller than they are.
  scrollBox_ = new QScrollArea(this);
  scrollBox_->setObjectName(QStringLiteral("ScrollBox1"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scrollBox_);
  content_ = new QWidget;
  content_->setObjectName(QStringLiteral("ScrollBox1Content"));

  BuildEvents(content_);
  BuildLoops(content_);
  BuildDelays(content_);
  Arrange();
  scrollBox_->setWidget(content_);

  // toggled, not clicked: the rule holds also when a panel read, a settings
  // file or ClearPage changes cbReact1.
  connect(reacts_[1], &QCheckBox::toggled, this, &TformCommon::React1Toggled);
  React1Toggled(reacts_[1]->isChecked());
}

QLineEdit* TformCommon::MakePhone(int n, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(Name("etPhone", n));
  // Room for the blanks, brackets and dashes of a pasted number; the
  // validator keeps the number itself to kPhoneLength characters.
  edit->setMaxLength(2 * kPhoneLength);
  edit->setToolTip(QStringLiteral("50"));
  auto* filter = new TCharValidator(QStringLiteral("0123456789+"), false, edit);
  filter->SetPasteRule(QStringLiteral(" \t\u00A0()-."), kPhoneLength,
                       QStringLiteral("Телефон: только цифры и «+», не более 20"));
  edit->setValidator(filter);
  // Text set by the program (a panel read) passes the same filter: the edit
  // never holds a character that could not be typed, so the validator, which
  // only guards a valid text, keeps guarding it.
  connect(edit, &QLineEdit::textChanged, edit, [edit, filter](const QString& text) {
    if (!filter->Accepts(text)) edit->setText(filter->Filtered(text));
  });
  phones_[n] = edit;
  return edit;
}

QCheckBox* TformCommon::MakeReact(int n, QWidget* parent) {
  auto* box = new QCheckBox(parent);
  box->setObjectName(Name("cbReact", n));
  reacts_[n] = box;
  return box;
}

void TformCommon::BuildEvents(QWidget* content) {
  events_ = new QGroupBox(QStringLiteral("События"), content);
  events_->setObjectName(QStringLiteral("GroupBox1"));
  eventsHeader_ = new QLabel(QString::fromUtf8(kEventsHeader), events_);
  eventsHeader_->setObjectName(QStringLiteral("Label1"));
  for (int n = 1; n <= 4; ++n) {
    eventLabels_[n - 1] = new QLabel(QString::fromUtf8(kEventNames[n - 1]), events_);
    MakeReact(n, events_);
    MakePhone(n, events_);
  }
}

void TformCommon::BuildLoops(QWidget* content) {
  loops_ = new QGroupBox(QStringLiteral("Шлейфы"), content);
  loops_->setObjectName(QStringLiteral("GroupBox2"));
  loopsHeader_ = new QLabel(QString::fromUtf8(kLoopsHeader), loops_);
  loopsHeader_->setObjectName(QStringLiteral("Label3"));
  entryZone_ = new QGroupBox(QStringLiteral("Входная зона"), loops_);
  entryZone_->setObjectName(QStringLiteral("GroupBox7"));
  for (int loop = 1; loop <= kLoops; ++loop) BuildLoop(loop, loop == 1 ? entryZone_ : loops_);
}

void TformCommon::BuildLoop(int loop, QWidget* parent) {
  const int upper = 4 + loop;
  const int lower = 8 + loop;
  loopNumbers_[loop - 1] = new QLabel(QString::number(loop), parent);

  // The frame makes the loop's two radio buttons one group of their own.
  auto* frame = new QGroupBox(parent);
  frame->setObjectName(Name("GroupBox", 2 + loop));
  loopFrames_[loop - 1] = frame;
  norms_[upper] = new TRadioButton(QStringLiteral("Замыкание"), frame);
  norms_[lower] = new TRadioButton(QStringLiteral("Размыкание"), frame);
  // The rule below is not seen on the radio button itself: its tooltip says it.
  const QString rule = QString::fromUtf8(
      "Нормальное состояние шлейфа %1: %2.\n"
      "Выбор мышью переносит реакцию шлейфа на строку «%3»: там флажок реакции\n"
      "ставится, в этой строке снимается (обе строки подсвечиваются).\n"
      "Выбор с клавиатуры реакцию не меняет.");
  norms_[upper]->setToolTip(rule.arg(loop).arg(QString::fromUtf8("замкнут"), QString::fromUtf8("Размыкание")));
  norms_[lower]->setToolTip(rule.arg(loop).arg(QString::fromUtf8("разомкнут"), QString::fromUtf8("Замыкание")));
  for (const int n : {upper, lower}) {
    norms_[n]->setObjectName(Name("rbNorm", n));
    connect(norms_[n], &TRadioButton::MouseReleased, this, &TformCommon::NormMouseUp);
    MakeReact(n, parent);
    MakePhone(n, parent);
  }
  hours24_[loop] = new QCheckBox(parent);
  hours24_[loop]->setObjectName(Name("cb24", loop));
}

void TformCommon::BuildDelays(QWidget* content) {
  delays_ = new QGroupBox(content);
  delays_->setObjectName(QStringLiteral("GroupBox8"));
  delayInLabel_ = new QLabel(QStringLiteral("Задержка на вход"), delays_);
  delayOutLabel_ = new QLabel(QStringLiteral("Задержка на выход"), delays_);
  timeOut_ = new QSpinBox(delays_);
  timeOut_->setObjectName(QStringLiteral("seTimeOut"));
  timeOut2_ = new QSpinBox(delays_);
  timeOut2_->setObjectName(QStringLiteral("seTimeOut2"));
  for (QSpinBox* spin : {timeOut_, timeOut2_}) {
    // 0..255 also keeps the text to at most three characters.
    spin->setRange(0, 255);
    spin->setSingleStep(1);
    spin->setValue(0);
  }
  fastGuard_ = new QCheckBox(QStringLiteral("Быстрая постановка на охрану"), delays_);
  fastGuard_->setObjectName(QStringLiteral("cbFastGuard"));
  waitSend_ = new QCheckBox(QStringLiteral("Дожидаться отправки"), delays_);
  waitSend_->setObjectName(QStringLiteral("cbWaitSend"));
}

void TformCommon::Arrange() {
  if (delays_ == nullptr) return;  // a font change while the page is being built
  const QFontMetrics fm(font());
  const int line = fm.height();
  const int rowH = std::max({21, phones_[1]->sizeHint().height(), timeOut_->sizeHint().height()});
  const int pitch = rowH + 2;
  const int hx = 8;  // left edge of the header labels in their groups

  const std::vector<TColumn> ev = HeaderColumns(fm, eventsHeader_->text());
  const std::vector<TColumn> lp = HeaderColumns(fm, loopsHeader_->text());

  // Width of all three groups: the design's, or what the font needs.
  const int phoneMin = fm.horizontalAdvance(QLatin1Char('0')) * kPhoneLength + 10;
  const int spinW = std::max(50, timeOut_->sizeHint().width());
  const int delayLabelW = std::max(delayInLabel_->sizeHint().width(), delayOutLabel_->sizeHint().width());
  const int spinX = hx + delayLabelW + 8;
  const int checkW = std::max(fastGuard_->sizeHint().width(), waitSend_->sizeHint().width());
  int width = kGroupWidth;
  width = std::max(width, hx + fm.horizontalAdvance(eventsHeader_->text()) + 8);
  width = std::max(width, hx + ev[2].Left + phoneMin + 8);
  width = std::max(width, hx + fm.horizontalAdvance(loopsHeader_->text()) + 8);
  width = std::max(width, spinX + spinW + 24 + checkW + 8);

  // Events.
  const int headerY = GroupContentsTop(events_) + 1;
  eventsHeader_->setGeometry(hx, headerY, eventsHeader_->sizeHint().width(), line + 2);
  int y = headerY + line + 6;
  for (int n = 1; n <= 4; ++n, y += pitch) {
    QLabel* label = eventLabels_[n - 1];
    PlaceLeft(label, hx, y, rowH);
    PlaceCentred(reacts_[n], hx + ev[1].TextCentre(), y, rowH);
    const int phoneX = hx + ev[2].Left;
    phones_[n]->setGeometry(phoneX, y, width - 8 - phoneX, rowH);
  }
  const int eventsHeight = std::max(kEventsHeight, y + 4);
  events_->setGeometry(0, 0, width, eventsHeight);

  // Loops. Loop 1 sits in "Входная зона", whose children are placed in its
  // own coordinates; the columns stay under the loops header all the same.
  const int loopsHeaderY = GroupContentsTop(loops_) + 1;
  loopsHeader_->setGeometry(hx, loopsHeaderY, loopsHeader_->sizeHint().width(), line + 2);
  const int headerBottom = loopsHeaderY + line + 6;
  const int zoneX = 4;
  const int zoneTop = GroupContentsTop(entryZone_) + 5;  // first row inside the zone, below its caption
  const int zoneHeight = zoneTop + 2 * pitch + 6;
  entryZone_->setGeometry(zoneX, headerBottom, width - 2 * zoneX, zoneHeight);
  auto arrangeLoop = [&](int loop, int dx, int top) {
    const int upper = 4 + loop;
    const int lower = 8 + loop;
    PlaceCentred(loopNumbers_[loop - 1], hx + lp[0].TextCentre() - dx, top, 2 * pitch - 2);
    QGroupBox* frame = loopFrames_[loop - 1];
    frame->setGeometry(hx + lp[1].Left - dx, top - 3, lp[1].Right - lp[1].Left - 2, 2 * pitch + 4);
    const int radioW = frame->width() - 8;
    norms_[upper]->setGeometry(5, 3 + (rowH - norms_[upper]->sizeHint().height()) / 2, radioW,
                               norms_[upper]->sizeHint().height());
    norms_[lower]->setGeometry(5, 3 + pitch + (rowH - norms_[lower]->sizeHint().height()) / 2, radioW,
                               norms_[lower]->sizeHint().height());
    const int phoneX = hx + lp[3].Left - dx;
    const int phoneW = lp[3].Right - lp[3].Left - 4;
    for (const int n : {upper, lower}) {
      const int rowY = n == upper ? top : top + pitch;
      PlaceCentred(reacts_[n], hx + lp[2].TextCentre() - dx, rowY, rowH);
      phones_[n]->setGeometry(phoneX, rowY, phoneW, rowH);
    }
    // Between the two rows.
    PlaceCentred(hours24_[loop], hx + lp[4].TextCentre() - dx, top, 2 * pitch - 2);
  };
  arrangeLoop(1, zoneX, zoneTop);
  int top = headerBottom + zoneHeight + 10;
  for (int loop = 2; loop <= kLoops; ++loop, top += 2 * pitch + 12) arrangeLoop(loop, 0, top);
  const int loopsHeight = std::max(kLoopsHeight, top - 4);
  loops_->setGeometry(0, eventsHeight, width, loopsHeight);

  // Delays: the spin edits on the left, the two options on the right.
  const int row1 = GroupContentsTop(delays_) + 6;
  const int row2 = row1 + pitch + 8;
  PlaceLeft(delayInLabel_, hx, row1, rowH);
  PlaceLeft(delayOutLabel_, hx, row2, rowH);
  timeOut_->setGeometry(spinX, row1, spinW, rowH);
  timeOut2_->setGeometry(spinX, row2, spinW, rowH);
  const int checkX = std::max(width / 2, spinX + spinW + 24);
  PlaceLeft(fastGuard_, checkX, row1, rowH);
  PlaceLeft(waitSend_, checkX, row2, rowH);
  const int delaysHeight = std::max(kDelaysHeight, row2 + rowH + 12);
  delays_->setGeometry(0, eventsHeight + loopsHeight, width, delaysHeight);

  content_->resize(width, eventsHeight + loopsHeight + delaysHeight);
}

void TformCommon::changeEvent(QEvent* event) {
  TPage::changeEvent(event);
  if (event->type() == QEvent::FontChange) Arrange();
}

void TformCommon::NormMouseUp() {
  // The entry number is the name's tail from its seventh character on, at
  // most two digits: "rbNorm5" gives 5, "rbNorm12" gives 12. Anything that
  // does not fit leaves the check boxes as far as the rule got.
  const QObject* button = sender();
  if (button == nullptr) return;
  bool ok = false;
  const int n = button->objectName().mid(6, 2).toInt(&ok);
  if (!ok) return;
  int partner = 0;
  if (n >= 5 && n <= 8) {
    partner = n + 4;
  } else if (n >= 9 && n <= 12) {
    partner = n - 4;
  } else {
    return;
  }
  auto* own = findChild<QCheckBox*>(Name("cbReact", n));
  if (own == nullptr) return;
  own->setChecked(false);
  Marks::Flash(own, kRuleFlashMs);
  auto* other = findChild<QCheckBox*>(Name("cbReact", partner));
  if (other == nullptr) return;
  other->setChecked(true);
  // The user clicked a radio button, not these: they light up for a moment
  // so that the change is seen.
  Marks::Flash(other, kRuleFlashMs);
}

void TformCommon::React1Toggled(bool checked) {
  if (!checked) waitSend_->setChecked(false);
  waitSend_->setEnabled(checked);
}

void TformCommon::ClearPage() {
  RequireGuiThread("TformCommon::ClearPage");
  for (int n = 1; n <= kEntries; ++n) {
    phones_[n]->clear();
    reacts_[n]->setChecked(false);
    if (n >= 5) norms_[n]->SetOn(false);
  }
  for (int loop = 1; loop <= kLoops; ++loop) hours24_[loop]->setChecked(false);
  timeOut_->setValue(0);
  fastGuard_->setChecked(false);
}

QString TformCommon::EventName(int entry) {
  return entry >= 1 && entry <= 4 ? QString::fromUtf8(kEventNames[entry - 1]) : QString();
}
