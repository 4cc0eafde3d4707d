#pragma once

#include <string>

namespace paginor {

// errno of the calling thread.
int lastErrorNumber();

// The system's text for an error number, never empty.
std::string systemErrorText(int errorNumber);

}  // namespace paginor
