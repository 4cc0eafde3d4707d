#include "app/headless_switch.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/core/temp_dir.h"

namespace paginor {
namespace {

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The program itself, started with no display at all (as from a package script).
int runWithoutDisplay(const TempDir& home, const std::string& argument) {
    const std::string command =
        "env -i PATH=/usr/bin:/bin HOME='" + home.path() + "' XDG_CONFIG_HOME='" + home.path() +
        "/config' XDG_DATA_HOME='" + home.path() + "/data' TMPDIR='" + home.path() + "' '" +
        PAGINOR_PROGRAM + "' " + argument + " 2>'" + home.path() + "/stderr'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(HeadlessSwitch, InstallAndUninstallRunWithoutADisplay) {
    for (const char* install : {"--install", "-install"}) {
        SCOPED_TRACE(install);
        TempDir home;
        const std::string settings = home.path() + "/config/paginor/HKEY_CURRENT_USER.reg";
        const std::string desktop = home.path() + "/data/applications/Tadd.Paginor.desktop";
        const std::string icon = home.path() + "/data/icons/hicolor/scalable/apps/paginor.svg";

        ASSERT_EQ(runWithoutDisplay(home, install), 0) << fileText(home.path() + "/stderr");
        EXPECT_NE(fileText(settings).find("[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Paginor]"),
                  std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(desktop));
        EXPECT_EQ(fileText(icon), fileText(PAGINOR_ICON_SOURCE));

        ASSERT_EQ(runWithoutDisplay(home, "--uninstall"), 0) << fileText(home.path() + "/stderr");
        EXPECT_EQ(fileText(settings).find("Orrin.Tadd\\Paginor]"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(desktop));
        EXPECT_FALSE(std::filesystem::exists(icon));
    }
}

TEST(HeadlessSwitch, OnlyTheExactSwitchesRunHeadless) {
    for (const char* line : {"--install", "-install", "--uninstall"}) {
        EXPECT_TRUE(IsHeadlessSwitch(line)) << line;
    }
    for (const char* line : {"", "--INSTALL", "--install x", "--auto_update", "r.rrph"}) {
        EXPECT_FALSE(IsHeadlessSwitch(line)) << line;
    }
}

}  // namespace
}  // namespace paginor
