#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace paginor {
namespace {

std::string errnoText(int number) {
    return std::strerror(number);
}

// Waits for events on fd; 1 ready, 0 timed out, -1 error (errno set).
int waitFor(int fd, short events, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() < 0) {
            left = std::chrono::milliseconds(0);
        }
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready >= 0 || errno != EINTR) {
            return ready > 0 ? 1 : ready;
        }
    }
}

class PosixTcpStream final : public TcpStream {
public:
    PosixTcpStream(int fd, std::chrono::milliseconds ioTimeout) : m_fd(fd), m_timeout(ioTimeout) {}
    ~PosixTcpStream() override { close(m_fd); }
    PosixTcpStream(const PosixTcpStream&) = delete;
    PosixTcpStream& operator=(const PosixTcpStream&) = delete;

    bool writeAll(std::string_view bytes, std::string& error) override {
        while (!bytes.empty()) {
            ssize_t sent = send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                bytes.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                error = errnoText(errno);
                return false;
            }
            int ready = waitFor(m_fd, POLLOUT, m_timeout);
            if (ready <= 0) {
                error = ready == 0 ? "timed out" : errnoText(errno);
                return false;
            }
        }
        return true;
    }

    std::int64_t readSome(char* buffer, std::size_t maxBytes, std::string& error) override {
        for (;;) {
            ssize_t got = recv(m_fd, buffer, maxBytes, 0);
            if (got >= 0) {
                return got;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                error = errnoText(errno);
                return -1;
            }
            int ready = waitFor(m_fd, POLLIN, m_timeout);
            if (ready <= 0) {
                error = ready == 0 ? "timed out" : errnoText(errno);
                return -1;
            }
        }
    }

    std::string localAddress() const override {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        char text[INET6_ADDRSTRLEN] = {};
        if (getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return {};
        }
        const void* raw =
            address.ss_family == AF_INET6
                ? static_cast<const void*>(
                      &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr)
                : static_cast<const void*>(&reinterpret_cast<const sockaddr_in&>(address).sin_addr);
        return inet_ntop(address.ss_family, raw, text, sizeof text) != nullptr ? text : "";
    }

private:
    int m_fd;
    std::chrono::milliseconds m_timeout;
};

// A non-blocking connect bounded by the time-out; the socket, or -1 with error.
int connectOne(const addrinfo& info, std::chrono::milliseconds timeout, std::string& error) {
    int fd =
        socket(info.ai_family, info.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, info.ai_protocol);
    if (fd < 0) {
        error = errnoText(errno);
        return -1;
    }
    if (::connect(fd, info.ai_addr, info.ai_addrlen) == 0) {
        return fd;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        error = errnoText(errno);
        close(fd);
        return -1;
    }
    int ready = waitFor(fd, POLLOUT, timeout);
    int problem = 0;
    socklen_t size = sizeof problem;
    if (ready == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &size) == 0 && problem == 0) {
        return fd;
    }
    error = ready == 0 ? "timed out" : errnoText(ready < 0 ? errno : problem);
    close(fd);
    return -1;
}

}  // namespace

std::unique_ptr<TcpStream> PosixTcpConnector::connect(const std::string& host, int port,
                                                      std::string& error) {
    if (port < 1 || port > 65535) {
        error = "invalid port " + std::to_string(port);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    int looked = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (looked != 0) {
        error = gai_strerror(looked);
        return nullptr;
    }
    error = "no address";
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        int fd = connectOne(*entry, m_timeouts.connect, error);
        if (fd >= 0) {
            freeaddrinfo(found);
            return std::make_unique<PosixTcpStream>(fd, m_timeouts.io);
        }
    }
    freeaddrinfo(found);
    return nullptr;
}

std::string localHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace paginor
