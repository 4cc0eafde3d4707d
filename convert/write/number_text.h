#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// The report error of a number with 128 decimals or more.
inline constexpr std::int32_t kErrTooManyDecimals = 26;

// Classifies a cell text for the workbook writers. isNumber: the text reads as a number (no
// leading zero before a digit); isPlainInteger: digits alone. length is cut before trailing
// spaces. Returns the separator code: 1 decimal comma, 0 undecided, 2 or 3 otherwise.
std::int32_t ScanCellText(const char* text, bool& isNumber, bool& isPlainInteger,
                          std::size_t& length);

// dd/mm/yy, dd/mm/yyyy or the same with '-': two-digit fields and a numeric year.
bool IsDateText(const char* text, std::size_t length);

// The invariant number format of a number text ("0_ ", "#,##0.00_ " ...), built with '.' and ','
// whatever the user's marks. False when the text is not a plain number. Throws ConversionError
// kErrTooManyDecimals for 128 or more decimals.
bool GetNumberFormat(std::string_view text, std::string& format);

}  // namespace paginor
