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

extern char** environ;

namespace paginor {

// tests/support/smtp_server.py in one of its modes; it ends when its stdin closes.
class SmtpTestServer {
public:
    ~SmtpTestServer() { stop(); }

    bool start(std::vector<std::string> arguments) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        arguments.insert(arguments.begin(), {"/usr/bin/python3", PAGINOR_SMTP_SERVER_SCRIPT});
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
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
        return spawned == 0 && std::sscanf(line.c_str(), "port=%d", &m_port) == 1;
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

    int port() const { return m_port; }

private:
    pid_t m_pid = 0;
    int m_stdin = -1;
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
