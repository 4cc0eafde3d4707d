#pragma once

#include <string>

namespace paginor {

// Loads a library by its absolute path (never a search), calls its `extern "C" void name(void)`
// export when it has one, and unloads it. False with the reason when the library cannot be
// loaded; called tells whether the export was there.
bool CallLibraryFunction(const std::string& absolutePath, const char* name, bool& called,
                         std::string& error);

}  // namespace paginor
