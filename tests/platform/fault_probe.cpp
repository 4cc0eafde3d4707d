// Faults on purpose, after installing the fault handlers: fault_probe <null|divide|recursion>
// <main|worker|started>. A worker installs the report itself; a started thread is one the
// program starts, whose function knows nothing of faults.
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/fault_translation.h"
#include "platform/program_thread.h"

namespace {

volatile int g_zero = 0;
volatile bool g_stop = false;

#define PROBE __attribute__((noinline, no_sanitize("address", "undefined")))

PROBE void writeThroughNull() {
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

PROBE int divideByZero() {
    volatile int one = 1;
    return one / g_zero;
}

PROBE int recurse(int depth) {
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (g_stop) {
        return 0;
    }
    return recurse(depth + 1) + frame[0];
}

void fault(const char* kind) {
    if (std::strcmp(kind, "null") == 0) {
        writeThroughNull();
    } else if (std::strcmp(kind, "divide") == 0) {
        std::printf("%d\n", divideByZero());
    } else if (std::strcmp(kind, "recursion") == 0) {
        std::printf("%d\n", recurse(0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fault_probe <null|divide|recursion> <main|worker|started>\n");
        return 2;
    }
    paginor::InstallFaultTranslator();
    if (std::strcmp(argv[2], "worker") == 0) {
        std::thread worker([kind = argv[1]] {
            paginor::InstallFaultTranslator();
            fault(kind);
        });
        worker.join();
    } else if (std::strcmp(argv[2], "started") == 0) {
        std::thread worker = paginor::StartThread(fault, argv[1]);
        worker.join();
    } else {
        fault(argv[1]);
    }
    return 0;
}
