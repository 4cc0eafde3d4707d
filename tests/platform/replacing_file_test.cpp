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

// The umask of the process for the life of one object.
class Umask {
public:
    explicit Umask(mode_t mask) : m_before(::umask(mask)) {}
    ~Umask() { ::umask(m_before); }

private:
    mode_t m_before;
};

unsigned modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

bool replaceWith(const std::string& target, const std::string& text,
                 FileMode mode = FileMode::Usual) {
    ReplacingFile file(target, mode);
    const bool done = file.create() && file.write(text) && file.commit();
    EXPECT_TRUE(done) << file.error();
    return done;
}

// Every name the folder takes is written, its hidden names shortened to fit; bytes count, not
// characters.
TEST_P(ReplacingFileTest, NamesUpToTheFoldersLimitAreWritten) {
    const long max = ::pathconf(m_dir.path().c_str(), _PC_NAME_MAX);
    ASSERT_EQ(max, 255);
    std::string cjk;
    for (int i = 0; i < 80; ++i) {
        cjk += "\xE5\xA0\xB1";  // 報: three bytes, 80 of them 240 bytes
    }
    const std::string names[] = {
        std::string(200, 'a') + ".xls",     std::string(220, 'b') + ".xlsx",
        std::string(235, 'c') + ".xlsx",    std::string(236, 'd') + ".xls",
        std::string(250, 'e') + ".xlsx",    cjk + ".xlsx",
        cjk + std::string(10, 'f') + ".xls"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name.size());
        ASSERT_LE(name.size(), 255u);
        const std::string target = m_dir.path() + "/" + name;
        if (name.size() % 2 == 0) {
            m_dir.write(name, "old");
        }
        ASSERT_TRUE(replaceWith(target, "new"));
        EXPECT_EQ(readText(target), "new");
        ::unlink(target.c_str());
        EXPECT_TRUE(entries(m_dir.path()).empty());
    }
}

TEST_P(ReplacingFileTest, ANameLongerThanTheFolderTakesIsRefusedAtOnce) {
    std::string cjk;
    for (int i = 0; i < 85; ++i) {
        cjk += "\xE5\xA0\xB1";
    }
    for (const std::string& name : {std::string(256, 'a'), cjk + ".xlsx"}) {
        SCOPED_TRACE(name.size());
        const std::string target = m_dir.path() + "/" + name;
        ReplacingFile file(target);
        EXPECT_FALSE(file.create());
        EXPECT_EQ(file.errorNumber(), ENAMETOOLONG);
        std::string problem;
        EXPECT_FALSE(CanCreateFile(target, problem));
        EXPECT_EQ(problem, "The file " + target + " cannot be written: the name takes " +
                               std::to_string(name.size()) +
                               " bytes, more than the 255 the folder " + m_dir.path() +
                               " takes (File name too long).");
        EXPECT_TRUE(entries(m_dir.path()).empty());
    }
}

// A new file follows the umask; a replaced one keeps its mode and its group; a private one is
// the user's alone whatever it was before.
TEST_P(ReplacingFileTest, ModesFollowTheUmaskOrTheReplacedFile) {
    struct Case {
        const char* name;
        mode_t umask;
        int before;  // the replaced file's mode; -1: there is none
        FileMode mode;
        unsigned after;
    };
    const Case cases[] = {
        {"new, umask 022", 022, -1, FileMode::Usual, 0644},
        {"new, umask 077", 077, -1, FileMode::Usual, 0600},
        {"new, umask 002", 002, -1, FileMode::Usual, 0664},
        {"replaced private file", 022, 0600, FileMode::Usual, 0600},
        {"replaced shared file", 077, 0664, FileMode::Usual, 0664},
        {"replaced read-only file", 022, 0444, FileMode::Usual, 0444},
        {"private, new", 0, -1, FileMode::Private, 0600},
        {"private over a shared file", 022, 0644, FileMode::Private, 0600},
        {"program", 077, 0644, FileMode::PrivateProgram, 0700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string target = m_dir.path() + "/t.xls";
        ::unlink(target.c_str());
        if (c.before >= 0) {
            m_dir.write("t.xls", "old");
            ASSERT_EQ(::chmod(target.c_str(), static_cast<mode_t>(c.before)), 0);
        }
        Umask umask(c.umask);
        ASSERT_TRUE(replaceWith(target, "new", c.mode));
        EXPECT_EQ(readText(target), "new");
        EXPECT_EQ(modeOf(target), c.after);
    }
}

TEST_P(ReplacingFileTest, AReplacedFileKeepsItsGroup) {
    const std::string target = m_dir.write("t.xls", "old");
    // A group of the user's own where the user is not root; any group for root.
    gid_t groups[64];
    const int count = ::getgroups(64, groups);
    gid_t other = ::getegid();
    for (int i = 0; i < count; ++i) {
        other = groups[i] != ::getegid() ? groups[i] : other;
    }
    if (::geteuid() == 0) {
        other = 65534;
    }
    if (other == ::getegid()) {
        GTEST_SKIP() << "the user has one group only";
    }
    ASSERT_EQ(::chown(target.c_str(), static_cast<uid_t>(-1), other), 0);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_TRUE(replaceWith(target, "new"));
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_gid, other);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
}

// Over a symbolic link the file that the link names is written, and the link stays.
TEST_P(ReplacingFileTest, ALinkKeepsPointingAtTheFileWritten) {
    ::mkdir((m_dir.path() + "/data").c_str(), 0755);
    const std::string real = m_dir.write("data/real.xls", "old");
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // name, what it holds
        std::string written;                                     // the file that gets the text
    };
    const Case cases[] = {
        {"absolute link", {{"a.xls", real}}, real},
        {"relative link", {{"r.xls", "data/real.xls"}}, real},
        {"chain of links", {{"c1.xls", "c2.xls"}, {"c2.xls", "data/real.xls"}}, real},
        {"link to a file not made yet",
         {{"d.xls", "data/new.xls"}},
         m_dir.path() + "/data/new.xls"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [name, holds] : c.links) {
            ASSERT_EQ(::symlink(holds.c_str(), (m_dir.path() + "/" + name).c_str()), 0);
        }
        const std::string target = m_dir.path() + "/" + c.links.front().first;
        ASSERT_TRUE(replaceWith(target, c.name));
        EXPECT_EQ(readText(c.written), c.name);
        for (const auto& [name, holds] : c.links) {
            EXPECT_TRUE(fs::is_symlink(m_dir.path() + "/" + name)) << name;
            EXPECT_EQ(fs::read_symlink(m_dir.path() + "/" + name).string(), holds);
        }
        if (c.written == real) {
            EXPECT_EQ(modeOf(real), 0600u);
        }
    }
    EXPECT_EQ(entries(m_dir.path() + "/data"), (std::vector<std::string>{"new.xls", "real.xls"}));

    ASSERT_EQ(::symlink("loop2", (m_dir.path() + "/loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", (m_dir.path() + "/loop2").c_str()), 0);
    ReplacingFile loop(m_dir.path() + "/loop1");
    EXPECT_FALSE(loop.create());
    EXPECT_EQ(loop.errorNumber(), ELOOP);
}

// The one durability rule: the data on the disk, then the name, then the folder's record of the
// name; a file its keeper drops at the last moment never takes the name.
TEST_P(ReplacingFileTest, TheFileIsOnTheDiskBeforeItTakesTheName) {
    const std::string target = m_dir.write("t.xls", "old");
    std::vector<std::string> steps;
    std::string held = "old";
    detail::observeDurableSteps([&](std::string_view step) {
        steps.emplace_back(step);
        // Until the rename the target holds what it held.
        if (step.starts_with("sync ") && !step.starts_with("sync folder")) {
            EXPECT_EQ(readText(target), held);
        }
    });
    {
        ReplacingFile file(target);
        ASSERT_TRUE(file.create());
        ASSERT_TRUE(file.write("new"));
        ASSERT_TRUE(file.commit());
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"sync " + target, "rename " + target,
                                               "sync folder " + m_dir.path()}));
    steps.clear();
    held = "new";
    {
        ReplacingFile file(target);
        ASSERT_TRUE(file.create());
        ASSERT_TRUE(file.write("dropped"));
        EXPECT_FALSE(file.commit([] { return false; }));
        EXPECT_EQ(file.error(), "");
    }
    detail::observeDurableSteps(nullptr);
    EXPECT_EQ(steps, std::vector<std::string>{"sync " + target});
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(entries(m_dir.path()), std::vector<std::string>{"t.xls"});
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
