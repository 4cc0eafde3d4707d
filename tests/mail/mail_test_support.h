#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mail_clock.h"
#include "tests/support/python_server.h"

namespace paginor {

// tests/support/smtp_server.py in one of its modes; it ends when its stdin closes.
class SmtpTestServer {
public:
    bool start(std::vector<std::string> arguments) {
        const std::string line = m_process.start(PAGINOR_SMTP_SERVER_SCRIPT, std::move(arguments));
        return std::sscanf(line.c_str(), "port=%d", &m_port) == 1;
    }
    void stop() { m_process.stop(); }
    int port() const { return m_port; }

private:
    PythonServer m_process;
    int m_port = 0;
};

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/paginor-mail-test-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempFolder() {
        std::string command = "rm -rf '" + m_path + "'";
        if (std::system(command.c_str()) != 0) {
            std::perror("rm");
        }
    }
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name, const std::string& contents) const {
        std::string path = m_path + "/" + name;
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

private:
    std::string m_path;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Tuesday 5 March 2024, 14:03:09 at UTC+01:00.
class FixedClock : public Clock {
public:
    std::tm localNow() const override {
        std::tm time{};
        time.tm_year = 124;
        time.tm_mon = 2;
        time.tm_mday = 5;
        time.tm_wday = 2;
        time.tm_hour = 14;
        time.tm_min = 3;
        time.tm_sec = 9;
        time.tm_gmtoff = 3600;
        return time;
    }
};

// Runs /usr/bin/python3 with a script on stdin-free arguments; its standard output.
inline std::string runPython(const std::string& script, const std::string& argument, int& status) {
    std::string command = "/usr/bin/python3 -c '" + script + "' '" + argument + "'";
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; pipe != nullptr && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    status = pipe != nullptr ? pclose(pipe) : -1;
    return output;
}

}  // namespace paginor
