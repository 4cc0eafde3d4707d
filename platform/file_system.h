#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// What the program asks of the file system besides reading files (ReadOnlyFile) and writing them
// whole (ReplacingFile). Paths follow symbolic links unless said otherwise.

bool IsDirectory(const std::string& path);
// Whether anything has that name.
bool PathExists(const std::string& path);
// The size of a regular file; -1 for anything else or nothing.
std::int64_t RegularFileSize(const std::string& path);
// Whether both name the same file; false when either does not exist.
bool IsSameFile(const std::string& a, const std::string& b);

// Removes a file (not a folder); true when it is gone, false with FileSystemError() otherwise.
bool RemoveFile(const std::string& path);
// Gives a file another name in the same file system, replacing what had it.
bool RenameFile(const std::string& from, const std::string& to);

// Makes an empty file under a name of the form folder/<prefix>XXXXXX<suffix> that no file had,
// readable and writable by the user alone, and gives the name in path; the file is then written
// whole with ReplacingFile. False with FileSystemError() when it cannot be made.
bool CreateUniqueFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                      std::string& path);

// Reads a small file that the user alone can have written: this user's own regular file, not a
// link, writable by nobody else; at most limit + 1 bytes, so that the caller sees one beyond its
// limit. The file is removed once it has been opened, trusted or not, so that it is read once.
// False when it is missing or cannot be trusted or read.
bool TakeOwnFile(const std::string& path, std::size_t limit, std::string& text);

// errno of the last failing call above on this thread.
int FileSystemError();

}  // namespace paginor
