#pragma once

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "python_server.h"
#include "waiting.h"

namespace paginor {

struct CupsTestJob {
    int id = 0;
    std::string title;
    std::string pdf;  // the bytes the printer received
};

// A private cupsd (cups_server.py) with two queues that copy each job's PDF and title into a
// folder. Starting it points libcups at it through CUPS_SERVER; libcups keeps the server it
// first used per thread, so one process uses one server: take sharedCupsTestServer().
class CupsTestServer {
public:
    static constexpr const char* kQueue = "PaginorTest";  // the default destination
    static constexpr const char* kSecondQueue = "PaginorTest2";

    bool start(std::string& error) {
        const std::string line = m_process.start(PAGINOR_CUPS_SERVER_SCRIPT, {});
        const auto port = line.find("port=");
        const auto out = line.find(" out=");
        if (line.rfind("port=", 0) != 0 || out == std::string::npos) {
            error = line.empty() ? "the CUPS test server did not start" : line;
            return false;
        }
        m_server = "127.0.0.1:" + line.substr(port + 5, out - port - 5);
        m_out = line.substr(out + 5);
        setenv("CUPS_SERVER", m_server.c_str(), 1);
        return true;
    }

    const std::string& server() const { return m_server; }
    const std::string& outFolder() const { return m_out; }

    // The job as the printer received it, once it has (the backend renames the file into place
    // complete); waits as waiting.h says.
    CupsTestJob waitForJob(int id) const {
        const std::string base = m_out + "/" + std::to_string(id);
        CupsTestJob job;
        job.id = id;
        pollUntil(
            [&] {
                std::ifstream pdf(base + ".pdf", std::ios::binary);
                if (!pdf) {
                    return false;
                }
                std::ifstream title(base + ".title", std::ios::binary);
                job.pdf.assign(std::istreambuf_iterator<char>(pdf), {});
                job.title.assign(std::istreambuf_iterator<char>(title), {});
                return true;
            },
            "the printer to receive a job");
        return job;
    }

    // The numbers of the jobs the printers have received so far, in no order.
    std::vector<int> receivedJobs() const {
        std::vector<int> ids;
        if (DIR* dir = opendir(m_out.c_str())) {
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name.size() > 4 && name.compare(name.size() - 4, 4, ".pdf") == 0)
                    ids.push_back(std::atoi(name.c_str()));
            }
            closedir(dir);
        }
        return ids;
    }

    // Stops or restarts a queue's printing; its jobs wait meanwhile.
    bool disable(const std::string& queue) { return run({"/usr/sbin/cupsdisable", queue}); }
    bool enable(const std::string& queue) { return run({"/usr/sbin/cupsenable", queue}); }
    // While set, every new job of the queue is held (an active job) until it is released.
    bool holdNewJobs(const std::string& queue, bool hold) {
        return run({"/usr/sbin/lpadmin", "-p", queue, "-o",
                    hold ? "job-hold-until-default=indefinite" : "job-hold-until-default=no-hold"});
    }
    bool release(int jobId) {
        return run({"/usr/bin/lp", "-i", std::to_string(jobId), "-H", "resume"});
    }
    // Adds a queue like the two the server starts with; a slow one prints only while the slow
    // gate is open.
    bool addQueue(const std::string& queue, bool slow = false) {
        return run({"/usr/sbin/lpadmin", "-p", queue, "-E", "-v",
                    slow ? "paginortest:/slow" : "paginortest:/", "-P",
                    root() + "/paginor-test.ppd", "-o", "media-default=iso_a4_210x297mm"});
    }
    bool removeQueue(const std::string& queue) { return run({"/usr/sbin/lpadmin", "-x", queue}); }
    // While closed, the jobs of slow queues wait in their backend: printing, not printed.
    bool closeSlowGate() { return std::ofstream(root() + "/slow-gate").good(); }
    bool openSlowGate() { return std::remove((root() + "/slow-gate").c_str()) == 0; }

private:
    std::string root() const { return m_out.substr(0, m_out.find_last_of('/')); }

    bool run(std::vector<std::string> command) const {
        std::vector<std::string> arguments = {command[0], "-h", m_server};
        arguments.insert(arguments.end(), command.begin() + 1, command.end());
        const char* tool = command[0].c_str();
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        int status = 0;
        return posix_spawn(&pid, tool, nullptr, nullptr, argv.data(), environ) == 0 &&
               waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    PythonServer m_process;
    std::string m_server;
    std::string m_out;
};

// The process's one test server, started on first use; nullptr with error when it cannot start.
inline CupsTestServer* sharedCupsTestServer(std::string& error) {
    static std::string startError;
    static CupsTestServer* server = [] {
        auto* started = new CupsTestServer;
        if (started->start(startError))
            return started;
        delete started;
        return static_cast<CupsTestServer*>(nullptr);
    }();
    error = startError;
    return server;
}

}  // namespace paginor
