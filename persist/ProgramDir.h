// Where the program keeps its files: "current.ini", "Windows.ini", "log.txt".
//
// That is the directory of the program file when it is writable (a portable
// copy, as the Windows version always assumed), otherwise the user's
// configuration directory for this program, created on first use. The name
// ends with a separator. GUI thread only (the override is not guarded).
#pragma once

#include <QString>

QString ProgramDir();

// Makes ProgramDir return dir (a separator is added when missing), so that
// tests keep their files in a temporary directory. An empty dir goes back to
// the program's own directory.
void SetProgramDirOverride(const QString& dir);
