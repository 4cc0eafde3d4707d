#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paginor {

class SettingsStore;

// The program's version and release.
inline constexpr int kVersionMajor = 1;
inline constexpr int kVersionMinor = 4;
inline constexpr int kVersionPatch = 9;
inline constexpr const char kVersionText[] = "1.4.9";
inline constexpr std::int32_t kReleaseDateNumber = 20210105;
inline constexpr const char kReleaseDateText[] = "2021-01-05";
// Placeholders, settable at build time.
#ifndef PAGINOR_REPORT_HOST
#define PAGINOR_REPORT_HOST "reports.example.com"
#endif
#ifndef PAGINOR_UPDATE_CONFIG_URL
#define PAGINOR_UPDATE_CONFIG_URL "https://updates.example.com/paginor/update.cfg"
#endif
inline constexpr const char kReportHostName[] = PAGINOR_REPORT_HOST;
inline constexpr const char kDefaultUpdateUrl[] = PAGINOR_UPDATE_CONFIG_URL;

// The installation defaults of the four keyword groups.
std::string DefaultKeywords();
inline constexpr const char kDefaultKeywords2[] =
    "/dev60cgi/rwcgi\tdesformat=HTML\tdestype=\treport=";
inline constexpr const char kDefaultKeywords3[] = "/getreport.jsp?\tfilepath=";
inline constexpr const char kDefaultKeywords4[] = "/reports/rwservlet\treport=\tdesformat=HTML";

// A plain local date as year * 10000 + month * 100 + day.
struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    std::uint32_t number() const {
        return static_cast<std::uint32_t>(year * 10000 + month * 100 + day);
    }
};
LocalDate todayLocal();

// Compares version texts byte by byte, as the stored "version" always was: "1.10.0" is older
// than "1.2.2". <0, 0 or >0.
int CompareVersions(std::string_view a, std::string_view b);

// The values of the second setup file; empty when absent.
struct SetupFileValues {
    std::string updateUrl;
    std::string smtpServer;
};
// Caps of the setup files.
inline constexpr std::size_t kMaxSetupPathBytes = 259;        // the first file's path buffer
inline constexpr std::size_t kMaxSetupFileBytes = 64 * 1024;  // the second file, read whole
inline constexpr std::size_t kMaxSetupValueBytes = 259;       // update_url is read back in 260
inline constexpr const char kSetupFileName[] = "pgn_setup.ini";

// Lines of the second file: '#' comments, "update_url=" and "smtpserver=" (either case), each
// value to the line's end. A value longer than kMaxSetupValueBytes is ignored.
SetupFileValues ParseSetupFile(std::string_view text);
// Reads <tempFolder>/pgn_setup.ini (a path of at most 259 bytes; owned by the user and not
// writable by others), then the file it names; the first file is deleted in every case.
SetupFileValues ReadSetupFile(const std::string& tempFolder);

// Where the installation writes and what it runs; tests point every folder at a temp dir.
struct InstallEnvironment {
    LocalDate today;
    std::string programPath;    // the full path of the program file
    std::string tempFolder;     // the setup file's folder
    std::string dataHome;       // $XDG_DATA_HOME: mime/packages and applications go below it
    std::string configHome;     // $XDG_CONFIG_HOME: mimeapps.list
    std::string appDataFolder;  // pagesetup.dat (migration)
    std::string programFolder;  // the old installation's pagesetup.dat
    // Runs a helper program (update-mime-database ...); null: the helpers are not run.
    std::function<void(const std::vector<std::string>& argv)> runTool;
};
// The environment of this process: today, /proc/self/exe, the XDG folders, tools when present.
InstallEnvironment currentInstallEnvironment();

// InstallSettings: migration, PageSetup defaults, the version-gated groups, the setup
// file, then both file types. Registry failures are not reported; the first write error is
// returned (empty when every write succeeded) so that start-up can tell the user once.
std::string InstallSettings(SettingsStore& store, const InstallEnvironment& env);
void MigrateMachineSettings(SettingsStore& store, const InstallEnvironment& env);
// Writes "e" := today when the settings key exists.
void SaveUpdateCheckDate(SettingsStore& store, const LocalDate& today);
// "--uninstall": deletes PageSetup and the settings key.
void UninstallSettings(SettingsStore& store);

// The report file types, registered with the desktop the freedesktop way.
struct FileType {
    const char* mimeType;
    const char* glob;
    const char* comment;
    const char* packageFile;  // below mime/packages
};
inline constexpr FileType kRrphType{"application/x-orarrp-html", "*.rrph", "Foliant Document",
                                    "paginor-rrph.xml"};
inline constexpr FileType kPalkType{"application/x-paginor-html", "*.palk", "Paginor Document",
                                    "paginor-palk.xml"};
inline constexpr const char kDesktopFileName[] = "Tadd.Paginor.desktop";

// Text of the pieces, each tested by exact string.
std::string XmlEscape(std::string_view text);
std::string MimePackageXml(const FileType& type);
// One argument of an Exec line, quoted by the Desktop Entry rules, and the value escaping of the
// file itself applied on top.
std::string DesktopExecArgument(std::string_view argument);
std::string DesktopFileText(const std::string& programPath);
// mimeapps.list with "<mimeType>=Tadd.Paginor.desktop" under [Default Applications], keeping
// every other line.
std::string MimeAppsWithDefault(std::string_view current, std::string_view mimeType);

// RegisterReportFileTypeRrph / Palk: the package XML, the desktop file with its icon and the
// default handler, then update-mime-database and update-desktop-database when present (and
// gtk-update-icon-cache when the icon theme has a cache). True when all files were written.
bool RegisterReportFileType(const FileType& type, const InstallEnvironment& env,
                            std::string& error);
bool RegisterReportFileTypeRrph(const InstallEnvironment& env, std::string& error);
bool RegisterReportFileTypePalk(const InstallEnvironment& env, std::string& error);
// mimeapps.list without our defaults for the mime type; every other line kept.
std::string MimeAppsWithoutDefault(std::string_view current, std::string_view mimeType);
// "--uninstall": removes both package files, the desktop file, the icon and our two defaults.
void UnregisterReportFileTypes(const InstallEnvironment& env);

// The program's icon that the desktop file names ("Icon=paginor"): an SVG in the user's hicolor
// theme below $XDG_DATA_HOME, written with the file types.
std::string_view ProgramIconSvg();
inline constexpr const char kIconThemeFolder[] = "icons/hicolor";
inline constexpr const char kProgramIconFile[] = "icons/hicolor/scalable/apps/paginor.svg";

// Writes a file whole or not at all (temp file in the same folder, then rename).
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

}  // namespace paginor
