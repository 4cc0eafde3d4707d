#include "convert/write/character_references.h"

#include <cstddef>

#include "core/report_core.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;

std::int32_t digitValue(char32_t c, bool hex) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::int32_t>(c - '0');
    }
    if (hex && c >= 'a' && c <= 'f') {
        return static_cast<std::int32_t>(c - 'a' + 10);
    }
    if (hex && c >= 'A' && c <= 'F') {
        return static_cast<std::int32_t>(c - 'A' + 10);
    }
    return -1;
}

// The reference starting at text[at] ('&'): its length (0 when there is none) and its character.
template <typename Char>
std::size_t matchReference(std::basic_string_view<Char> text, std::size_t at, char32_t* value) {
    std::size_t i = at + 2;
    if (i > text.size() || text[at] != '&' || text[at + 1] != '#') {
        return 0;
    }
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    i += hex ? 1 : 0;
    const std::size_t first = i;
    char32_t code = 0;
    for (; i < text.size(); ++i) {
        const std::int32_t digit = digitValue(static_cast<char32_t>(text[i]), hex);
        if (digit < 0) {
            break;
        }
        code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
        if (code > kLastCodePoint) {
            return 0;
        }
    }
    if (i == first || i >= text.size() || text[i] != ';' || code == 0 ||
        (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    *value = code;
    return i + 1 - at;
}

}  // namespace

std::u16string DecodeCharacterReferences(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = text[i] == u'&' ? matchReference(text, i, &c) : 0;
        if (length == 0) {
            out.push_back(text[i++]);
            continue;
        }
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
        i += length;
    }
    return out;
}

std::u16string CellTextToUnicode(std::string_view text, std::int32_t codePage) {
    std::u16string wide = CReportCore::ToUnicode(text, codePage);
    return wide.find(u"&#") == std::u16string::npos ? wide : DecodeCharacterReferences(wide);
}

std::string EncodeCharacterReferences(std::string_view text, std::int32_t codePage) {
    if (text.find("&#") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = text[i] == '&' ? matchReference(text, i, &c) : 0;
        const std::string bytes = length > 0 ? codePointToCodePage(c, codePage) : std::string();
        if (bytes.empty()) {
            out.push_back(text[i++]);
            continue;
        }
        out += bytes;
        i += length;
    }
    return out;
}

bool AppendPlainMarkupText(std::string& out, std::string_view text, std::int32_t codePage,
                           std::string_view lineFeed) {
    if (text.find("&#") != std::string_view::npos || !isPlainAsciiIn(text, codePage)) {
        return false;
    }
    for (const char c : text) {
        if (AppendMarkupEntity(out, static_cast<unsigned char>(c))) {
            continue;
        }
        if (c == '\n') {
            out += lineFeed;
        } else {
            out += c;
        }
    }
    return true;
}

}  // namespace paginor
