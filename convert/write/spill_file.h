#pragma once

// The writers keep their sheets until the end of an export, because what comes before the sheets
// names or counts them; sheet text that grows moves to one unnamed temporary file, so memory
// stays that of one batch however long the report is.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace paginor {

// The pieces of one text moved out to the file: (offset, length), in order.
using SpilledPieces = std::vector<std::pair<std::int64_t, std::int64_t>>;

class SpillFile {
public:
    // what names the text in failures ("rows", "sheets").
    explicit SpillFile(std::string what);

    // Appends text to the file and empties it; throws std::runtime_error when that fails.
    void Spill(std::string& text, SpilledPieces& pieces);
    // Hands the pieces back in order, in blocks of at most blockBytes.
    void ReadBack(const SpilledPieces& pieces, std::size_t blockBytes,
                  const std::function<void(std::string_view)>& sink);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    std::string m_what;
    std::unique_ptr<std::FILE, FileCloser> m_file;
    std::int64_t m_size = 0;
    std::string m_block;
};

}  // namespace paginor
