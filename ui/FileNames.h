// Where the Save and Load dialogs open and the name Save suggests.
// GUI thread only.
#pragma once

#include <QDate>
#include <QString>

namespace FileNames {

// The user's documents folder (XDG_DOCUMENTS_DIR) with a trailing separator;
// the home folder when that does not exist.
QString DocumentsDir();
// "<site> 2026-12-11.ini", or "Настройки 2026-12-11.ini" without a site. The
// site's characters that a file name cannot hold or that mislead a file
// manager ("/", "\", ":", "*", "?", "\"", "<", ">", "|", control characters)
// become "_"; blanks around it go, a long name is cut to 60 characters, and
// a leading "." becomes "_" so the file is not hidden.
QString SuggestedSettingsName(const QString& site, const QDate& date);

}  // namespace FileNames
