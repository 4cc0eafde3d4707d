#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_install.h"
#include "app/ui_services.h"

namespace paginor {

class HttpClient;
class SettingsStore;

inline constexpr const char kUpdateAgent[] = "Paginor Auto-Update";
inline constexpr const char kUpdateTitle[] = "Paginor Auto-Update";
inline constexpr const char kUpdaterFileName[] = "pgnupdate";
inline constexpr const char kUpdaterSwitch[] = "--prv_update";
inline constexpr const char kAutoUpdateSwitch[] = "--auto_update";
inline constexpr std::size_t kUpdateMessageBytes = 260;          // every caller's message buffer
inline constexpr std::size_t kMaxUpdateConfigBytes = 64 * 1024;  // the configuration file
inline constexpr const char kNoNewerVersion[] = "No newer version is found";
inline constexpr const char kNewerVersionQuestion[] =
    "There is a newer version available, would like to update?";
inline constexpr const char kUpdateTakesEffect[] =
    "Auto-updates will take effect when your PC restart ";
inline constexpr const char kNoConfigurationUrl[] = "Please Input the URL of configuration file";

// What an update configuration file says: every release date and the last update-file address.
struct UpdateConfig {
    std::vector<std::string> releaseDates;
    bool hasUpdateFileUrl = false;
    std::string updateFileUrl;
};

// Lines end at LF and a CR ends the useful part; '#' lines are comments; "release-date=" and
// "update-file-url=" (either case) count only at the start of a line. Trailing blanks of a value
// are dropped.
UpdateConfig ParseUpdateConfig(std::string_view text);
// A release date greater than our own, byte by byte.
bool IsNewerRelease(const UpdateConfig& config, std::string_view ownReleaseDate);

// Where the check reads and writes.
struct UpdateEnvironment {
    SettingsStore& settings;
    HttpClient& http;
    std::string updaterFolder;  // the application-data folder: the program's own is not writable
    std::string releaseDate = kReleaseDateText;
    long connectTimeoutMs = 15000;
    long responseTimeoutMs = 30000;  // until the head has come
    long idleTimeoutMs = 60000;      // while the body comes
};

enum UpdateCheckMode { kCheckAndDownload = 0, kSilentInstance = 1, kCheckOnly = 2 };

// Downloads the configuration file (from address, or "update_url" when null) and compares its
// release dates with ours. kCheckOnly: true, with newer set when a newer version exists. The
// other modes: a newer version's updater is downloaded (true), else false with the message.
// Messages are cut to kUpdateMessageBytes - 1.
bool CheckForUpdate(int mode, std::string& message, const std::string* address,
                    std::string& updaterPath, bool& newer, const UpdateEnvironment& env);
// Downloads the updater whole into <updaterFolder>/pgnupdate (mode 0700), replacing an earlier
// copy only when the new one is complete.
bool DownloadUpdater(std::string& message, const std::string& address, std::string& updaterPath,
                     const UpdateEnvironment& env);

// What the update worker does besides checking: boxes (already on the user-interface thread's
// side), starting programs, the date and the frame's updating flag.
struct UpdateThreadServices {
    UiServices& ui;
    std::function<bool(const std::vector<std::string>& argv, std::string& error)> startProgram;
    std::function<void()> clearUpdating;
    std::string programPath;
    LocalDate today;
};

// The worker: flags bit 0 or 1 check (bit 1: tell the user about failures and no news); flags 0
// start the program itself with "--auto_update". The updating flag is cleared on every path.
void UpdateThreadProc(unsigned flags, const UpdateEnvironment& env, UpdateThreadServices& services);

// The Auto-updates dialog's OK: nothing when checking was off and stays off; else "update_flag"
// and, when enabled, "update_url". False with the message when the address is empty.
struct AutoUpdateChoice {
    bool enabled = true;
    bool notify = false;
    bool enabledWhenOpened = true;
    std::string address;
};
AutoUpdateChoice LoadAutoUpdateChoice(const SettingsStore& settings);
bool SaveAutoUpdateChoice(SettingsStore& settings, const AutoUpdateChoice& choice,
                          std::string& message);

}  // namespace paginor

namespace paginor {

// The dialog's "Test": with the wait cursor, a check and download for the address, then the
// question and, on Yes, the updater started and the date stored.
void TestUpdateAddress(const std::string& address, const UpdateEnvironment& env,
                       UpdateThreadServices& services);

}  // namespace paginor
