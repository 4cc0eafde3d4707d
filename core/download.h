#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/settings_reader.h"

namespace paginor {

// The callers' result buffer holds 512 bytes with its terminating NUL.
constexpr std::size_t kMaxDownloadResultBytes = 511;

// What production leaves at its defaults and tests shorten or replace.
struct DownloadOptions {
    const SettingsReader* settings = nullptr;  // null: defaultSettingsReader()
    long connectTimeoutMs = 10000;
    long responseTimeoutMs = 3600000;
    long idleTimeoutMs = 2400000;
    // Fewer bytes a second than this over a whole window, once bytes move, fails as too slow.
    long lowSpeedBytesPerSecond = 1024;
    long lowSpeedWindowMs = 60000;
    const std::atomic<bool>* cancel = nullptr;  // set from any thread to stop the download
};

// Fetches a file that a report links to (style sheet, image, other linked file) into a new file of
// the download folder. On success returns true and result holds the local path; on failure returns
// false and result holds the message. The result never exceeds 511 bytes.
bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view cookies,
                         bool useBrowserStack);
bool GetFileFromInternet(std::string& result, std::string_view url, std::string_view cookies,
                         bool useBrowserStack, const DownloadOptions& options);

// Splits "http://host:port/path" (the scheme compared ignoring case, and optional): port 80 when
// none is given, path "/" when the address has none.
void ParseHttpUrl(std::string_view url, std::string& host, int& port, std::string& path);

// Creates a new empty file "fol<unique>.tmp.<extension>" in the download folder (else in the cache
// folder, else in the program's folder) and gives its path; it is made exclusively, so no other
// caller gets the same name. On failure returns false with the message in result.
bool MakeCacheFileName(std::string& result, std::string_view extension,
                       const SettingsReader& settings = defaultSettingsReader());

// The sibling converter's base directory when it is set, else the temporary folder.
std::string GetDownloadFolder(const SettingsReader& settings = defaultSettingsReader());

// The sibling converter's base directory, as it stands; false (folder empty) when it holds fewer
// than 3 characters or is not set.
bool GetConverterBaseDir(std::string& folder,
                         const SettingsReader& settings = defaultSettingsReader());

// Hands the name=value pairs of a cookie text ("a=1; b=2") to the process-wide HTTP client for the
// address's host and folder; names beginning with "tabulancookie" or "tabulanabc" are left out.
void SetCookiesForUrl(std::string_view url, std::string_view cookies);

}  // namespace paginor
