#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// A file that takes the target's name only once it is complete. It is written in the target's
// folder without a name where the file system allows, so that it vanishes with the process
// however that ends; commit links it under a unique name and renames that over the target.
// Elsewhere it is written under a unique hidden name beside the target, locked while in use, and
// the next file made in that folder removes such names that nobody holds any more.
class ReplacingFile {
public:
    explicit ReplacingFile(std::string target) : m_target(std::move(target)) {}
    ~ReplacingFile() { abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool create();
    bool write(std::string_view data);
    bool write(const char* data, std::int64_t size) {
        return write(std::string_view(data, static_cast<std::size_t>(size)));
    }
    // Flushes what was written to the disk, the long part of a commit of a large file.
    bool sync();
    // Flushes to the disk, then puts the file under the target's name.
    bool commit();
    // Drops what was written; the target stays as it was.
    void abandon();
    // A name that opens the file being written, for writers that open it themselves; valid
    // between create and commit.
    const std::string& temporaryPath() const { return m_temporary; }
    // "<target>: <system text>" of the last failure.
    const std::string& error() const { return m_error; }
    // errno of the last failure.
    int errorNumber() const { return m_errorNumber; }

private:
    bool fail(int errorNumber);
    bool createUnnamed(const std::string& folder);
    bool createNamed(const std::string& folder);

    std::string m_target;
    std::string m_temporary;
    bool m_unnamed = false;
    std::string m_error;
    int m_errorNumber = 0;
    int m_fd = -1;
};

// A hidden name beside target that no file has now, of the form the cleaning of left files
// knows: for a writer that makes its file by name, before it takes the target's name.
std::string HiddenNameBeside(const std::string& target);

// Whether a file can be made at target now: its folder takes new files and no folder has the
// target's name. False with what stands in the way, in words a user reads:
// "<target> cannot be made: <reason> (<system text>)".
bool CanCreateFile(const std::string& target, std::string& problem);

// The reason behind a failure to make or write target, in words a user reads.
std::string FileProblem(const std::string& target, int errorNumber);

}  // namespace paginor
