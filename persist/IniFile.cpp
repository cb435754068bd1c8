#include "persist/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QtDebug>

#include <algorithm>
#include <utility>

#include "persist/SmallFile.h"

namespace {

bool IsBlank(QChar c) {
  return c == u' ' || c == u'\t';
}

QString TrimBlanks(const QString& s) {
  qsizetype begin = 0;
  qsizetype end = s.size();
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
  return s.mid(begin, end - begin);
}

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
}

// Windows compares profile names without regard to case; we fold ASCII
// letters only, so that no locale decides whether two names are one.
bool SameName(const QString& a, const QString& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i].unicode()) != FoldAscii(b[i].unicode())) return false;
  }
  return true;
}

bool IsQuote(QChar c) {
  return c == u'"' || c == u'\'';
}

bool HasQuotePair(const QString& s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

// The value as GetPrivateProfileString hands it out.
QString ValueAsRead(const QString& raw) {
  QString v = TrimBlanks(raw);
  if (HasQuotePair(v)) v = v.mid(1, v.size() - 2);
  return v;
}

// The text to put after "=" so that ValueAsRead gives value back.
QString ValueAsWritten(QString value) {
  value.replace(u'\r', u' ').replace(u'\n', u' ');
  bool needsQuotes = HasQuotePair(value) ||
                     (!value.isEmpty() && (IsBlank(value.front()) || IsBlank(value.back())));
  return needsQuotes ? u'"' + value + u'"' : value;
}

// Old files are Windows-1251; files we write are UTF-8; a file edited by
// both holds lines of each, so every line is decoded on its own. A leading
// UTF-8 byte order mark is dropped by the decoder.
QString DecodeLine(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (!utf8.hasError()) return text;
  QStringDecoder cp1251("windows-1251", QStringDecoder::Flag::Stateless);
  if (!cp1251.isValid()) return QString::fromLatin1(bytes);
  return cp1251.decode(bytes);
}

bool HasLineBreak(const QString& s) {
  return s.contains(u'\r') || s.contains(u'\n');
}

bool ValidSectionName(const QString& name) {
  return !HasLineBreak(name) && !name.contains(u']') && TrimBlanks(name) == name;
}

bool ValidKeyName(const QString& name) {
  return !name.isEmpty() && !HasLineBreak(name) && !name.contains(u'=') &&
         TrimBlanks(name) == name && name.front() != u'[' && name.front() != u';' &&
         name.front() != u'#';
}

}  // namespace

TIniFile::TIniFile(QString fileName) : fileName_(std::move(fileName)) {}

bool TIniFile::LoadEmpty() {
  lines_.clear();
  eol_ = "\r\n";
  const QFileInfo info(fileName_);
  loaded_ = !info.exists() || info.isFile();
  return loaded_;
}

bool TIniFile::Load() {
  lines_.clear();
  eol_ = "\r\n";
  loaded_ = false;

  QByteArray data;
  switch (ReadSmallFile(fileName_, kMaxFileSize, &data)) {
    case TFileRead::Missing:
      loaded_ = true;
      return true;
    case TFileRead::Refused:
      return false;
    case TFileRead::Ok:
      break;
  }
  Parse(data);
  return true;
}

void TIniFile::LoadText(const QByteArray& data) {
  lines_.clear();
  eol_ = "\r\n";
  Parse(data);
}

void TIniFile::Parse(const QByteArray& data) {
  int crlfCount = 0;
  int lfCount = 0;
  qsizetype start = 0;
  while (start < data.size()) {
    const qsizetype lf = data.indexOf('\n', start);
    if (lf < 0) {
      lines_.push_back(ParseLine(data.mid(start), QByteArray()));
      break;
    }
    const bool crlf = lf > start && data[lf - 1] == '\r';
    const qsizetype end = crlf ? lf - 1 : lf;
    lines_.push_back(ParseLine(data.mid(start, end - start), crlf ? "\r\n" : "\n"));
    ++(crlf ? crlfCount : lfCount);
    start = lf + 1;
  }
  if (lfCount > crlfCount) eol_ = "\n";
  loaded_ = true;
}

QByteArray TIniFile::Text() const {
  QByteArray data;
  for (const TLine& line : lines_) data += line.text + line.eol;
  return data;
}

std::vector<TIniFile::TKeyLine> TIniFile::KeyLines() const {
  std::vector<TKeyLine> keys;
  const QString* section = nullptr;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const TLine& line = lines_[i];
    if (line.kind == TLineKind::Section) {
      section = &line.name;
    } else if (section && line.kind == TLineKind::Key) {
      keys.push_back({*section, line.name, line.value, int(i) + 1});
    }
  }
  return keys;
}

bool SameIniName(const QString& a, const QString& b) { return SameName(a, b); }

TIniFile::TLine TIniFile::ParseLine(QByteArray text, QByteArray eol) {
  TLine line;
  line.text = std::move(text);
  line.eol = std::move(eol);

  const QString decoded = DecodeLine(line.text);
  const QString trimmed = TrimBlanks(decoded);
  if (trimmed.startsWith(u';') || trimmed.startsWith(u'#')) {
    line.kind = TLineKind::Comment;
  } else if (trimmed.startsWith(u'[')) {
    const qsizetype close = trimmed.indexOf(u']');
    if (close > 0) {
      line.kind = TLineKind::Section;
      line.name = TrimBlanks(trimmed.mid(1, close - 1));
    }
  } else if (const qsizetype eq = decoded.indexOf(u'='); eq >= 0) {
    QString name = TrimBlanks(decoded.left(eq));
    if (!name.isEmpty()) {
      line.kind = TLineKind::Key;
      line.name = std::move(name);
      qsizetype valueStart = eq + 1;
      while (valueStart < decoded.size() && IsBlank(decoded[valueStart])) ++valueStart;
      line.prefix = decoded.left(valueStart);
      line.value = ValueAsRead(decoded.mid(valueStart));
    }
  }
  return line;
}

TIniFile::TLine TIniFile::NewLine(const QString& text) const {
  return ParseLine(text.toUtf8(), eol_);
}

// The first key line named key in any part of the file headed by section.
int TIniFile::FindKey(const QString& section, const QString& key) const {
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const TLine& line = lines_[i];
    if (line.kind == TLineKind::Section) {
      inSection = SameName(line.name, section);
    } else if (inSection && line.kind == TLineKind::Key && SameName(line.name, key)) {
      return int(i);
    }
  }
  return -1;
}

// Where a new key of section goes: after the last key line of the section's
// first appearance, or after its section line. -1 when the section is missing.
int TIniFile::FindSectionEnd(const QString& section) const {
  int end = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const TLine& line = lines_[i];
    if (line.kind == TLineKind::Section) {
      if (end >= 0) break;
      if (SameName(line.name, section)) end = int(i) + 1;
    } else if (end >= 0 && line.kind == TLineKind::Key) {
      end = int(i) + 1;
    }
  }
  return end;
}

void TIniFile::InsertLine(int index, TLine line) {
  // Only the file's last line can lack a line end; it needs one now.
  if (index > 0 && lines_[size_t(index) - 1].eol.isEmpty()) lines_[size_t(index) - 1].eol = eol_;
  lines_.insert(lines_.begin() + index, std::move(line));
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  const int i = FindKey(section, key);
  return i < 0 ? def : lines_[size_t(i)].value;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  const int i = FindKey(section, key);
  if (i < 0) return def;
  const QString& value = lines_[size_t(i)].value;
  // toInt alone would also take blanks and non-ASCII digits.
  for (qsizetype c = 0; c < value.size(); ++c) {
    const QChar ch = value[c];
    const bool sign = c == 0 && (ch == u'-' || ch == u'+');
    if (!sign && !(ch >= u'0' && ch <= u'9')) return def;
  }
  bool ok = false;
  const int number = value.toInt(&ok, 10);
  return ok ? number : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  if (!ValidSectionName(section) || !ValidKeyName(key)) {
    qWarning() << "TIniFile: refusing to write key" << key << "of section" << section;
    return;
  }
  if (const int i = FindKey(section, key); i >= 0) {
    TLine& line = lines_[size_t(i)];
    if (line.value == value) return;
    TLine replaced = NewLine(line.prefix + ValueAsWritten(value));
    replaced.eol = line.eol;
    line = std::move(replaced);
    return;
  }
  const QString keyLine = key + u'=' + ValueAsWritten(value);
  if (const int end = FindSectionEnd(section); end >= 0) {
    InsertLine(end, NewLine(keyLine));
    return;
  }
  InsertLine(int(lines_.size()), NewLine(u'[' + section + u']'));
  InsertLine(int(lines_.size()), NewLine(keyLine));
}

void TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
  WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniFile::SectionExists(const QString& section) const {
  for (const TLine& line : lines_) {
    if (line.kind == TLineKind::Section && SameName(line.name, section)) return true;
  }
  return false;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
  return FindKey(section, key) >= 0;
}

QStringList TIniFile::ReadSection(const QString& section) const {
  QStringList keys;
  bool inSection = false;
  for (const TLine& line : lines_) {
    if (line.kind == TLineKind::Section) {
      inSection = SameName(line.name, section);
    } else if (inSection && line.kind == TLineKind::Key) {
      const bool seen = std::any_of(keys.cbegin(), keys.cend(),
                                    [&](const QString& k) { return SameName(k, line.name); });
      if (!seen) keys.append(line.name);
    }
  }
  return keys;
}

bool TIniFile::Save(QString* error) {
  const auto fail = [&] {
    if (error) *error = QStringLiteral("Unable to write to ") + fileName_;
    return false;
  };
  // Without a successful Load we do not know the lines we would overwrite.
  if (!loaded_) return fail();

  const QByteArray data = Text();

  // A file we create holds phone numbers and keys: its owner alone reads it.
  // An existing file keeps its mode (QSaveFile carries it over).
  const bool created = !QFileInfo::exists(fileName_);
  QSaveFile file(fileName_);
  if (!file.open(QIODevice::WriteOnly)) return fail();
  if (created && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
    file.cancelWriting();
    return fail();
  }
  if (file.write(data) != data.size()) {
    file.cancelWriting();
    return fail();
  }
  if (!file.commit()) return fail();
  return true;
}

QString FindFileIgnoringCase(const QString& path) {
  const QFileInfo info(path);
  if (info.exists() || info.isSymLink()) return path;
  const QDir dir = info.dir();
  const QStringList names =
      dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QString& name : names) {
    if (SameName(name, info.fileName())) return dir.filePath(name);
  }
  return path;
}
