#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace paginor {

// A private folder for one test, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/paginor-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        m_path = made != nullptr ? made : "/tmp";
    }
    ~TempDir() {
        std::string command = "rm -rf '" + m_path + "'";
        EXPECT_EQ(system(command.c_str()), 0);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }

    std::string write(const std::string& name, const std::string& contents) const {
        std::string file = m_path + "/" + name;
        std::ofstream out(file, std::ios::binary);
        out << contents;
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

private:
    std::string m_path;
};

}  // namespace paginor
