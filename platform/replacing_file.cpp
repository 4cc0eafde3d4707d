#include "platform/replacing_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <mutex>

#include "platform/detail/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

constexpr std::string_view kMark = ".paginor-";
constexpr std::size_t kUniqueChars = 6;
// Tries at a unique name: a clash of six random characters is rare, and a folder that makes
// every try fail must not hold the program for ever.
constexpr int kNameAttempts = 100;
// Links followed from the target to the file it names, as the kernel follows them.
constexpr int kMaxLinks = 40;
constexpr long kUsualNameMax = 255;

std::atomic<bool> g_namedOnly{false};
std::mutex g_observerMutex;
std::function<void(std::string_view)> g_observer;

void observe(std::string_view step, const std::string& path) {
    std::lock_guard lock(g_observerMutex);
    if (g_observer) {
        g_observer(std::string(step) + " " + path);
    }
}

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

// The longest name the folder takes; the usual limit where the folder cannot tell.
long nameMaxOf(const std::string& folder) {
    const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? max : kUsualNameMax;
}

// "<folder>/.<name>.paginor-": the hidden names this class writes under, the name cut (never
// inside a character) so that the whole hidden name fits in nameMax bytes.
std::string hiddenPrefix(const std::string& target, long nameMax) {
    const std::string folder = folderOf(target);
    std::string name = nameOf(target);
    const long fixed = static_cast<long>(1 + kMark.size() + kUniqueChars);
    const std::size_t room = nameMax > fixed ? static_cast<std::size_t>(nameMax - fixed) : 0;
    if (name.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        name.resize(cut);
    }
    return (folder == "/" ? "" : folder) + "/." + name + std::string(kMark);
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

// The file that path names once its symbolic links are followed; errno ELOOP for a chain that
// does not end. A link to a file that does not exist yet names that file.
bool followLinks(const std::string& path, std::string& final, int& error) {
    std::string current = path;
    for (int links = 0;; ++links) {
        struct stat status {};
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            // Whatever else stands in the way is met when the file is made.
            final = std::move(current);
            return true;
        }
        if (links == kMaxLinks) {
            error = ELOOP;
            return false;
        }
        std::string text(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), text.data(), text.size());
        if (length < 0) {
            error = errno;
            return false;
        }
        if (static_cast<std::size_t>(length) >= text.size()) {
            error = ENAMETOOLONG;
            return false;
        }
        text.resize(static_cast<std::size_t>(length));
        if (text.empty()) {
            error = ENOENT;
            return false;
        }
        if (text.front() != '/') {
            const std::string folder = folderOf(current);
            text = (folder == "/" ? "" : folder) + "/" + text;
        }
        current = std::move(text);
    }
}

// A new file's permission bits before the umask.
mode_t creationMode(FileMode mode) {
    switch (mode) {
        case FileMode::Private:
            return 0600;
        case FileMode::PrivateProgram:
            return 0700;
        case FileMode::Usual:
            break;
    }
    return 0666;
}

// Makes the rename that gave a file its name durable; the file's data already is.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        observe("sync folder", folder);
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

namespace detail {

void useNamedTemporaryFiles(bool named) {
    g_namedOnly = named;
}

void observeDurableSteps(std::function<void(std::string_view)> observer) {
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

}  // namespace detail

bool ReplacingFile::create() {
    abandon();
    m_error.clear();
    if (m_target.empty()) {
        return fail(ENOENT);
    }
    int error = 0;
    if (!followLinks(m_target, m_final, error)) {
        return fail(error);
    }
    const std::string folder = folderOf(m_final);
    m_nameMax = nameMaxOf(folder);
    if (static_cast<long>(nameOf(m_final).size()) > m_nameMax || m_final.size() >= PATH_MAX) {
        return fail(ENAMETOOLONG);
    }
    struct stat replaced {};
    m_replacing = ::stat(m_final.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode);
    m_keptMode = static_cast<unsigned>(replaced.st_mode & 0777);
    m_keptGroup = static_cast<unsigned>(replaced.st_gid);
    if (!createUnnamed(folder) && (m_errorNumber != 0 || !createNamed(folder))) {
        return false;
    }
    if (!applyMode()) {
        abandon();
        return false;
    }
    return true;
}

// False with no error recorded when the file system cannot hold unnamed files.
bool ReplacingFile::createUnnamed(const std::string& folder) {
    m_errorNumber = 0;
    if (g_namedOnly) {
        return false;
    }
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, creationMode(m_mode));
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
    return true;
}

bool ReplacingFile::createNamed(const std::string& folder) {
    removeStaleFiles(folder);
    const std::string prefix = hiddenPrefix(m_final, m_nameMax);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = prefix + uniqueChars();
        // Made by open with the mode, so that the umask applies as to any new file.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              creationMode(m_mode));
        if (fd >= 0) {
            m_fd = fd;
            m_unnamed = false;
            m_temporary = std::move(name);
            // The lock tells a later cleaning that the file is in use.
            ::flock(m_fd, LOCK_EX | LOCK_NB);
            return true;
        }
        if (errno != EEXIST) {
            return fail(errno);
        }
    }
    return fail(EEXIST);
}

// A replaced file's group first: giving a file another group may clear bits of its mode.
bool ReplacingFile::applyMode() {
    if (m_mode != FileMode::Usual) {
        return ::fchmod(m_fd, creationMode(m_mode)) == 0 || fail(errno);
    }
    if (!m_replacing) {
        return true;
    }
    // Where the user is not of the replaced file's group, the new file keeps the user's own.
    if (::fchown(m_fd, static_cast<uid_t>(-1), static_cast<gid_t>(m_keptGroup)) != 0) {
        struct stat made {};
        if (::fstat(m_fd, &made) == 0 && made.st_gid != m_keptGroup) {
            // The group the file has now gets no more than everybody had before.
            const unsigned others = m_keptMode & S_IRWXO;
            m_keptMode = (m_keptMode & ~static_cast<unsigned>(S_IRWXG)) |
                         (m_keptMode & S_IRWXG & (others << 3));
        }
    }
    return ::fchmod(m_fd, static_cast<mode_t>(m_keptMode)) == 0 || fail(errno);
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
    observe("sync", m_final);
    return ::fsync(m_fd) == 0 || fail(errno);
}

bool ReplacingFile::commit() {
    return commit(nullptr);
}

bool ReplacingFile::commit(const std::function<bool()>& keep) {
    if (!sync()) {
        return false;
    }
    if (keep && !keep()) {
        abandon();
        m_error.clear();
        m_errorNumber = 0;
        return false;
    }
    std::string linked;
    if (m_unnamed) {
        // A link cannot replace a name: link under a unique one, then rename that over.
        const std::string prefix = hiddenPrefix(m_final, m_nameMax);
        for (int attempt = 0; attempt < kNameAttempts && linked.empty(); ++attempt) {
            std::string name = prefix + uniqueChars();
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
    observe("rename", m_final);
    if (::close(fd) != 0 || ::rename(linked.c_str(), m_final.c_str()) != 0) {
        const int error = errno;
        ::unlink(linked.c_str());
        m_temporary.clear();
        m_unnamed = false;
        return fail(error);
    }
    m_temporary.clear();
    m_unnamed = false;
    syncFolder(folderOf(m_final));
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
        case ENAMETOOLONG: {
            const std::size_t bytes = nameOf(target).size();
            const long max = nameMaxOf(folder);
            reason = static_cast<long>(bytes) > max
                         ? "the name takes " + std::to_string(bytes) + " bytes, more than the " +
                               std::to_string(max) + " the folder " + folder + " takes"
                         : "the name is too long";
            break;
        }
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
