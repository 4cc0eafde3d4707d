#include "platform/user_info.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace paginor {

std::string userName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_name != nullptr && *result->pw_name != '\0') {
        return result->pw_name;
    }
    for (const char* name : {"USER", "LOGNAME"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

bool runningAsRoot() {
    return geteuid() == 0;
}

bool isAdministrator() {
    if (geteuid() == 0) {
        return true;
    }
    int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    count = getgroups(count, groups.data());
    for (int i = 0; i < count; ++i) {
        std::vector<char> buffer(16384);
        group entry{};
        group* result = nullptr;
        if (getgrgid_r(groups[static_cast<std::size_t>(i)], &entry, buffer.data(), buffer.size(),
                       &result) == 0 &&
            result != nullptr) {
            std::string_view name = result->gr_name;
            if (name == "sudo" || name == "wheel" || name == "admin") {
                return true;
            }
        }
    }
    return false;
}

std::uint16_t userDefaultLangId() {
    struct Entry {
        const char* locale;
        std::uint16_t langId;
    };
    // Longest prefixes first, so "zh_TW" wins over "zh".
    static constexpr Entry kTable[] = {
        {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004}, {"zh", 0x0804},
        {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en", 0x0409},
        {"pt_BR", 0x0416}, {"pt", 0x0816},    {"fr_CA", 0x0C0C}, {"fr", 0x040C},
        {"de", 0x0407},    {"es", 0x0C0A},    {"it", 0x0410},    {"nl", 0x0413},
        {"ja", 0x0411},    {"ko", 0x0412},    {"ru", 0x0419},    {"pl", 0x0415},
        {"cs", 0x0405},    {"hu", 0x040E},    {"sv", 0x041D},    {"da", 0x0406},
        {"nb", 0x0414},    {"fi", 0x040B},    {"el", 0x0408},    {"tr", 0x041F},
        {"he", 0x040D},    {"ar", 0x0401},    {"th", 0x041E},    {"vi", 0x042A},
    };
    const char* locale = nullptr;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            locale = value;
            break;
        }
    }
    if (locale == nullptr) {
        return 0x0409;
    }
    for (const Entry& entry : kTable) {
        std::size_t n = std::strlen(entry.locale);
        if (std::strncmp(locale, entry.locale, n) == 0 &&
            (locale[n] == '\0' || locale[n] == '_' || locale[n] == '.' || locale[n] == '@')) {
            return entry.langId;
        }
    }
    return 0x0409;
}

}  // namespace paginor
