#include "core/download.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "core/env_info.h"
#include "core/mime_table.h"
#include "core/text_scan.h"
#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/http_client.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr std::string_view kConverterKeyPath = "Software\\Orrin.Tadd\\Tabulan";
constexpr std::string_view kBaseDirValue = "basedir";
constexpr std::size_t kMinBaseDirChars = 3;

constexpr std::string_view kCachePrefix = "fol";
constexpr std::string_view kUseIeTip =
    " Tips: please append &useie=no to the URL or append -useie:no to the command line.";
constexpr const char* kSecureUserAgent = "iexplorer";

// The three ways a linked file is fetched: through the session that holds the cookies, over
// https, or as a plain http request. All run over the one HTTP client and differ only in
// settings and messages.
enum class Route { Session, Secure, Plain };

using Clock = std::chrono::steady_clock;

void capResult(std::string& text) {
    if (text.size() > kMaxDownloadResultBytes) {
        text.resize(kMaxDownloadResultBytes);
    }
}

// A new empty file fol<unique><suffix> in the download folder, else the cache folder, else the
// program's folder.
bool createCacheFile(const SettingsReader& settings, std::string_view suffix, std::string& path,
                     std::string& message) {
    int error = ENOENT;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Asked one at a time: the cache folder is created when it is asked for.
        std::string folder = attempt == 0   ? GetDownloadFolder(settings)
                             : attempt == 1 ? cacheFolder()
                                            : executableFolder();
        if (folder.empty()) {
            continue;
        }
        if (CreateUniqueFile(folder, kCachePrefix, suffix, path)) {
            return true;
        }
        error = FileSystemError();
    }
    message = "Runtime exception [ED" + std::to_string(error) + "]: Failed to get cache dir";
    return false;
}

std::string withReason(std::string text, const std::string& reason) {
    if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    return text;
}

// Receives the body into a new cache file "fol<unique>.tmp.<extension>", which shows the body
// only once the whole of it has arrived.
class DownloadSink : public HttpSink {
public:
    enum class Failure { None, Status, Naming, File };

    DownloadSink(const SettingsReader& settings, std::string_view defaultExtension,
                 std::string& step)
        : m_settings(settings), m_extension(defaultExtension), m_step(step) {}

    ~DownloadSink() override { drop(); }

    bool head(const HttpResponseHead& head) override {
        m_step = "#0#3";
        if (head.status < 200 || head.status > 299) {
            m_failure = Failure::Status;
            return false;
        }
        m_step = "#1";
        if (head.hasContentType) {
            m_extension = ExtensionFromContentType(head.contentType);
        }
        m_step = "#2";
        drop();
        if (!createCacheFile(m_settings, ".tmp." + std::string(m_extension), m_path, m_message)) {
            m_path.clear();
            m_failure = Failure::Naming;
            return false;
        }
        if (m_path.size() > kMaxDownloadResultBytes) {
            return fileFailure(ENAMETOOLONG);
        }
        m_file = std::make_unique<ReplacingFile>(m_path);
        return m_file->create() || fileFailure(m_file->errorNumber());
    }

    bool data(const char* bytes, std::size_t size) override {
        m_step = "#5";
        return m_file->write(bytes, static_cast<std::int64_t>(size)) ||
               fileFailure(m_file->errorNumber(), true);
    }

    // Puts the complete body under the cache name.
    bool publish(std::string& finalPath) {
        if (m_file == nullptr) {
            return fileFailure(ENOENT);
        }
        if (!m_file->commit()) {
            return fileFailure(m_file->errorNumber(), true);
        }
        finalPath = std::exchange(m_path, std::string());
        return true;
    }

    Failure failure() const { return m_failure; }
    const std::string& message() const { return m_message; }
    const std::string& failedFile() const { return m_path; }
    int fileError() const { return m_fileError; }
    bool failedWriting() const { return m_writing; }

private:
    // Nothing of an unfinished download stays, not even its empty name.
    void drop() {
        m_file.reset();
        if (!m_path.empty()) {
            RemoveFile(m_path);
        }
    }

    bool fileFailure(int error, bool writing = false) {
        m_failure = Failure::File;
        m_fileError = error;
        m_writing = writing;
        return false;
    }

    const SettingsReader& m_settings;
    std::string_view m_extension;
    std::string& m_step;
    std::string m_path;
    std::unique_ptr<ReplacingFile> m_file;
    Failure m_failure = Failure::None;
    std::string m_message;
    int m_fileError = 0;
    bool m_writing = false;
};

struct Attempt {
    Route route;
    std::string_view url;
    std::string host;  // for the plain route's messages
    Clock::time_point start;
    std::string step = "#0";

    long seconds() const {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count());
    }
};

std::string statusMessage(const Attempt& attempt, const HttpResponseHead& head) {
    std::string text = "HTTP Status Codes: " + std::to_string(head.status);
    if (attempt.route == Route::Session) {
        text += "; It took " + std::to_string(attempt.seconds()) + " seconds";
    }
    return withReason(std::move(text), head.reason);
}

std::string fileMessage(const Attempt& attempt, const DownloadSink& sink) {
    std::string reason = sink.failedFile() + ": " + systemErrorText(sink.fileError());
    switch (attempt.route) {
        case Route::Session:
            return "Runtime exception[GFFI2]:" + reason;
        case Route::Secure:
            return "Runtime exception[GFFIS2]:" + reason;
        case Route::Plain:
            break;
    }
    return (sink.failedWriting() ? "Failed to write file " : "Failed to open file ") +
           sink.failedFile() + ". More info: " + systemErrorText(sink.fileError());
}

// The session route's message for a failure while the address is opened: the time, libcurl's text,
// as much of the address as fits, then the retry tip when it still fits.
std::string openingMessage(const Attempt& attempt, const std::string& text) {
    std::string message =
        "Runtime exception(" + std::to_string(attempt.seconds()) + " sec)[GFFI1]:" + text + " ";
    if (message.size() < kMaxDownloadResultBytes) {
        message.append(attempt.url.substr(0, kMaxDownloadResultBytes - message.size()));
    }
    if (message.size() + kUseIeTip.size() <= kMaxDownloadResultBytes) {
        message.append(kUseIeTip);
    }
    return message;
}

// The socket route's texts carry the socket layer's error number (libcurl's code when none).
std::string plainMessage(const Attempt& attempt, const HttpResult& result) {
    int code = result.osErrno != 0 ? result.osErrno : result.curlCode;
    std::string text;
    if (result.phase == HttpPhase::Setup) {
        text = "Failed to call socket. Error code:" + std::to_string(code);
    } else if (result.error == HttpError::Resolve) {
        text =
            "Failed to retrieve the host information corresponding to a network address. "
            "server :- " +
            attempt.host + ". Error code:" + std::to_string(code);
    } else if (result.error == HttpError::Connect) {
        text = "Failed to connect to server :- " + attempt.host +
               ". Error code:" + std::to_string(code);
    } else {
        text = "Failed to receive from server :- " + attempt.host +
               ". Error code:" + std::to_string(code);
    }
    return withReason(std::move(text), result.message);
}

std::string transferMessage(const Attempt& attempt, const HttpResult& result) {
    switch (attempt.route) {
        case Route::Session:
            if (result.phase == HttpPhase::Setup) {
                return "Error [M:DLF]{" + attempt.step + "}: " + result.message;
            }
            return result.phase == HttpPhase::Request
                       ? openingMessage(attempt, result.message)
                       : "Runtime exception[GFFI3]:" + result.message;
        case Route::Secure:
            if (result.phase == HttpPhase::Setup) {
                return "Runtime exception[GFFIS:InternetOpen]:" + result.message;
            }
            return result.phase == HttpPhase::Request
                       ? "Runtime exception[GFFIS:HttpSendRequest]:" + result.message
                       : "Runtime exception[GFFIS:InternetReadFile]:" + result.message;
        case Route::Plain:
            break;
    }
    return plainMessage(attempt, result);
}

HttpRequest requestFor(const Attempt& attempt, const DownloadOptions& options) {
    HttpRequest request;
    request.url = std::string(attempt.url);
    request.connectTimeoutMs = options.connectTimeoutMs;
    request.responseTimeoutMs = options.responseTimeoutMs;
    request.idleTimeoutMs = options.idleTimeoutMs;
    request.lowSpeedBytesPerSecond = options.lowSpeedBytesPerSecond;
    request.lowSpeedWindowMs = options.lowSpeedWindowMs;
    request.cancel = options.cancel;
    switch (attempt.route) {
        case Route::Session:
            break;
        case Route::Secure:
            request.userAgent = kSecureUserAgent;
            request.useSystemProxy = true;
            request.relaxedTls = true;
            request.headers.push_back("Pragma: no-cache");
            break;
        case Route::Plain:
            request.sharedCookies = false;
            break;
    }
    return request;
}

bool download(std::string& result, Attempt& attempt, std::string_view cookies,
              const DownloadOptions& options) {
    const SettingsReader& settings =
        options.settings != nullptr ? *options.settings : defaultSettingsReader();
    if (attempt.route == Route::Session) {
        attempt.step = "#0#1";
        SetCookiesForUrl(attempt.url, cookies);
    }
    attempt.step = "#0#2";
    HttpRequest request = requestFor(attempt, options);
    attempt.start = Clock::now();
    DownloadSink sink(settings, attempt.route == Route::Plain ? "htm" : "html", attempt.step);
    HttpResult transfer = HttpClient::shared().transfer(request, sink);

    std::string path;
    if (transfer.done() && sink.publish(path)) {
        result = path;
        return true;
    }
    switch (sink.failure()) {
        case DownloadSink::Failure::Status:
            result = statusMessage(attempt, transfer.head);
            break;
        case DownloadSink::Failure::Naming:
            result = sink.message();
            break;
        case DownloadSink::Failure::File:
            result = fileMessage(attempt, sink);
            break;
        case DownloadSink::Failure::None:
            result = transferMessage(attempt, transfer);
            break;
    }
    return false;
}

}  // namespace

bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view cookies,
                         bool useBrowserStack) {
    return GetFileFromInternet(result, url, cookies, useBrowserStack, DownloadOptions{});
}

bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view cookies,
                         bool useBrowserStack, const DownloadOptions& options) {
    Attempt attempt{Route::Session, url, {}, Clock::now()};
    if (startsWithNoCase(url, "https://")) {
        attempt.route = Route::Secure;
        if (url.find('/', 8) == std::string_view::npos) {
            result = "Invalid URL :" + std::string(url);
            capResult(result);
            return false;
        }
    } else if (!useBrowserStack && startsWithNoCase(url, "http://")) {
        attempt.route = Route::Plain;
        int port = 0;
        std::string path;
        ParseHttpUrl(url, attempt.host, port, path);
    }
    bool ok = false;
    try {
        ok = download(result, attempt, cookies, options);
    } catch (const std::exception& error) {
        bool noMemory = dynamic_cast<const std::bad_alloc*>(&error) != nullptr;
        result = "Error [M:DLF]{" + attempt.step +
                 "}: " + (noMemory ? FormatSystemError(ENOMEM) : std::string(error.what()));
    }
    capResult(result);
    return ok;
}

void ParseHttpUrl(std::string_view url, std::string& host, int& port, std::string& path) {
    if (startsWithNoCase(url, "http://")) {
        url.remove_prefix(7);
    }
    std::size_t slash = url.find('/');
    std::string_view hostAndPort = url.substr(0, slash);
    path = slash == std::string_view::npos ? std::string("/") : std::string(url.substr(slash));
    // A bracketed IPv6 address holds colons of its own.
    std::size_t bracket = hostAndPort.starts_with('[') ? hostAndPort.find(']') : 0;
    std::size_t colon = hostAndPort.find(':', bracket == std::string_view::npos ? 0 : bracket);
    port = 80;
    if (colon != std::string_view::npos) {
        port = 0;
        for (char c : hostAndPort.substr(colon + 1)) {
            if (c < '0' || c > '9' || port > 65535) {
                break;
            }
            port = port * 10 + (c - '0');
        }
        hostAndPort = hostAndPort.substr(0, colon);
    }
    host = std::string(hostAndPort);
}

bool MakeCacheFileName(std::string& result, std::string_view extension,
                       const SettingsReader& settings) {
    std::string path;
    if (!createCacheFile(settings, ".tmp." + std::string(extension), path, result)) {
        return false;
    }
    result = std::move(path);
    return true;
}

std::string GetDownloadFolder(const SettingsReader& settings) {
    std::string folder;
    return GetConverterBaseDir(folder, settings) ? folder : tempFolder();
}

bool GetConverterBaseDir(std::string& folder, const SettingsReader& settings) {
    std::optional<std::string> value =
        settings.readString(SettingsHive::CurrentUser, kConverterKeyPath, kBaseDirValue);
    if (!value || value->size() < kMinBaseDirChars) {
        folder.clear();
        return false;
    }
    folder = std::move(*value);
    return true;
}

void SetCookiesForUrl(std::string_view url, std::string_view cookies) {
    // The cookie folder: the address up to the last '/' of its path (query and fragment aside);
    // the whole address when it has no path.
    std::size_t scheme = url.find("://");
    std::size_t authority = scheme == std::string_view::npos ? 0 : scheme + 3;
    std::size_t pathStart = url.find_first_of("/?#", authority);
    std::string_view cookieUrl = url;
    if (pathStart != std::string_view::npos && url[pathStart] == '/') {
        std::size_t pathEnd = url.find_first_of("?#", pathStart);
        std::size_t lastSlash = url.substr(0, pathEnd).rfind('/');
        cookieUrl = url.substr(0, lastSlash + 1);
    }
    while (!cookies.empty()) {
        std::size_t semicolon = cookies.find(';');
        std::string_view piece = cookies.substr(0, semicolon);
        cookies = semicolon == std::string_view::npos ? std::string_view()
                                                      : cookies.substr(semicolon + 1);
        std::size_t first = piece.find_first_not_of(' ');
        if (first == std::string_view::npos) {
            continue;
        }
        piece.remove_prefix(first);
        std::size_t equals = piece.find('=');
        std::string_view name = piece.substr(0, equals);
        std::string_view value =
            equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1);
        if (startsWithNoCase(name, "tabulancookie") || startsWithNoCase(name, "tabulanabc")) {
            continue;
        }
        HttpClient::shared().setCookie(cookieUrl, name, value);
    }
}

}  // namespace paginor
