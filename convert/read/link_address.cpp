#include "convert/read/link_address.h"

#include <string>

#include "convert/write/character_references.h"
#include "core/report_core.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// ASCII a link keeps as it stands.
bool keptInUri(char32_t c) {
    return c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' && c != '^' &&
           c != '`' && c != '{' && c != '|' && c != '}';
}

bool isHexDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

void appendEscaped(std::string& out, std::string_view bytes) {
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
}

std::u32string codePoints(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        out.push_back(nextCodePoint(text, i));
    }
    return out;
}

bool escapedAlready(std::u32string_view text, std::size_t at) {
    return text[at] == '%' && at + 2 < text.size() && isHexDigit(text[at + 1]) &&
           isHexDigit(text[at + 2]);
}

}  // namespace

std::string EscapeUriBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        const bool escaped = c == '%' && i + 2 < bytes.size() && isHexDigit(bytes[i + 1]) &&
                             isHexDigit(bytes[i + 2]);
        if (keptInUri(c) && (c != '%' || escaped)) {
            out += static_cast<char>(c);
        } else {
            appendEscaped(out, bytes.substr(i, 1));
        }
    }
    return out;
}

std::string LinkAddressToUri(std::string_view value, std::int32_t codePage,
                             std::size_t maxCharacters) {
    const std::u32string decoded = codePoints(DecodeCharacterReferences(
        CReportCore::ToUnicode(value, codePage), ReferenceContext::AttributeValue));
    std::size_t first = 0;
    std::size_t last = decoded.size();
    while (first < last && decoded[first] <= 0x20) {
        ++first;
    }
    while (last > first && decoded[last - 1] <= 0x20) {
        --last;
    }
    std::u32string address;
    for (std::size_t i = first; i < last && address.size() < maxCharacters; ++i) {
        if (decoded[i] != '\t' && decoded[i] != '\n' && decoded[i] != '\r') {
            address.push_back(decoded[i]);
        }
    }
    std::string out;
    out.reserve(address.size());
    enum class Component { Path, Query, Fragment } component = Component::Path;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const char32_t c = address[i];
        if (c == '#') {
            component = Component::Fragment;
        } else if (c == '?' && component == Component::Path) {
            component = Component::Query;
        }
        if (keptInUri(c) && (c != '%' || escapedAlready(address, i))) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0x80 && component == Component::Query) {
            const std::string bytes = codePointToCodePage(c, codePage);
            if (bytes.empty()) {
                // A character the page's code page lacks goes as the reference a form sends.
                out += "%26%23" + std::to_string(static_cast<std::uint32_t>(c)) + "%3B";
            } else {
                appendEscaped(out, bytes);
            }
            continue;
        }
        std::string bytes;
        appendUtf8(bytes, c);
        appendEscaped(out, bytes);
    }
    return out;
}

}  // namespace paginor
