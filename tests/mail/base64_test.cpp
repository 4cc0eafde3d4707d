#include "mail/base64.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/mail/mail_test_support.h"

namespace paginor {
namespace {

struct EncodeCase {
    std::string data;
    std::string text;
};

TEST(Base64Test, EncodesTheRfc4648Vectors) {
    const EncodeCase cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xff\x80", 3), "AP+A"},
    };
    for (const EncodeCase& c : cases) {
        EXPECT_EQ(CBase64().Encode(c.data), c.text) << c.data;
    }
}

TEST(Base64Test, NullDataGivesTheEmptyText) {
    EXPECT_EQ(CBase64().Encode(nullptr, 5), "");
    EXPECT_EQ(CBase64().EncodeWrapped(nullptr, 5), "");
}

TEST(Base64Test, FiftyFourBytesGiveOneUnpaddedLineOf72) {
    std::string text = CBase64().Encode(std::string(54, 'x'));
    EXPECT_EQ(text.size(), 72u);
    EXPECT_EQ(text.find('='), std::string::npos);
}

TEST(Base64Test, WrapsAt76AndEndsWithALineBreakOnlyAfterAFullLine) {
    CBase64 codec;
    std::string data(58, '\x5a');
    std::string full = codec.Encode(data.data(), 57);
    EXPECT_EQ(codec.EncodeWrapped(data.data(), 57), full + "\r\n");
    std::string longer = codec.Encode(data.data(), 58);
    EXPECT_EQ(codec.EncodeWrapped(data.data(), 58),
              longer.substr(0, 76) + "\r\n" + longer.substr(76));
    EXPECT_EQ(longer.substr(76).size(), 4u);
    EXPECT_EQ(longer.substr(78), "==");
    EXPECT_EQ(codec.EncodeWrapped(data.data(), 0), "");
}

TEST(Base64Test, MatchesCoreutilsOnRandomData) {
    TempFolder folder;
    std::mt19937 random(7);
    for (std::size_t size : {1u, 2u, 3u, 53u, 54u, 55u, 57u, 58u, 300u, 100000u}) {
        std::string data(size, '\0');
        for (char& c : data) {
            c = static_cast<char>(random());
        }
        std::string path = folder.file("blob", data);
        for (int width : {0, 76}) {
            std::string command = "base64 -w" + std::to_string(width) + " " + path;
            FILE* pipe = popen(command.c_str(), "r");
            std::string expected;
            char buffer[4096];
            for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
                expected.append(buffer, got);
            }
            ASSERT_EQ(pclose(pipe), 0);
            CBase64 codec;
            if (width == 0) {
                // A whole-text comparison: a failure must not print megabytes.
                EXPECT_TRUE(codec.Encode(data) == expected) << size;
                continue;
            }
            std::string crlf;
            for (char c : expected) {
                crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
            }
            if ((crlf.size() - 2) % 78 != 76) {
                crlf.resize(crlf.size() - 2);
            }
            EXPECT_TRUE(codec.EncodeWrapped(data.data(), data.size()) == crlf) << size;
        }
    }
}

struct DecodeCase {
    std::string name;
    std::string text;
    int result;
    std::string bytes;
};

TEST(Base64Test, Decodes) {
    const DecodeCase cases[] = {
        {"three bytes", "Zm9v", 3, "foo"},
        {"padding skipped", "Zm9vYg==", 4, "foob"},
        {"line break refused", "Zm9v\r\nYmFy", 0, ""},
        {"blank refused", "Zm9v YmFy", 0, ""},
        {"high bit read as the low seven", std::string("\xdam9v", 4), 3, "foo"},
        {"empty", "", 0, ""},
        {"only padding", "==", 0, ""},
    };
    for (const DecodeCase& c : cases) {
        std::string out = "old";
        EXPECT_EQ(CBase64().Decode(c.text, out), c.result) << c.name;
        EXPECT_EQ(out, c.bytes) << c.name;
    }
}

}  // namespace
}  // namespace paginor
