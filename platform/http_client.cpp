// HTTP/1.1 (RFC 9110, RFC 9112) and cookies (RFC 6265) through libcurl.
#include "platform/http_client.h"

#include <curl/curl.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr long kMaxRedirects = 10;
constexpr const char* kProtocols = "http,https";

using Clock = std::chrono::steady_clock;

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (foldAscii(text[i]) != foldAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// One transfer's state, reached from libcurl's callbacks.
struct Transfer {
    Transfer(const HttpRequest& r, HttpSink& s, HttpResult& res)
        : request(r), sink(s), result(res), lastProgressTime(Clock::now()) {}

    const HttpRequest& request;
    HttpSink& sink;
    HttpResult& result;
    CURL* easy = nullptr;
    std::exception_ptr failure;
    HttpResponseHead pending;  // the head of the response being received
    bool sawLocation = false;
    bool sinkStopped = false;
    std::int64_t headerBytes = 0;
    std::int64_t lastProgress = -1;
    Clock::time_point lastProgressTime;
    // The low-speed window: when it began and the bytes moved by then (-1: no byte yet).
    Clock::time_point speedWindowStart;
    std::int64_t speedWindowBytes = -1;
    bool tooSlow = false;

    // Hands the head of the final response to the sink; false when the sink refuses.
    bool deliverHead() {
        result.headReceived = true;
        char* url = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr) {
            pending.effectiveUrl = url;
        }
        result.head = pending;
        if (!sink.head(result.head)) {
            sinkStopped = true;
            return false;
        }
        return true;
    }

    void readStatusLine(std::string_view line) {
        pending = HttpResponseHead{};
        sawLocation = false;
        // "HTTP/1.1 404 Not Found" or "HTTP/2 200"
        std::size_t space = line.find(' ');
        if (space == std::string_view::npos) {
            return;
        }
        std::string_view rest = line.substr(space + 1);
        int status = 0;
        std::size_t i = 0;
        for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9' && i < 3; ++i) {
            status = status * 10 + (rest[i] - '0');
        }
        pending.status = status;
        pending.reason = std::string(trimmed(rest.substr(i)));
    }

    void readHeaderField(std::string_view line) {
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            return;
        }
        std::string_view name = line.substr(0, colon);
        std::string_view value = trimmed(line.substr(colon + 1));
        auto is = [&](std::string_view wanted) {
            return name.size() == wanted.size() && startsWithIgnoringCase(name, wanted);
        };
        if (is("content-type")) {
            pending.hasContentType = true;
            pending.contentType = std::string(value);
        } else if (is("content-length")) {
            std::int64_t length = 0;
            bool digits = !value.empty();
            for (char c : value) {
                digits = digits && c >= '0' && c <= '9' && length < INT64_MAX / 10;
                length = digits ? length * 10 + (c - '0') : length;
            }
            pending.contentLength = digits ? length : -1;
        } else if (is("location")) {
            sawLocation = !value.empty();
        }
    }

    bool onHeaderLine(std::string_view line) {
        headerBytes += static_cast<std::int64_t>(line.size());
        if (startsWithIgnoringCase(line, "HTTP/")) {
            readStatusLine(trimmed(line));
            return true;
        }
        if (!trimmed(line).empty()) {
            readHeaderField(line);
            return true;
        }
        // The blank line ends a head: skip interim answers and redirects that libcurl follows.
        if (pending.status >= 100 && pending.status < 200) {
            return true;
        }
        if (request.followRedirects && pending.status >= 300 && pending.status < 400 &&
            sawLocation) {
            return true;
        }
        return result.headReceived || deliverHead();
    }

    bool onData(const char* bytes, std::size_t size) {
        if (!result.headReceived && !deliverHead()) {
            return false;
        }
        result.bodyBytes += static_cast<std::int64_t>(size);
        if (!sink.data(bytes, size)) {
            sinkStopped = true;
            return false;
        }
        return true;
    }

    // A peer that keeps moving a few bytes never falls quiet: once bytes move, each window of
    // the low-speed time must move its share. A window without any byte is left to the quiet
    // times, which allow a server long to compute a report.
    bool checkSpeed(std::int64_t progress, Clock::time_point now) {
        if (request.lowSpeedWindowMs <= 0 || request.lowSpeedBytesPerSecond <= 0 || progress <= 0) {
            return true;
        }
        if (speedWindowBytes < 0) {
            speedWindowStart = now;
            speedWindowBytes = progress;
            return true;
        }
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - speedWindowStart).count();
        if (elapsed < request.lowSpeedWindowMs) {
            return true;
        }
        const std::int64_t moved = progress - speedWindowBytes;
        if (moved > 0 && moved * 1000 < std::int64_t{request.lowSpeedBytesPerSecond} * elapsed) {
            result.error = HttpError::TimedOut;
            tooSlow = true;
            return false;
        }
        speedWindowStart = now;
        speedWindowBytes = progress;
        return true;
    }

    // False stops the transfer: cancelled, or no byte moved for longer than the phase allows.
    bool onProgress(curl_off_t downloaded, curl_off_t uploaded) {
        if (request.cancel != nullptr && request.cancel->load()) {
            result.error = HttpError::Cancelled;
            return false;
        }
        std::int64_t progress = headerBytes + downloaded + uploaded;
        Clock::time_point now = Clock::now();
        if (!checkSpeed(progress, now)) {
            return false;
        }
        if (progress != lastProgress) {
            lastProgress = progress;
            lastProgressTime = now;
            return true;
        }
        long limit = result.headReceived ? request.idleTimeoutMs : request.responseTimeoutMs;
        auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastProgressTime).count();
        if (limit > 0 && quiet > limit) {
            result.error = HttpError::TimedOut;
            return false;
        }
        return true;
    }
};

size_t headerCallback(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::size_t length = size * count;
    try {
        return transfer->onHeaderLine(std::string_view(buffer, length)) ? length : 0;
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
}

size_t writeCallback(char* buffer, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::size_t length = size * count;
    try {
        return transfer->onData(buffer, length) ? length : 0;
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
}

int progressCallback(void* user, curl_off_t, curl_off_t downloaded, curl_off_t,
                     curl_off_t uploaded) {
    auto* transfer = static_cast<Transfer*>(user);
    return transfer->onProgress(downloaded, uploaded) ? 0 : 1;
}

struct EasyHandle {
    CURL* handle = curl_easy_init();
    ~EasyHandle() {
        if (handle != nullptr) {
            curl_easy_cleanup(handle);
        }
    }
};

struct HeaderList {
    curl_slist* list = nullptr;
    ~HeaderList() { curl_slist_free_all(list); }
    bool append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list, line.c_str());
        if (grown == nullptr) {
            return false;
        }
        list = grown;
        return true;
    }
};

// Records the first failing option so that one check covers a whole series of settings.
class Options {
public:
    explicit Options(CURL* easy) : m_easy(easy) {}
    template <typename T>
    void set(CURLoption option, T value) {
        if (m_code == CURLE_OK) {
            m_code = curl_easy_setopt(m_easy, option, value);
        }
    }
    CURLcode code() const { return m_code; }

private:
    CURL* m_easy;
    CURLcode m_code = CURLE_OK;
};

void ignoreSigpipeOnce() {
    // A peer closing a TLS connection must not end the process through SIGPIPE.
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

HttpError classify(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpError::Resolve;
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:  // only the connect time-out is left to libcurl
            return HttpError::Connect;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
            return HttpError::Tls;
        default:
            return HttpError::Other;
    }
}

using ShareLocks = std::array<std::mutex, CURL_LOCK_DATA_LAST>;

void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    (*static_cast<ShareLocks*>(user))[data].lock();
}

void unlockShare(CURL*, curl_lock_data data, void* user) {
    (*static_cast<ShareLocks*>(user))[data].unlock();
}

}  // namespace

struct HttpClient::Share {
    CURLSH* handle = nullptr;
    CURLcode globalInit = CURLE_FAILED_INIT;
    ShareLocks locks;
};

HttpClient::HttpClient() : m_share(std::make_unique<Share>()) {
    ignoreSigpipeOnce();
    m_share->globalInit = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (m_share->globalInit != CURLE_OK) {
        return;
    }
    m_share->handle = curl_share_init();
    if (m_share->handle == nullptr) {
        return;
    }
    curl_share_setopt(m_share->handle, CURLSHOPT_LOCKFUNC, lockShare);
    curl_share_setopt(m_share->handle, CURLSHOPT_UNLOCKFUNC, unlockShare);
    curl_share_setopt(m_share->handle, CURLSHOPT_USERDATA, &m_share->locks);
    curl_share_setopt(m_share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    curl_share_setopt(m_share->handle, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
}

HttpClient::~HttpClient() {
    if (m_share->handle != nullptr) {
        curl_share_cleanup(m_share->handle);
    }
    if (m_share->globalInit == CURLE_OK) {
        curl_global_cleanup();
    }
}

HttpClient& HttpClient::shared() {
    static HttpClient client;
    return client;
}

HttpResult HttpClient::transfer(const HttpRequest& request, HttpSink& sink) {
    HttpResult result;
    if (m_share->handle == nullptr) {
        result.curlCode = m_share->globalInit != CURLE_OK ? m_share->globalInit : CURLE_FAILED_INIT;
        result.message = curl_easy_strerror(static_cast<CURLcode>(result.curlCode));
        return result;
    }
    EasyHandle easy;
    if (easy.handle == nullptr) {
        result.curlCode = CURLE_FAILED_INIT;
        result.message = curl_easy_strerror(CURLE_FAILED_INIT);
        return result;
    }
    Transfer transfer(request, sink, result);
    transfer.easy = easy.handle;
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    HeaderList headers;
    bool headersOk = true;
    for (const std::string& line : request.headers) {
        headersOk = headersOk && headers.append(line);
    }
    if (request.method == HttpMethod::Post) {
        headersOk = headersOk && headers.append("Expect:");  // no 100-continue round trip
    }

    Options options(easy.handle);
    options.set(CURLOPT_NOSIGNAL, 1L);
    options.set(CURLOPT_ERRORBUFFER, errorBuffer.data());
    options.set(CURLOPT_URL, request.url.c_str());
    options.set(CURLOPT_PROTOCOLS_STR, kProtocols);
    options.set(CURLOPT_REDIR_PROTOCOLS_STR, kProtocols);
    options.set(CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    options.set(CURLOPT_MAXREDIRS, kMaxRedirects);
    options.set(CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
    options.set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    options.set(CURLOPT_HEADERFUNCTION, headerCallback);
    options.set(CURLOPT_HEADERDATA, &transfer);
    options.set(CURLOPT_WRITEFUNCTION, writeCallback);
    options.set(CURLOPT_WRITEDATA, &transfer);
    options.set(CURLOPT_XFERINFOFUNCTION, progressCallback);
    options.set(CURLOPT_XFERINFODATA, &transfer);
    options.set(CURLOPT_NOPROGRESS, 0L);
    if (!request.userAgent.empty()) {
        options.set(CURLOPT_USERAGENT, request.userAgent.c_str());
    }
    if (!request.useSystemProxy) {
        options.set(CURLOPT_PROXY, "");
    }
    if (request.relaxedTls) {
        options.set(CURLOPT_SSL_VERIFYPEER, 0L);
        options.set(CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (request.sharedCookies) {
        options.set(CURLOPT_SHARE, m_share->handle);
        options.set(CURLOPT_COOKIEFILE, "");
    }
    if (request.method == HttpMethod::Post) {
        options.set(CURLOPT_POST, 1L);
        options.set(CURLOPT_POSTFIELDS, request.body.data());
        options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    if (headers.list != nullptr) {
        options.set(CURLOPT_HTTPHEADER, headers.list);
    }
    if (options.code() != CURLE_OK || !headersOk) {
        CURLcode code = options.code() != CURLE_OK ? options.code() : CURLE_OUT_OF_MEMORY;
        result.curlCode = code;
        result.message = curl_easy_strerror(code);
        return result;
    }

    CURLcode code = curl_easy_perform(easy.handle);
    if (transfer.failure) {
        std::rethrow_exception(transfer.failure);
    }
    if (code == CURLE_OK && !result.headReceived && !transfer.deliverHead()) {
        code = CURLE_WRITE_ERROR;
    }
    result.curlCode = code;
    long osErrno = 0;
    if (curl_easy_getinfo(easy.handle, CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK) {
        result.osErrno = static_cast<int>(osErrno);
    }
    if (code == CURLE_OK) {
        result.phase = HttpPhase::Done;
        return result;
    }
    if (transfer.sinkStopped) {
        result.phase = HttpPhase::Sink;
        result.message = "Stopped by the receiver";
        return result;
    }
    result.phase = result.headReceived ? HttpPhase::Body : HttpPhase::Request;
    if (result.error == HttpError::Cancelled) {
        result.message = "Transfer cancelled";
    } else if (transfer.tooSlow) {
        result.message = "Too slow: less than " + std::to_string(request.lowSpeedBytesPerSecond) +
                         " bytes a second for " + std::to_string(request.lowSpeedWindowMs) + " ms";
    } else if (result.error == HttpError::TimedOut) {
        long limit = result.headReceived ? request.idleTimeoutMs : request.responseTimeoutMs;
        result.message = "Timed out: no data for " + std::to_string(limit) + " ms";
    } else {
        result.error = classify(code);
        result.message = errorBuffer[0] != '\0' ? std::string(errorBuffer.data())
                                                : std::string(curl_easy_strerror(code));
    }
    return result;
}

bool HttpClient::setCookie(std::string_view url, std::string_view name, std::string_view value) {
    auto unsafe = [](std::string_view text) {
        return text.find_first_of(std::string_view("\t\r\n\0", 4)) != std::string_view::npos;
    };
    if (m_share->handle == nullptr || name.empty() || unsafe(name) || unsafe(value)) {
        return false;
    }
    CURLU* parsed = curl_url();
    if (parsed == nullptr) {
        return false;
    }
    std::string host;
    std::string path;
    char* part = nullptr;
    if (curl_url_set(parsed, CURLUPART_URL, std::string(url).c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        curl_free(part);
        part = nullptr;
        if (curl_url_get(parsed, CURLUPART_PATH, &part, 0) == CURLUE_OK) {
            path = part;
            curl_free(part);
        }
    }
    curl_url_cleanup(parsed);
    if (host.empty()) {
        return false;
    }
    std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1);

    EasyHandle easy;
    if (easy.handle == nullptr) {
        return false;
    }
    // Netscape cookie line: host only, not secure, no expiry (a session cookie).
    std::string line =
        host + "\tFALSE\t" + path + "\tFALSE\t0\t" + std::string(name) + "\t" + std::string(value);
    Options options(easy.handle);
    options.set(CURLOPT_NOSIGNAL, 1L);
    options.set(CURLOPT_SHARE, m_share->handle);
    options.set(CURLOPT_COOKIELIST, line.c_str());
    return options.code() == CURLE_OK;
}

bool StringSink::data(const char* bytes, std::size_t size) {
    m_body.append(bytes, size);
    return true;
}

namespace {

// Receives a 2xx body into a file that takes the target's name only when the body is whole.
class TemporaryFileSink : public HttpSink {
public:
    TemporaryFileSink(const std::string& target, FileMode mode) : m_file(target, mode) {}

    bool head(const HttpResponseHead& head) override {
        if (head.status < 200 || head.status > 299) {
            m_error = "HTTP " + std::to_string(head.status);
            if (!head.reason.empty()) {
                m_error += " " + head.reason;
            }
            return false;
        }
        if (!m_file.create()) {
            m_error = m_file.error();
            return false;
        }
        return true;
    }

    bool data(const char* bytes, std::size_t size) override {
        if (!m_file.write(bytes, static_cast<std::int64_t>(size))) {
            m_error = m_file.error();
            return false;
        }
        return true;
    }

    bool commit() {
        if (!m_file.commit()) {
            m_error = m_file.error();
            return false;
        }
        return true;
    }

    const std::string& error() const { return m_error; }

private:
    ReplacingFile m_file;
    std::string m_error;
};

}  // namespace

bool downloadToFile(HttpClient& client, const HttpRequest& request, const std::string& targetPath,
                    HttpResult& result, std::string& error, FileMode mode) {
    TemporaryFileSink sink(targetPath, mode);
    result = client.transfer(request, sink);
    if (!result.done()) {
        error = result.phase == HttpPhase::Sink ? sink.error() : result.message;
        return false;
    }
    if (!sink.commit()) {
        error = sink.error();
        return false;
    }
    return true;
}

}  // namespace paginor
