#include "ui/f_ACP.h"

#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>
#include <exception>

#include "ui/Panel.h"
#include "ui/Trislider.h"

namespace {

constexpr int kSliderX = 24;
constexpr int kSliderWidth = 489;
constexpr int kSliderHeight = 57;
constexpr int kPaneWidth = 41;
constexpr int kPaneHeight = 23;

struct TState {
  const char* Label;  // name stem of the state label: "lbKZ" + channel
  const char* Pane;   // name stem of the value pane: "pKZ" + channel
  const char* Caption;
};

const TState kStates[TformACP::kThumbs] = {
    {"lbKZ", "pKZ", "КЗ"},
    {"lbZam", "pZam", "Оба замкнуты"},
    {"lb2Z", "p2Z", "2-й замкнут"},
    {"lb1Z", "p1Z", "1-й замкнут"},
    {"lbRaz", "pRaz", "Оба разомкнуты"},
};

// Column centre of state k over the slider.
int StateCentre(int k) { return kSliderX + kSliderWidth * (2 * k + 1) / (2 * TformACP::kThumbs); }

}  // namespace

TformACP::TformACP(QWidget* parent) : TPage(parent) {
  setObjectName(QStringLiteral("TformACP"));
  setWindowTitle(QStringLiteral("АЦП"));

  group_ = new QGroupBox(QStringLiteral("Настройка каналов АЦП"), this);
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
  Arrange();

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
    block.Panes[k] = pane;
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
  for (int k = 0; k < kThumbs; ++k) {
    block.Panes[k]->setGeometry(StateCentre(k) - kPaneWidth / 2, paneTop, kPaneWidth, kPaneHeight);
  }
  const int captionTop = paneTop + kPaneHeight + 10;
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
  // The designed size, or what a large font needs.
  group_->setGeometry(8, 8, 537, std::max(385, bottom2 + 10));
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
