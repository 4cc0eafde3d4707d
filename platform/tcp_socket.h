#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace paginor {

struct TcpTimeouts {
    std::chrono::milliseconds connect{30000};
    // Each wait for the peer to accept or deliver bytes.
    std::chrono::milliseconds io{120000};
};

// One connected TCP stream. Writes never raise SIGPIPE.
class TcpStream {
public:
    virtual ~TcpStream() = default;
    // Writes every byte; false with a message on an error, a time-out or a peer that hung up.
    virtual bool writeAll(std::string_view bytes, std::string& error) = 0;
    // Reads what is there, at most maxBytes: the count, 0 at the end of the stream, -1 with a
    // message on an error or a time-out.
    virtual std::int64_t readSome(char* buffer, std::size_t maxBytes, std::string& error) = 0;
    // The numeric address of the local end ("127.0.0.1", "::1").
    virtual std::string localAddress() const = 0;
};

class TcpConnector {
public:
    virtual ~TcpConnector() = default;
    // nullptr with a message when no address of host accepts on port.
    virtual std::unique_ptr<TcpStream> connect(const std::string& host, int port,
                                               std::string& error) = 0;
};

// POSIX sockets: every address of the host in turn (IPv4 and IPv6), each within the time-outs.
class PosixTcpConnector final : public TcpConnector {
public:
    explicit PosixTcpConnector(TcpTimeouts timeouts = {}) : m_timeouts(timeouts) {}
    std::unique_ptr<TcpStream> connect(const std::string& host, int port,
                                       std::string& error) override;

private:
    TcpTimeouts m_timeouts;
};

// The machine's host name (gethostname); empty when it has none.
std::string localHostName();

}  // namespace paginor
