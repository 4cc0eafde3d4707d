#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/sys_error.h"

namespace paginor {

ReadOnlyFile::~ReadOnlyFile() {
    close();
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_size(std::exchange(other.m_size, 0)),
      m_errno(other.m_errno) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_size = std::exchange(other.m_size, 0);
        m_errno = other.m_errno;
    }
    return *this;
}

bool ReadOnlyFile::open(const std::string& path, std::string& error) {
    return openWith(path, O_RDONLY | O_CLOEXEC, false, error);
}

bool ReadOnlyFile::openRegular(const std::string& path, std::string& error) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    return openWith(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, true, error);
}

bool ReadOnlyFile::openWith(const std::string& path, int flags, bool regularOnly,
                            std::string& error) {
    close();
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        m_errno = errno;
        error = path + ": " + systemErrorText(m_errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        m_errno = errno;
        ::close(fd);
        error = path + ": " + systemErrorText(m_errno);
        return false;
    }
    if (regularOnly && !S_ISREG(st.st_mode)) {
        m_errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        ::close(fd);
        error = path + ": not a regular file";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        m_errno = EISDIR;
        ::close(fd);
        error = path + ": " + systemErrorText(m_errno);
        return false;
    }
    m_fd = fd;
    m_size = st.st_size;
    m_errno = 0;
    return true;
}

void ReadOnlyFile::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_size = 0;
}

std::int64_t ReadOnlyFile::readAt(std::int64_t offset, char* destination, std::int64_t length) {
    const std::int64_t done = readShared(offset, destination, length);
    if (done < 0) {
        m_errno = errno;
    }
    return done;
}

std::int64_t ReadOnlyFile::readShared(std::int64_t offset, char* destination,
                                      std::int64_t length) const {
    std::int64_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(m_fd, destination + done, static_cast<size_t>(length - done),
                            static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

bool readWholeFile(const std::string& path, std::string& contents, std::string& error) {
    ReadOnlyFile file;
    if (!file.open(path, error)) {
        return false;
    }
    contents.resize(static_cast<std::size_t>(file.size()));
    std::int64_t n = file.readAt(0, contents.data(), file.size());
    if (n < 0) {
        error = path + ": " + systemErrorText(file.errorNumber());
        return false;
    }
    contents.resize(static_cast<std::size_t>(n));
    return true;
}

}  // namespace paginor
