#include "convert/write/number_text.h"

#include "convert/conversion_driver.h"
#include "convert/write/cell_value.h"

namespace paginor {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr std::size_t kMaxDecimals = 128;

}  // namespace

std::int32_t ScanCellText(const char* text, bool& isNumber, bool& isPlainInteger,
                          std::size_t& length) {
    isNumber = true;
    isPlainInteger = true;
    if (text == nullptr) {
        length = 0;
        isNumber = isPlainInteger = false;
        return 3;
    }
    const std::size_t n = length;
    std::size_t i = 0;
    while (i < n && text[i] == ' ') {
        ++i;
    }
    bool parenthesised = false;
    if (i < n && (text[i] == '-' || text[i] == '(')) {
        parenthesised = text[i] == '(';
        isPlainInteger = false;
        ++i;
    }
    const std::size_t numberStart = i;
    if (i + 1 < n && text[i] == '0' && isDigit(text[i + 1])) {
        isNumber = false;
    }
    bool digits = false;
    bool closed = false;
    std::size_t numberEnd = n;  // one past the last byte that belongs to the number
    for (; i < n; ++i) {
        const char c = text[i];
        if (closed && c != ' ') {
            // Nothing may follow the closing parenthesis.
            isNumber = isPlainInteger = false;
        }
        if (isDigit(c)) {
            digits = true;
        } else if (c == '.' || c == ',') {
            isPlainInteger = false;
        } else if (c == ' ') {
            std::size_t j = i;
            while (j < n && text[j] == ' ') {
                ++j;
            }
            if (j == n) {
                length = i;
                if (!closed) {
                    numberEnd = i;
                }
                break;
            }
            isNumber = isPlainInteger = false;
        } else if (c == ')' && parenthesised && !closed) {
            closed = true;
            numberEnd = i;
        } else {
            isNumber = isPlainInteger = false;
        }
    }
    if (parenthesised && !closed) {
        isNumber = false;
    }
    if (!digits) {
        isNumber = isPlainInteger = false;
        return 3;
    }
    if (!isNumber || numberEnd <= numberStart) {
        return 3;
    }
    return DetectNumberSeparatorsInRange(text + numberStart, text + numberEnd - 1);
}

bool IsDateText(const char* text, std::size_t length) {
    if (text == nullptr || (length != 8 && length != 10)) {
        return false;
    }
    const char mark = text[2];
    if ((mark != '/' && mark != '-') || text[5] != mark) {
        return false;
    }
    if (!isDigit(text[0]) || !isDigit(text[1]) || !isDigit(text[3]) || !isDigit(text[4])) {
        return false;
    }
    for (std::size_t i = 6; i < length; ++i) {
        if (!isDigit(text[i])) {
            return false;
        }
    }
    return true;
}

bool GetNumberFormat(std::string_view text, std::string& format) {
    format.clear();
    bool parenthesised = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '(')) {
        parenthesised = text.front() == '(';
        text.remove_prefix(1);
    }
    if (parenthesised) {
        if (text.empty() || text.back() != ')') {
            return false;
        }
        text.remove_suffix(1);
    }
    bool digits = false;
    std::size_t point = std::string_view::npos;
    bool comma = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            digits = true;
        } else if (c == '.' && point == std::string_view::npos) {
            point = i;
        } else if (c == ',' && point == std::string_view::npos) {
            comma = true;
        } else {
            return false;
        }
    }
    if (!digits || (point == std::string_view::npos && !comma)) {
        format = "0_ ";
        return true;
    }
    if (point == std::string_view::npos) {
        format = "#,##0_ ";
        return true;
    }
    const std::size_t decimals = text.size() - point - 1;
    if (decimals >= kMaxDecimals) {
        throw ConversionError(kErrTooManyDecimals, "too many decimals in a number");
    }
    if (comma) {
        // Every comma stands four places before the previous mark, counting back from the point.
        std::size_t expected = point;
        for (std::size_t i = point; i-- > 0;) {
            if (text[i] != ',') {
                continue;
            }
            if (expected < 4 || i != expected - 4) {
                return false;
            }
            expected = i;
        }
    }
    const std::string zeros(decimals, '0');
    if (decimals == 0) {
        format = comma ? "#,##0_ " : "0_ ";
    } else {
        format = (comma ? "#,##0." : "0.") + zeros + "_ ";
    }
    return true;
}

}  // namespace paginor
