#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace paginor {

// Thrown by the conversion engine after it stored the code (and for -1 its text); the catcher
// asks CConvertEngine::GetErrorText for the message.
class ConvertError : public std::exception {
public:
    explicit ConvertError(std::int32_t code) : m_code(code) {}
    std::int32_t code() const { return m_code; }
    const char* what() const noexcept override { return "conversion engine error"; }

private:
    std::int32_t m_code;
};

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
