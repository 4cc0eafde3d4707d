#pragma once

// A measured run in a process of its own, so that its peak memory is its alone.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace paginor::bench {

struct Run {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = false;
};

// Runs fn in a child process: its wall time and peak resident memory; ok when fn said true.
template <typename Fn>
Run inChild(Fn fn) {
    using Clock = std::chrono::steady_clock;
    Run run;
    // The files of the runs before are on disk first: their write-back is not this run's.
    sync();
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

}  // namespace paginor::bench
