#pragma once

#include <string>
#include <string_view>

namespace paginor {

// Fetches a file that a report links to (style sheet, image, other linked file) into a new file of
// the download folder. On success returns true and result holds the local path; on failure returns
// false and result holds the message. The result never exceeds 511 bytes.
bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view cookies,
                         bool useBrowserStack);

}  // namespace paginor
