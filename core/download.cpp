#include "core/download.h"

namespace paginor {

// Seam: the HTTP download layer is not built yet, so every linked file fails with a plain reason.
bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view, bool) {
    result = "Downloading linked files is not available in this build: ";
    result.append(url.substr(0, 511 - result.size()));
    return false;
}

}  // namespace paginor
