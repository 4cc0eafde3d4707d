#include "platform/fault_translation.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/core/temp_dir.h"

extern char** environ;

namespace paginor {
namespace {

std::string format(std::uint32_t code, std::uintptr_t address, bool* named = nullptr) {
    char text[160];
    const bool result = FormatSeMessage(text, sizeof text, code, address);
    if (named != nullptr) {
        *named = result;
    }
    return text;
}

TEST(FaultNames, EveryCodeOfTheTableFormatsWithItsName) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {0x80000001u, "GUARD_PAGE"},
        {0x80000002u, "DATATYPE_MISALIGNMENT"},
        {0x80000003u, "BREAKPOINT"},
        {0x80000004u, "SINGLE_STEP"},
        {0xC0000005u, "ACCESS_VIOLATION"},
        {0xC0000006u, "IN_PAGE_ERROR"},
        {0xC0000008u, "INVALID_HANDLE"},
        {0xC000001Du, "ILLEGAL_INSTRUCTION"},
        {0xC0000025u, "NONCONTINUABLE_EXCEPTION"},
        {0xC0000026u, "INVALID_DISPOSITION"},
        {0xC000008Cu, "ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008Du, "FLT_DENORMAL_OPERAND"},
        {0xC000008Eu, "FLT_DIVIDE_BY_ZERO"},
        {0xC000008Fu, "FLT_INEXACT_RESULT"},
        {0xC0000090u, "FLT_INVALID_OPERATION"},
        {0xC0000091u, "FLT_OVERFLOW"},
        {0xC0000092u, "FLT_STACK_CHECK"},
        {0xC0000093u, "FLT_UNDERFLOW"},
        {0xC0000094u, "INT_DIVIDE_BY_ZERO"},
        {0xC0000095u, "INT_OVERFLOW"},
        {0xC0000096u, "PRIV_INSTRUCTION"},
        {0xC00000FDu, "STACK_OVERFLOW"},
    };
    for (const auto& [code, name] : table) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%.8x", code);
        bool named = false;
        EXPECT_EQ(format(code, 0x401a2b, &named),
                  std::string("Exception ") + name + " (0x" + hex + ") at address 0x00401a2b.");
        EXPECT_TRUE(named) << name;
    }
}

TEST(FaultNames, AddressesKeepAllTheirDigits) {
    EXPECT_EQ(format(0xC0000005u, 0),
              "Exception ACCESS_VIOLATION (0xc0000005) at address 0x00000000.");
    EXPECT_EQ(format(0xC0000005u, static_cast<std::uintptr_t>(0x7f12345678abULL)),
              "Exception ACCESS_VIOLATION (0xc0000005) at address 0x7f12345678ab.");
}

TEST(FaultNames, AnUnknownCodeIsNamedByItsSignedNumber) {
    bool named = true;
    EXPECT_EQ(format(0xE06D7363u, 0x1234, &named), "Unknown Se exception.Code: -529697949");
    EXPECT_FALSE(named);
    EXPECT_EQ(format(7, 0, &named), "Unknown Se exception.Code: 7");
    EXPECT_EQ(format(0x80000000u, 0), "Unknown Se exception.Code: -2147483648");
}

TEST(FaultNames, TheTextIsCutToTheBufferAndASizeOfZeroWritesNothing) {
    char text[11];
    std::memset(text, 'x', sizeof text);
    FormatSeMessage(text, sizeof text, 0xC0000005u, 0);
    EXPECT_STREQ(text, "Exception ");
    char untouched = 'x';
    FormatSeMessage(&untouched, 0, 0xC0000005u, 0);
    EXPECT_EQ(untouched, 'x');
}

TEST(FaultSignals, SignalsMapToTheirCodes) {
    struct Case {
        int signal;
        int code;
        bool guard;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, 0xC0000005u},
        {SIGSEGV, SEGV_ACCERR, false, 0xC0000005u},
        {SIGSEGV, SEGV_MAPERR, true, 0xC00000FDu},
        {SIGFPE, FPE_INTDIV, false, 0xC0000094u},
        {SIGFPE, FPE_INTOVF, false, 0xC0000095u},
        {SIGFPE, FPE_FLTDIV, false, 0xC000008Eu},
        {SIGFPE, FPE_FLTINV, false, 0xC0000090u},
        {SIGFPE, FPE_FLTSUB, false, 0xC000008Cu},
        {SIGILL, ILL_ILLOPC, false, 0xC000001Du},
        {SIGILL, ILL_PRVOPC, false, 0xC0000096u},
        {SIGBUS, BUS_ADRALN, false, 0x80000002u},
        {SIGBUS, BUS_ADRERR, false, 0xC0000006u},
        {SIGTERM, 0, false, 0u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SeCodeForSignal(c.signal, c.code, c.guard), c.expected)
            << c.signal << "/" << c.code;
    }
}

struct ProbeRun {
    int signal = 0;  // the signal that ended it, 0 when it exited
    std::string errors;
};

// Runs the probe with a private cache folder and the sanitizers' own fault handlers off.
ProbeRun runProbe(const std::string& kind, const std::string& thread, const std::string& cache) {
    int pipeFds[2];
    EXPECT_EQ(pipe(pipeFds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "XDG_CACHE_HOME=", 15) != 0 &&
            std::strncmp(*entry, "ASAN_OPTIONS=", 13) != 0) {
            env.emplace_back(*entry);
        }
    }
    env.push_back("XDG_CACHE_HOME=" + cache);
    env.push_back(
        "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:"
        "allow_user_segv_handler=1:use_sigaltstack=0:detect_leaks=0");
    std::vector<char*> envp;
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = PAGINOR_FAULT_PROBE;
    std::vector<char*> argv{program.data(), const_cast<char*>(kind.c_str()),
                            const_cast<char*>(thread.c_str()), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    ProbeRun run;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        run.errors.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return run;
}

// On the main thread, on a worker that installs the report itself, and on a thread started the
// way the program starts its own (the conversion workers, the mail thread, the print pool ...),
// whose function installs nothing: a stack overflow there needs the thread's alternate stack.
TEST(FaultSignals, RealFaultsPrintTheReadableLineAndEndByTheirSignal) {
    struct Case {
        const char* kind;
        int signal;
        const char* prefix;
    };
    const Case cases[] = {
        {"null", SIGSEGV, "Exception ACCESS_VIOLATION (0xc0000005) at address 0x"},
        {"divide", SIGFPE, "Exception INT_DIVIDE_BY_ZERO (0xc0000094) at address 0x"},
        {"recursion", SIGSEGV, "Exception STACK_OVERFLOW (0xc00000fd) at address 0x"},
    };
    for (const char* thread : {"main", "worker", "started"}) {
        for (const Case& c : cases) {
            TempDir cache;
            const ProbeRun run = runProbe(c.kind, thread, cache.path());
            EXPECT_EQ(run.signal, c.signal) << c.kind << " " << thread << ": " << run.errors;
            EXPECT_NE(run.errors.find(c.prefix), std::string::npos)
                << c.kind << " " << thread << ": " << run.errors;
            std::ifstream log(cache.path() + "/paginor/fault.log");
            std::stringstream logged;
            logged << log.rdbuf();
            EXPECT_EQ(logged.str().rfind(c.prefix, 0), 0u) << c.kind << " " << thread;
        }
    }
}

}  // namespace
}  // namespace paginor
