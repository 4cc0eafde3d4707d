#include "platform/named_lock.h"

#include "platform/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace paginor {
namespace {

// Each test keeps its lock files in a folder of its own.
class NamedLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/paginor-lock-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_hadOld = old != nullptr;
        if (m_hadOld) {
            m_old = old;
        }
        setenv("XDG_RUNTIME_DIR", m_folder.c_str(), 1);
    }
    void TearDown() override {
        if (m_hadOld) {
            setenv("XDG_RUNTIME_DIR", m_old.c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        EXPECT_EQ(std::system(("rm -rf '" + m_folder + "'").c_str()), 0);
    }
    std::string m_folder;
    std::string m_old;
    bool m_hadOld = false;
};

TEST_F(NamedLockTest, SecondHolderIsBusyUntilTheFirstReleases) {
    NamedLock first;
    NamedLock second;
    EXPECT_EQ(first.tryAcquire("PAGINORQueue-A", 100), NamedLock::Result::Acquired);
    EXPECT_TRUE(first.held());
    EXPECT_EQ(second.tryAcquire("PAGINORQueue-A", 30), NamedLock::Result::Busy);
    EXPECT_FALSE(second.held());
    // Another name is another lock.
    EXPECT_EQ(second.tryAcquire("PAGINORQueue-B", 30), NamedLock::Result::Acquired);
    first.release();
    EXPECT_EQ(second.tryAcquire("PAGINORQueue-A", 30), NamedLock::Result::Acquired);
    struct stat st {};
    ASSERT_EQ(stat((m_folder + "/paginor").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(NamedLockTest, LockOfADeadProcessIsFree) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NamedLock lock;
        // Ends holding the lock, without releasing it.
        _exit(lock.tryAcquire("PAGINORdead", 100) == NamedLock::Result::Acquired ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    NamedLock lock;
    EXPECT_EQ(lock.tryAcquire("PAGINORdead", 30), NamedLock::Result::Acquired);
}

TEST_F(NamedLockTest, BadNamesAreRefused) {
    for (const std::string name : {"", ".", "..", "a/b"}) {
        NamedLock lock;
        EXPECT_EQ(lock.tryAcquire(name, 10), NamedLock::Result::Error) << name;
        EXPECT_FALSE(lock.error().empty());
    }
}

TEST_F(NamedLockTest, WithoutARuntimeFolderTheLocksLiveInThePrivateTempFolder) {
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(NamedLock::lockFolder(), privateTempFolder());
    setenv("XDG_RUNTIME_DIR", "relative/folder", 1);
    EXPECT_EQ(NamedLock::lockFolder(), privateTempFolder());
}

}  // namespace
}  // namespace paginor
