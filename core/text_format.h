#pragma once

// Formatting and parsing helpers of the report core: spreadsheet cell references,
// HTML colours, form encoding and markup entities.
//
// Colour values are 32-bit Windows colour values, red in the low byte: 0x00BBGGRR.

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// The cell reference of a 1-based column and a row: column letters in bijective base 26, then the
// decimal row ("A1", "AB7", column 65535 "CRXO"). Column 0 has no letters and gives "".
std::string MakeCellReference(std::uint16_t column, std::uint32_t row);

// Parses the six characters after a '#' ("RRGGBB", either case) into *colour. False on the first
// character that is not hexadecimal (a shorter text fails at its NUL); *colour is then unchanged.
bool ParseHexColor(const char* text, std::uint32_t* colour);

// Parses "rgb(r, g, b)" starting at `text` ("rgb" is not checked) with `end` the inclusive end of
// the range (null: up to the text's NUL). Always true. *colour is written unless a parenthesis
// is missing or the ')' does not follow the '(' within 31 bytes. The runs of digits between them
// give red, green and blue in order; each is clamped to 255 and a missing one is 0.
bool ParseRgbColor(const char* text, const char* end, std::uint32_t* colour);

// "#RRGGBB" in capitals from the low three bytes of a colour value.
std::string FormatHtmlColor(std::uint32_t colour);

// application/x-www-form-urlencoded bytes: space becomes '+', ASCII letters and digits are kept,
// every other byte becomes "%XX" (upper-case hexadecimal).
std::string UrlEncodeForm(std::string_view source);

// '&', '<', '>' and '"' appended as their entities; false, with nothing appended, for any other
// character.
inline bool AppendMarkupEntity(std::string& out, char32_t c) {
    switch (c) {
        case '&':
            out += "&amp;";
            return true;
        case '<':
            out += "&lt;";
            return true;
        case '>':
            out += "&gt;";
            return true;
        case '"':
            out += "&quot;";
            return true;
        default:
            return false;
    }
}

// Text fit for the content and the double-quoted attributes of HTML and XML: '&', '<', '>' and
// '"' as their entities, every other byte as it is.
std::string EscapeMarkup(std::string_view text);

}  // namespace paginor
