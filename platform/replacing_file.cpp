#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/sys_error.h"

namespace paginor {

ReplacingFile::~ReplacingFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
    }
}

bool ReplacingFile::create() {
    if (m_target.empty()) {
        return fail(ENOENT);
    }
    std::string name = m_target + ".XXXXXX";
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0) {
        return fail(errno);
    }
    m_temporary = std::move(name);
    return ::fchmod(m_fd, 0644) == 0 || fail(errno);
}

bool ReplacingFile::write(std::string_view data) {
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

bool ReplacingFile::commit() {
    if (::fsync(m_fd) != 0) {
        return fail(errno);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        return fail(errno);
    }
    if (std::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
        return fail(errno);
    }
    m_temporary.clear();
    return true;
}

bool ReplacingFile::fail(int errorNumber) {
    m_errorNumber = errorNumber;
    m_error = m_target + ": " + systemErrorText(errorNumber);
    return false;
}

}  // namespace paginor
