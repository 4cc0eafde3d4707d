#include "platform/process.h"
#include "platform/program_thread.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace paginor {
namespace {

bool spawn(const std::vector<std::string>& argv, bool newSession, pid_t& pid, std::string& error) {
    if (argv.empty() || argv.front().empty()) {
        error = "no program to start";
        return false;
    }
    std::string program = argv.front();
    if (program.find('/') == std::string::npos) {
        program = findProgram(program);
        if (program.empty()) {
            error = "program not found: " + argv.front();
            return false;
        }
    }
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (newSession) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    }
    int result = posix_spawn(&pid, program.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error = "cannot start " + program + ": " + std::strerror(result);
        return false;
    }
    return true;
}

}  // namespace

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) {
            end = folders.size();
        }
        std::string folder = folders.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/" + name;
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return {};
}

bool spawnDetached(const std::vector<std::string>& argv, std::string& error) {
    pid_t pid = 0;
    if (!spawn(argv, true, pid, error)) {
        return false;
    }
    StartThread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

bool runAndWait(const std::vector<std::string>& argv, std::string& error) {
    pid_t pid = 0;
    if (!spawn(argv, false, pid, error)) {
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            error = std::string("waitpid: ") + std::strerror(errno);
            return false;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = argv.front() + " failed with status " + std::to_string(status);
        return false;
    }
    return true;
}

bool openWithDefaultProgram(const std::string& pathOrUrl, std::string& error) {
    return spawnDetached({"xdg-open", pathOrUrl}, error);
}

}  // namespace paginor
