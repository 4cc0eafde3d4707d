#pragma once

#include <cstddef>
#include <cstdint>

namespace paginor {

// Fault codes in the Windows numbering the program's messages use.
inline constexpr std::uint32_t kAccessViolation = 0xC0000005u;
inline constexpr std::uint32_t kStackOverflow = 0xC00000FDu;
inline constexpr std::uint32_t kIntDivideByZero = 0xC0000094u;
inline constexpr std::uint32_t kIllegalInstruction = 0xC000001Du;

// The name of a fault code without its "EXCEPTION_" prefix; null for a code outside the table.
const char* SeExceptionName(std::uint32_t code);

// "Exception %s (0x%.8x) at address 0x%.8x." for a named code, else "Unknown Se exception." and
// "Code: %d". Addresses get at least eight digits, so 64-bit ones stay whole. Writes at most
// size - 1 characters and a NUL (nothing when size is 0); allocates nothing, so a signal handler
// may call it. True for a named code.
bool FormatSeMessage(char* buffer, std::size_t size, std::uint32_t code, std::uintptr_t address);

// The fault code for a signal and its si_code. A segmentation fault in the thread's stack guard
// (inStackGuard) is a stack overflow. 0 for a signal that is not a fault.
std::uint32_t SeCodeForSignal(int signal, int signalCode, bool inStackGuard);

// Installs the fault handlers once per process (SIGSEGV, SIGBUS, SIGFPE, SIGILL) and gives the
// calling thread an alternate signal stack, so that a stack overflow can still be reported. A
// fault writes the readable line to standard error and to "fault.log" in the cache folder, then
// ends the process by the signal's default action. Call at the start of every thread that should
// report its faults; calling again on the same thread does nothing.
void InstallFaultTranslator();

}  // namespace paginor
