#include "convert/write/character_references.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#include "core/report_core.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr std::size_t kLongestName = 32;

struct NamedReference {
    std::string_view name;
    char32_t first;
    char32_t second;
};

#include "convert/write/named_references.inc"

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

// The readers decode these names already: what is left of them in a text was written as text.
bool decodedByTheReaders(std::string_view name) {
    std::string lower(name);
    for (char& c : lower) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return lower == "amp" || lower == "lt" || lower == "gt" || lower == "quot" || lower == "nbsp";
}

// The characters of the named reference at text[at] ('&'); its length, 0 when there is none.
template <typename Char>
std::size_t matchNamedReference(std::basic_string_view<Char> text, std::size_t at,
                                char32_t value[2]) {
    std::string name;
    std::size_t i = at + 1;
    for (; i < text.size() && name.size() <= kLongestName; ++i) {
        const auto c = static_cast<char32_t>(text[i]);
        if (!isNameChar(c)) {
            break;
        }
        name += static_cast<char>(c);
    }
    if (name.empty() || name.size() > kLongestName || i >= text.size() || text[i] != ';' ||
        decodedByTheReaders(name)) {
        return 0;
    }
    const auto found =
        std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), name,
                         [](const NamedReference& entry, const std::string& key) {
                             return entry.name < std::string_view(key);
                         });
    if (found == std::end(kNamedReferences) || found->name != name) {
        return 0;
    }
    value[0] = found->first;
    value[1] = found->second;
    return i + 1 - at;
}

// The reference starting at text[at] ('&'): its length (0 when there is none) and its one or two
// characters (the second 0 for none).
template <typename Char>
std::size_t matchReference(std::basic_string_view<Char> text, std::size_t at, char32_t value[2]) {
    std::size_t i = at + 2;
    if (i > text.size() || text[at] != '&') {
        return 0;
    }
    if (text[at + 1] != '#') {
        return matchNamedReference(text, at, value);
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
    value[0] = code;
    value[1] = 0;
    return i + 1 - at;
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

bool HoldsCharacterReference(std::string_view text) {
    return holdsReference(text);
}

std::u16string DecodeCharacterReferences(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t value[2];
        const std::size_t length = text[i] == u'&' ? matchReference(text, i, value) : 0;
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
