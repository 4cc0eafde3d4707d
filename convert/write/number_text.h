#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// Classifies a cell text for the web archive's count of decimal marks. isNumber: the text reads as
// a number (no leading zero before a digit); isPlainInteger: digits alone. length is cut before
// trailing spaces. Returns the separator code: 1 decimal comma, 0 undecided, 2 or 3 otherwise.
std::int32_t ScanCellText(const char* text, bool& isNumber, bool& isPlainInteger,
                          std::size_t& length);

}  // namespace paginor
