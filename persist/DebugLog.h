// The debug log "log.txt": a plain-text copy of every memo line while logging
// is on.
//
// Each switching on appends a header block, each switching off a footer block:
//   (empty line)
//   =================================================================================
//   <date and time> Начали процесс протоколирования   (or "Окончили ...")
//   =================================================================================
// and between them one line per memo text. Lines end with CR LF; the file is
// UTF-8 and is appended to across runs. Lines are buffered and reach the disk
// when the buffer fills, when logging goes off, or when the object goes away.
//
// GUI thread only.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <functional>
#include <string>

class TDebugLog {
 public:
  explicit TDebugLog(QString fileName);
  ~TDebugLog();
  TDebugLog(const TDebugLog&) = delete;
  TDebugLog& operator=(const TDebugLog&) = delete;

  bool IsOn() const { return file_.isOpen(); }
  const QString& FileName() const { return fileName_; }

  // Opens the file for appending (creating it), writes the header block and
  // flushes. When the file cannot be opened or written it is closed again,
  // logging stays off and false is returned. True when already on.
  bool SwitchOn();
  // Writes the footer block, flushes and closes. Logging is off afterwards in
  // any case; false with *error "Unable to write to <file>" when the footer
  // did not reach the disk. True when already off.
  bool SwitchOff(QString* error = nullptr);
  // One memo text as posted (UTF-8, or Windows-1251 bytes from the panel) and
  // a line end. A text with line breaks (CR, LF or CR LF) spans several
  // lines, each ending with CR LF; a break at its end adds no empty line.
  // Ignored while off.
  void WriteLine(const std::string& text);

  // The clock of the header and footer blocks (tests set a fixed one).
  std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

  // Local short date and long time ("dd.MM.yyyy hh:mm:ss"); the time is left
  // out at exactly midnight.
  static QString DateTimeText(const QDateTime& when);

 private:
  bool WriteBlock(const char* text);

  QString fileName_;
  QFile file_;
};
