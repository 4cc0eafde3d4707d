#include "core/env_info.h"

#include <cstdio>

#include "platform/folders.h"
#include "platform/sys_error.h"
#include "platform/user_info.h"

namespace paginor {

// The system text comes from strerror_r, which always gives a text (for an unknown number,
// "Unknown error N"), so there is no fallback for a number without details.

void FormatSystemError(char* buffer, int size, int errorNumber) {
    const int code = errorNumber != 0 ? errorNumber : lastErrorNumber();
    if (buffer == nullptr || size < 1) {
        return;
    }
    const std::string text = systemErrorText(code);
    std::snprintf(buffer, static_cast<std::size_t>(size), "Error (%d): %s", code, text.c_str());
}

std::string FormatSystemError(int errorNumber) {
    const int code = errorNumber != 0 ? errorNumber : lastErrorNumber();
    return "Error (" + std::to_string(code) + "): " + systemErrorText(code);
}

bool GetAppDataFolder(std::string& folder) {
    folder = appDataFolder();
    if (folder.empty()) {
        folder = executableFolder();
    }
    if (folder.empty()) {
        folder = ".";  // /proc/self/exe unreadable: the working folder is the one folder left
    }
    return true;
}

std::string GetWindowsUserName() {
    return userName();
}

bool IsAdministratorUser() {
    return isAdministrator();
}

}  // namespace paginor
