#include "app/auto_update.h"

#include <cstdio>

#include "core/text_scan.h"
#include "platform/http_client.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

constexpr std::string_view kReleaseDateKey = "release-date=";
constexpr std::string_view kUpdateFileUrlKey = "update-file-url=";

bool fail(std::string& message, std::string text) {
    if (text.size() > kUpdateMessageBytes - 1) {
        text.resize(kUpdateMessageBytes - 1);
    }
    message = std::move(text);
    return false;
}

std::string trimTrailingBlanks(std::string_view value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    return std::string(value);
}

std::string statusText(const char* file, int status) {
    char text[300];
    std::snprintf(text, sizeof text,
                  "Can not download the \"%s\" file.\nHTTP Status Codes: %d , \nPlease check the "
                  "web server,make sure that the file exists",
                  file, status);
    return text;
}

HttpRequest updateRequest(const std::string& url, const UpdateEnvironment& env) {
    HttpRequest request;
    request.url = url;
    request.userAgent = kUpdateAgent;
    request.useSystemProxy = true;
    request.sharedCookies = false;
    request.connectTimeoutMs = env.connectTimeoutMs;
    request.responseTimeoutMs = env.responseTimeoutMs;
    request.idleTimeoutMs = env.idleTimeoutMs;
    request.headers.push_back("Cache-Control: no-cache");
    return request;
}

// Keeps a 2xx body up to the cap; any other status stops the transfer.
class ConfigSink : public HttpSink {
public:
    bool head(const HttpResponseHead& head) override {
        m_status = head.status;
        return head.status >= 200 && head.status <= 299;
    }
    bool data(const char* bytes, std::size_t size) override {
        if (m_body.size() + size > kMaxUpdateConfigBytes) {
            m_tooLong = true;
            return false;
        }
        m_body.append(bytes, size);
        return true;
    }
    int status() const { return m_status; }
    bool tooLong() const { return m_tooLong; }
    const std::string& body() const { return m_body; }

private:
    int m_status = 0;
    bool m_tooLong = false;
    std::string m_body;
};

// Stores the check date when it goes out of scope, and clears the frame's updating flag.
struct ClearUpdatingAtEnd {
    UpdateThreadServices& services;
    ~ClearUpdatingAtEnd() {
        if (services.clearUpdating) {
            services.clearUpdating();
        }
    }
};

void showTitled(UiServices& ui, const std::string& text) {
    ui.messageBoxTitled(kUpdateTitle, text, MessageButtons::Ok, MessageIcon::None);
}

// Starts the downloaded updater and tells the user; a start that fails is said as such.
void startUpdater(const std::string& updaterPath, UpdateThreadServices& services) {
    std::string error;
    if (services.startProgram && services.startProgram({updaterPath, kUpdaterSwitch}, error)) {
        services.ui.messageBox(kUpdateTakesEffect);
    } else {
        showTitled(services.ui, "Fail to start the \"update data file\".\n" + error);
    }
}

}  // namespace

UpdateConfig ParseUpdateConfig(std::string_view text) {
    UpdateConfig config;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t cr = line.find('\r');
        if (cr != std::string_view::npos) {
            line = line.substr(0, cr);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (startsWithNoCase(line, kReleaseDateKey)) {
            config.releaseDates.push_back(trimTrailingBlanks(line.substr(kReleaseDateKey.size())));
        } else if (startsWithNoCase(line, kUpdateFileUrlKey)) {
            config.hasUpdateFileUrl = true;
            config.updateFileUrl = trimTrailingBlanks(line.substr(kUpdateFileUrlKey.size()));
        }
    }
    return config;
}

bool IsNewerRelease(const UpdateConfig& config, std::string_view ownReleaseDate) {
    for (const std::string& date : config.releaseDates) {
        if (std::string_view(date) > ownReleaseDate) {
            return true;
        }
    }
    return false;
}

bool CheckForUpdate(int mode, std::string& message, const std::string* address,
                    std::string& updaterPath, bool& newer, const UpdateEnvironment& env) {
    newer = false;
    std::string url;
    if (address != nullptr) {
        url = *address;
    } else if (const auto stored = readStringSetting(env.settings, kUpdateUrlValue)) {
        url = *stored;
    } else {
        return fail(message, "Fail to get URL of auto-update configuration file");
    }
    ConfigSink sink;
    const HttpResult result = env.http.transfer(updateRequest(url, env), sink);
    if (!result.done()) {
        if (result.phase == HttpPhase::Sink && sink.tooLong()) {
            return fail(message,
                        "Download the \"update configuration file\" Interrupted.\nThe file is "
                        "longer than " +
                            std::to_string(kMaxUpdateConfigBytes) + " bytes");
        }
        if (result.phase == HttpPhase::Sink) {
            return fail(message, statusText("update configuration file", sink.status()));
        }
        if (result.phase == HttpPhase::Body) {
            return fail(message, "Download the \"update configuration file\" Interrupted.\n" +
                                     result.message);
        }
        if (result.phase == HttpPhase::Request) {
            return fail(message,
                        "Can not get version information from internet. Fail to download the "
                        "\"update configuration file\", Please check the network or your "
                        "URL.\n\nError message:" +
                            result.message);
        }
        return fail(message, "Fail to downlaod the \"update data file\". More information[AU1] : " +
                                 (result.message.empty() ? systemErrorText(result.osErrno)
                                                         : result.message));
    }
    const UpdateConfig config = ParseUpdateConfig(sink.body());
    if (config.releaseDates.empty()) {
        return fail(message,
                    "Fail to analysize \"update configuration file\". Can not find key word "
                    "'release-date' from downloaded \"update configuration file\" ");
    }
    if (!config.hasUpdateFileUrl) {
        return fail(message,
                    "Fail to analysize \"update configuration file\". Can not find key word "
                    "'update-file-url' from downloaded \"update configuration file\" ");
    }
    if (!IsNewerRelease(config, env.releaseDate)) {
        if (mode == kCheckOnly) {
            return true;
        }
        return fail(message,
                    std::string(kNoNewerVersion) +
                        "\nCurrent version release date:" + env.releaseDate +
                        "\nThe version on server release date:" + config.releaseDates.back());
    }
    if (mode == kCheckOnly) {
        newer = true;
        return true;
    }
    return DownloadUpdater(message, config.updateFileUrl, updaterPath, env);
}

bool DownloadUpdater(std::string& message, const std::string& address, std::string& updaterPath,
                     const UpdateEnvironment& env) {
    if (env.updaterFolder.empty()) {
        return fail(message,
                    "Fail to create the \"update data file\".\nThe application-data folder cannot "
                    "be had");
    }
    const std::string path = env.updaterFolder + "/" + kUpdaterFileName;
    HttpResult result;
    std::string error;
    // The updater runs as this user's program: nobody else may change it.
    if (!downloadToFile(env.http, updateRequest(address, env), path, result, error,
                        FileMode::PrivateProgram)) {
        if (result.headReceived && (result.head.status < 200 || result.head.status > 299)) {
            return fail(message, statusText("update data file", result.head.status));
        }
        switch (result.phase) {
            case HttpPhase::Request:
                return fail(message,
                            "Fail to downlaod the \"update data file\", Please check the "
                            "network.\n\nError message:" +
                                error);
            case HttpPhase::Body:
                return fail(message, "Download the \"update data file\" Interrupted.\n" + error);
            case HttpPhase::Sink:
            case HttpPhase::Done:
                return fail(message, "Fail to create the \"update data file\".\n" + error);
            case HttpPhase::Setup:
                break;
        }
        return fail(message,
                    "Fail to downlaod the \"update data file\". More information[DUF1] : " +
                        (error.empty() ? systemErrorText(result.osErrno) : error));
    }
    updaterPath = path;
    return true;
}

void UpdateThreadProc(unsigned flags, const UpdateEnvironment& env,
                      UpdateThreadServices& services) {
    ClearUpdatingAtEnd clear{services};
    const bool tell = (flags & 2u) != 0;
    if ((flags & 3u) == 0) {
        std::string error;
        if (services.startProgram) {
            services.startProgram({services.programPath, kAutoUpdateSwitch}, error);
        }
        SaveUpdateCheckDate(env.settings, services.today);
        return;
    }
    const auto url = readStringSetting(env.settings, kUpdateUrlValue);
    if (!url) {
        if (tell) {
            showTitled(services.ui, "Can not get update_url information from registry");
        }
        return;
    }
    std::string message;
    std::string updaterPath;
    bool newer = false;
    if (!CheckForUpdate(kCheckOnly, message, &*url, updaterPath, newer, env)) {
        if (tell) {
            showTitled(services.ui, message);
        }
        return;
    }
    if (!newer) {
        if (tell) {
            services.ui.messageBox(kNoNewerVersion);
        }
        SaveUpdateCheckDate(env.settings, services.today);
        return;
    }
    if (services.ui.messageBox(kNewerVersionQuestion, MessageButtons::YesNo,
                               MessageIcon::Question) == MessageAnswer::Yes) {
        bool downloaded = false;
        {
            WaitCursor wait(services.ui);
            downloaded = CheckForUpdate(kCheckAndDownload, message, &*url, updaterPath, newer, env);
        }
        if (downloaded) {
            startUpdater(updaterPath, services);
        } else {
            showTitled(services.ui, message);
        }
    }
    SaveUpdateCheckDate(env.settings, services.today);
}

void TestUpdateAddress(const std::string& address, const UpdateEnvironment& env,
                       UpdateThreadServices& services) {
    std::string message;
    std::string updaterPath;
    bool newer = false;
    bool downloaded = false;
    {
        WaitCursor wait(services.ui);
        downloaded = CheckForUpdate(kCheckAndDownload, message, &address, updaterPath, newer, env);
    }
    if (!downloaded) {
        services.ui.messageBox(message);
        return;
    }
    if (services.ui.messageBox(kNewerVersionQuestion, MessageButtons::YesNo,
                               MessageIcon::Question) != MessageAnswer::Yes) {
        return;
    }
    std::string error;
    if (services.startProgram && services.startProgram({updaterPath, kUpdaterSwitch}, error)) {
        SaveUpdateCheckDate(env.settings, services.today);
        services.ui.messageBox(kUpdateTakesEffect);
    } else {
        services.ui.messageBox("Fail to start the \"update data file\".\n" + error);
    }
}

AutoUpdateChoice LoadAutoUpdateChoice(const SettingsStore& settings) {
    AutoUpdateChoice choice;
    choice.address = kDefaultUpdateUrl;
    if (const auto url = readStringSetting(settings, kUpdateUrlValue)) {
        choice.address = *url;
    }
    if (const auto flag = readDwordSetting(settings, kUpdateFlagValue)) {
        choice.enabled = (*flag & 1u) != 0;
        choice.notify = (*flag & 2u) != 0;
    }
    choice.enabledWhenOpened = choice.enabled;
    return choice;
}

bool SaveAutoUpdateChoice(SettingsStore& settings, const AutoUpdateChoice& choice,
                          std::string& message) {
    if (choice.address.empty()) {
        message = kNoConfigurationUrl;
        return false;
    }
    // The address is read back with kUpdateUrlValue.maxBytes: a longer one would read as missing.
    if (choice.address.size() >= kUpdateUrlValue.maxBytes) {
        message = "The URL of configuration file is longer than " +
                  std::to_string(kUpdateUrlValue.maxBytes - 1) + " characters";
        return false;
    }
    if (!choice.enabled && !choice.enabledWhenOpened) {
        return true;
    }
    std::string error;
    const std::uint32_t flag = (choice.enabled ? 1u : 0u) | (choice.notify ? 2u : 0u);
    if (!writeDwordSetting(settings, kUpdateFlagValue, flag, error) ||
        (choice.enabled && !writeStringSetting(settings, kUpdateUrlValue, choice.address, error))) {
        message = "The settings cannot be written: " + error;
        return false;
    }
    return true;
}

}  // namespace paginor
