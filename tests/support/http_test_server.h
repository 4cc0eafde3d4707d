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

#include "tests/support/python_server.h"

namespace paginor {

// tests/support/http_server.py, started once for the suite; it ends when its stdin closes.
class TestServer {
public:
    bool start() {
        const std::string line = m_process.start(PAGINOR_HTTP_SERVER_SCRIPT, {});
        return std::sscanf(line.c_str(), "http=%d https=%d", &m_httpPort, &m_httpsPort) == 2;
    }
    void stop() { m_process.stop(); }

    std::string http(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_httpPort) + path;
    }
    std::string https(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(m_httpsPort) + path;
    }
    int httpPort() const { return m_httpPort; }
    int httpsPort() const { return m_httpsPort; }

private:
    PythonServer m_process;
    int m_httpPort = 0;
    int m_httpsPort = 0;
};

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
