#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/quoted_printable.h"

namespace paginor {
namespace {

// The text encoded in the given pieces.
std::string encode(const std::vector<std::string>& pieces) {
    std::string out;
    QuotedPrintableEncoder encoder([&](std::string_view bytes) { out += bytes; });
    for (const auto& piece : pieces) {
        encoder.Append(piece);
    }
    encoder.Finish();
    return out;
}

TEST(QuotedPrintable, Encodings) {
    struct Case {
        const char* name;
        std::vector<std::string> pieces;
        std::string expected;
    };
    const std::string eighty(80, 'x');
    const Case cases[] = {
        {"equals sign", {"a=b"}, "a=3Db"},
        {"line break kept", {"ab\r\ncd\r\n"}, "ab\r\ncd\r\n"},
        {"80 characters: one soft break after 75",
         {eighty},
         std::string(75, 'x') + "=\r\n" + std::string(5, 'x')},
        {"blanks inside a line stay", {"a b\tc"}, "a b\tc"},
        {"blank before a line end", {"a \r\nb"}, "a=20\r\nb"},
        {"tab before a line end", {"a\t\r\n"}, "a=09\r\n"},
        {"two blanks before a line end", {"a  \r\n"}, "a =20\r\n"},
        {"blank at the end of the part", {"a "}, "a=20"},
        {"lone CR", {"a\rb"}, "a=0Db"},
        {"lone LF", {"a\nb"}, "a=0Ab"},
        {"CR at the end of the part", {"a\r"}, "a=0D"},
        {"bytes from 127 up and controls", {"\x7F\xE9\x01"}, "=7F=E9=01"},
        {"CR LF split across pieces", {"ab\r", "\ncd"}, "ab\r\ncd"},
        {"blank before a split CR LF", {"ab ", "\r", "\n"}, "ab=20\r\n"},
        {"blank then text in the next piece", {"ab ", "c"}, "ab c"},
        {"encoded item not cut by a soft break",
         {std::string(74, 'x') + "="},
         std::string(74, 'x') + "=\r\n=3D"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encode(c.pieces), c.expected);
    }
}

// Pieces of 1024 bytes, as the sheets are read back, keep the line length running: no encoded
// line passes 76 characters, and decoding gives the input back.
TEST(QuotedPrintable, LinesStayShortAcrossPieces) {
    std::string input;
    for (int i = 0; i < 600; ++i) {
        input += "<td class=tbz" + std::to_string(i % 7) + " >caf\xE9 = " + std::to_string(i) +
                 (i % 5 == 0 ? " \r\n" : "");
    }
    std::vector<std::string> pieces;
    for (std::size_t at = 0; at < input.size(); at += 1024) {
        pieces.push_back(input.substr(at, 1024));
    }
    const std::string encoded = encode(pieces);
    std::string decoded;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '\r') {
            ASSERT_LT(i + 1, encoded.size());
            ASSERT_EQ(encoded[i + 1], '\n');
            EXPECT_LE(i - lineStart, 76u);
            EXPECT_NE(encoded[i - 1], ' ');
            if (encoded[i - 1] == '=') {
                decoded.pop_back();  // a soft break
            } else {
                decoded += "\r\n";
            }
            lineStart = i + 2;
            ++i;
        } else if (encoded[i] == '=' && i + 2 < encoded.size() && encoded[i + 1] != '\r') {
            decoded += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += encoded[i];
        }
    }
    EXPECT_LE(encoded.size() - lineStart, 76u);
    EXPECT_EQ(decoded, input);
}

}  // namespace
}  // namespace paginor
