#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace paginor {
namespace {

std::string writeTempFile(const std::string& contents) {
    char name[] = "/tmp/paginor-file-test-XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(fd);
    return name;
}

TEST(ReadOnlyFile, ReadsByOffsetAndStopsAtTheEnd) {
    std::string path = writeTempFile("0123456789");
    ReadOnlyFile file;
    std::string error;
    ASSERT_TRUE(file.open(path, error)) << error;
    EXPECT_EQ(file.size(), 10);
    char buffer[8] = {};
    EXPECT_EQ(file.readAt(7, buffer, 8), 3);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(file.readAt(10, buffer, 1), 0);
    std::remove(path.c_str());
}

TEST(ReadOnlyFile, KeepsReadingAfterThePathIsRemoved) {
    std::string path = writeTempFile("still here");
    ReadOnlyFile file;
    std::string error;
    ASSERT_TRUE(file.open(path, error));
    std::remove(path.c_str());
    char buffer[10];
    EXPECT_EQ(file.readAt(0, buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), "still here");
}

TEST(ReadOnlyFile, OpenFailureNamesThePathAndReason) {
    ReadOnlyFile file;
    std::string error;
    EXPECT_FALSE(file.open("/nonexistent/paginor/x.rrph", error));
    EXPECT_EQ(error, "/nonexistent/paginor/x.rrph: No such file or directory");
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.open("/tmp", error));
    EXPECT_EQ(error, "/tmp: Is a directory");
}

// A picture named by a report may be anything: only a regular file opens, and nothing waits.
TEST(ReadOnlyFile, OpenRegularRefusesAllButRegularFiles) {
    char folder[] = "/tmp/paginor-file-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink((dir + "/fifo").c_str(), (dir + "/link").c_str()), 0);
    std::ofstream(dir + "/plain") << "text";
    const struct {
        std::string path;
        bool opens;
        int errorNumber;
    } cases[] = {
        {dir + "/plain", true, 0},      {dir + "/fifo", false, ENODEV},
        {dir + "/link", false, ENODEV}, {dir, false, EISDIR},
        {"/dev/null", false, ENODEV},   {dir + "/missing", false, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ReadOnlyFile file;
        std::string error;
        EXPECT_EQ(file.openRegular(c.path, error), c.opens) << error;
        EXPECT_EQ(file.errorNumber(), c.errorNumber);
        EXPECT_EQ(file.isOpen(), c.opens);
        if (c.opens) {
            char buffer[4];
            EXPECT_EQ(file.readAt(0, buffer, 4), 4);
            EXPECT_EQ(file.size(), 4);
        } else if (c.errorNumber != ENOENT) {
            EXPECT_EQ(error, c.path + ": not a regular file");
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(ReadWholeFile, ReadsEverything) {
    std::string path = writeTempFile(std::string("a\0b", 3));
    std::string contents, error;
    ASSERT_TRUE(readWholeFile(path, contents, error));
    EXPECT_EQ(contents, std::string("a\0b", 3));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace paginor
