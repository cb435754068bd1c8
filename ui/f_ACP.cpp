#include "ui/f_ACP.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "ui/AdcMonitor.h"
#include "ui/Panel.h"
#include "ui/Trislider.h"

namespace {

constexpr int kSliderX = 24;
constexpr int kSliderWidth = 489;
// The classic 57 rows and, under the scale, the reading's marker and label.
constexpr int kReadingBand = 24;
constexpr int kSliderHeight = 57 + kReadingBand;
constexpr int kPaneWidth = 41;
constexpr int kPaneHeight = 23;
constexpr int kGroupWidth = 537;

struct TState {
  const char* Label;  // name stem of the state label: "lbKZ" + channel
  const char* Pane;   // name stem of the value pane: "pKZ" + channel
  const char* Spin;   // name stem of the spin box: "seKZ" + channel
  const char* Caption;
};

const TState kStates[TformACP::kThumbs] = {
    {"lbKZ", "pKZ", "seKZ", "КЗ"},
    {"lbZam", "pZam", "seZam", "Оба замкнуты"},
    {"lb2Z", "p2Z", "se2Z", "2-й замкнут"},
    {"lb1Z", "p1Z", "se1Z", "1-й замкнут"},
    {"lbRaz", "pRaz", "seRaz", "Оба разомкнуты"},
};

// Column centre of state k over the slider.
int StateCentre(int k) { return kSliderX + kSliderWidth * (2 * k + 1) / (2 * TformACP::kThumbs); }

}  // namespace

TformACP::TformACP(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformACP"));
  setWindowTitle(QStringLiteral("АЦП"));

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("sbACP"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidgetResizable(false);
  content_ = new QWidget;
  scroll_->setWidget(content_);
  group_ = new QGroupBox(QStringLiteral("Настройка каналов АЦП"), content_);
  group_->setObjectName(QStringLiteral("RzGroupBox1"));
  title_ = new QLabel(QStringLiteral("Пороговые значения для каналов АЦП"), group_);
  title_->setObjectName(QStringLiteral("Label6"));
  BuildChannel(1, channel1_);
  separator_ = new QFrame(group_);
  separator_->setObjectName(QStringLiteral("RzSeparator1"));
  separator_->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  BuildChannel(2, channel2_);
  ts_ = channel1_.Slider;
  ts2_ = channel2_.Slider;
  watch_ = new QPushButton(QStringLiteral("Наблюдать"), group_);
  watch_->setObjectName(QStringLiteral("btWatch"));
  watch_->setCheckable(true);
  watch_->setEnabled(false);
  watch_->setToolTip(QStringLiteral("Показания обоих каналов на графике, пока не начнётся другое действие"));
  // The mark follows the monitor, not the click: the window says whether it runs.
  connect(watch_, &QPushButton::clicked, this, [this](bool checked) {
    SetWatching(!checked);
    if (checked) EnsureMonitor();
    emit WatchRequested(checked);
  });
  TieSpins(channel1_);
  TieSpins(channel2_);
  Arrange();
  // Once the sliders have their size (a flat control's margin would shrink).
  ts_->SetReadingBand(kReadingBand);
  ts2_->SetReadingBand(kReadingBand);

  // The page takes the sliders' mouse moves: the slider has already dragged
  // its thumb when the signal comes, the page then shows the positions.
  connect(ts_, &TTrislider::MouseMoved, this, &TformACP::tsMouseMove);
  connect(ts2_, &TTrislider::MouseMoved, this, &TformACP::ts2MouseMove);
  connect(ts_, &TTrislider::KeyMoved, this, &TformACP::tsMouseMove);
  connect(ts2_, &TTrislider::KeyMoved, this, &TformACP::ts2MouseMove);
}

void TformACP::BuildChannel(int channel, TChannel& block) {
  const QString suffix = QString::number(channel);
  for (int k = 0; k < kThumbs; ++k) {
    auto* label = new QLabel(QString::fromUtf8(kStates[k].Caption), group_);
    label->setObjectName(QLatin1String(kStates[k].Label) + suffix);
    label->setAlignment(Qt::AlignCenter);
    block.States[k] = label;

    auto* pane = new TPanel(group_);
    pane->setObjectName(QLatin1String(kStates[k].Pane) + suffix);
    pane->SetBevel(TPanel::TBevel::Lowered);
    pane->SetCaption(QStringLiteral("0"));
    pane->hide();  // the spin box in its place shows the value
    block.Panes[k] = pane;

    auto* spin = new QSpinBox(group_);
    spin->setObjectName(QLatin1String(kStates[k].Spin) + suffix);
    spin->setRange(0, 1023);
    spin->setValue(DefaultThreshold(k));
    // A typed value counts when it is complete (Enter or leaving the box);
    // the arrows and the wheel count at once.
    spin->setKeyboardTracking(false);
    spin->setAlignment(Qt::AlignRight);
    spin->setAccessibleName(QString::fromUtf8(kStates[k].Caption) + QStringLiteral(", канал ") + suffix);
    block.Spins[k] = spin;
  }
  block.Caption = new QLabel(QStringLiteral("Канал АЦП ") + suffix, group_);
  block.Caption->setObjectName(QStringLiteral("lbACP") + suffix);

  auto* slider = new TTrislider(group_);
  slider->setObjectName(channel == 1 ? QStringLiteral("ts") : QStringLiteral("ts2"));
  slider->Min = 0;
  slider->Max = 1023;
  slider->SetCount(kThumbs);
  // Before anything is read or loaded the thumbs stand apart one thumb's
  // width each, as the page has always shown them: 0, 23, 46, 69, 92.
  for (int k = 0; k < kThumbs; ++k) slider->SetPosition(k, DefaultThreshold(k));
  slider->TickInterval = 20;
  for (const TState& state : kStates) slider->ThumbNames << QString::fromUtf8(state.Caption);
  block.Slider = slider;
}

int TformACP::ArrangeChannel(const TChannel& block, int top) {
  const int line = QFontMetrics(font()).height();
  // The state labels stand over their columns; when a font is too wide for
  // two neighbours to fit side by side, the long captions wrap to their column.
  const int spacing = kSliderWidth / kThumbs;
  std::array<int, kThumbs> widths{};
  bool crowded = false;
  for (int k = 0; k < kThumbs; ++k) {
    block.States[k]->setWordWrap(false);
    widths[k] = block.States[k]->sizeHint().width() + 4;
    if (k > 0 && (widths[k - 1] + widths[k]) / 2 + 2 > spacing) crowded = true;
  }
  int labelHeight = line + 2;
  for (int k = 0; k < kThumbs; ++k) {
    if (crowded && widths[k] > spacing - 2) {
      widths[k] = spacing - 2;
      block.States[k]->setWordWrap(true);
      labelHeight = std::max(labelHeight, block.States[k]->heightForWidth(widths[k]));
    }
  }
  for (int k = 0; k < kThumbs; ++k) {
    block.States[k]->setGeometry(StateCentre(k) - widths[k] / 2, top, widths[k], labelHeight);
  }
  const int paneTop = top + labelHeight + 2;
  const int spinWidth = std::max(kPaneWidth + 24, block.Spins[0]->sizeHint().width());
  const int spinHeight = std::max(kPaneHeight, block.Spins[0]->sizeHint().height());
  for (int k = 0; k < kThumbs; ++k) {
    block.Panes[k]->setGeometry(StateCentre(k) - kPaneWidth / 2, paneTop, kPaneWidth, kPaneHeight);
    block.Spins[k]->setGeometry(StateCentre(k) - spinWidth / 2, paneTop, spinWidth, spinHeight);
  }
  const int captionTop = paneTop + spinHeight + 10;
  block.Caption->setGeometry(kSliderX, captionTop, block.Caption->sizeHint().width(), line + 2);
  block.Slider->setGeometry(kSliderX, captionTop + line + 4, kSliderWidth, kSliderHeight);
  return block.Slider->geometry().bottom() + 1;
}

void TformACP::Arrange() {
  const int line = QFontMetrics(font()).height();
  title_->setGeometry(kSliderX, line + 8, title_->sizeHint().width(), line + 2);
  const int bottom1 = ArrangeChannel(channel1_, line + 8 + line + 14);
  separator_->setGeometry(kSliderX, bottom1 + 12, kSliderWidth, 2);
  const int bottom2 = ArrangeChannel(channel2_, bottom1 + 26);
  const QSize watch = watch_->sizeHint();
  watch_->setGeometry(kSliderX + kSliderWidth - watch.width(), bottom2 + 8, watch.width(), watch.height());
  // The designed size, or what a large font needs.
  group_->setGeometry(8, 8, kGroupWidth, std::max(385, watch_->geometry().bottom() + 12));
  PlaceContent();
}

void TformACP::PlaceContent() {
  if (!content_) return;
  const QRect group = group_->geometry();
  QSize size(group.right() + 9, group.bottom() + 9);
  if (monitor_ && !monitor_->isHidden()) {
    // Beside the sliders when the page is wide enough, else under them.
    const int width = scroll_->viewport()->width();
    const QSize wanted = monitor_->minimumSizeHint();
    if (width - size.width() - 8 >= wanted.width()) {
      monitor_->setGeometry(size.width(), group.top(), width - size.width() - 8, std::max(group.height(), wanted.height()));
    } else {
      monitor_->setGeometry(group.left(), size.height(), std::max(group.width(), wanted.width()), wanted.height());
    }
    size = size.expandedTo(QSize(monitor_->geometry().right() + 9, monitor_->geometry().bottom() + 9));
  }
  content_->resize(size);
}

void TformACP::resizeEvent(QResizeEvent* event) {
  TPage::resizeEvent(event);
  scroll_->setGeometry(rect());
  PlaceContent();
}

void TformACP::TieSpins(TChannel& block) {
  TTrislider* slider = block.Slider;
  const TSpins spins = block.Spins;
  for (int k = 0; k < kThumbs; ++k) {
    // A value in the box is the user's move of the thumb; the box then shows
    // where the slider's rules let it go.
    connect(spins[k], &QSpinBox::valueChanged, slider, [slider, spins, k](int value) {
      slider->MoveThumb(k, value);
      ShowSpin(spins[k], slider->GetPosition(k));
    });
  }
  const auto follow = [spins](int index, int value) {
    if (index >= 0 && index < kThumbs) ShowSpin(spins[index], value);
  };
  connect(slider, &TTrislider::ThumbMoved, this, follow);
  connect(slider, &TTrislider::PositionSet, this, follow);
}

void TformACP::ShowSpin(QSpinBox* spin, int value) {
  if (spin->value() == value) return;
  const QSignalBlocker quiet(spin);
  spin->setValue(value);
}

void TformACP::SetWatchEnabled(bool enabled) {
  // A running monitor can always be stopped.
  watch_->setEnabled(enabled || watch_->isChecked());
}

void TformACP::SetWatching(bool watching) {
  const QSignalBlocker quiet(watch_);
  watch_->setChecked(watching);
  if (monitor_) monitor_->SetRunning(watching);
}

TAdcMonitor* TformACP::EnsureMonitor() {
  if (!monitor_) {
    monitor_ = new TAdcMonitor(ts_, ts2_, content_);
    monitor_->setObjectName(QStringLiteral("AdcMonitor"));
    monitor_->show();
    PlaceContent();
    // In a small window the plots come under the sliders: bring them into view.
    QTimer::singleShot(0, this, [this] { scroll_->ensureWidgetVisible(monitor_, 0, 0); });
  }
  return monitor_;
}

void TformACP::changeEvent(QEvent* event) {
  TPage::changeEvent(event);
  if (event->type() == QEvent::FontChange && group_ != nullptr) Arrange();
}

void TformACP::tsMouseMove() { ShowPositions(ts_, channel1_.Panes); }

void TformACP::ts2MouseMove() { ShowPositions(ts2_, channel2_.Panes); }

void TformACP::ShowPositions(const TTrislider* slider, const TPanes& panes) {
  // A failure here leaves the panes as far as they got; the drag itself is done.
  try {
    for (int k = 0; k < kThumbs; ++k) panes[k]->SetCaption(QString::number(slider->GetPosition(k)));
  } catch (const std::exception&) {
  }
}

QString TformACP::StateCaption(int thumb) {
  return thumb >= 0 && thumb < kThumbs ? QString::fromUtf8(kStates[thumb].Caption) : QString();
}
