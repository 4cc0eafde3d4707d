#include "platform/scratch_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace paginor {

ScratchFile::~ScratchFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool ScratchFile::open(const std::string& folder) {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (m_fd >= 0) {
        return true;
    }
    // EISDIR: a kernel without unnamed files; EOPNOTSUPP: a file system without them.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return fail(errno);
    }
    std::string name = folder + "/paginor-spill-XXXXXX";
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0) {
        return fail(errno);
    }
    ::unlink(name.c_str());
    return true;
}

bool ScratchFile::writeAt(std::int64_t offset, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(m_fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n == 0 ? ENOSPC : errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += n;
    }
    return true;
}

bool ScratchFile::readAt(std::int64_t offset, char* destination, std::int64_t length) {
    std::int64_t got = 0;
    while (got < length) {
        const ssize_t n = ::pread(m_fd, destination + got, static_cast<std::size_t>(length - got),
                                  static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n == 0 ? EIO : errno);
        }
        got += n;
    }
    return true;
}

bool ScratchFile::fail(int errorNumber) {
    m_errorNumber = errorNumber;
    return false;
}

}  // namespace paginor
