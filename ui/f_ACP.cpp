#include "ui/f_ACP.h"

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

  auto* group = new QGroupBox(QStringLiteral("Настройка каналов АЦП"), this);
  group->setObjectName(QStringLiteral("RzGroupBox1"));
  group->setGeometry(8, 8, 537, 385);

  const int line = QFontMetrics(font()).height();
  auto* title = new QLabel(QStringLiteral("Пороговые значения для каналов АЦП"), group);
  title->setObjectName(QStringLiteral("Label6"));
  title->setGeometry(kSliderX, line + 8, title->sizeHint().width(), line + 2);

  // Each channel block: state labels, panes, channel label, slider.
  BuildChannel(1, group, line + 8 + line + 14, ts_, panes1_);
  auto* separator = new QFrame(group);
  separator->setObjectName(QStringLiteral("RzSeparator1"));
  separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  separator->setGeometry(kSliderX, blockBottom_ + 12, kSliderWidth, 2);
  BuildChannel(2, group, blockBottom_ + 26, ts2_, panes2_);

  // The page takes the sliders' mouse moves: the slider has already dragged
  // its thumb when the signal comes, the page then shows the positions.
  connect(ts_, &TTrislider::MouseMoved, this, &TformACP::tsMouseMove);
  connect(ts2_, &TTrislider::MouseMoved, this, &TformACP::ts2MouseMove);
}

void TformACP::BuildChannel(int channel, QWidget* group, int top, TTrislider*& slider, TPanes& panes) {
  const QString suffix = QString::number(channel);
  const int line = QFontMetrics(font()).height();
  // A state label keeps to its column; a font too wide for one line wraps it.
  const int columnWidth = kSliderWidth / kThumbs - 2;
  std::array<QLabel*, kThumbs> labels{};
  int labelHeight = line + 2;
  for (int k = 0; k < kThumbs; ++k) {
    auto* label = new QLabel(QString::fromUtf8(kStates[k].Caption), group);
    label->setObjectName(QLatin1String(kStates[k].Label) + suffix);
    label->setAlignment(Qt::AlignCenter);
    if (label->sizeHint().width() + 4 > columnWidth) {
      label->setWordWrap(true);
      labelHeight = std::max(labelHeight, label->heightForWidth(columnWidth));
    }
    labels[k] = label;
  }
  for (int k = 0; k < kThumbs; ++k) {
    const int labelWidth = std::min(labels[k]->sizeHint().width() + 4, columnWidth);
    labels[k]->setGeometry(StateCentre(k) - labelWidth / 2, top, labelWidth, labelHeight);
  }
  const int paneTop = top + labelHeight + 2;
  for (int k = 0; k < kThumbs; ++k) {
    auto* pane = new TPanel(group);
    pane->setObjectName(QLatin1String(kStates[k].Pane) + suffix);
    pane->SetBevel(TPanel::TBevel::Lowered);
    pane->SetCaption(QStringLiteral("0"));
    pane->setGeometry(StateCentre(k) - kPaneWidth / 2, paneTop, kPaneWidth, kPaneHeight);
    panes[k] = pane;
  }
  auto* channelLabel = new QLabel(QStringLiteral("Канал АЦП ") + suffix, group);
  channelLabel->setObjectName(QStringLiteral("lbACP") + suffix);
  const int labelTop = paneTop + kPaneHeight + 10;
  channelLabel->setGeometry(kSliderX, labelTop, channelLabel->sizeHint().width(), line + 2);

  slider = new TTrislider(group);
  slider->setObjectName(channel == 1 ? QStringLiteral("ts") : QStringLiteral("ts2"));
  slider->setGeometry(kSliderX, labelTop + line + 4, kSliderWidth, kSliderHeight);
  slider->Min = 0;
  slider->Max = 1023;
  slider->SetCount(kThumbs);
  slider->TickInterval = 20;
  blockBottom_ = slider->geometry().bottom() + 1;
}

void TformACP::tsMouseMove() { ShowPositions(ts_, panes1_); }

void TformACP::ts2MouseMove() { ShowPositions(ts2_, panes2_); }

void TformACP::ShowPositions(const TTrislider* slider, const TPanes& panes) {
  // A failure here leaves the panes as far as they got; the drag itself is done.
  try {
    for (int k = 0; k < kThumbs; ++k) panes[k]->SetCaption(QString::number(slider->GetPosition(k)));
  } catch (const std::exception&) {
  }
}
