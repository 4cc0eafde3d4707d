#pragma once

// System-error text and small environment queries of the report core, thin wrappers
// over the platform layer.

#include <string>

namespace paginor {

// Writes "Error (%d): " and the system's text for the error number (0: the calling thread's errno)
// into the buffer, cut to fit: always NUL-terminated within `size` bytes. Nothing is written when
// the buffer is null or size is below 1.
void FormatSystemError(char* buffer, int size, int errorNumber);

// The same text, uncut.
std::string FormatSystemError(int errorNumber);

// The user's application-data folder (Paginor's own subfolder of the XDG data folder, created on
// demand) or, when that cannot be had, the program's own folder; no trailing '/'. Always true.
bool GetAppDataFolder(std::string& folder);

// The login name of the effective user ($USER or $LOGNAME when the user database has none); an
// empty string when it cannot be read.
std::string GetWindowsUserName();

// True when the process runs as root or its user is in an administration group.
bool IsAdministratorUser();

}  // namespace paginor
