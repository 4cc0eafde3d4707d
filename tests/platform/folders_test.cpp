#include "platform/folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace paginor {
namespace {

class FoldersTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/paginor-folders-XXXXXX";
        m_root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_root + "/config/").c_str(), 1);
        setenv("XDG_CACHE_HOME", "relative/ignored", 1);
        setenv("HOME", (m_root + "/home").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CACHE_HOME");
        std::string command = "rm -rf '" + m_root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    std::string m_root;
};

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(FoldersTest, XdgFoldersAreCreatedOnDemand) {
    EXPECT_EQ(appDataFolder(), m_root + "/data/paginor");
    EXPECT_EQ(configFolder(), m_root + "/config/paginor");
    // A relative XDG value is not valid and falls back to the folder under home.
    EXPECT_EQ(cacheFolder(), m_root + "/home/.cache/paginor");
    EXPECT_TRUE(isFolder(m_root + "/data/paginor"));
    EXPECT_TRUE(isFolder(m_root + "/home/.cache/paginor"));
}

TEST_F(FoldersTest, TempFolderHonoursTmpdir) {
    setenv("TMPDIR", (m_root + "/").c_str(), 1);
    EXPECT_EQ(tempFolder(), m_root);
    setenv("TMPDIR", "/nonexistent/paginor", 1);
    EXPECT_NE(tempFolder(), "/nonexistent/paginor");
    unsetenv("TMPDIR");
}

TEST_F(FoldersTest, PrivateTempFolderIsTheUsersAlone) {
    setenv("TMPDIR", m_root.c_str(), 1);
    const std::string folder = privateTempFolder();
    EXPECT_EQ(folder, m_root + "/paginor-" + std::to_string(geteuid()));
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A folder that others may write to is not taken.
    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    EXPECT_EQ(privateTempFolder(), "");
    unsetenv("TMPDIR");
}

TEST(Folders, ExecutableFolderIsAbsolute) {
    std::string folder = executableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
}

}  // namespace
}  // namespace paginor
