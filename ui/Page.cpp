#include "ui/Page.h"

#include <algorithm>

TPage::TPage(QWidget* parent) : QWidget(parent) {}

TCharValidator::TCharValidator(const QString& allowed, bool upperCase, QObject* parent)
    : QValidator(parent), allowed_(allowed), upperCase_(upperCase) {}

// Only ASCII letters are raised: no locale decides what a capital is, and the
// length, so the cursor, stays.
QString TCharValidator::Raised(const QString& text) const {
  if (!upperCase_) return text;
  QString raised = text;
  for (QChar& ch : raised)
    if (ch >= u'a' && ch <= u'z') ch = QChar(ch.unicode() - u'a' + u'A');
  return raised;
}

bool TCharValidator::Accepts(const QString& text) const {
  const QString checked = Raised(text);
  return std::all_of(checked.begin(), checked.end(), [this](QChar ch) { return allowed_.contains(ch); });
}

QString TCharValidator::Filtered(const QString& text) const {
  QString kept;
  for (const QChar ch : Raised(text))
    if (allowed_.contains(ch)) kept += ch;
  return kept;
}

void TCharValidator::SetPasteRule(const QString& separators, int maxChars, const QString& note) {
  separators_ = separators;
  maxChars_ = maxChars;
  note_ = note;
}

QValidator::State TCharValidator::validate(QString& input, int& pos) const {
  QString kept;
  int keptPos = 0;
  for (int i = 0; i < input.size(); ++i) {
    if (separators_.contains(input.at(i))) continue;
    kept += input.at(i);
    if (i < pos) ++keptPos;
  }
  if (!Accepts(kept) || (maxChars_ > 0 && kept.size() > maxChars_)) {
    if (!note_.isEmpty()) emit const_cast<TCharValidator*>(this)->Refused(note_);
    return Invalid;
  }
  input = Raised(kept);
  pos = keptPos;
  return Acceptable;
}
