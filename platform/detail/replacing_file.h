#pragma once

#include <chrono>
#include <functional>
#include <string_view>

namespace paginor::detail {

// Makes ReplacingFile write under hidden names, as on file systems that cannot hold unnamed
// files; for tests.
void useNamedTemporaryFiles(bool named);

// How long a hidden temporary file must have been left alone, and unlocked, to count as left by
// an ended process: long enough to cover the moment between its creation and its lock.
inline constexpr std::chrono::seconds kStaleTemporaryAge{10};

// Receives each step by which ReplacingFile makes a file durable, as it is done:
// "sync <target>", "rename <target>" (the file takes the target's name), "sync folder <folder>";
// for tests. An empty function stops the reports.
void observeDurableSteps(std::function<void(std::string_view)> observer);

}  // namespace paginor::detail
