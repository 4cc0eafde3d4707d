#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/replacing_file.h"

namespace paginor {

enum class HttpMethod { Get, Post };

struct HttpRequest {
    std::string url;  // http:// or https:// only, also for redirects
    HttpMethod method = HttpMethod::Get;
    std::string body;                  // the POST body
    std::vector<std::string> headers;  // extra lines such as "Content-Type: text/xml"
    std::string userAgent;             // empty: no User-Agent header
    bool useSystemProxy = false;       // false: connect directly, whatever the environment says
    bool relaxedTls = false;           // accept any certificate (self-signed, expired, other name)
    bool sharedCookies = true;         // send and keep cookies of the client's store
    bool followRedirects = true;       // at most 10
    // The quiet times count from the last byte moved either way; 0 turns them off.
    long connectTimeoutMs = 10000;     // until the connection stands
    long responseTimeoutMs = 3600000;  // longest quiet time before the head is complete
    long idleTimeoutMs = 2400000;      // longest quiet time while the body comes
    // Once bytes move, fewer than this many a second over a whole window fails as too slow;
    // 0 turns it off.
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedWindowMs = 60000;
    const std::atomic<bool>* cancel = nullptr;  // set from any thread to stop the transfer
};

// The head of the final response (after redirects).
struct HttpResponseHead {
    int status = 0;
    std::string reason;  // the status line's text, "Not Found"; empty over HTTP/2
    bool hasContentType = false;
    std::string contentType;
    std::int64_t contentLength = -1;  // -1: not announced
    std::string effectiveUrl;
};

// Receives one response. Throwing is allowed: the transfer stops and transfer() rethrows.
class HttpSink {
public:
    virtual ~HttpSink() = default;
    // Once, before the first byte of the body (or at the end of an empty body). False stops.
    virtual bool head(const HttpResponseHead& head) = 0;
    // False stops the transfer.
    virtual bool data(const char* bytes, std::size_t size) = 0;
};

// Collects the body in memory.
class StringSink : public HttpSink {
public:
    bool head(const HttpResponseHead&) override { return true; }
    bool data(const char* bytes, std::size_t size) override;
    const std::string& body() const { return m_body; }

private:
    std::string m_body;
};

enum class HttpPhase {
    Done,     // the exchange completed, whatever the status
    Setup,    // the transfer could not be prepared
    Request,  // failed before the head of the final response was complete
    Body,     // failed while the body was received
    Sink,     // the sink stopped the transfer
};

enum class HttpError {
    None,
    Resolve,    // the host name could not be resolved
    Connect,    // refused, unreachable, or the connect time-out passed
    Tls,        // handshake or certificate check failed
    TimedOut,   // no data for longer than the response or idle time-out
    Cancelled,  // the request's cancel flag was set
    Other,
};

struct HttpResult {
    HttpPhase phase = HttpPhase::Setup;
    HttpError error = HttpError::None;
    int curlCode = 0;
    int osErrno = 0;      // the socket layer's error, 0 when none
    std::string message;  // why it failed (libcurl's words); empty when done
    bool headReceived = false;
    HttpResponseHead head;
    std::int64_t bodyBytes = 0;

    bool done() const { return phase == HttpPhase::Done; }
};

// The program's HTTP client on libcurl. Transfers may run on several threads at once; the
// transfers of one client share its cookie store and DNS cache.
class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The process-wide client whose cookie store the whole program uses.
    static HttpClient& shared();

    HttpResult transfer(const HttpRequest& request, HttpSink& sink);

    // Puts a session cookie for the URL's host (host only, any port and scheme) and the URL's
    // path up to its last '/'. False when the URL or the pair cannot be stored.
    bool setCookie(std::string_view url, std::string_view name, std::string_view value);

private:
    struct Share;
    std::unique_ptr<Share> m_share;
};

// Downloads into targetPath whole or not at all: the body goes into a ReplacingFile of the given
// mode, which replaces the target only after a complete 2xx response. Otherwise returns false,
// leaves the target as it was and sets error: the transfer's message, the file's error, or
// "HTTP 404 Not Found" for a refused status.
bool downloadToFile(HttpClient& client, const HttpRequest& request, const std::string& targetPath,
                    HttpResult& result, std::string& error, FileMode mode = FileMode::Usual);

}  // namespace paginor
