#include "convert/write/xlsx/part_text.h"

#include <charconv>

#include "convert/write/character_references.h"

namespace paginor::xlsx {

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// "_x" and four hexadecimal digits and "_": how workbooks write characters XML cannot hold.
bool looksEscaped(std::string_view text, std::size_t at) {
    return at + 7 <= text.size() && text[at + 1] == 'x' && isHex(text[at + 2]) &&
           isHex(text[at + 3]) && isHex(text[at + 4]) && isHex(text[at + 5]) && text[at + 6] == '_';
}

}  // namespace

char* writeColumnLetters(char* to, std::int32_t column) {
    char letters[4];
    int n = 0;
    for (std::int32_t c = column + 1; c > 0 && n < 4; c = (c - 1) / 26) {
        letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    }
    while (n > 0) {
        *to++ = letters[--n];
    }
    return to;
}

void appendInteger(std::string& out, std::int64_t value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void appendCellReference(std::string& out, std::int32_t row, std::int32_t column) {
    char letters[4];
    out.append(letters, writeColumnLetters(letters, column));
    appendInteger(out, std::int64_t{row} + 1);
}

char* formatNumber(char* to, double value) {
    // Amounts of up to six decimals: the fewest decimals that read back as the value, written
    // with integer arithmetic.
    constexpr double kPowers[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
    constexpr double kLargest = 1e15;
    const double magnitude = value < 0 ? -value : value;
    if (magnitude < kLargest && magnitude >= 1e-6) {
        for (int decimals = 0; decimals <= 6; ++decimals) {
            const double scaled = magnitude * kPowers[decimals];
            if (scaled >= 9e15) {
                break;
            }
            const auto whole = static_cast<std::int64_t>(scaled + 0.5);
            if (static_cast<double>(whole) / kPowers[decimals] != magnitude) {
                continue;
            }
            char* at = to;
            if (value < 0) {
                *at++ = '-';
            }
            const auto unit = static_cast<std::int64_t>(kPowers[decimals]);
            at = std::to_chars(at, at + 20, whole / unit).ptr;
            if (decimals > 0) {
                *at++ = '.';
                std::int64_t fraction = whole % unit;
                for (int d = decimals - 1; d >= 0; --d) {
                    at[d] = static_cast<char>('0' + fraction % 10);
                    fraction /= 10;
                }
                at += decimals;
            }
            return at;
        }
    }
    return std::to_chars(to, to + 32, value).ptr;
}

void appendNumber(std::string& out, double value) {
    char digits[32];
    out.append(digits, formatNumber(digits, value));
}

char* writeCellText(char* to, std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    auto escape = [&to](unsigned code) {
        std::memcpy(to, "_x", 2);
        to += 2;
        for (int shift = 12; shift >= 0; shift -= 4) {
            *to++ = kDigits[(code >> shift) & 0xF];
        }
        *to++ = '_';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '&' && c != '<' && c != '>' && c != '_' && c != 0xEF) {
            *to++ = static_cast<char>(c);
        } else if (c == '&') {
            std::memcpy(to, "&amp;", 5);
            to += 5;
        } else if (c == '<') {
            std::memcpy(to, "&lt;", 4);
            to += 4;
        } else if (c == '>') {
            std::memcpy(to, "&gt;", 4);
            to += 4;
        } else if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            escape(c);
        } else if (c == '_' && looksEscaped(text, i)) {
            escape('_');
        } else if (c == 0xEF && i + 2 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0xBF &&
                   (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            // U+FFFE and U+FFFF, which XML forbids.
            escape(0xFFFE | (static_cast<unsigned char>(text[i + 2]) & 1));
            i += 2;
        } else {
            *to++ = static_cast<char>(c);
        }
    }
    return to;
}

void appendAttributeText(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (!AppendMarkupEntity(out, static_cast<unsigned char>(c)) &&
            (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')) {
            out += c;
        }
    }
}

std::string number(double value) {
    std::string text;
    appendNumber(text, value);
    return text;
}

std::string integer(std::int64_t value) {
    std::string text;
    appendInteger(text, value);
    return text;
}

std::int32_t columnPixels(double width) {
    if (width < 1) {
        return static_cast<std::int32_t>(width * 12 + 0.5);
    }
    return static_cast<std::int32_t>(width * 7 + 0.5) + 5;
}

}  // namespace paginor::xlsx
