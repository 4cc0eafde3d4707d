#include "platform/replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/detail/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

constexpr std::string_view kMark = ".paginor-";
constexpr std::size_t kUniqueChars = 6;
constexpr int kLinkAttempts = 100;

std::atomic<bool> g_namedOnly{false};

std::string folderOf(const std::string& target) {
    const std::size_t slash = target.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : target.substr(0, slash);
}

std::string nameOf(const std::string& target) {
    const std::size_t slash = target.find_last_of('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

// "<folder>/.<name>.paginor-": the hidden names this class writes under.
std::string hiddenPrefix(const std::string& target) {
    const std::string folder = folderOf(target);
    return (folder == "/" ? "" : folder) + "/." + nameOf(target) + std::string(kMark);
}

std::string uniqueChars() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kUniqueChars] = {};
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Only uniqueness matters here; a clash is retried.
        static std::atomic<unsigned> counter{0};
        const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u +
                              counter.fetch_add(1) + static_cast<unsigned>(std::time(nullptr));
        for (std::size_t i = 0; i < kUniqueChars; ++i) {
            bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
        }
    }
    std::string text;
    for (const unsigned char byte : bytes) {
        text.push_back(kChars[byte % (sizeof kChars - 1)]);
    }
    return text;
}

bool isOurHiddenName(std::string_view name) {
    const std::size_t mark = name.rfind(kMark);
    if (name.empty() || name[0] != '.' || mark == std::string_view::npos || mark == 0 ||
        name.size() != mark + kMark.size() + kUniqueChars) {
        return false;
    }
    for (const char c : name.substr(mark + kMark.size())) {
        const bool alnum =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

// Removes hidden files of ours that a process left when it ended before committing or
// abandoning them: nobody holds their lock, they are this user's and were left alone for a while.
void removeStaleFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    const int dirFd = ::dirfd(dir);
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isOurHiddenName(entry->d_name)) {
            continue;
        }
        const int fd =
            ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_uid == ::geteuid() &&
            now - opened.st_mtime >= detail::kStaleTemporaryAge.count() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

bool isDirectory(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

namespace detail {

void useNamedTemporaryFiles(bool named) {
    g_namedOnly = named;
}

}  // namespace detail

bool ReplacingFile::create() {
    abandon();
    if (m_target.empty()) {
        return fail(ENOENT);
    }
    const std::string folder = folderOf(m_target);
    return createUnnamed(folder) || (m_errorNumber == 0 && createNamed(folder));
}

// False with no error recorded when the file system cannot hold unnamed files.
bool ReplacingFile::createUnnamed(const std::string& folder) {
    m_errorNumber = 0;
    if (g_namedOnly) {
        return false;
    }
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        // EISDIR: a kernel without unnamed files; EOPNOTSUPP: a file system without them.
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? false : fail(errno);
    }
    // The file is given its name through /proc: without it, it could never get one.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::access(self.c_str(), F_OK) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_unnamed = true;
    m_temporary = self;
    // Locked like a named one, for the moment between its link and the rename.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    return ::fchmod(m_fd, 0644) == 0 || fail(errno);
}

bool ReplacingFile::createNamed(const std::string& folder) {
    removeStaleFiles(folder);
    std::string name = hiddenPrefix(m_target) + std::string(kUniqueChars, 'X');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(errno);
    }
    m_fd = fd;
    m_unnamed = false;
    m_temporary = std::move(name);
    // The lock tells a later cleaning that the file is in use.
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    return ::fchmod(m_fd, 0644) == 0 || fail(errno);
}

bool ReplacingFile::write(std::string_view data) {
    if (m_fd < 0) {
        return fail(EBADF);
    }
    while (!data.empty()) {
        const ssize_t count = ::write(m_fd, data.data(), data.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return fail(count == 0 ? EIO : errno);
        }
        data.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

bool ReplacingFile::sync() {
    if (m_fd < 0) {
        return fail(EBADF);
    }
    return ::fsync(m_fd) == 0 || fail(errno);
}

bool ReplacingFile::commit() {
    if (!sync()) {
        return false;
    }
    std::string linked;
    if (m_unnamed) {
        // A link cannot replace a name: link under a unique one, then rename that over.
        for (int attempt = 0; attempt < kLinkAttempts && linked.empty(); ++attempt) {
            std::string name = hiddenPrefix(m_target) + uniqueChars();
            if (::linkat(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, name.c_str(),
                         AT_SYMLINK_FOLLOW) == 0) {
                linked = std::move(name);
            } else if (errno != EEXIST) {
                return fail(errno);
            }
        }
        if (linked.empty()) {
            return fail(EEXIST);
        }
    } else {
        linked = m_temporary;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 || std::rename(linked.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        ::unlink(linked.c_str());
        m_temporary.clear();
        return fail(error);
    }
    m_temporary.clear();
    return true;
}

void ReplacingFile::abandon() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_unnamed && !m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
    m_temporary.clear();
    m_unnamed = false;
}

bool ReplacingFile::fail(int errorNumber) {
    m_errorNumber = errorNumber;
    m_error = m_target + ": " + systemErrorText(errorNumber);
    return false;
}

std::string HiddenNameBeside(const std::string& target) {
    for (;;) {
        std::string name = hiddenPrefix(target) + uniqueChars();
        struct stat status {};
        if (::lstat(name.c_str(), &status) != 0 && errno == ENOENT) {
            return name;
        }
    }
}

bool CanCreateFile(const std::string& target, std::string& problem) {
    if (isDirectory(target)) {
        problem = FileProblem(target, EISDIR);
        return false;
    }
    ReplacingFile probe(target);
    if (!probe.create()) {
        problem = FileProblem(target, probe.errorNumber());
        return false;
    }
    probe.abandon();
    return true;
}

std::string FileProblem(const std::string& target, int errorNumber) {
    const std::string folder = folderOf(target);
    std::string reason;
    switch (errorNumber) {
        case ENOENT:
        case ENOTDIR:
            reason = isDirectory(folder) ? "files cannot be made in the folder " + folder
                                         : "the folder " + folder + " does not exist";
            break;
        case EACCES:
        case EPERM:
            reason = "there is no permission to write in the folder " + folder;
            break;
        case EROFS:
            reason = "the folder " + folder + " is on a disk that is read-only";
            break;
        case ENOSPC:
        case EDQUOT:
            reason = "the disk is full";
            break;
        case EISDIR:
            reason = "a folder has that name";
            break;
        case ENAMETOOLONG:
            reason = "the name is too long";
            break;
        case EOPNOTSUPP:
        case EINVAL:
            reason = "files cannot be made in the folder " + folder;
            break;
        default:
            return "The file " + target + " cannot be written: " + systemErrorText(errorNumber) +
                   ".";
    }
    return "The file " + target + " cannot be written: " + reason + " (" +
           systemErrorText(errorNumber) + ").";
}

}  // namespace paginor
