#pragma once

#include <cstdint>
#include <string>

#include "core/coded_error.h"

namespace paginor {

// Thrown by the conversion engine after it stored the code (and for -1 its text); it carries
// both, and CConvertEngine::GetErrorText gives the same message.
class ConvertError : public CodedError {
public:
    using CodedError::CodedError;
};

// A failed conversion: the code the report stored and the report's message for it.
class ConversionError : public CodedError {
public:
    using CodedError::CodedError;
};

// Codes of the report's own table that a conversion stores in the report.
inline constexpr std::int32_t kErrReportNotLoaded = 5;
inline constexpr std::int32_t kErrNoTable = 18;
inline constexpr std::int32_t kErrCancelled = 19;
inline constexpr std::int32_t kErrNoRow = 27;
inline constexpr std::int32_t kErrNoRowEnd = 28;
inline constexpr std::int32_t kErrNoTableTagEnd = 29;

// Codes of the conversion engine's table.
inline constexpr std::int32_t kErrOwnText = -1;
inline constexpr std::int32_t kErrOrdinalOrder = 1;
inline constexpr std::int32_t kErrOrdinalLimit = 2;
inline constexpr std::int32_t kErrOrdinalCount = 3;
inline constexpr std::int32_t kErrRunPlacement = 4;
inline constexpr std::int32_t kErrTableWidth = 5;
inline constexpr std::int32_t kErrCapability = 7;
inline constexpr std::int32_t kErrMissingTagEnd = 8;
inline constexpr std::int32_t kErrMissingTableEnd = 9;
inline constexpr std::int32_t kErrDivPool = 10;
inline constexpr std::int32_t kErrLayoutPool = 11;
inline constexpr std::int32_t kErrTextBuffers = 12;
inline constexpr std::int32_t kErrPageWidth = 13;
inline constexpr std::int32_t kErrHtmlCell = 14;
inline constexpr std::int32_t kErrHtmlSpanOwner = 15;
inline constexpr std::int32_t kErrEmptyGrid = 16;
inline constexpr std::int32_t kErrMissingQuote = 104;

// The message of a code without the "(Error Code:%d)" suffix; empty above 1000. For -1 the
// caller supplies its own text.
std::string errorTableText(std::int32_t code);

}  // namespace paginor
