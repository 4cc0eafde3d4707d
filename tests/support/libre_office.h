#pragma once

// LibreOffice headless as the tests' independent reader of the files the program writes. Each run
// has a profile of its own (-env:UserInstallation), so that runs at the same time never meet in
// one instance; a run counts only when the converted file has appeared, and a failure shows the
// command and everything LibreOffice said. A run that wrote nothing is tried once more with a
// fresh profile, as a first start in a new profile now and then ends without converting.

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace paginor {

// Comma-separated text in UTF-8, every text in double quotes, from row 1: what the tests compare.
inline constexpr const char* kLibreOfficeCsv =
    "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,false,false,false,false";

namespace detail {

// Runs arguments with HOME set to home; false when it could not start or did not exit 0.
inline bool runLibreOffice(const std::vector<std::string>& arguments, const std::string& home,
                           std::string& output) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        output = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "HOME=", 5) != 0) {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back("HOME=" + home);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    if (spawned != 0) {
        output += std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned);
        return false;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        output += "\n(exit status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

}  // namespace detail

// The path of the file LibreOffice converted source into, in folder, by its --convert-to argument
// convertTo (and --infilter inFilter, unless empty); empty, with failure holding the commands and
// LibreOffice's output, when none appeared.
inline std::string convertWithLibreOffice(const std::string& source, const std::string& folder,
                                          const std::string& convertTo, std::string& failure,
                                          const std::string& inFilter = {}) {
    namespace fs = std::filesystem;
    const std::string extension = convertTo.substr(0, convertTo.find(':'));
    const std::string target =
        (fs::path(folder) / fs::path(source).stem()).string() + "." + extension;
    failure.clear();
    for (int attempt = 1; attempt <= 2; ++attempt) {
        std::error_code ignored;
        fs::remove(target, ignored);
        std::string profile = (fs::temp_directory_path() / "paginor-lo-XXXXXX").string();
        if (mkdtemp(profile.data()) == nullptr) {
            failure += "cannot make a profile folder: " + std::string(std::strerror(errno));
            return {};
        }
        std::vector<std::string> arguments = {"/usr/bin/soffice",
                                              "-env:UserInstallation=file://" + profile,
                                              "--headless", "--norestore"};
        if (!inFilter.empty()) {
            arguments.push_back("--infilter=" + inFilter);
        }
        arguments.insert(arguments.end(), {"--convert-to", convertTo, "--outdir", folder, source});
        std::string output;
        const bool exited = detail::runLibreOffice(arguments, profile, output);
        fs::remove_all(profile, ignored);
        if (exited && fs::exists(target)) {
            return target;
        }
        failure += "run " + std::to_string(attempt) + ":";
        for (const std::string& argument : arguments) {
            failure += " '" + argument + "'";
        }
        failure += "\nwrote no " + target + "; LibreOffice said:\n" + output + "\n";
    }
    return {};
}

}  // namespace paginor
