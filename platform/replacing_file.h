#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// A file that takes the target's name only once it is complete: it is written under a unique name
// beside the target (created exclusively) and renamed over it at commit; until then the
// destructor removes it, so the target never names a partial file.
class ReplacingFile {
public:
    explicit ReplacingFile(std::string target) : m_target(std::move(target)) {}
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool create();
    bool write(std::string_view data);
    bool write(const char* data, std::int64_t size) {
        return write(std::string_view(data, static_cast<std::size_t>(size)));
    }
    // Flushes to the disk before the rename.
    bool commit();
    // The unique name written until commit, for writers that open the file themselves.
    const std::string& temporaryPath() const { return m_temporary; }
    // "<target>: <system text>" of the last failure.
    const std::string& error() const { return m_error; }
    // errno of the last failure.
    int errorNumber() const { return m_errorNumber; }

private:
    bool fail(int errorNumber);

    std::string m_target;
    std::string m_temporary;
    std::string m_error;
    int m_errorNumber = 0;
    int m_fd = -1;
};

}  // namespace paginor
