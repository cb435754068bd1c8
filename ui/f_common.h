// TformCommon: the common settings page ("Общие установки").
//
// System events, alarm loops with their normal states, reactions, phones and
// 24-hour flags, and the delays. Each setting lives in a control named as the
// device and the settings file address it:
//   etPhone1..etPhone12, cbReact1..cbReact12  entry N: 1..4 the events,
//                                             5..8 the upper rows of loops 1..4,
//                                             9..12 the lower rows of loops 1..4
//   rbNorm5..rbNorm12                         normal state of a loop row
//                                             ("Замыкание" 5..8, "Размыкание" 9..12);
//                                             rows N and N + 4 are one loop, in frame
//                                             GroupBox3..GroupBox6
//   cb241..cb244                              24-hour flag of loops 1..4
//   seTimeOut, seTimeOut2, cbFastGuard, cbWaitSend
//
// Rules tying controls together:
//   - a mouse button released over rbNorm N moves the loop's reaction to the
//     other row (cbReact N off, its partner on); keyboard and program
//     selections do not;
//   - cbWaitSend is enabled only while cbReact1 is checked; unchecking
//     cbReact1, by anyone, also unchecks cbWaitSend.
//
// GUI thread only. The controls show the window's settings model
// (ui/PageSettings.h); the link thread never touches them.
#pragma once

#include <array>

#include "ui/Page.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;
class QSpinBox;
class QWidget;
class TRadioButton;

class TformCommon : public TPage {
  Q_OBJECT

 public:
  explicit TformCommon(QWidget* parent = nullptr);

  // Empties all phones, unchecks all reactions and 24-hour flags, deselects
  // every normal state, sets seTimeOut to 0 and unchecks cbFastGuard.
  // seTimeOut2 and cbWaitSend are left to the wait-until-sent rule.
  void ClearPage() override;

  // The label of event row 1..4 ("Постановка на охрану", ...).
  static QString EventName(int entry);
  // How long the reaction boxes that the normal-state rule changed stay
  // highlighted.
  static constexpr int kRuleFlashMs = 1500;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  static constexpr int kEntries = 12;
  static constexpr int kLoops = 4;

  void BuildEvents(QWidget* content);
  void BuildLoops(QWidget* content);
  void BuildDelays(QWidget* content);
  void BuildLoop(int loop, QWidget* parent);
  QLineEdit* MakePhone(int n, QWidget* parent);
  QCheckBox* MakeReact(int n, QWidget* parent);

  // Places every control from the font's metrics, so that the columns stay
  // under the header texts and nothing is clipped at any font size.
  void Arrange();

  void NormMouseUp();
  void React1Toggled(bool checked);

  QScrollArea* scrollBox_ = nullptr;
  QWidget* content_ = nullptr;
  QGroupBox* events_ = nullptr;   // GroupBox1
  QGroupBox* loops_ = nullptr;    // GroupBox2
  QGroupBox* entryZone_ = nullptr;  // GroupBox7, holds loop 1
  QGroupBox* delays_ = nullptr;   // GroupBox8
  QLabel* eventsHeader_ = nullptr;  // Label1
  QLabel* loopsHeader_ = nullptr;   // Label3
  std::array<QLabel*, 4> eventLabels_{};
  std::array<QLabel*, kLoops> loopNumbers_{};
  std::array<QGroupBox*, kLoops> loopFrames_{};  // GroupBox3..GroupBox6
  std::array<QLineEdit*, kEntries + 1> phones_{};  // index N; 0 unused
  std::array<QCheckBox*, kEntries + 1> reacts_{};
  std::array<TRadioButton*, kEntries + 1> norms_{};  // 5..12
  std::array<QCheckBox*, kLoops + 1> hours24_{};   // 1..4
  QLabel* delayInLabel_ = nullptr;
  QLabel* delayOutLabel_ = nullptr;
  QSpinBox* timeOut_ = nullptr;
  QSpinBox* timeOut2_ = nullptr;
  QCheckBox* fastGuard_ = nullptr;
  QCheckBox* waitSend_ = nullptr;
};
