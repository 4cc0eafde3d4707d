#pragma once

#include <string>
#include <vector>

namespace paginor {

// Starts a program from an argument array (no shell): argv[0] is looked up on PATH when it holds
// no '/'. The child gets its own session and /dev/null as standard input and output; a thread
// reaps it. False with the reason when it cannot be started.
bool spawnDetached(const std::vector<std::string>& argv, std::string& error);

// Runs a program and waits for it; true when it ran and ended with status 0.
bool runAndWait(const std::vector<std::string>& argv, std::string& error);

// The full path of a program found on PATH; empty when there is none.
std::string findProgram(const std::string& name);

// Opens a file or address with the desktop's default program (xdg-open).
bool openWithDefaultProgram(const std::string& pathOrUrl, std::string& error);

}  // namespace paginor
