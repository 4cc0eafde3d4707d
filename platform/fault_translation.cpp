#include "platform/fault_translation.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/folders.h"

namespace paginor {
namespace {

struct CodeName {
    std::uint32_t code;
    const char* name;
};

constexpr CodeName kCodeNames[] = {
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

// Appends to a fixed buffer, keeping room for the NUL; never allocates.
class FixedText {
public:
    FixedText(char* buffer, std::size_t size) : m_buffer(buffer), m_size(size) {
        if (m_size > 0) {
            m_buffer[0] = '\0';
        }
    }
    void text(const char* s) {
        while (*s != '\0') {
            put(*s++);
        }
    }
    // Lower-case hexadecimal with at least eight digits.
    void hex(std::uintptr_t value) {
        char digits[2 * sizeof value];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 0xF];
            value >>= 4;
        } while (value != 0);
        for (int pad = count; pad < 8; ++pad) {
            put('0');
        }
        while (count > 0) {
            put(digits[--count]);
        }
    }
    void decimal(std::int32_t value) {
        std::int64_t wide = value;
        if (wide < 0) {
            put('-');
            wide = -wide;
        }
        char digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + wide % 10);
            wide /= 10;
        } while (wide != 0);
        while (count > 0) {
            put(digits[--count]);
        }
    }

private:
    void put(char c) {
        if (m_length + 1 < m_size) {
            m_buffer[m_length++] = c;
            m_buffer[m_length] = '\0';
        }
    }
    char* m_buffer;
    std::size_t m_size;
    std::size_t m_length = 0;
};

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
// Below the lowest stack address: the guard, and as far as one frame may reach past it.
constexpr std::uintptr_t kGuardReach = 1024 * 1024;
constexpr std::size_t kAltStackBytes = 128 * 1024;

// Read by the handler: plain values only.
thread_local std::uintptr_t t_stackLow = 0;
thread_local std::uintptr_t t_stackGuardTop = 0;
char g_logPath[4096];

// The alternate stack of one thread, freed when the thread ends.
struct AltStack {
    void* memory = nullptr;
    ~AltStack() {
        if (memory == nullptr) {
            return;
        }
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == memory) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        }
        munmap(memory, kAltStackBytes);
    }
};
thread_local AltStack t_altStack;
thread_local bool t_installed = false;

bool inStackGuard(std::uintptr_t address) {
    return t_stackLow != 0 && address < t_stackGuardTop && address + kGuardReach >= t_stackLow;
}

std::uintptr_t instructionAddress(const void* context, std::uintptr_t fallback) {
    const auto* uc = static_cast<const ucontext_t*>(context);
    if (uc == nullptr) {
        return fallback;
    }
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#else
    return fallback;
#endif
}

void writeAll(int fd, const char* text, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, text, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}

void onFault(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    const bool fromKernel = info != nullptr && info->si_code > 0;
    if (fromKernel) {
        const auto faultAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
        std::uint32_t code =
            SeCodeForSignal(signal, info->si_code, signal == SIGSEGV && inStackGuard(faultAddress));
        if (code == 0) {
            code = static_cast<std::uint32_t>(signal);
        }
        char line[192];
        FormatSeMessage(line, sizeof line - 1, code, instructionAddress(context, faultAddress));
        std::size_t length = std::strlen(line);
        line[length++] = '\n';
        writeAll(STDERR_FILENO, line, length);
        if (g_logPath[0] != '\0') {
            const int fd = open(g_logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
            if (fd >= 0) {
                writeAll(fd, line, length);
                close(fd);
            }
        }
    }
    // The default action ends the process: a fault comes back when the instruction runs again,
    // a signal sent by someone is delivered again once the handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (!fromKernel) {
        raise(signal);
    }
    errno = savedErrno;
}

void installHandlers() {
    const std::string cache = cacheFolder();
    const std::string log = cache.empty() ? std::string() : cache + "/fault.log";
    if (log.size() < sizeof g_logPath) {
        std::memcpy(g_logPath, log.c_str(), log.size() + 1);
    }
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        sigaction(signal, &action, nullptr);
    }
}

void recordStackBounds() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) {
        return;
    }
    void* low = nullptr;
    std::size_t size = 0;
    if (pthread_attr_getstack(&attributes, &low, &size) == 0) {
        const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        t_stackLow = reinterpret_cast<std::uintptr_t>(low);
        // The lowest page of the usable stack counts too: a frame may touch it just before the
        // guard.
        t_stackGuardTop = t_stackLow + page;
    }
    pthread_attr_destroy(&attributes);
}

void installAltStack() {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
        current.ss_size >= kAltStackBytes) {
        return;  // the thread has one already
    }
    void* memory =
        mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return;
    }
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAltStackBytes;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, kAltStackBytes);
        return;
    }
    t_altStack.memory = memory;
}

}  // namespace

const char* SeExceptionName(std::uint32_t code) {
    for (const CodeName& entry : kCodeNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return nullptr;
}

bool FormatSeMessage(char* buffer, std::size_t size, std::uint32_t code, std::uintptr_t address) {
    FixedText out(buffer, size);
    const char* name = SeExceptionName(code);
    if (name == nullptr) {
        out.text("Unknown Se exception.");
        out.text("Code: ");
        out.decimal(static_cast<std::int32_t>(code));
        return false;
    }
    out.text("Exception ");
    out.text(name);
    out.text(" (0x");
    out.hex(code);
    out.text(") at address 0x");
    out.hex(address);
    out.text(".");
    return true;
}

std::uint32_t SeCodeForSignal(int signal, int signalCode, bool inStackGuard) {
    switch (signal) {
        case SIGSEGV:
            return inStackGuard ? kStackOverflow : kAccessViolation;
        case SIGBUS:
            return signalCode == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
        case SIGFPE:
            switch (signalCode) {
                case FPE_INTDIV:
                    return kIntDivideByZero;
                case FPE_INTOVF:
                    return 0xC0000095u;
                case FPE_FLTDIV:
                    return 0xC000008Eu;
                case FPE_FLTOVF:
                    return 0xC0000091u;
                case FPE_FLTUND:
                    return 0xC0000093u;
                case FPE_FLTRES:
                    return 0xC000008Fu;
                case FPE_FLTINV:
                    return 0xC0000090u;
                case FPE_FLTSUB:
                    return 0xC000008Cu;
                default:
                    return 0;
            }
        case SIGILL:
            return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? 0xC0000096u
                                                                        : kIllegalInstruction;
        default:
            return 0;
    }
}

void InstallFaultTranslator() {
    static std::once_flag once;
    std::call_once(once, installHandlers);
    if (t_installed) {
        return;
    }
    t_installed = true;
    recordStackBounds();
    installAltStack();
}

}  // namespace paginor
