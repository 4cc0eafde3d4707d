#pragma once

// The writers keep their sheets until the end of an export, because what comes before the sheets
// names or counts them; sheet text that grows moves to one unnamed file in the temporary folder,
// which goes with the process, so memory stays that of the batches in flight however long the
// report is.

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/scratch_file.h"

namespace paginor {

// The temporary file cannot be made, written or read: the disk's fault, not the report's. The
// text names the folder and the reason, a full disk in words.
class SpillFileError : public std::runtime_error {
public:
    SpillFileError(const std::string& text, int errorNumber)
        : std::runtime_error(text), m_errorNumber(errorNumber) {}
    int errorNumber() const { return m_errorNumber; }

private:
    int m_errorNumber;
};

// The pieces of one text moved out to the file: (offset, length), in order.
using SpilledPieces = std::vector<std::pair<std::int64_t, std::int64_t>>;

class SpillFile {
public:
    // what names the text in failures ("rows", "sheets").
    explicit SpillFile(std::string what);
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Appends text to the file and empties it; throws SpillFileError when that fails.
    void Spill(std::string& text, SpilledPieces& pieces);
    // The same, leaving text as it is.
    void Append(std::string_view text, SpilledPieces& pieces);
    // Hands the pieces back in order, in blocks of at most blockBytes.
    void ReadBack(const SpilledPieces& pieces, std::size_t blockBytes,
                  const std::function<void(std::string_view)>& sink);

private:
    [[noreturn]] void fail(const std::string& doing, int errorNumber) const;

    std::string m_what;
    ScratchFile m_file;
    std::int64_t m_size = 0;
    std::string m_block;
};

}  // namespace paginor
