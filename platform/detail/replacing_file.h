#pragma once

#include <chrono>

namespace paginor::detail {

// Makes ReplacingFile write under hidden names, as on file systems that cannot hold unnamed
// files; for tests.
void useNamedTemporaryFiles(bool named);

// How long a hidden temporary file must have been left alone, and unlocked, to count as left by
// an ended process: long enough to cover the moment between its creation and its lock.
inline constexpr std::chrono::seconds kStaleTemporaryAge{10};

}  // namespace paginor::detail
