#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace paginor {

// Who may use a file that ReplacingFile writes.
enum class FileMode {
    // A new file gets what the umask leaves of rw-rw-rw-; a replaced file keeps its mode, and
    // its group where the user may give it that group.
    Usual,
    // rw------- however it was before: files that hold secrets.
    Private,
    // rwx------: a program that only this user runs.
    PrivateProgram,
};

// The one way the program writes a file whole: it takes the target's name only once it is
// complete and on the disk. It is written in the target's folder without a name where the file
// system allows, so that it vanishes with the process however that ends; commit links it under a
// unique name and renames that over the target. Elsewhere it is written under a unique hidden
// name beside the target, locked while in use, and the next file made in that folder removes such
// names that nobody holds any more. Commit makes the file durable first and the rename after it,
// so that after a crash the target holds either its old or its new contents. A target that is a
// symbolic link keeps the link: the file the link names is replaced.
class ReplacingFile {
public:
    explicit ReplacingFile(std::string target, FileMode mode = FileMode::Usual)
        : m_target(std::move(target)), m_mode(mode) {}
    ~ReplacingFile() { abandon(); }
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Fails, among others, for a name longer than the target's folder takes.
    bool create();
    bool write(std::string_view data);
    bool write(const char* data, std::int64_t size) {
        return write(std::string_view(data, static_cast<std::size_t>(size)));
    }
    // Flushes what was written to the disk, the long part of a commit of a large file.
    bool sync();
    // Flushes to the disk, then puts the file under the target's name and makes that durable.
    bool commit();
    // The same, unless keep, asked once the file is on the disk, says no: then the file is
    // dropped, false is returned and error() stays empty.
    bool commit(const std::function<bool()>& keep);
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
    bool applyMode();

    std::string m_target;
    FileMode m_mode;
    // The file really replaced: the target, or the file its links lead to.
    std::string m_final;
    std::string m_temporary;
    bool m_unnamed = false;
    long m_nameMax = 0;
    bool m_replacing = false;
    unsigned m_keptMode = 0;
    unsigned m_keptGroup = 0;
    std::string m_error;
    int m_errorNumber = 0;
    int m_fd = -1;
};

// Whether a file can be made at target now: its folder takes new files, no folder has the
// target's name and the folder takes a name that long. False with what stands in the way, in
// words a user reads: "The file <target> cannot be written: <reason> (<system text>)."
bool CanCreateFile(const std::string& target, std::string& problem);

// The reason behind a failure to make or write target, in words a user reads.
std::string FileProblem(const std::string& target, int errorNumber);

}  // namespace paginor
