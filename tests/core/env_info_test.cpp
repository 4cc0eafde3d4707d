#include "core/env_info.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/folders.h"
#include "platform/sys_error.h"
#include "platform/user_info.h"

namespace paginor {
namespace {

// ---------------------------------------------------------------------------------------------
// FormatSystemError

TEST(FormatSystemError, StringFormIsErrorNumberAndSystemText) {
    EXPECT_EQ(FormatSystemError(ENOENT), "Error (2): " + systemErrorText(ENOENT));
    EXPECT_EQ(FormatSystemError(EACCES), "Error (13): " + systemErrorText(EACCES));
}

TEST(FormatSystemError, ZeroMeansTheThreadsErrno) {
    errno = EACCES;
    EXPECT_EQ(FormatSystemError(0), "Error (13): " + systemErrorText(EACCES));
    char buffer[256];
    errno = ENOENT;
    FormatSystemError(buffer, sizeof buffer, 0);
    EXPECT_EQ(std::string(buffer), "Error (2): " + systemErrorText(ENOENT));
}

TEST(FormatSystemError, BufferReceivesTheWholeTextWhenItFits) {
    char buffer[512];
    std::memset(buffer, 'X', sizeof buffer);
    FormatSystemError(buffer, sizeof buffer, ENOENT);
    EXPECT_EQ(std::string(buffer), FormatSystemError(ENOENT));
}

TEST(FormatSystemError, TextIsCutToTheBufferAndNulTerminated) {
    const std::string whole = FormatSystemError(ENOENT);
    for (int size :
         {1, 2, 8, 12, static_cast<int>(whole.size()), static_cast<int>(whole.size()) + 1}) {
        char guard[64 + 512];
        std::memset(guard, 'X', sizeof guard);
        char* buffer = guard + 32;
        FormatSystemError(buffer, size, ENOENT);
        const std::size_t expected = std::min(whole.size(), static_cast<std::size_t>(size) - 1);
        EXPECT_EQ(std::string(buffer), whole.substr(0, expected)) << size;
        EXPECT_EQ(buffer[expected], '\0') << size;
        for (int i = 0; i < 32; ++i) {
            EXPECT_EQ(guard[i], 'X');
        }
        for (std::size_t i = 32 + static_cast<std::size_t>(size); i < sizeof guard; ++i) {
            ASSERT_EQ(guard[i], 'X') << size;
        }
    }
}

TEST(FormatSystemError, EightByteBuffer) {
    char buffer[8];
    FormatSystemError(buffer, sizeof buffer, ENOENT);
    EXPECT_STREQ(buffer, "Error (");
}

TEST(FormatSystemError, NoRoomWritesNothing) {
    char buffer[4] = {'a', 'b', 'c', '\0'};
    FormatSystemError(buffer, 0, ENOENT);
    FormatSystemError(buffer, -5, ENOENT);
    EXPECT_STREQ(buffer, "abc");
    FormatSystemError(nullptr, 100, ENOENT);  // must not crash
}

TEST(FormatSystemError, UnknownErrorNumberStillGivesText) {
    const std::string text = FormatSystemError(987654);
    EXPECT_EQ(text.rfind("Error (987654): ", 0), 0u) << text;
    EXPECT_GT(text.size(), std::strlen("Error (987654): "));
}

// ---------------------------------------------------------------------------------------------
// GetAppDataFolder

class AppDataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedDataHome = Save("XDG_DATA_HOME");
        m_savedHome = Save("HOME");
        char pattern[] = "/tmp/paginor-env-info-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        setenv("HOME", (m_root + "/home").c_str(), 1);
    }
    void TearDown() override {
        Restore("XDG_DATA_HOME", m_savedDataHome);
        Restore("HOME", m_savedHome);
        const std::string command = "rm -rf '" + m_root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    static std::optional<std::string> Save(const char* name) {
        const char* value = getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    static void Restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::string m_root;
    std::optional<std::string> m_savedDataHome;
    std::optional<std::string> m_savedHome;
};

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(AppDataFolderTest, IsPaginorsSubfolderOfTheXdgDataFolder) {
    setenv("XDG_DATA_HOME", (m_root + "/data").c_str(), 1);
    std::string folder = "old";
    EXPECT_TRUE(GetAppDataFolder(folder));
    EXPECT_EQ(folder, m_root + "/data/paginor");
    EXPECT_TRUE(IsFolder(folder));
}

TEST_F(AppDataFolderTest, FallsBackToTheHomeDataFolder) {
    unsetenv("XDG_DATA_HOME");
    std::string folder;
    EXPECT_TRUE(GetAppDataFolder(folder));
    EXPECT_EQ(folder, m_root + "/home/.local/share/paginor");
}

TEST_F(AppDataFolderTest, FallsBackToTheProgramsFolderWhenNoDataFolderCanBeHad) {
    setenv("XDG_DATA_HOME", "/dev/null", 1);  // not a folder: nothing can be created below it
    std::string folder;
    EXPECT_TRUE(GetAppDataFolder(folder));
    EXPECT_EQ(folder, executableFolder());
    EXPECT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(IsFolder(folder));
}

// ---------------------------------------------------------------------------------------------
// GetWindowsUserName and IsAdministratorUser

TEST(GetWindowsUserName, IsTheEffectiveUsersLoginName) {
    const std::string name = GetWindowsUserName();
    EXPECT_EQ(name, userName());
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr) {
        EXPECT_EQ(name, entry->pw_name);
    }
}

TEST(IsAdministratorUser, RootIsAnAdministrator) {
    EXPECT_EQ(IsAdministratorUser(), isAdministrator());
    if (geteuid() == 0) {
        EXPECT_TRUE(IsAdministratorUser());
    }
}

}  // namespace
}  // namespace paginor
