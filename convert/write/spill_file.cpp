#include "convert/write/spill_file.h"

#include <algorithm>
#include <cerrno>

#include "platform/folders.h"
#include "platform/sys_error.h"

namespace paginor {

SpillFile::SpillFile(std::string what) : m_what(std::move(what)) {}

SpillFile::~SpillFile() = default;

void SpillFile::fail(const std::string& doing, int errorNumber) const {
    const bool full = errorNumber == ENOSPC || errorNumber == EDQUOT;
    throw SpillFileError("The workbook's temporary " + m_what + " in " + tempFolder() +
                             " cannot be " + doing + ": " +
                             (full ? "the disk is full (" + systemErrorText(errorNumber) + ")"
                                   : systemErrorText(errorNumber)) +
                             ".",
                         errorNumber);
}

void SpillFile::Spill(std::string& text, SpilledPieces& pieces) {
    Append(text, pieces);
    text.clear();
    text.shrink_to_fit();
}

void SpillFile::Append(std::string_view text, SpilledPieces& pieces) {
    if (!m_file.isOpen() && !m_file.open(tempFolder())) {
        fail("made", m_file.errorNumber());
    }
    if (!m_file.writeAt(m_size, text)) {
        fail("written", m_file.errorNumber());
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
            if (!m_file.readAt(offset + done, m_block.data(), size)) {
                fail("read back", m_file.errorNumber());
            }
            sink(m_block);
            done += size;
        }
    }
}

}  // namespace paginor
