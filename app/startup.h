#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/download_state.h"
#include "app/settings_install.h"

namespace paginor {

class CReportCore;
class SettingsStore;
class UiServices;

// The command line, as the shell hands it over: the text after the program name.
enum class ArgumentKind { Empty, Install, Uninstall, AutoUpdate, Url, LocalPath };

struct CommandLine {
    ArgumentKind kind = ArgumentKind::Empty;
    std::string path;     // LocalPath: quotes removed
    std::string address;  // Url: slashes collapsed
    bool hasCookie = false;
    std::string cookie;
    bool addressTooLong = false;  // Url: 2048 bytes or more, refused
    bool linkFileUnreadable = false;
};

inline constexpr std::size_t kMaxAddressBytes = 2047;  // the 2048-byte address buffer
// A link file holds an address: read as far as an address may run, and one byte more, so that
// an address too long is refused like any other.
inline constexpr std::size_t kMaxLinkFileBytes = kMaxAddressBytes + 1;
inline constexpr const char kUrlSwitch[] = "--url:";

// argv[1..] joined by single blanks: the add-on's "--url:<u> --cookie:<c>" works either as one
// argument or as several.
std::string JoinArguments(const std::vector<std::string>& arguments);
// Drops a leading double quote and a closing one at the end.
std::string StripQuotes(std::string_view text);
// Collapses doubled slashes from the ninth character up to the first '?'.
std::string CollapseDoubledSlashes(std::string_view address);
// Splits the text after "--url:" into the address and the "--cookie:" text.
void ParseUrlArgument(std::string_view text, CommandLine& line);
// The whole decision of step 4 and 9 to 11; a ".palk" link file is read through readFile
// (at most kMaxLinkFileBytes + 1 bytes; false when it cannot be read).
CommandLine ParseCommandLine(const std::string& text,
                             bool (*readFile)(const std::string& path, std::string& content,
                                              std::size_t maxBytes) = nullptr);
bool ReadLinkFile(const std::string& path, std::string& content, std::size_t maxBytes);

// "pgrprintdirectly" in the address, or the setting.
bool WantsPrintDirectly(std::string_view address, bool printDirectlySetting);
// A downloaded file that goes to OpenNonReportFile: .txt, .doc or .pdf, any case.
bool IsNonReportFile(std::string_view path);

// A local date and time (for the update rule).
struct LocalTime {
    LocalDate date;
    int hour = 0;
    int minute = 0;
    int second = 0;
};
LocalTime nowLocal();
// Days from a plain yyyymmdd date to today; 0 when the date is missing or invalid.
std::int64_t DaysSince(std::uint32_t dateNumber, const LocalDate& today);
// Step 14: 90 days since the last check, bit 0 of update_flag, and later than the release date
// plus 30 days, 2 hours and 5 minutes.
bool ShouldCheckForUpdate(std::int64_t daysSinceCheck, std::uint32_t updateFlag,
                          const LocalTime& now);

// The settings start-up reads (step 5).
struct StartupSettings {
    bool keyExisted = false;
    bool keywordsNeverSet = false;
    std::int64_t daysSinceCheck = 0;
    bool printDirectly = false;
    std::uint32_t updateFlag = 1;
};
StartupSettings ReadStartupSettings(const SettingsStore& store, const LocalDate& today);

// The window and the other pieces of the program that start-up drives; the Qt application
// implements it and tests record it.
class StartupActions {
public:
    virtual ~StartupActions() = default;
    virtual void installSettings() = 0;
    // "--uninstall": the file types registered with the desktop go too.
    virtual void unregisterFileTypes() = 0;
    // Steps 6 and 7: the "Get PDF Output" item, the window shown with its title.
    virtual void showMainWindow() = 0;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    virtual void keywordSetup(const std::string& group) = 0;
    // Runs the job on a worker behind the modal DownloadDlg; returns when the dialog has ended
    // and the worker is done with the state.
    virtual void runJob(DownloadState& state, DownloadMode mode) = 0;
    // address: where the file was downloaded from.
    virtual void openNonReportFile(const std::string& path, const std::string& address,
                                   bool print) = 0;
    virtual int runCommand(const std::string& command) = 0;
    virtual void fillPageList() = 0;
    virtual void setProgress(int percent) = 0;
    virtual CReportCore& report() = 0;
    virtual std::int32_t pageCount() = 0;
    // False when the directives are refused.
    virtual bool applyPrintDirectives() = 0;
    virtual void openPrintSetup() = 0;
    virtual std::string printerName() const = 0;
    virtual void setUpdating(bool updating) = 0;
    virtual void startUpdateThread(bool tellUser) = 0;
    // "--auto_update": true with the updater's path when a newer version exists.
    virtual void placeUpdateCheckWindow() = 0;
    virtual bool checkForUpdate(const std::string& configUrl, std::string& updaterPath) = 0;
    virtual bool startProgram(const std::vector<std::string>& argv) = 0;
};

struct StartupContext {
    SettingsStore& settings;
    UiServices& ui;
    StartupActions& actions;
    LocalTime now;
    std::string supportAddress;
    bool (*readFile)(const std::string&, std::string&, std::size_t) = ReadLinkFile;
};

inline constexpr const char kDownloadingTitle[] = "Downloading file";
inline constexpr const char kInitializingTitle[] = "Initializing Report";

// CFoliantApp::InitInstance from step 4 on (the window, the frame and the view exist): true when
// the message loop is to run.
bool RunStartup(const std::string& commandLine, StartupContext& context);

}  // namespace paginor
