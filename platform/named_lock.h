#pragma once

#include <string>

namespace paginor {

// A lock shared by name between the user's processes: an exclusive flock on a file of that name
// in the user's runtime folder. The kernel drops it when its holder dies, so a lock is never left
// behind by a crashed process.
class NamedLock {
public:
    enum class Result { Acquired, Busy, Error };
    static constexpr std::size_t kMaxNameBytes = 200;

    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Tries for at most waitMs milliseconds. Names hold no '/'; longer names are cut.
    Result tryAcquire(const std::string& name, int waitMs);
    void release();
    bool held() const { return m_fd >= 0; }
    // Why the last tryAcquire gave Error.
    const std::string& error() const { return m_error; }

    // The folder of the lock files: $XDG_RUNTIME_DIR/paginor, else the private temp folder.
    static std::string lockFolder();

private:
    int m_fd = -1;
    std::string m_error;
};

}  // namespace paginor
