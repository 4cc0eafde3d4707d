#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace paginor {

// Bytes in a Windows code page decoded through iconv. A code page without an iconv charset falls
// back to CP1252 and says so in *diagnostic (may be null; cleared otherwise). Invalid or incomplete
// sequences become U+FFFD; the conversion never fails.
std::string codePageToUtf8(std::string_view bytes, int codePage, std::string* diagnostic = nullptr);
std::u16string codePageToUtf16(std::string_view bytes, int codePage,
                               std::string* diagnostic = nullptr);
// The bytes of one character in a Windows code page (the same fall-back as above); empty when the
// code page has no such character. Stateful charsets end in their initial state.
std::string codePointToCodePage(char32_t c, int codePage);
// Whether bytes are printable ASCII (TAB, CR and LF included) that the code page decodes to
// themselves, so that they need no conversion.
bool isPlainAsciiIn(std::string_view bytes, int codePage);
// Appends the UTF-8 bytes of a Unicode scalar value.
void appendUtf8(std::string& out, char32_t c);
// Appends the UTF-16 code units of a Unicode scalar value.
void appendUtf16(std::u16string& out, char32_t c);

// The character of UTF-16 text at index, which moves past it: a surrogate pair gives the
// character it encodes, a surrogate without its partner U+FFFD. index < text.size().
inline char32_t nextCodePoint(std::u16string_view text, std::size_t& index) {
    const char32_t c = text[index++];
    if (c < 0xD800 || c > 0xDFFF) {
        return c;
    }
    if (c <= 0xDBFF && index < text.size() && text[index] >= 0xDC00 && text[index] <= 0xDFFF) {
        return 0x10000 + ((c - 0xD800) << 10) + (text[index++] - 0xDC00);
    }
    return 0xFFFD;
}
// UTF-16 text as UTF-8, each surrogate without its partner as U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

// The longest start of UTF-8 text that holds at most maxBytes bytes and cuts no character.
std::string utf8Prefix(std::string_view text, std::size_t maxBytes);

}  // namespace paginor
