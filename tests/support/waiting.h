#pragma once

// How the tests wait for what they need: until it has happened, without a deadline of their own.
// A machine kept busy by other work may take minutes for what a quiet one does at once, and a
// test that truly hangs is ended by CTest's time-out. Every half minute a line on standard error
// names what is still awaited, so that the output of such a test shows where it stood.

#include <chrono>
#include <cstdio>
#include <thread>

namespace paginor {

inline constexpr std::chrono::seconds kWaitNoteInterval{30};

inline void noteStillWaiting(const char* what, std::chrono::seconds waited) {
    std::fprintf(stderr, "still waiting for %s after %lld s\n", what,
                 static_cast<long long>(waited.count()));
}

// Calls done every 20 ms until it holds.
template <typename Done>
void pollUntil(Done done, const char* what) {
    const auto start = std::chrono::steady_clock::now();
    auto note = start + kWaitNoteInterval;
    while (!done()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto now = std::chrono::steady_clock::now();
        if (now >= note) {
            noteStillWaiting(what, std::chrono::duration_cast<std::chrono::seconds>(now - start));
            note += kWaitNoteInterval;
        }
    }
}

}  // namespace paginor
