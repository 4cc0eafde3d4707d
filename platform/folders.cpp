#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace paginor {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string stripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) {
        return stripTrailingSlashes(home);
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return stripTrailingSlashes(result->pw_dir);
    }
    return {};
}

// An XDG base folder: the variable when it holds an absolute path, else the fallback under home.
std::string xdgFolder(const char* variable, const char* homeRelative) {
    std::string value = environment(variable);
    if (!value.empty() && value.front() == '/') {
        return stripTrailingSlashes(value);
    }
    std::string home = homeFolder();
    return home.empty() ? std::string() : home + "/" + homeRelative;
}

std::string ownSubfolder(const char* variable, const char* homeRelative) {
    std::string base = xdgFolder(variable, homeRelative);
    if (base.empty()) {
        return {};
    }
    std::string folder = base + "/paginor";
    return makeFolders(folder) ? folder : std::string();
}

}  // namespace

bool makeFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode);
    }
    std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(path.substr(0, slash))) {
        return false;
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string appDataFolder() {
    return ownSubfolder("XDG_DATA_HOME", ".local/share");
}

std::string configFolder() {
    return ownSubfolder("XDG_CONFIG_HOME", ".config");
}

std::string cacheFolder() {
    return ownSubfolder("XDG_CACHE_HOME", ".cache");
}

std::string tempFolder() {
    for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
        std::string value = environment(name);
        struct stat st {};
        if (!value.empty() && ::stat(value.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return stripTrailingSlashes(value);
        }
    }
    return "/tmp";
}

std::string privateTempFolder() {
    const std::string folder = tempFolder() + "/paginor-" + std::to_string(geteuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 0077) != 0) {
        return {};
    }
    return folder;
}

std::string executableFolder() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) {
        return {};
    }
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace paginor
