#pragma once

#include <string>

namespace paginor {

// Folder paths carry no trailing '/'. The per-user folders are Paginor's own subfolders of the
// XDG folders and are created on demand; an empty result means the folder could not be had.
std::string appDataFolder();  // $XDG_DATA_HOME/paginor
std::string configFolder();   // $XDG_CONFIG_HOME/paginor
std::string cacheFolder();    // $XDG_CACHE_HOME/paginor
std::string tempFolder();     // $TMPDIR, $TMP, $TEMP, else /tmp
// The user's own folder below the temp folder (mode 0700, owned by the user, not a link), for
// files other users must not read or replace; empty when it cannot be had.
std::string privateTempFolder();
std::string executableFolder();  // the folder of the running program

// Creates the folder and its missing parents with mode 0700; true when it exists afterwards.
bool makeFolders(const std::string& path);

}  // namespace paginor
