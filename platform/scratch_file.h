#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// A file of the process's own in a folder, for text that does not fit in memory: it has no name
// where the file system allows, else a unique name that is removed at once, so that it goes with
// the process however that ends. Read and written by offset; nobody else sees it.
class ScratchFile {
public:
    ScratchFile() = default;
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // False with errorNumber() when no such file can be made in folder.
    bool open(const std::string& folder);
    bool isOpen() const { return m_fd >= 0; }
    // Writes all of data at offset; false with errorNumber() (ENOSPC for a disk that takes
    // nothing more).
    bool writeAt(std::int64_t offset, std::string_view data);
    // Reads length bytes at offset; false with errorNumber() (EIO for a file shorter than that).
    bool readAt(std::int64_t offset, char* destination, std::int64_t length);
    int errorNumber() const { return m_errorNumber; }

private:
    bool fail(int errorNumber);

    int m_fd = -1;
    int m_errorNumber = 0;
};

}  // namespace paginor
