#pragma once

#include <functional>
#include <thread>
#include <utility>

#include "platform/fault_translation.h"

namespace paginor {

// Every thread the program starts goes through these, so that a fault on it (a stack overflow
// among them) is reported like one on the main thread: the handler needs the thread's own
// alternate stack and stack bounds.

// A std::thread running function(arguments...) with the fault report installed first.
template <typename Function, typename... Arguments>
std::thread StartThread(Function&& function, Arguments&&... arguments) {
    return std::thread(
        [](auto body, auto... values) {
            InstallFaultTranslator();
            std::invoke(std::move(body), std::move(values)...);
        },
        std::forward<Function>(function), std::forward<Arguments>(arguments)...);
}

// Work for a thread pool: it runs with the fault report installed on whichever thread takes it.
template <typename Work>
auto WithFaultReport(Work work) {
    return [work = std::move(work)]() mutable {
        InstallFaultTranslator();
        work();
    };
}

}  // namespace paginor
