#include "platform/shared_library.h"

#include <dlfcn.h>

namespace paginor {

bool CallLibraryFunction(const std::string& absolutePath, const char* name, bool& called,
                         std::string& error) {
    called = false;
    if (absolutePath.empty() || absolutePath.front() != '/') {
        error = "not an absolute path: " + absolutePath;
        return false;
    }
    void* library = dlopen(absolutePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = reason != nullptr ? reason : absolutePath + ": cannot be loaded";
        return false;
    }
    if (void* symbol = dlsym(library, name)) {
        using Function = void (*)();
        reinterpret_cast<Function>(symbol)();
        called = true;
    }
    dlclose(library);
    return true;
}

}  // namespace paginor
