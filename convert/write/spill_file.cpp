#include "convert/write/spill_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/folders.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

// An unnamed file in folder: O_TMPFILE where the file system has it, else a unique name removed
// at once.
int openUnnamed(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    std::string name = folder + "/paginor-spill-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0) {
        ::unlink(name.c_str());
    }
    return named;
}

}  // namespace

SpillFile::SpillFile(std::string what) : m_what(std::move(what)) {}

SpillFile::~SpillFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void SpillFile::fail(const std::string& doing, int errorNumber) const {
    throw std::runtime_error("the workbook's temporary " + m_what + " in " + tempFolder() +
                             " cannot be " + doing + ": " + systemErrorText(errorNumber));
}

void SpillFile::Spill(std::string& text, SpilledPieces& pieces) {
    Append(text, pieces);
    text.clear();
    text.shrink_to_fit();
}

void SpillFile::Append(std::string_view text, SpilledPieces& pieces) {
    if (m_fd < 0) {
        m_fd = openUnnamed(tempFolder());
        if (m_fd < 0) {
            fail("made", errno);
        }
    }
    std::string_view rest(text);
    for (std::int64_t at = m_size; !rest.empty();) {
        const ssize_t n = ::pwrite(m_fd, rest.data(), rest.size(), at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("written", n == 0 ? ENOSPC : errno);
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    pieces.emplace_back(m_size, static_cast<std::int64_t>(text.size()));
    m_size += static_cast<std::int64_t>(text.size());
}

void SpillFile::ReadBack(const SpilledPieces& pieces, std::size_t blockBytes,
                         const std::function<void(std::string_view)>& sink) {
    for (const auto& [offset, length] : pieces) {
        for (std::int64_t done = 0; done < length;) {
            const std::int64_t size =
                std::min<std::int64_t>(length - done, static_cast<std::int64_t>(blockBytes));
            m_block.resize(static_cast<std::size_t>(size));
            std::size_t got = 0;
            while (got < m_block.size()) {
                const ssize_t n = ::pread(m_fd, m_block.data() + got, m_block.size() - got,
                                          offset + done + static_cast<std::int64_t>(got));
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    fail("read back", n == 0 ? EIO : errno);
                }
                got += static_cast<std::size_t>(n);
            }
            sink(m_block);
            done += size;
        }
    }
}

}  // namespace paginor
