#include "app/download_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "app/ui_services.h"
#include "core/download.h"
#include "core/report_core.h"
#include "core/text_format.h"
#include "core/text_scan.h"
#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/http_client.h"
#include "platform/printer_system.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

constexpr std::string_view kNavCancelPage = "shdoclc.dll/navcancl.htm#";
constexpr std::string_view kRedirectWord = "javascript:redirect";

// Receives the response into a new temporary file, which shows what was received only once the
// reading has ended.
class DownloadSink : public HttpSink {
public:
    DownloadSink(DownloadState& state, const DownloadEnvironment& env, std::string folder)
        : m_state(state), m_env(env), m_folder(std::move(folder)) {}
    ~DownloadSink() override { dropFile(); }

    bool head(const HttpResponseHead& head) override {
        m_state.step = "BfQrySts";
        if (head.status < 200 || head.status > 299) {
            m_state.setError("HTTP Status Codes: " + std::to_string(head.status));
            m_refused = true;
            return false;
        }
        m_state.step = "AfQrySts";
        m_state.step = "BfQryInfoContent";
        const char* extension = DownloadExtension(head.contentType);
        m_state.step = "AfQryInfoContent";
        m_state.step = "BfQryInfoRaw";
        m_length = head.contentLength;
        m_state.step = "AfQryInfoRaw";
        if (m_length == 0) {
            refuseEmpty();
            return false;
        }
        m_state.step = "BfOpenTmpFile";
        dropFile();
        std::string name;
        if (!CreateUniqueFile(m_folder, "pgr", extension, name)) {
            m_state.setError("GetTempFileName Failed:[DTP4]" + systemErrorText(FileSystemError()));
            m_refused = true;
            return false;
        }
        m_state.path = name;
        m_file = std::make_unique<ReplacingFile>(name);
        if (!m_file->create()) {
            m_state.setError("GetTempFileName Failed:[DTP4]" +
                             systemErrorText(m_file->errorNumber()));
            m_refused = true;
            dropFile();
            return false;
        }
        m_state.step = "AfOpenTmpFile";
        return true;
    }

    bool data(const char* bytes, std::size_t size) override {
        if (m_state.cancelRequested.load()) {
            return false;
        }
        if (!m_file->write(bytes, static_cast<std::int64_t>(size))) {
            throw std::runtime_error("cannot write " + m_file->error());
        }
        m_total += static_cast<std::int64_t>(size);
        if (m_length > 0) {
            int percent = DownloadPercent(m_total, m_length);
            if (percent > m_lastPercent) {
                m_lastPercent = percent;
                if (m_env.progress)
                    m_env.progress(percent);
            }
        }
        return true;
    }

    void refuseEmpty() {
        m_state.setError("The size of the file is 0:[More Info:DLTP]The URL:" + m_address);
        m_refused = true;
    }
    // Puts what was received under the file's name; false with the reason in error.
    bool keepFile(std::string& error) {
        if (m_file == nullptr) {
            return true;
        }
        if (!m_file->commit()) {
            // The name stays reserved until dropFile takes it away.
            error = m_file->error();
            return false;
        }
        m_file.reset();
        return true;
    }
    // Nothing of the file stays, not even its name.
    void dropFile() {
        if (m_file != nullptr) {
            m_file.reset();
            RemoveFile(m_state.path);
        }
    }
    void setAddress(const std::string& address) { m_address = address; }
    bool refused() const { return m_refused; }
    std::int64_t total() const { return m_total; }

private:
    DownloadState& m_state;
    const DownloadEnvironment& m_env;
    std::string m_folder;
    std::string m_address;
    std::unique_ptr<ReplacingFile> m_file;
    std::int64_t m_length = -1;
    std::int64_t m_total = 0;
    int m_lastPercent = 0;
    bool m_refused = false;
};

void runDownload(DownloadState& state, const DownloadEnvironment& env) {
    state.step = "Start";
    // The whole address is kept: one cut to 519 characters would fetch another address.
    const std::string address = UnwrapAddress(state.path);
    const bool secure = startsWithNoCase(address, "https:");
    const std::string urlText = "\r\n[More Info]The URL: " + address;

    if (secure) {
        const std::size_t hostStart = std::string_view("https://").size();
        if (address.size() <= hostStart || address.find('/', hostStart) == std::string::npos) {
            state.setError("Invalid URL :" + address);
            state.CloseDialog();
            return;
        }
    }
    std::string folder = env.tempFolder.empty() ? privateTempFolder() : env.tempFolder;
    if (!IsDirectory(folder)) {
        const int error = PathExists(folder) ? ENOTDIR : FileSystemError();
        state.setError("GetTempPath Failed:[DTP5]" + systemErrorText(error != 0 ? error : ENOTDIR));
        state.CloseDialog();
        return;
    }
    if (state.cookie) {
        state.step = "BfSetCookie";
        SetCookiesForUrl(address, *state.cookie);
        state.step = "AfSetCookie";
    }

    HttpRequest request;
    request.url = address;
    request.useSystemProxy = secure;  // the plain path connects directly
    request.userAgent = secure ? "iexplorer" : "";
    request.headers = {"Pragma: no-cache", "Cache-Control: no-cache"};
    request.connectTimeoutMs = env.connectTimeoutMs;
    request.responseTimeoutMs = env.responseTimeoutMs;
    request.idleTimeoutMs = env.idleTimeoutMs;
    request.lowSpeedBytesPerSecond = env.lowSpeedBytesPerSecond;
    request.lowSpeedWindowMs = env.lowSpeedWindowMs;
    request.cancel = &state.cancelRequested;

    DownloadSink sink(state, env, folder);
    sink.setAddress(address);
    HttpResult result = HttpClient::shared().transfer(request, sink);
    if (secure && !result.done() && result.error == HttpError::Tls && !result.headReceived) {
        // A certificate that does not check out (unknown authority, wrong name, out of date):
        // relax the check and send again.
        request.relaxedTls = true;
        result = HttpClient::shared().transfer(request, sink);
    }
    const bool cancelled = state.cancelRequested.load() || result.error == HttpError::Cancelled;
    if (sink.refused()) {
        sink.dropFile();
        state.CloseDialog();
        return;
    }
    if (!result.done() && !cancelled) {
        // The part of a failed download is of no use: nothing is left behind.
        sink.dropFile();
        const std::string message = result.message;
        if (secure) {
            switch (result.phase) {
                case HttpPhase::Setup:
                    state.setError("Runtime exception[InternetOpen]:" + message);
                    break;
                case HttpPhase::Request:
                    state.setError(
                        (result.error == HttpError::Resolve || result.error == HttpError::Connect
                             ? "Runtime exception[InternetConnect]:"
                             : "Runtime exception[HttpSendRequest]:") +
                        message);
                    break;
                default:
                    state.setError("Runtime exception[DTPH]:" + message);
            }
        } else if (result.phase == HttpPhase::Body) {
            state.setError("Runtime exception[DTP2]:" + message);
        } else if (result.phase == HttpPhase::Request) {
            state.setError("Runtime exception[DTP1]:" + message + urlText);
        } else {
            state.setError("Runtime exception:[DTP3]" + message +
                           "\r\n[More Info:DLTP:" + state.step + "]The URL: " + address);
        }
        state.CloseDialog();
        return;
    }
    if (!cancelled && sink.total() == 0) {
        // A body that ends empty, its length unannounced, is refused as a file of size 0.
        sink.dropFile();
        sink.refuseEmpty();
        state.CloseDialog();
        return;
    }
    state.finished = true;
    state.step = "BfFreeRec";
    // A cancelled download keeps the part it received.
    std::string error;
    if (!sink.keepFile(error)) {
        sink.dropFile();
        if (!cancelled) {
            state.setError("Runtime exception[DTP2]:" + error);
            state.finished = false;
            state.CloseDialog();
        }
        return;
    }
    if (!cancelled) {
        state.succeeded = true;
        state.CloseDialog();
    }
}

}  // namespace

void DownloadState::reset() {
    succeeded = false;
    finished = false;
    cancelRequested = false;
    errorText.clear();
    step.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_close = nullptr;
    m_closeRequested = false;
}

void DownloadState::setError(std::string text) {
    if (text.size() > kErrorCapacity - 1) {
        text.resize(kErrorCapacity - 1);
    }
    errorText = std::move(text);
}

bool DownloadState::attachDialog(std::function<void()> close) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_close = std::move(close);
    return m_closeRequested.load();
}

void DownloadState::detachDialog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_close = nullptr;
}

void DownloadState::CloseDialog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closeRequested = true;
    if (m_close) {
        m_close();
    }
}

std::string UnwrapAddress(std::string_view address) {
    std::string text(address);
    if (startsWithNoCase(text, "res:")) {
        std::size_t at = text.find(kNavCancelPage);
        if (at != std::string::npos) {
            text = text.substr(at + kNavCancelPage.size());
        }
    }
    if (startsWithNoCase(text, kRedirectWord)) {
        text = text.substr(kRedirectWord.size());
        std::size_t first = text.find_first_not_of(" '\"(");
        text = first == std::string::npos ? std::string() : text.substr(first);
        std::size_t last = text.find_last_not_of(" '\");");
        text = last == std::string::npos ? std::string() : text.substr(0, last + 1);
    }
    return text;
}

const char* DownloadExtension(std::string_view contentType) {
    if (startsWithNoCase(contentType, "application/pdf"))
        return ".pdf";
    if (startsWithNoCase(contentType, "application/msword"))
        return ".doc";
    if (startsWithNoCase(contentType, "text/plain"))
        return ".txt";
    return ".htm";
}

int DownloadPercent(std::int64_t total, std::int64_t length) {
    if (length <= 0 || total <= 0)
        return 0;
    if (total >= length)
        return 100;
    return static_cast<int>(static_cast<__int128>(total) * 100 / length);
}

void DownloadThreadProc(DownloadState& state, const DownloadEnvironment& env) {
    try {
        runDownload(state, env);
    } catch (const std::exception& e) {
        state.setError("Runtime exception:[DTP3]" + std::string(e.what()) +
                       "\r\n[More Info:DLTP:" + state.step + "]The URL: " + state.path);
        state.CloseDialog();
    } catch (...) {
        const int error = errno;
        std::string text = error != 0 ? "Failed to download a file. Error " +
                                            std::to_string(error) + ": " + systemErrorText(error)
                                      : std::string("Failed to download a file. Error Unknown.");
        state.setError(text + "\r\n[More Info:DLTP2:" + state.step + "]The URL: " + state.path);
        state.CloseDialog();
    }
}

void InitReportThreadProc(DownloadState& state) {
    std::string trace = "Try_Start";
    // The dialog's Cancel stops the downloads of linked files the load makes.
    state.report->setCancelFlag(&state.cancelRequested);
    try {
        state.report->Init(state.path,
                           state.reportAddress.empty() ? nullptr : state.reportAddress.c_str(),
                           state.cookie.has_value(), &trace, nullptr, nullptr);
        state.finished = true;
    } catch (const ReportError&) {
        state.setError(state.report->GetErrorText());
    } catch (const std::exception& e) {
        state.setError("Fail to initial.[ITP]" + std::string(e.what()));
    }
    state.report->setCancelFlag(nullptr);
    state.succeeded = true;
    state.CloseDialog();
}

namespace {

// The file goes to the current printer when the system has it, else to its default one.
void printNonReportFile(const std::string& path, const std::string& extension,
                        const NonReportEnvironment& env) {
    std::string error;
    std::string printer;
    if (env.printers == nullptr) {
        error = "Printing is not set up";
    } else {
        std::vector<std::string> names;
        if (env.printers->destinations(names, error)) {
            if (std::find(names.begin(), names.end(), env.printer) != names.end())
                printer = env.printer;
            else if (!env.printers->defaultOrFirstDestination(printer, error))
                printer.clear();
        }
    }
    if (!printer.empty()) {
        const char* format = endsWithNoCase(extension, ".txt")   ? "text/plain"
                             : endsWithNoCase(extension, ".doc") ? "application/msword"
                                                                 : "application/octet-stream";
        const std::size_t slash = path.find_last_of('/');
        const std::string title = !env.address.empty()         ? env.address
                                  : slash == std::string::npos ? path
                                                               : path.substr(slash + 1);
        int jobId = 0;
        if (env.printers->submitFile(printer, title, path, format, {}, jobId, error))
            return;
    }
    if (env.ui != nullptr) {
        env.ui->messageBox(
            "Cannot print " + path + (printer.empty() ? "" : " on " + printer) + ": " + error,
            MessageButtons::Ok, MessageIcon::Stop);
    }
}

}  // namespace

void OpenNonReportFile(const std::string& path, bool print, const NonReportEnvironment& env) {
    const std::string_view extension =
        std::string_view(path).substr(path.size() >= 4 ? path.size() - 4 : 0);
    const SettingValue* counter = &kOpenFlagValue;
    if (endsWithNoCase(extension, ".txt"))
        counter = &kOpenFlagTxtValue;
    if (endsWithNoCase(extension, ".doc"))
        counter = &kOpenFlagDocValue;
    if (endsWithNoCase(extension, ".pdf"))
        counter = &kOpenFlagPdfValue;

    if (env.settings != nullptr) {
        const std::uint32_t shown = readDwordSetting(*env.settings, *counter).value_or(0);
        if (shown < kMaxNonReportNotices) {
            if (env.ui != nullptr) {
                env.ui->messageBox(
                    "Paginor support oracle report in HTML/HTMLCSS format only. It is not able to "
                    "open " +
                    std::string(extension) +
                    " file.\nNow the default associated program of this file will be "
                    "called.\nFull file path: " +
                    path);
            }
            writeDwordSetting(*env.settings, *counter, shown + 1);
        }
    }
    auto start =
        env.start
            ? env.start
            : std::function<bool(const std::vector<std::string>&, std::string&)>(spawnDetached);
    std::string error;
    if (print && endsWithNoCase(extension, ".pdf")) {
        HttpRequest request;
        request.url =
            "http://" + env.printToolHost + ":" + std::to_string(env.printToolPort) + "/printdoc";
        request.method = HttpMethod::Post;
        request.userAgent = "Paginor";
        request.headers = {"Content-Type: application/x-www-form-urlencoded"};
        request.body = "reportName=test&docPath=" + UrlEncodeForm(path);
        request.sharedCookies = false;
        StringSink reply;
        HttpResult result = HttpClient::shared().transfer(request, reply);
        if (!result.done() && env.ui != nullptr) {
            env.ui->messageBox("Failed to post data to Mirel Printing Tool. " + result.message);
        }
        return;
    }
    // The desktop has no "print" verb for a file type: the print system prints it, text by its
    // own filter and other types where it has one.
    if (print) {
        printNonReportFile(path, std::string(extension), env);
        return;
    }
    start({"xdg-open", path}, error);
}

}  // namespace paginor
