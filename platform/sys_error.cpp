#include "platform/sys_error.h"

#include <cerrno>
#include <cstring>

namespace paginor {

int lastErrorNumber() {
    return errno;
}

std::string systemErrorText(int errorNumber) {
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    if (text == nullptr || *text == '\0') {
        return "Unknown error " + std::to_string(errorNumber);
    }
    return text;
}

}  // namespace paginor
