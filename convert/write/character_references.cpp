#include "convert/write/character_references.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "core/report_core.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr char32_t kReplacement = 0xFFFD;
constexpr std::size_t kLongestName = 32;
constexpr std::size_t kLongestBareName = 6;

struct NamedReference {
    std::string_view name;
    char32_t first;
    char32_t second;
    bool bare;  // HTML also reads it without its ';'
};

#include "convert/write/named_references.inc"

// What browsers show for the references 0x80-0x9F: the windows-1252 characters, where that code
// page has one.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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

bool isNameChar(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

const NamedReference* findName(std::string_view name) {
    const auto found = std::lower_bound(
        std::begin(kNamedReferences), std::end(kNamedReferences), name,
        [](const NamedReference& entry, std::string_view key) { return entry.name < key; });
    return found != std::end(kNamedReferences) && found->name == name ? found : nullptr;
}

// The named reference at text[at] ('&'): the longest name of the list followed by its ';', or
// the longest one HTML reads without it. Its length, 0 when there is none.
template <typename Char>
std::size_t matchNamedReference(std::basic_string_view<Char> text, std::size_t at,
                                char32_t value[2], ReferenceContext context) {
    std::string name;
    std::size_t i = at + 1;
    for (; i < text.size() && name.size() <= kLongestName; ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        if (!isNameChar(c)) {
            break;
        }
        name += static_cast<char>(c);
    }
    if (name.size() <= kLongestName && i < text.size() && text[i] == ';') {
        if (const NamedReference* found = findName(name)) {
            value[0] = found->first;
            value[1] = found->second;
            return i + 1 - at;
        }
    }
    for (std::size_t length = std::min(name.size(), kLongestBareName); length >= 2; --length) {
        const NamedReference* found = findName(std::string_view(name).substr(0, length));
        if (found == nullptr || !found->bare) {
            continue;
        }
        const std::size_t next = at + 1 + length;
        if (context == ReferenceContext::AttributeValue && next < text.size() &&
            (isNameChar(static_cast<char32_t>(text[next])) || text[next] == '=')) {
            return 0;
        }
        value[0] = found->first;
        value[1] = found->second;
        return length + 1;
    }
    return 0;
}

// The character a numeric reference stands for.
char32_t numericCharacter(char32_t code) {
    if (code == 0 || code > kLastCodePoint || (code >= 0xD800 && code <= 0xDFFF)) {
        return kReplacement;
    }
    if (code >= 0x80 && code <= 0x9F) {
        return kWindows1252High[code - 0x80];
    }
    return code;
}

// The reference starting at text[at] ('&'): its length (0 when there is none) and its one or two
// characters (the second 0 for none).
template <typename Char>
std::size_t matchReference(std::basic_string_view<Char> text, std::size_t at, char32_t value[2],
                           ReferenceContext context = ReferenceContext::Text) {
    std::size_t i = at + 2;
    if (i > text.size() || text[at] != '&') {
        return 0;
    }
    if (text[at + 1] != '#') {
        return matchNamedReference(text, at, value, context);
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
        // Past the last code point the value no longer matters: it stands for U+FFFD.
        code = std::min<char32_t>(code * (hex ? 16 : 10) + static_cast<char32_t>(digit),
                                  kLastCodePoint + 1);
    }
    if (i == first) {
        return 0;
    }
    if (i < text.size() && text[i] == ';') {
        ++i;
    }
    value[0] = numericCharacter(code);
    value[1] = 0;
    return i - at;
}

// Whether the text holds a reference that decodes.
template <typename Char>
bool holdsReference(std::basic_string_view<Char> text) {
    char32_t value[2];
    for (std::size_t i = text.find(Char('&')); i != std::basic_string_view<Char>::npos;
         i = text.find(Char('&'), i + 1)) {
        if (matchReference(text, i, value) > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::size_t CharacterReferenceLength(std::string_view text, std::size_t at,
                                     ReferenceContext context) {
    char32_t value[2];
    return matchReference(text, at, value, context);
}

bool HoldsCharacterReference(std::string_view text) {
    return holdsReference(text);
}

std::u16string DecodeCharacterReferences(std::u16string_view text, ReferenceContext context) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t value[2];
        const std::size_t length = text[i] == u'&' ? matchReference(text, i, value, context) : 0;
        if (length == 0) {
            out.push_back(text[i++]);
            continue;
        }
        appendUtf16(out, value[0]);
        if (value[1] != 0) {
            appendUtf16(out, value[1]);
        }
        i += length;
    }
    return out;
}

std::u16string CellTextToUnicode(std::string_view text, std::int32_t codePage) {
    std::u16string wide = CReportCore::ToUnicode(text, codePage);
    return holdsReference(std::u16string_view(wide)) ? DecodeCharacterReferences(wide) : wide;
}

std::string EncodeCharacterReferences(std::string_view text, std::int32_t codePage) {
    if (!holdsReference(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t value[2];
        const std::size_t length = text[i] == '&' ? matchReference(text, i, value) : 0;
        std::string bytes = length > 0 ? codePointToCodePage(value[0], codePage) : std::string();
        if (!bytes.empty() && value[1] != 0) {
            // Both characters or neither: half of a pair would change the text's meaning.
            const std::string second = codePointToCodePage(value[1], codePage);
            bytes = second.empty() ? std::string() : bytes + second;
        }
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
    if (!isPlainAsciiIn(text, codePage) || holdsReference(text)) {
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
