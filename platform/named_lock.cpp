#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/folders.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr int kPollMs = 10;

bool privateFolder(const std::string& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0077) == 0;
}

}  // namespace

NamedLock::~NamedLock() {
    release();
}

std::string NamedLock::lockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        const std::string folder = std::string(runtime) + "/paginor";
        if ((::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) && privateFolder(folder)) {
            return folder;
        }
    }
    return privateTempFolder();
}

NamedLock::Result NamedLock::tryAcquire(const std::string& name, int waitMs) {
    release();
    m_error.clear();
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        m_error = "Invalid lock name \"" + name + "\"";
        return Result::Error;
    }
    const std::string folder = lockFolder();
    if (folder.empty()) {
        m_error = "No private folder for lock files";
        return Result::Error;
    }
    const std::string path = folder + "/" + name.substr(0, kMaxNameBytes);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        m_error = path + ": " + systemErrorText(errno);
        return Result::Error;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return Result::Acquired;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_error = path + ": " + systemErrorText(errno);
            ::close(fd);
            return Result::Error;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Result::Busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

void NamedLock::release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace paginor
