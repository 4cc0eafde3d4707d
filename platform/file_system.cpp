#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace paginor {
namespace {

thread_local int t_error = 0;

bool failed() {
    t_error = errno;
    return false;
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? S_ISDIR(status.st_mode) : failed();
}

bool PathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 || failed();
}

std::int64_t RegularFileSize(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        failed();
        return -1;
    }
    return S_ISREG(status.st_mode) ? static_cast<std::int64_t>(status.st_size) : -1;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 ||
        ::stat(b.c_str(), &second) != 0) {
        return failed();
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || failed();
}

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0 || failed();
}

bool CreateUniqueFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                      std::string& path) {
    std::string name = folder;
    if (name.empty() || name.back() != '/') {
        name += '/';
    }
    name += prefix;
    name += "XXXXXX";
    name += suffix;
    const int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
        return failed();
    }
    ::close(fd);
    path = std::move(name);
    return true;
}

bool TakeOwnFile(const std::string& path, std::size_t limit, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return failed();
    }
    struct stat status {};
    const bool trusted = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                         status.st_uid == ::geteuid() &&
                         (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    text.assign(limit + 1, '\0');
    std::size_t got = 0;
    bool read = trusted;
    while (read && got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            read = failed();
        } else if (n == 0) {
            break;
        } else {
            got += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    ::unlink(path.c_str());
    text.resize(read ? got : 0);
    return read;
}

int FileSystemError() {
    return t_error;
}

}  // namespace paginor
