#pragma once

#include <cstdint>
#include <string>

namespace paginor {

// A file opened for reading by offset. The descriptor stays open until close() or destruction,
// so a loaded report keeps reading the same file even if its path is replaced or removed.
class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;

    // On failure returns false and sets error to "<path>: <system text>"; errorNumber() tells why.
    bool open(const std::string& path, std::string& error);
    // The same for a regular file only, whose open never waits: a FIFO, a device or a folder
    // fails with "<path>: not a regular file" (errorNumber() EISDIR for a folder, else ENODEV).
    bool openRegular(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    std::int64_t size() const { return m_size; }
    int errorNumber() const { return m_errno; }

    // Reads up to length bytes at offset, retrying short reads; returns the count read
    // (less only at the end of the file) or -1 on a read error.
    std::int64_t readAt(std::int64_t offset, char* destination, std::int64_t length);
    // The same, safe from several threads at once; errorNumber() does not change.
    std::int64_t readShared(std::int64_t offset, char* destination, std::int64_t length) const;

private:
    bool openWith(const std::string& path, int flags, bool regularOnly, std::string& error);

    int m_fd = -1;
    std::int64_t m_size = 0;
    int m_errno = 0;
};

// Reads a whole file into text; false with error "<path>: <system text>" on failure.
bool readWholeFile(const std::string& path, std::string& contents, std::string& error);

}  // namespace paginor
