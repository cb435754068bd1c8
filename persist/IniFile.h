// An INI file read and written the way the Windows profile functions treat one.
//
// The file is kept in memory as its byte lines with their own line ends, read
// once by Load and written back once by Save; every line we do not write keeps
// its bytes (comments, unknown keys and sections, lines without "=", the
// file's spelling of names and its line ends).
//
// Lines: "[name]" opens a section (blanks around the brackets and the name
// allowed; the name ends at the first "]", text after it is ignored);
// "key=value" is a key of the section above it; a line whose first non-blank
// character is ";" or "#" is a comment; anything else is kept but never read.
// Keys above the first section belong to no section. Section and key names
// are matched without regard to ASCII letter case (other letters must match
// exactly). A section that appears twice is read as one; the first line of a
// key counts, and new keys go to the section's first appearance.
//
// Values, as GetPrivateProfileString gives them: the text after the first "=",
// blanks (space, tab) trimmed on both sides, then one pair of matching double
// or single quotes around it removed. Each line is decoded as UTF-8 or, when
// it is not valid UTF-8, as Windows-1251 (files of the Windows version).
//
// Writing a key:
//  - an existing line keeps everything up to the "=" and the blanks after it;
//    the value behind them is replaced. Writing the value the line already
//    holds leaves the line's bytes as they are.
//  - a missing key is added right after the last key line of its section (so
//    a comment or blank lines that close the section stay below it), or right
//    after the section line when the section has no keys;
//  - a missing section is added at the end of the file, without a blank line.
//  New text is UTF-8 and ends with the file's dominant line end: CRLF, unless
//  the file has more LF-only lines than CRLF lines (a new or empty file gets
//  CRLF, as the Windows version writes). A last line without a line end gets
//  one before anything is added after it.
//  A value that would not read back unchanged (blanks at either end, or
//  surrounded by a quote pair) is written between double quotes; a line break
//  inside a value is written as a space, so a value never starts a new line.
//
// Integers are written as decimal digits with "-" for negative values and read
// back only when the whole value is a decimal number in int range (an optional
// sign, digits); otherwise the default is returned. Booleans are written "1"
// and "0" and read as integers, any non-zero number being true.
//
// Not thread-safe: one object belongs to one thread (the GUI thread).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

class TIniFile {
 public:
  explicit TIniFile(QString fileName);

  // Settings and layout files are small; anything larger is not one of ours.
  static constexpr qint64 kMaxFileSize = 1024 * 1024;

  // Reads the file, once. A missing file reads as empty and gives true. A file
  // that exists but cannot be read, is larger than kMaxFileSize or is not a
  // regular file (a device, a FIFO, a directory) gives false, reads as empty,
  // and Save refuses to replace it.
  bool Load();
  // Starts a new file in place of whatever the file holds: no lines, CRLF.
  // False (and Save refuses) when the name is taken by anything but a
  // regular file.
  bool LoadEmpty();
  // Reads text kept elsewhere (a record of the site library) as Load reads a
  // file's bytes; Save would still write to the file name.
  void LoadText(const QByteArray& data);
  // The lines as Save writes them.
  QByteArray Text() const;

  // Every key line below a section, in file order, with its 1-based line
  // number; a name given twice in one section appears twice.
  struct TKeyLine {
    QString Section;
    QString Key;
    QString Value;
    int Line = 0;
  };
  std::vector<TKeyLine> KeyLines() const;

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  int ReadInteger(const QString& section, const QString& key, int def) const;
  bool ReadBool(const QString& section, const QString& key, bool def) const;

  // Section names must not hold line breaks or "]", nor blanks at their ends;
  // key names must not be empty nor hold line breaks, "=", blanks at their
  // ends or a leading "[", ";" or "#". A write with such a name would
  // not read back and is dropped (with a warning).
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int value);
  void WriteBool(const QString& section, const QString& key, bool value);

  bool SectionExists(const QString& section) const;
  // True when the key has a line in the section, also with an empty value.
  bool ValueExists(const QString& section, const QString& key) const;
  // The section's key names as the file spells them, in file order.
  QStringList ReadSection(const QString& section) const;

  // Writes all lines to the file in one atomic replace (a temporary file
  // beside it, then a rename), whether or not anything changed. On failure the
  // old file stays whole, *error gets "Unable to write to " and the file name,
  // and false is returned. Needs a successful Load first.
  [[nodiscard]] bool Save(QString* error = nullptr);

  const QString& FileName() const { return fileName_; }

 private:
  enum class TLineKind { Other, Comment, Section, Key };
  struct TLine {
    QByteArray text;  // the line's bytes without its line end
    QByteArray eol;   // "\r\n", "\n" or empty (last line of a file)
    TLineKind kind = TLineKind::Other;
    QString name;     // section or key name, trimmed
    QString value;    // key value as read
    QString prefix;   // key line: text up to "=" and the blanks after it
  };

  void Parse(const QByteArray& data);
  static TLine ParseLine(QByteArray text, QByteArray eol);
  TLine NewLine(const QString& text) const;
  int FindKey(const QString& section, const QString& key) const;
  int FindSectionEnd(const QString& section) const;
  void InsertLine(int index, TLine line);

  QString fileName_;
  std::vector<TLine> lines_;
  QByteArray eol_ = "\r\n";
  bool loaded_ = false;
};

// Whether two section or key names are one name (ASCII letters in either case).
bool SameIniName(const QString& a, const QString& b);

// The name of an existing file in path's directory that differs from path's
// file name only in ASCII letter case; path itself when it exists or when no
// such file exists. For files that one part of the program writes as
// "Windows.ini" and another reads as "windows.ini".
QString FindFileIgnoringCase(const QString& path);
