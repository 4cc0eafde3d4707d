#pragma once

#include <string>

namespace paginor {

// The charset name (as iconv and web engines know it) of a Windows code page; empty for 0 and for
// code pages without one.
std::string charsetNameOfCodePage(int codePage);

}  // namespace paginor
