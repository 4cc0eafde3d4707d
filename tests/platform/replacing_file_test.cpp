#include "platform/replacing_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/detail/replacing_file.h"
#include "tests/core/temp_dir.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Sets a file's times a minute back, as if it had been left alone that long.
void age(const std::string& path) {
    const timespec times[2] = {{std::time(nullptr) - 60, 0}, {std::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Each test runs once with unnamed files, as the file system allows here, and once with the
// hidden names of file systems that do not.
class ReplacingFileTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { detail::useNamedTemporaryFiles(GetParam()); }
    void TearDown() override { detail::useNamedTemporaryFiles(false); }
    bool named() const { return GetParam(); }

    // A writer in a child process killed with SIGKILL after it wrote into target.
    void killWriterOf(const std::string& target) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ReplacingFile file(target);
            const bool made = file.create() && file.write("half of a workbook");
            const char answer = made ? 'y' : 'n';
            if (::write(ready[1], &answer, 1) != 1 || !made) {
                ::_exit(1);
            }
            for (;;) {
                ::pause();
            }
        }
        ::close(ready[1]);
        char answer = 0;
        EXPECT_EQ(::read(ready[0], &answer, 1), 1);
        ::close(ready[0]);
        EXPECT_EQ(answer, 'y');
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status));
    }

    TempDir m_dir;
};

INSTANTIATE_TEST_SUITE_P(Modes, ReplacingFileTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST_P(ReplacingFileTest, TheTargetChangesOnlyAtCommit) {
    const std::string target = m_dir.write("t.xls", "old");
    for (const char* text : {"new", "newer"}) {
        ReplacingFile file(target);
        ASSERT_TRUE(file.create()) << file.error();
        ASSERT_TRUE(file.write(text));
        EXPECT_EQ(readText(target), "old");
        // An unnamed file is nowhere to be seen while it is written.
        EXPECT_EQ(entries(m_dir.path()).size(), named() ? 2u : 1u);
        ASSERT_TRUE(file.commit()) << file.error();
        EXPECT_EQ(readText(target), text);
        EXPECT_EQ(entries(m_dir.path()), std::vector<std::string>{"t.xls"});
        EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::others_read);
        m_dir.write("t.xls", "old");
    }
    ReplacingFile fresh(m_dir.path() + "/new.xls");
    ASSERT_TRUE(fresh.create());
    ASSERT_TRUE(fresh.write("made"));
    ASSERT_TRUE(fresh.commit());
    EXPECT_EQ(readText(m_dir.path() + "/new.xls"), "made");
    EXPECT_EQ(entries(m_dir.path()), (std::vector<std::string>{"new.xls", "t.xls"}));
}

TEST_P(ReplacingFileTest, AbandonedFilesLeaveTheTargetAsItWas) {
    const std::string target = m_dir.write("t.xls", "old");
    {
        ReplacingFile file(target);
        ASSERT_TRUE(file.create());
        ASSERT_TRUE(file.write("partial"));
        file.abandon();
        EXPECT_FALSE(file.commit());
    }
    {
        ReplacingFile dropped(target);
        ASSERT_TRUE(dropped.create());
        ASSERT_TRUE(dropped.write("partial"));
    }
    EXPECT_EQ(readText(target), "old");
    EXPECT_EQ(entries(m_dir.path()), std::vector<std::string>{"t.xls"});
}

// A writer that opens the file by name itself, as the workbook library does.
TEST_P(ReplacingFileTest, TheTemporaryPathOpensTheFileBeingWritten) {
    const std::string target = m_dir.write("t.xlsx", "old");
    ReplacingFile file(target);
    ASSERT_TRUE(file.create());
    std::FILE* other = std::fopen(file.temporaryPath().c_str(), "wb");
    ASSERT_NE(other, nullptr) << file.temporaryPath();
    EXPECT_EQ(std::fputs("written by name", other), 1);
    EXPECT_EQ(std::fclose(other), 0);
    EXPECT_EQ(readText(target), "old");
    ASSERT_TRUE(file.commit()) << file.error();
    EXPECT_EQ(readText(target), "written by name");
    EXPECT_EQ(entries(m_dir.path()), std::vector<std::string>{"t.xlsx"});
}

TEST_P(ReplacingFileTest, AKilledWriterLeavesNothingBesideTheTarget) {
    const std::string target = m_dir.write("t.xls", "old");
    killWriterOf(target);
    EXPECT_EQ(readText(target), "old");
    std::vector<std::string> left = entries(m_dir.path());
    if (named()) {
        // What it left is removed when the next file is made in that folder, once it is clear
        // that nobody writes it any more.
        ASSERT_EQ(left.size(), 2u);
        const std::string stale = m_dir.path() + "/" + left[0];
        ReplacingFile early(m_dir.path() + "/other.xls");
        ASSERT_TRUE(early.create());
        EXPECT_TRUE(fs::exists(stale));
        early.abandon();
        age(stale);
        left = entries(m_dir.path());
    }
    ReplacingFile next(m_dir.path() + "/next.xls");
    ASSERT_TRUE(next.create());
    ASSERT_TRUE(next.write("next"));
    ASSERT_TRUE(next.commit());
    EXPECT_EQ(entries(m_dir.path()), (std::vector<std::string>{"next.xls", "t.xls"}));
}

TEST_P(ReplacingFileTest, AFileInUseIsNeverTakenForALeftOne) {
    const std::string target = m_dir.write("t.xls", "old");
    ReplacingFile slow(target);
    ASSERT_TRUE(slow.create());
    ASSERT_TRUE(slow.write("slow"));
    if (named()) {
        age(slow.temporaryPath());
    }
    ReplacingFile other(m_dir.path() + "/other.xls");
    ASSERT_TRUE(other.create());
    ASSERT_TRUE(other.commit());
    ASSERT_TRUE(slow.commit()) << slow.error();
    EXPECT_EQ(readText(target), "slow");
}

TEST(CanCreateFile, SaysWhichFileAndWhatStandsInTheWay) {
    TempDir dir;
    ::mkdir((dir.path() + "/folder").c_str(), 0755);
    struct Case {
        std::string target;
        bool can;
        std::string problem;
    };
    const Case cases[] = {
        {dir.path() + "/r.xls", true, ""},
        {"/proc/x.xls", false,
         "The file /proc/x.xls cannot be written: files cannot be made in the folder /proc "
         "(No such file or directory)."},
        {dir.path() + "/none/r.xls", false,
         "The file " + dir.path() + "/none/r.xls cannot be written: the folder " + dir.path() +
             "/none does not exist (No such file or directory)."},
        {dir.path() + "/folder", false,
         "The file " + dir.path() +
             "/folder cannot be written: a folder has that name (Is a "
             "directory)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        std::string problem;
        EXPECT_EQ(CanCreateFile(c.target, problem), c.can);
        EXPECT_EQ(problem, c.problem);
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"folder"});
    EXPECT_EQ(FileProblem("/mnt/full/r.xls", ENOSPC),
              "The file /mnt/full/r.xls cannot be written: the disk is full (No space left on "
              "device).");
}

}  // namespace
}  // namespace paginor
