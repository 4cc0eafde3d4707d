#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace paginor {

// A test server written in Python (run by /usr/bin/python3) that prints one line once it listens
// and ends when its standard input closes.
class PythonServer {
public:
    PythonServer() = default;
    ~PythonServer() { stop(); }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    // Starts the script with its arguments; the server's first line, empty when it failed.
    std::string start(const std::string& script, std::vector<std::string> arguments) {
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            return {};
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        arguments.insert(arguments.begin(), {"/usr/bin/python3", script});
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
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
        return spawned == 0 ? line : std::string();
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

private:
    pid_t m_pid = 0;
    int m_stdin = -1;
};

// A loopback port that nothing listens on.
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

}  // namespace paginor
