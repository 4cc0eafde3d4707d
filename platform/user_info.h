#pragma once

#include <cstdint>
#include <string>

namespace paginor {

// The login name of the effective user; $USER or $LOGNAME when the user database has none,
// else an empty string.
std::string userName();

// True when the process runs with the effective user id 0.
bool runningAsRoot();

// True for root and for members of the administration groups "sudo", "wheel" or "admin".
bool isAdministrator();

// The Windows language identifier matching the user's locale (LC_ALL, LC_MESSAGES, LANG);
// 0x0409 (English, United States) when the locale is unset or unknown.
std::uint16_t userDefaultLangId();

}  // namespace paginor
