#include "convert/write/number_text.h"

#include "convert/write/cell_value.h"

namespace paginor {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

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

}  // namespace paginor
