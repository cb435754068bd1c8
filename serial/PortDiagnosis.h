// Why a serial port could not be opened, in words for the person at the
// keyboard: the system's reason and, for a refused or a busy port, what to do.
// Any thread.
#pragma once

#include <string>

// The reasons a serial port or a file can give, in Russian, for the person at
// the keyboard ("нет такого файла или устройства" for ENOENT); an unknown
// number reads "системная ошибка N". Empty for 0.
std::string SystemErrorTextRu(int err);

// ": <Russian system text>" for errno err, followed for EACCES and EBUSY by a hint:
// the dialout group, or the program that holds the port when a lock names
// it. Empty for err 0.
std::string OpenFailureReason(int err, const std::string& devicePath);

// The program that holds devicePath: the owner of an flock on it (from
// /proc/locks) or the process named in a UUCP lock file (/run/lock,
// /var/lock: "LCK..ttyUSB0"), as "minicom (PID 1234)". Empty when no lock
// names a running process. locksFile and lockDirs can be replaced in tests.
std::string PortHolder(const std::string& devicePath, const std::string& locksFile = "/proc/locks",
                       const std::string& lockDirs = "/run/lock:/var/lock");
