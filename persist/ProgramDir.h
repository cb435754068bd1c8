// Where the program keeps its files.
//
// A copy run from the build tree it was built in (and owned by the user
// running it) keeps everything in its own directory, as the Windows version
// always did. Any other copy (installed under /usr, or in a directory of
// another user) keeps "current.ini" and "Windows.ini" in the user's
// configuration directory ($XDG_CONFIG_HOME, else ~/.config, then
// "OstrelGSM4") and its data, "log.txt" and the backups, in the user's data
// directory ($XDG_DATA_HOME, else ~/.local/share, then "OstrelGSM4"): the
// files hold phone numbers and keys and are the user's alone. Directories
// the program creates for them are private (0700). The home is $HOME, or
// the user's home in the password database when HOME is unset (env -i);
// XDG variables holding relative paths are ignored.
//
// The names end with a separator. GUI thread only (the override is not guarded).
#pragma once

#include <QString>

// The directory of "current.ini" and "Windows.ini"; the file dialogs start there.
QString ProgramDir();
// The directory of "log.txt" and the backups.
QString DataDir();
// The user's data directory ($XDG_DATA_HOME, else ~/.local/share, then
// "OstrelGSM4"), also for a copy that keeps its files beside itself, and
// the override's directory in tests; DataDir() without a home. Creates nothing.
QString UserDataDir();

// The user's home: $HOME when it is an absolute path, else the effective
// user's home directory in the password database; empty when neither gives
// an absolute path.
QString HomeDir();
// A base directory of the user's: $variable when it holds an absolute path
// (a relative one is ignored), else HomeDir() followed by underHome
// (".config", ".local/share"); empty without a home. Creates nothing.
QString UserBaseDir(const char* variable, const char* underHome);

// Whether a program file in appDir keeps its files beside itself: appDir
// lies inside buildTree and belongs to the effective user, who may write it.
bool KeepsFilesBeside(const QString& appDir, const QString& buildTree);

// Creates dir (and its parents) when missing, the last one private to its
// owner (0700); true when dir exists afterwards.
bool MakePrivateDir(const QString& dir);

// Makes ProgramDir and DataDir return dir (a separator is added when
// missing), so that tests keep their files in a temporary directory. An empty
// dir goes back to the program's own choice.
void SetProgramDirOverride(const QString& dir);
