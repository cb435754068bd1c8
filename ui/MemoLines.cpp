#include "ui/MemoLines.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QVariant>

namespace MemoLines {

namespace {

constexpr int kTrafficState = 1;
const char* const kShowTraffic = "showTraffic";

}  // namespace

bool ShowsTraffic(const QPlainTextEdit* memo) { return memo->property(kShowTraffic).toBool(); }

void Append(QPlainTextEdit* memo, const QString& text, bool traffic) {
  if (!traffic) {
    memo->appendPlainText(text);
    return;
  }
  // A reply may hold line breaks: each line is a block of its own, so each
  // is appended and marked by itself.
  static const QRegularExpression breaks(QStringLiteral("\\r\\n|\\n|\\r|\\x{2029}"));
  const bool show = ShowsTraffic(memo);
  for (const QString& line : text.split(breaks)) {
    memo->appendPlainText(line);
    QTextBlock block = memo->document()->lastBlock();
    block.setUserState(kTrafficState);
    if (!show) {
      block.setVisible(false);
      memo->document()->markContentsDirty(block.position(), block.length());
    }
  }
}

void ShowTraffic(QPlainTextEdit* memo, bool show) {
  memo->setProperty(kShowTraffic, show);
  QTextDocument* doc = memo->document();
  for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
    if (b.userState() == kTrafficState) b.setVisible(show);
  doc->markContentsDirty(0, doc->characterCount());
  memo->viewport()->update();
  memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

QStringList Visible(const QPlainTextEdit* memo) {
  QStringList lines;
  for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
    if (b.isVisible() && !(b == memo->document()->lastBlock() && b.text().isEmpty() && lines.isEmpty()))
      lines << b.text();
  return lines;
}

}  // namespace MemoLines
