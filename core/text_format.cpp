#include "core/text_format.h"

#include <charconv>
#include <cstddef>

#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// ParseRgbColor copies the text between the parentheses into a buffer of this size;
// parentheses this far apart or more leave the colour as it was.
constexpr std::size_t kRgbTextBytes = 32;

constexpr std::uint32_t kMaxColourComponent = 255;

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string MakeCellReference(std::uint16_t column, std::uint32_t row) {
    if (column == 0) {
        return {};
    }
    char letters[8];  // 65535 needs four letters
    int count = 0;
    unsigned n = column - 1u;
    while (n >= 26) {
        letters[count++] = static_cast<char>('A' + n % 26);
        n = n / 26 - 1;
    }
    letters[count++] = static_cast<char>('A' + n);

    char text[8 + 10];
    char* out = text;
    while (count > 0) {
        *out++ = letters[--count];
    }
    // The row is printed unsigned, so that rows above 2^31-1 stay positive.
    out = std::to_chars(out, text + sizeof text, row).ptr;
    return std::string(text, out);
}

bool ParseHexColor(const char* text, std::uint32_t* colour) {
    std::uint32_t rgb = 0;  // 0xRRGGBB as written
    for (int i = 0; i < 6; ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0) {
            return false;
        }
        rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
    }
    *colour = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
    return true;
}

bool ParseRgbColor(const char* text, const char* end, std::uint32_t* colour) {
    // The search starts at the fourth byte; a text too short to have one leaves the colour alone.
    if (end != nullptr ? end - text < 3 : (text[0] == '\0' || text[1] == '\0' || text[2] == '\0')) {
        return true;
    }
    const char* open = FindCharInRange(text + 3, '(', end);
    const char* close = FindCharInRange(text + 3, ')', end);
    if (open == nullptr || close == nullptr) {
        return true;
    }
    // Taken as unsigned, so a ')' before the '(' also counts as too far apart.
    const auto distance = static_cast<std::size_t>(close - open);
    if (distance >= kRgbTextBytes) {
        return true;
    }
    std::uint32_t components[3] = {0, 0, 0};
    int index = -1;
    bool inNumber = false;
    for (const char* p = open + 1; p < close; ++p) {
        if (*p < '0' || *p > '9') {
            inNumber = false;
            continue;
        }
        if (!inNumber) {
            inNumber = true;
            if (++index == 3) {
                break;
            }
        }
        std::uint32_t& value = components[index];
        value = value * 10 + static_cast<std::uint32_t>(*p - '0');
        if (value > kMaxColourComponent) {
            value = kMaxColourComponent;  // clamped, so that no component spills into the next
        }
    }
    *colour = components[0] | components[1] << 8 | components[2] << 16;
    return true;
}

std::string FormatHtmlColor(std::uint32_t colour) {
    const std::uint32_t rgb = (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
    std::string text(7, '#');
    for (int i = 6; i >= 1; --i) {
        text[static_cast<std::size_t>(i)] = kUpperHexDigits[rgb >> (4 * (6 - i)) & 0xF];
    }
    return text;
}

std::string UrlEncodeForm(std::string_view source) {
    std::string out;
    out.reserve(source.size() * 3);
    for (const char c : source) {
        if (c == ' ') {
            out += '+';
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kUpperHexDigits[byte >> 4];
            out += kUpperHexDigits[byte & 0xF];
        }
    }
    return out;
}

std::string EscapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (!AppendMarkupEntity(out, static_cast<unsigned char>(c))) {
            out += c;
        }
    }
    return out;
}

}  // namespace paginor
