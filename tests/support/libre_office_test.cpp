#include "tests/support/libre_office.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace paginor {
namespace {

namespace fs = std::filesystem;

class LibreOfficeRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string folder = (fs::temp_directory_path() / "paginor-lo-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        m_folder = folder;
    }
    void TearDown() override { fs::remove_all(m_folder); }

    std::string m_folder;
};

TEST_F(LibreOfficeRun, GivesTheFileItConverted) {
    const std::string source = m_folder + "/table.html";
    std::ofstream(source) << "<html><body><table><tr><td>a</td><td>1</td></tr>"
                             "<tr><td>b \"q\"</td><td>2</td></tr></table></body></html>";
    std::string failure;
    const std::string csv =
        convertWithLibreOffice(source, m_folder, kLibreOfficeCsv, failure, "HTML (StarCalc)");
    ASSERT_EQ(csv, m_folder + "/table.csv") << failure;
    std::ifstream in(csv);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "a,\"1\"\n\"b \"\"q\"\"\",\"2\"\n");
}

// Nothing converted is a failure that shows what ran and what LibreOffice said, each time.
TEST_F(LibreOfficeRun, AFileThatIsNotThereIsAFailureWithTheCommandAndItsOutput) {
    std::string failure;
    EXPECT_EQ(convertWithLibreOffice(m_folder + "/none.html", m_folder, kLibreOfficeCsv, failure),
              "");
    EXPECT_NE(failure.find("run 1: '/usr/bin/soffice' '-env:UserInstallation=file://"),
              std::string::npos)
        << failure;
    EXPECT_NE(failure.find("run 2: "), std::string::npos) << failure;
    EXPECT_NE(failure.find("wrote no " + m_folder + "/none.csv; LibreOffice said:"),
              std::string::npos)
        << failure;
}

}  // namespace
}  // namespace paginor
