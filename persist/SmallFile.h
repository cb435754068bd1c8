// Reading a small regular file whole, refusing what is not one.
//
// The program's files (settings, "current.ini", "Windows.ini") are a few
// kilobytes. A device or a FIFO chosen as a file would block or never end,
// and a huge file would take memory in proportion, so both are refused before
// anything is read. Any thread.
#pragma once

#include <QByteArray>
#include <QString>

enum class TFileRead {
  Ok,       // *data holds the whole file
  Missing,  // no such file (or a dangling link)
  Refused,  // not a regular file, larger than the limit, or unreadable
};

// Reads path into *data when it is a regular file of at most limit bytes.
// The file is checked before it is opened (so a device is never opened) and
// again on the open descriptor, which is opened non-blocking so that a FIFO
// swapped in meanwhile cannot hang the read.
TFileRead ReadSmallFile(const QString& path, qint64 limit, QByteArray* data);
