#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace paginor {

// tests/support/http_server.py, started once for the suite; it ends when its stdin closes.
class TestServer {
public:
    bool start() {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        char python[] = "/usr/bin/python3";
        char script[] = PAGINOR_HTTP_SERVER_SCRIPT;
        char* argv[] = {python, script, nullptr};
        int spawned = posix_spawn(&m_pid, python, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        m_stdin = input[1];
        std::string line;
        char c = 0;
        while (spawned == 0 && read(output[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        close(output[0]);
        return spawned == 0 &&
               std::sscanf(line.c_str(), "http=%d https=%d", &m_httpPort, &m_httpsPort) == 2;
    }

    void stop() {
        if (m_stdin >= 0) {
            close(m_stdin);
            m_stdin = -1;
        }
        if (m_pid > 0) {
            waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

    std::string http(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_httpPort) + path;
    }
    std::string https(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(m_httpsPort) + path;
    }
    int httpPort() const { return m_httpPort; }
    int httpsPort() const { return m_httpsPort; }

private:
    pid_t m_pid = 0;
    int m_stdin = -1;
    int m_httpPort = 0;
    int m_httpsPort = 0;
};

inline int closedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The pairs of a Cookie header in sorted order: the store does not promise an order.
inline std::string sortedCookies(const std::string& header) {
    std::vector<std::string> pairs;
    std::istringstream in(header);
    for (std::string pair; std::getline(in >> std::ws, pair, ';');) {
        pairs.push_back(pair);
    }
    std::sort(pairs.begin(), pairs.end());
    std::string joined;
    for (const std::string& pair : pairs) {
        joined += (joined.empty() ? "" : "; ") + pair;
    }
    return joined;
}

}  // namespace paginor
