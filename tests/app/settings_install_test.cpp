#include "app/settings_install.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/process.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(InstallVersionTest, TextComparison) {
    EXPECT_LT(CompareVersions("1.0.0", "1.2.2"), 0);
    EXPECT_EQ(CompareVersions("1.3.0", "1.3.0"), 0);
    EXPECT_LT(CompareVersions("1.10.0", "1.2.2"), 0);
    EXPECT_LT(CompareVersions("1.4.10", "1.4.9"), 0);
    EXPECT_LT(CompareVersions("1.3", "1.3.5"), 0);
    EXPECT_LT(CompareVersions("1.3", "1.3.0"), 0);
    EXPECT_GT(CompareVersions("2", "1.99.99"), 0);
    EXPECT_GT(CompareVersions("1.3.5a", "1.3.5"), 0);
}

TEST(InstallSetupFileTest, ParsesLines) {
    SetupFileValues v = ParseSetupFile(
        "#update_url=http://evil/\r\nUPDATE_URL=http://127.0.0.1:1/cfg\r\nother=1\n"
        "SmtpServer=mail.test\n");
    EXPECT_EQ(v.updateUrl, "http://127.0.0.1:1/cfg");
    EXPECT_EQ(v.smtpServer, "mail.test");
    EXPECT_TRUE(ParseSetupFile("update_url=" + std::string(260, 'a')).updateUrl.empty());
    EXPECT_EQ(ParseSetupFile("update_url=" + std::string(259, 'a')).updateUrl.size(), 259u);
}

class InstallFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/paginor-install-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root = folder;
        fs::create_directories(root / "tmp");
        fs::create_directories(root / "appdata");
        fs::create_directories(root / "prog");
        env.today = {2024, 6, 1};
        env.programPath = "/opt/pagi nor/bin/paginor";
        env.tempFolder = (root / "tmp").string();
        env.dataHome = (root / "data").string();
        env.configHome = (root / "config").string();
        env.appDataFolder = (root / "appdata").string();
        env.programFolder = (root / "prog").string();
        env.runTool = [this](const std::vector<std::string>& argv) {
            tools.push_back(argv.front());
        };
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path root;
    InstallEnvironment env;
    MemorySettingsStore store;
    std::vector<std::string> tools;
};

std::string text(const SettingsStore& store, const SettingValue& value) {
    return readStringSetting(store, value).value_or("<missing>");
}

TEST_F(InstallFixture, FirstRunWritesEveryValue) {
    EXPECT_EQ(InstallSettings(store, env), "");
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), 20240601u);
    EXPECT_EQ(text(store, kExePathValue), "/opt/pagi nor/bin/paginor");
    EXPECT_EQ(text(store, kReleaseDateValue), "2021-01-05");
    EXPECT_EQ(text(store, kKeywordsValue), "reports.example.com\tgetreport.php\tmime=text/html");
    EXPECT_EQ(text(store, kKeywords2Value), "/dev60cgi/rwcgi\tdesformat=HTML\tdestype=\treport=");
    EXPECT_EQ(text(store, kKeywords3Value), "/getreport.jsp?\tfilepath=");
    EXPECT_EQ(text(store, kKeywords4Value), "/reports/rwservlet\treport=\tdesformat=HTML");
    EXPECT_EQ(text(store, kEmailAddressValue), "");
    EXPECT_EQ(text(store, kUserNameValue), "");
    EXPECT_EQ(text(store, kPasswordValue), "");
    EXPECT_EQ(readDwordSetting(store, kRequiresAuthenticationValue), 0u);
    EXPECT_EQ(text(store, kUpdateUrlValue), kDefaultUpdateUrl);
    EXPECT_EQ(readDwordSetting(store, kUpdateFlagValue), 1u);
    EXPECT_EQ(text(store, kSmtpServerValue), "");
    EXPECT_EQ(text(store, kVersionValue), "1.4.9");
    for (const SettingValue* v : {&kHeaderValue, &kFooterValue})
        EXPECT_EQ(text(store, *v), "");
    for (const SettingValue* v :
         {&kMarginBottomValue, &kMarginLeftValue, &kMarginRightValue, &kMarginTopValue}) {
        EXPECT_EQ(text(store, *v), "0");
    }
    EXPECT_TRUE(fs::exists(root / "data/mime/packages/paginor-rrph.xml"));
    EXPECT_TRUE(fs::exists(root / "data/mime/packages/paginor-palk.xml"));
    EXPECT_TRUE(fs::exists(root / "data/applications/Tadd.Paginor.desktop"));
    EXPECT_EQ(slurp(root / "config/mimeapps.list"),
              "[Default Applications]\n"
              "application/x-orarrp-html=Tadd.Paginor.desktop\n"
              "application/x-paginor-html=Tadd.Paginor.desktop\n");
    EXPECT_EQ(tools, (std::vector<std::string>{"update-mime-database", "update-desktop-database",
                                               "update-mime-database", "update-desktop-database"}));
}

TEST_F(InstallFixture, UpgradeFrom130KeepsTheUsersValues) {
    std::string error;
    ASSERT_TRUE(writeStringSetting(store, kVersionValue, "1.3.0", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywordsValue, "k1", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywords2Value, "k2", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywords3Value, "k3", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywords4Value, "k4", error));
    ASSERT_TRUE(writeStringSetting(store, kUpdateUrlValue, "http://mine/cfg", error));
    ASSERT_TRUE(writeDwordSetting(store, kLastUpdateCheckValue, 20200101, error));
    spit(root / "second.txt", "smtpserver=mail.test\n");
    spit(root / "tmp/pgn_setup.ini", (root / "second.txt").string() + "\n");
    ::chmod((root / "tmp/pgn_setup.ini").c_str(), 0600);
    InstallSettings(store, env);
    EXPECT_EQ(text(store, kKeywordsValue), "k1");
    EXPECT_EQ(text(store, kKeywords4Value), "k4");
    EXPECT_EQ(text(store, kUpdateUrlValue), "http://mine/cfg");
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), 20200101u);
    EXPECT_EQ(text(store, kEmailAddressValue), "");
    EXPECT_EQ(readDwordSetting(store, kRequiresAuthenticationValue), 0u);
    EXPECT_EQ(text(store, kSmtpServerValue), "mail.test");
    EXPECT_EQ(text(store, kVersionValue), "1.4.9");
    EXPECT_FALSE(fs::exists(root / "tmp/pgn_setup.ini"));
    EXPECT_TRUE(fs::exists(root / "second.txt"));
}

// "1.10.0" sorts before "1.2.2" as text: every version-gated group is written again.
TEST_F(InstallFixture, TwoDigitVersionSortsAsTextAndIsUpgraded) {
    std::string error;
    ASSERT_TRUE(writeStringSetting(store, kVersionValue, "1.10.0", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywordsValue, "mine", error));
    ASSERT_TRUE(writeStringSetting(store, kKeywords4Value, "mine4", error));
    ASSERT_TRUE(writeStringSetting(store, kUpdateUrlValue, "http://mine/cfg", error));
    ASSERT_TRUE(writeDwordSetting(store, kUpdateFlagValue, 3, error));
    ASSERT_TRUE(writeStringSetting(store, kSmtpServerValue, "mail.mine", error));
    ASSERT_TRUE(writeStringSetting(store, kEmailAddressValue, "me@mine", error));
    ASSERT_TRUE(writeDwordSetting(store, kLastUpdateCheckValue, 20200101, error));
    InstallSettings(store, env);
    EXPECT_EQ(text(store, kKeywordsValue), DefaultKeywords());
    EXPECT_EQ(text(store, kKeywords4Value), kDefaultKeywords4);
    EXPECT_EQ(text(store, kUpdateUrlValue), kDefaultUpdateUrl);
    EXPECT_EQ(readDwordSetting(store, kUpdateFlagValue), 1u);
    EXPECT_EQ(text(store, kSmtpServerValue), "");
    EXPECT_EQ(text(store, kEmailAddressValue), "");
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), 20240601u);
    EXPECT_EQ(text(store, kVersionValue), "1.4.9");
}

TEST_F(InstallFixture, RerunTouchesOnlyPathAndDate) {
    InstallSettings(store, env);
    std::string error;
    ASSERT_TRUE(writeStringSetting(store, kKeywordsValue, "mine", error));
    ASSERT_TRUE(writeStringSetting(store, kHeaderValue, "my header", error));
    const std::string before = store.text(SettingsHive::CurrentUser);
    env.programPath = "/usr/bin/paginor";
    InstallSettings(store, env);
    EXPECT_EQ(text(store, kExePathValue), "/usr/bin/paginor");
    EXPECT_EQ(text(store, kKeywordsValue), "mine");
    EXPECT_EQ(text(store, kHeaderValue), "my header");
    std::string after = store.text(SettingsHive::CurrentUser);
    const std::string oldPath = "/opt/pagi nor/bin/paginor";
    after.replace(after.find("/usr/bin/paginor"), 16, oldPath);
    EXPECT_EQ(after, before);
}

TEST_F(InstallFixture, SetupFileRefusals) {
    spit(root / "second.txt", "#update_url=http://evil/\nupdate_url=http://good/cfg\n");
    spit(root / "tmp/pgn_setup.ini", std::string(300, 'x'));
    EXPECT_TRUE(ReadSetupFile(env.tempFolder).updateUrl.empty());
    EXPECT_FALSE(fs::exists(root / "tmp/pgn_setup.ini"));
    spit(root / "tmp/pgn_setup.ini", (root / "second.txt").string());
    ::chmod((root / "tmp/pgn_setup.ini").c_str(), 0666);
    EXPECT_TRUE(ReadSetupFile(env.tempFolder).updateUrl.empty());
    spit(root / "tmp/pgn_setup.ini", (root / "second.txt").string());
    ::chmod((root / "tmp/pgn_setup.ini").c_str(), 0600);
    EXPECT_EQ(ReadSetupFile(env.tempFolder).updateUrl, "http://good/cfg");
}

TEST_F(InstallFixture, SaveUpdateCheckDateNeedsTheKey) {
    SaveUpdateCheckDate(store, {2024, 7, 9});
    EXPECT_FALSE(keyExists(store, kPaginorKey));
    InstallSettings(store, env);
    SaveUpdateCheckDate(store, {2024, 7, 9});
    EXPECT_EQ(readDwordSetting(store, kLastUpdateCheckValue), 20240709u);
}

TEST_F(InstallFixture, MigrationCopiesOnlyMissingValues) {
    std::string error;
    ASSERT_TRUE(store.load(SettingsHive::LocalMachine,
                           "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Orrin.Tadd\\Paginor]\n"
                           "\"keywords\"=\"old\"\n\"print_directly\"=dword:00000001\n",
                           error))
        << error;
    ASSERT_TRUE(writeStringSetting(store, kKeywordsValue, "mine", error));
    spit(root / "prog/pagesetup.dat", "old store");
    MigrateMachineSettings(store, env);
    EXPECT_EQ(text(store, kKeywordsValue), "mine");
    EXPECT_EQ(readDwordSetting(store, kPrintDirectlyValue), 1u);
    EXPECT_EQ(slurp(root / "appdata/pagesetup.dat"), "old store");
    spit(root / "appdata/pagesetup.dat", "learned");
    MigrateMachineSettings(store, env);
    EXPECT_EQ(slurp(root / "appdata/pagesetup.dat"), "learned");
}

TEST(FileTypeTest, MimePackageXml) {
    EXPECT_EQ(MimePackageXml(kRrphType),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
              "  <mime-type type=\"application/x-orarrp-html\">\n"
              "    <comment>Foliant Document</comment>\n"
              "    <sub-class-of type=\"text/html\"/>\n"
              "    <glob pattern=\"*.rrph\"/>\n"
              "  </mime-type>\n"
              "</mime-info>\n");
    EXPECT_EQ(XmlEscape("a<b>&\"'\x01"), "a&lt;b&gt;&amp;&quot;&apos;\xEF\xBF\xBD");
}

TEST(FileTypeTest, ExecQuoting) {
    EXPECT_EQ(DesktopExecArgument("/usr/bin/paginor"), "\"/usr/bin/paginor\"");
    EXPECT_EQ(DesktopExecArgument("/a b/$x`\"%"), "\"/a b/\\\\$x\\\\`\\\\\"%%\"");
    EXPECT_EQ(DesktopExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
}

TEST(FileTypeTest, DesktopFile) {
    const std::string text = DesktopFileText("/usr/bin/paginor");
    EXPECT_NE(text.find("\nExec=\"/usr/bin/paginor\" %f\n"), std::string::npos);
    EXPECT_NE(text.find("\nMimeType=application/x-orarrp-html;application/x-paginor-html;\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n[Desktop Action Print]\n"), std::string::npos);
}

TEST(FileTypeTest, MimeAppsKeepsOtherLines) {
    EXPECT_EQ(
        MimeAppsWithDefault("[Added Associations]\ntext/x=a.desktop\n\n[Default Applications]\n"
                            "application/x-orarrp-html=old.desktop\ntext/y=b.desktop\n",
                            "application/x-orarrp-html"),
        "[Added Associations]\ntext/x=a.desktop\n\n[Default Applications]\n"
        "application/x-orarrp-html=Tadd.Paginor.desktop\ntext/y=b.desktop\n");
    EXPECT_EQ(MimeAppsWithDefault("[Default Applications]\ntext/y=b.desktop\n[Other]\nz=1\n",
                                  "application/x-paginor-html"),
              "[Default Applications]\ntext/y=b.desktop\n"
              "application/x-paginor-html=Tadd.Paginor.desktop\n[Other]\nz=1\n");
}

// The desktop file names the icon "paginor": the program's own icon goes into the user's hicolor
// theme with the file types and leaves with them; a theme cache, when there is one, is updated.
TEST_F(InstallFixture, TheIconGoesIntoTheUsersThemeAndLeavesWithTheFileTypes) {
    const fs::path icon = root / "data/icons/hicolor/scalable/apps/paginor.svg";
    EXPECT_EQ(InstallSettings(store, env), "");
    EXPECT_EQ(slurp(icon), slurp(PAGINOR_ICON_SOURCE));
    EXPECT_NE(slurp(root / "data/applications/Tadd.Paginor.desktop").find("\nIcon=paginor\n"),
              std::string::npos);
    EXPECT_EQ(std::count(tools.begin(), tools.end(), "gtk-update-icon-cache"), 0);

    UnregisterReportFileTypes(env);
    EXPECT_FALSE(fs::exists(icon));

    spit(root / "data/icons/hicolor/icon-theme.cache", "");
    std::vector<std::vector<std::string>> runs;
    env.runTool = [&runs](const std::vector<std::string>& argv) { runs.push_back(argv); };
    std::string error;
    ASSERT_TRUE(RegisterReportFileTypeRrph(env, error)) << error;
    EXPECT_TRUE(fs::exists(icon));
    const std::vector<std::string> cacheUpdate{"gtk-update-icon-cache", "--quiet", "--force",
                                               "--ignore-theme-index",
                                               (root / "data/icons/hicolor").string()};
    EXPECT_EQ(std::count(runs.begin(), runs.end(), cacheUpdate), 1);
    UnregisterReportFileTypes(env);
    EXPECT_FALSE(fs::exists(icon));
    EXPECT_EQ(std::count(runs.begin(), runs.end(), cacheUpdate), 2);
}

TEST_F(InstallFixture, FileTypesPassTheRealMimeDatabase) {
    if (findProgram("update-mime-database").empty()) {
        GTEST_FAIL() << "update-mime-database (shared-mime-info) is not installed";
    }
    env.runTool = [](const std::vector<std::string>& argv) {
        std::string error;
        if (!findProgram(argv.front()).empty())
            runAndWait(argv, error);
    };
    std::string error;
    ASSERT_TRUE(RegisterReportFileTypeRrph(env, error)) << error;
    ASSERT_TRUE(RegisterReportFileTypePalk(env, error)) << error;
    const std::string globs = slurp(root / "data/mime/globs2");
    EXPECT_NE(globs.find(":application/x-orarrp-html:*.rrph"), std::string::npos) << globs;
    EXPECT_NE(globs.find(":application/x-paginor-html:*.palk"), std::string::npos) << globs;
    const std::string defaults = slurp(root / "config/mimeapps.list");
    EXPECT_NE(defaults.find("application/x-paginor-html=Tadd.Paginor.desktop"), std::string::npos);

    if (!findProgram("xmllint").empty()) {
        EXPECT_TRUE(runAndWait(
            {"xmllint", "--noout", (root / "data/mime/packages/paginor-rrph.xml").string()}, error))
            << error;
    }

    UnregisterReportFileTypes(env);
    EXPECT_EQ(slurp(root / "data/mime/globs2").find("*.rrph"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(root / "data/applications/Tadd.Paginor.desktop"));
    EXPECT_EQ(slurp(root / "config/mimeapps.list").find("Tadd.Paginor.desktop"), std::string::npos);
}

}  // namespace
}  // namespace paginor
