#include "convert/write/spill_file.h"

#include <algorithm>
#include <stdexcept>

namespace paginor {

SpillFile::SpillFile(std::string what) : m_what(std::move(what)) {}

void SpillFile::Spill(std::string& text, SpilledPieces& pieces) {
    if (!m_file) {
        m_file.reset(std::tmpfile());
        if (!m_file) {
            throw std::runtime_error("no temporary file for the workbook's " + m_what);
        }
    }
    if (std::fseek(m_file.get(), 0, SEEK_END) != 0 ||
        std::fwrite(text.data(), 1, text.size(), m_file.get()) != text.size()) {
        throw std::runtime_error("the workbook's temporary " + m_what + " cannot be written");
    }
    pieces.emplace_back(m_size, static_cast<std::int64_t>(text.size()));
    m_size += static_cast<std::int64_t>(text.size());
    text.clear();
    text.shrink_to_fit();
}

void SpillFile::ReadBack(const SpilledPieces& pieces, std::size_t blockBytes,
                         const std::function<void(std::string_view)>& sink) {
    for (const auto& [offset, length] : pieces) {
        for (std::int64_t done = 0; done < length;) {
            const std::int64_t size =
                std::min<std::int64_t>(length - done, static_cast<std::int64_t>(blockBytes));
            m_block.resize(static_cast<std::size_t>(size));
            if (std::fseek(m_file.get(), static_cast<long>(offset + done), SEEK_SET) != 0 ||
                std::fread(m_block.data(), 1, m_block.size(), m_file.get()) != m_block.size()) {
                throw std::runtime_error("the workbook's temporary " + m_what +
                                         " cannot be read back");
            }
            sink(m_block);
            done += size;
        }
    }
}

}  // namespace paginor
