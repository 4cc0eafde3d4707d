#include "core/text_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace paginor {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

// Text copied into a heap block of exactly its size, without a NUL, so that AddressSanitizer
// reports any read past the range's inclusive end.
class Bytes {
public:
    explicit Bytes(std::string_view text)
        : m_size(text.size()), m_data(new char[text.size() > 0 ? text.size() : 1]) {
        std::memcpy(m_data.get(), text.data(), text.size());
    }
    const char* at(std::size_t index) const { return m_data.get() + index; }
    const char* first() const { return m_data.get(); }
    const char* last() const { return m_data.get() + m_size - 1; }  // the inclusive end
    std::size_t size() const { return m_size; }

private:
    std::size_t m_size;
    std::unique_ptr<char[]> m_data;
};

// NUL-terminated text in a heap block of exactly its size plus the NUL.
class CText {
public:
    explicit CText(std::string_view text) : m_data(new char[text.size() + 1]) {
        std::memcpy(m_data.get(), text.data(), text.size());
        m_data[text.size()] = '\0';
    }
    const char* get() const { return m_data.get(); }

private:
    std::unique_ptr<char[]> m_data;
};

// ---------------------------------------------------------------------------------------------
// IsBlank and FoldCase

TEST(CharClass, BlanksAreSpaceLineFeedAndCarriageReturnOnly) {
    for (int c = -128; c < 128; ++c) {
        const bool expected = c == ' ' || c == '\n' || c == '\r';
        EXPECT_EQ(IsBlank(static_cast<char>(c)), expected) << c;
    }
}

TEST(CharClass, FoldCaseFoldsOnlyAsciiCapitals) {
    for (int c = -128; c < 128; ++c) {
        const char expected =
            (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
        EXPECT_EQ(FoldCase(static_cast<char>(c)), expected) << c;
    }
}

// ---------------------------------------------------------------------------------------------
// SkipBlanksInRange

TEST(SkipBlanksInRange, ReturnsFirstNonBlankAndItsPosition) {
    Bytes text("  \r\n x");
    const char* position = nullptr;
    EXPECT_EQ(SkipBlanksInRange(text.first(), &position, text.last()), 'x');
    EXPECT_EQ(position, text.at(5));
}

TEST(SkipBlanksInRange, TabIsNotBlank) {
    Bytes text(" \tx");
    const char* position = nullptr;
    EXPECT_EQ(SkipBlanksInRange(text.first(), &position, text.last()), '\t');
    EXPECT_EQ(position, text.at(1));
}

TEST(SkipBlanksInRange, BlankRangeGivesZeroAndLeavesPositionUntouched) {
    Bytes text(" \r\n x");
    const char sentinel = 0;
    const char* position = &sentinel;
    EXPECT_EQ(SkipBlanksInRange(text.first(), &position, text.at(3)), 0);
    EXPECT_EQ(position, &sentinel);
    // An empty range (start past end) likewise.
    EXPECT_EQ(SkipBlanksInRange(text.at(4), &position, text.at(3)), 0);
    EXPECT_EQ(position, &sentinel);
}

TEST(SkipBlanksInRange, NulInsideBoundedRangeIsNonBlank) {
    Bytes text(" \0x"s);
    const char* position = nullptr;
    EXPECT_EQ(SkipBlanksInRange(text.first(), &position, text.last()), 0);
    EXPECT_EQ(position, text.at(1));
}

TEST(SkipBlanksInRange, UnboundedStopsAtNul) {
    CText word("  \n word");
    const char* position = nullptr;
    EXPECT_EQ(SkipBlanksInRange(word.get(), &position), 'w');
    EXPECT_EQ(position, word.get() + 4);

    CText blanks(" \r\n ");
    EXPECT_EQ(SkipBlanksInRange(blanks.get(), &position), 0);
    EXPECT_EQ(position, blanks.get() + 4);
}

// ---------------------------------------------------------------------------------------------
// FindCharInRange

TEST(FindCharInRange, FindsFirstOccurrenceInRange) {
    Bytes text("<td>a>b");
    EXPECT_EQ(FindCharInRange(text.first(), '>', text.last()), text.at(3));
    EXPECT_EQ(FindCharInRange(text.first(), '<', text.last()), text.at(0));
    EXPECT_EQ(FindCharInRange(text.first(), 'b', text.last()), text.at(6));
    EXPECT_EQ(FindCharInRange(text.first(), 'x', text.last()), nullptr);
    // A byte past the end does not count.
    EXPECT_EQ(FindCharInRange(text.first(), 'b', text.at(5)), nullptr);
    // The empty range.
    EXPECT_EQ(FindCharInRange(text.at(3), '>', text.at(2)), nullptr);
}

TEST(FindCharInRange, HighBytesAndNulAreOrdinaryInBoundedRange) {
    Bytes text("a\0\xE9"s);
    EXPECT_EQ(FindCharInRange(text.first(), '\0', text.last()), text.at(1));
    EXPECT_EQ(FindCharInRange(text.first(), '\xE9', text.last()), text.at(2));
}

TEST(FindCharInRange, UnboundedStopsAtNul) {
    CText text("ab>c");
    EXPECT_EQ(FindCharInRange(text.get(), '>'), text.get() + 2);
    EXPECT_EQ(FindCharInRange(text.get(), 'x'), nullptr);
    EXPECT_EQ(FindCharInRange(text.get(), '\0'), text.get() + 4);
    const std::string withNul = "ab\0c"s;
    EXPECT_EQ(FindCharInRange(withNul.c_str(), 'c'), nullptr);
}

// ---------------------------------------------------------------------------------------------
// FindWordInRange and MatchWordAt

struct WordCase {
    const char* name;
    std::string text;
    int length;
    int offset;  // of the word start, -1 for null
};

TEST(FindWordInRange, Table) {
    const WordCase cases[] = {
        {"word after blanks", "  table border", 5, 2}, {"non-letter first", "  <table", 0, -1},
        {"word ends at non-letter", "TABLE1", 5, 0},   {"blanks only", " \r\n", 0, -1},
        {"tab is not blank", "\ttable", 0, -1},        {"high byte is no letter", "\xE9t", 0, -1},
        {"word to the end", "\r\ntd", 2, 2},           {"single letter", "x", 1, 0},
        {"nul ends the word", "ab\0c"s, 2, 0},
    };
    for (const WordCase& c : cases) {
        Bytes text(c.text);
        const char* wordStart = text.first();
        EXPECT_EQ(FindWordInRange(text.first(), &wordStart, text.last()), c.length) << c.name;
        EXPECT_EQ(wordStart, c.offset < 0 ? nullptr : text.at(static_cast<std::size_t>(c.offset)))
            << c.name;

        CText unbounded(c.text);
        const char* unboundedStart = unbounded.get();
        EXPECT_EQ(FindWordInRange(unbounded.get(), &unboundedStart), c.length) << c.name;
    }
}

TEST(FindWordInRange, EndCutsTheWord) {
    Bytes text("table");
    const char* wordStart = nullptr;
    EXPECT_EQ(FindWordInRange(text.first(), &wordStart, text.at(2)), 3);
    EXPECT_EQ(wordStart, text.first());
}

TEST(MatchWordAt, Table) {
    struct Case {
        const char* text;
        const char* keyword;
        int offset;  // -1 for null
    };
    const Case cases[] = {
        {"TABLE border", "table", 0},
        {"table1", "table", 0},
        {"  tdx", "td", -1},
        {"td", "tdx", -1},
        {" td>", "TD", 1},
        {"<td", "td", -1},
        {"   ", "td", -1},
        {"print 1 3", "print", 0},
        {"printer", "print", -1},
    };
    for (const Case& c : cases) {
        Bytes text(c.text);
        const char* expected = c.offset < 0 ? nullptr : text.at(static_cast<std::size_t>(c.offset));
        EXPECT_EQ(MatchWordAt(text.first(), c.keyword, text.last()), expected) << c.text;
        CText unbounded(c.text);
        EXPECT_EQ(MatchWordAt(unbounded.get(), c.keyword) != nullptr, c.offset >= 0) << c.text;
    }
}

// ---------------------------------------------------------------------------------------------
// FindTokenInRange and MatchTokenAt

struct TokenCase {
    const char* name;
    std::string text;
    const char* delimiters;
    int length;
    int offset;  // of the token start
    char delimiter;
};

TEST(FindTokenInRange, Table) {
    const TokenCase cases[] = {
        {"ends at delimiter", "  width=10", "=>", 5, 2, '='},
        {"delimiter first", "=5", "=>", 0, 0, '='},
        {"delimiter after blanks counts the blanks", "  =5", "=>", 2, 0, '='},
        {"ends at blank", "abc def", "=", 3, 0, ' '},
        {"ends at line feed", "\r\nabc\ndef", "", 3, 2, ' '},
        {"runs to the end", "  abc", "=", 3, 2, '\0'},
        {"blanks only", " \r\n ", "=", 0, 0, '\0'},
        {"tab is a token byte", "\tab c", "", 3, 0, ' '},
        {"nul is a token byte", "a\0b c"s, "", 3, 0, ' '},
        {"blank in the set ends before a token", " x", " ", 0, 0, ' '},
        {"blank in the set ends a token", "x y", " ", 1, 0, ' '},
        {"null delimiter set", "a=b", nullptr, 3, 0, '\0'},
    };
    for (const TokenCase& c : cases) {
        Bytes text(c.text);
        const char* tokenStart = nullptr;
        char delimiter = 'X';
        EXPECT_EQ(
            FindTokenInRange(text.first(), &tokenStart, &delimiter, c.delimiters, text.last()),
            c.length)
            << c.name;
        EXPECT_EQ(tokenStart, text.at(static_cast<std::size_t>(c.offset))) << c.name;
        EXPECT_EQ(delimiter, c.delimiter) << c.name;
    }
}

TEST(FindTokenInRange, UnboundedEndsAtNul) {
    CText text("  navigate2");
    const char* tokenStart = nullptr;
    char delimiter = 'X';
    EXPECT_EQ(FindTokenInRange(text.get(), &tokenStart, &delimiter, "="), 9);
    EXPECT_EQ(tokenStart, text.get() + 2);
    EXPECT_EQ(delimiter, '\0');

    const std::string withNul = "ab\0cd"s;
    EXPECT_EQ(FindTokenInRange(withNul.c_str(), &tokenStart, &delimiter, ""), 2);
    EXPECT_EQ(delimiter, '\0');
}

TEST(FindTokenInRange, NullDelimiterOutputIsAllowed) {
    Bytes text("ab=c");
    const char* tokenStart = nullptr;
    EXPECT_EQ(FindTokenInRange(text.first(), &tokenStart, nullptr, "=", text.last()), 2);
}

TEST(MatchTokenAt, Table) {
    struct Case {
        const char* text;
        const char* keyword;
        const char* delimiters;
        int offset;  // -1 for null
    };
    const Case cases[] = {
        {"  navigate2 http://x", "navigate2", "", 2},
        {"SHOW 1 2", "show", "", 0},
        {"show5", "show", "", -1},
        {"sho", "show", "", -1},
        {"width=10", "WIDTH", "=", 0},
        {"=5", "", "=", -1},
        {"   ", "show", "", -1},
    };
    for (const Case& c : cases) {
        Bytes text(c.text);
        const char* expected = c.offset < 0 ? nullptr : text.at(static_cast<std::size_t>(c.offset));
        EXPECT_EQ(MatchTokenAt(text.first(), c.keyword, c.delimiters, text.last()), expected)
            << c.text;
    }
}

TEST(MatchTokenAt, NulTokenByteDoesNotMatchKeywordEnd) {
    Bytes text("ab\0 "s);
    EXPECT_EQ(MatchTokenAt(text.first(), "ab", "", text.last()), nullptr);
}

// ---------------------------------------------------------------------------------------------
// FindNoCaseInRange and FindDelimitedKeyword

TEST(FindNoCaseInRange, Table) {
    struct Case {
        const char* name;
        std::string text;
        const char* keyword;
        int offset;  // -1 for null
    };
    const Case cases[] = {
        {"resumes after a partial match", "aaab", "aab", 1},
        {"case-insensitive", "xxAaB", "aab", 2},
        {"keyword folded too", "<td nowrap>", "NOWRAP", 4},
        {"non-letter first byte", "a<TD>", "<td", 1},
        {"at the last fitting place", "abc", "bc", 1},
        {"keyword longer than range", "ab", "abc", -1},
        {"absent", "abcabc", "abd", -1},
        {"empty keyword", "abc", "", -1},
        {"high bytes compare as they are", "\xC9\xE9", "\xE9", 1},
        {"nul inside the range", "a\0bc"s, "bc", 2},
    };
    for (const Case& c : cases) {
        Bytes text(c.text);
        const char* expected = c.offset < 0 ? nullptr : text.at(static_cast<std::size_t>(c.offset));
        EXPECT_EQ(FindNoCaseInRange(text.first(), text.last(), c.keyword), expected) << c.name;
    }
}

TEST(FindNoCaseInRange, OccurrenceMustEndWithinRange) {
    Bytes text("xxcolor");
    EXPECT_EQ(FindNoCaseInRange(text.first(), text.at(5), "color"), nullptr);
    EXPECT_EQ(FindNoCaseInRange(text.first(), text.at(6), "color"), text.at(2));
    EXPECT_EQ(FindNoCaseInRange(text.at(3), text.at(2), "c"), nullptr);  // start past end
    EXPECT_EQ(FindNoCaseInRange(text.first(), text.last(), nullptr), nullptr);
}

TEST(FindNoCaseInRange, NullEndSearchesUpToNul) {
    CText text("abcAAB");
    EXPECT_EQ(FindNoCaseInRange(text.get(), nullptr, "aab"), text.get() + 3);
    EXPECT_EQ(FindNoCaseInRange(text.get(), nullptr, "aabx"), nullptr);
    const std::string withNul = "ab\0cd"s;
    EXPECT_EQ(FindNoCaseInRange(withNul.c_str(), nullptr, "cd"), nullptr);
}

TEST(FindDelimitedKeyword, Table) {
    struct Case {
        const char* name;
        std::string text;
        const char* keyword;
        int offset;  // -1 for null
    };
    const Case cases[] = {
        {"skips an undelimited occurrence", "bgcolor=red color=blue", "color", 12},
        {"tag keyword after '>'", "<td><font size=2>", "<font", 4},
        {"plain keyword after '>' does not count", "<td>font", "font", -1},
        {"at the range start", "color=red", "color", 0},
        {"after ';'", "a:b;color:red", "color", 4},
        {"after line feed", "x\ncolor", "COLOR", 2},
        {"after carriage return", "x\rcolor", "color", 2},
        {"after nul", "x\0color"s, "color", 2},
        {"tab does not delimit", "\tcolor", "color", -1},
        {"only undelimited occurrences", "bgcolor xcolor", "color", -1},
        {"search goes on behind a rejected occurrence", "xaaa aa", "aa", 5},
    };
    for (const Case& c : cases) {
        Bytes text(c.text);
        const char* expected = c.offset < 0 ? nullptr : text.at(static_cast<std::size_t>(c.offset));
        EXPECT_EQ(FindDelimitedKeyword(text.first(), text.last(), c.keyword), expected) << c.name;
    }
}

TEST(FindDelimitedKeyword, NeverReadsBeforeTheRangeStart) {
    // The range starts inside "bgcolor": the byte before it is 'g', yet the occurrence at the
    // range start counts, and Bytes places the range start at the block's start for ASan.
    Bytes text("color=1");
    EXPECT_EQ(FindDelimitedKeyword(text.first(), text.last(), "color"), text.first());
    const std::string whole = "bgcolor=1";
    EXPECT_EQ(FindDelimitedKeyword(whole.data() + 2, whole.data() + whole.size() - 1, "color"),
              whole.data() + 2);
}

TEST(FindDelimitedKeyword, RejectedOccurrenceAtTheEnd) {
    Bytes text("xcolor");
    EXPECT_EQ(FindDelimitedKeyword(text.first(), text.last(), "color"), nullptr);
    EXPECT_EQ(FindDelimitedKeyword(text.first(), text.last(), ""), nullptr);
    CText unbounded("xcolor color");
    EXPECT_EQ(FindDelimitedKeyword(unbounded.get(), nullptr, "color"), unbounded.get() + 7);
}

// ---------------------------------------------------------------------------------------------
// EqualNoCaseN, StartsWithNoCaseLen, StartsWithNoCase, StartsWith

TEST(EqualNoCaseN, Edges) {
    EXPECT_FALSE(EqualNoCaseN(nullptr, 5, "TABLE", 5));
    EXPECT_FALSE(EqualNoCaseN("Table", 5, nullptr, 5));
    EXPECT_TRUE(EqualNoCaseN("Table", 5, "TABLE", 5));
    EXPECT_FALSE(EqualNoCaseN("Tabl", 4, "TABLE", 5));
    EXPECT_TRUE(EqualNoCaseN("abc", 0, "xyz", 0));
    EXPECT_TRUE(EqualNoCaseN("abc", -2, "xyz", -2));
    EXPECT_TRUE(EqualNoCaseN(nullptr, 3, nullptr, 3));
    EXPECT_FALSE(EqualNoCaseN("Tablf", 5, "TABLE", 5));
    EXPECT_FALSE(EqualNoCaseN("\xC9", 1, "\xE9", 1));  // only A-Z fold
    Bytes a("ab\0c"s);
    Bytes b("AB\0C"s);
    EXPECT_TRUE(EqualNoCaseN(a.first(), 4, b.first(), 4));  // a length, not a NUL, bounds it
}

TEST(StartsWithNoCaseLen, Edges) {
    int count = 0;
    EXPECT_FALSE(StartsWithNoCaseLen(nullptr, "a", &count));
    EXPECT_FALSE(StartsWithNoCaseLen("a", nullptr, &count));

    count = 0;
    EXPECT_TRUE(StartsWithNoCaseLen("TABLE border", "table", &count));
    EXPECT_EQ(count, 5);  // written back

    count = -1;
    EXPECT_TRUE(StartsWithNoCaseLen("x", "y", &count));
    EXPECT_EQ(count, -1);

    count = 2;
    EXPECT_TRUE(StartsWithNoCaseLen("abc", "ABX", &count));
    count = 3;
    EXPECT_FALSE(StartsWithNoCaseLen("abc", "ABX", &count));

    count = 0;
    EXPECT_FALSE(StartsWithNoCaseLen("ta", "table", &count));  // shorter text fails at its NUL

    count = 0;
    EXPECT_TRUE(StartsWithNoCaseLen("anything", "", &count));
    EXPECT_EQ(count, 0);

    EXPECT_TRUE(StartsWithNoCaseLen("Tab", "tab", nullptr));
}

TEST(StartsWithNoCaseLen, CountBeyondBothTextsStopsAtTheirNul) {
    CText text("ab");
    CText keyword("AB");
    int count = 10;
    EXPECT_TRUE(StartsWithNoCaseLen(text.get(), keyword.get(), &count));
    CText longer("abc");
    EXPECT_FALSE(StartsWithNoCaseLen(text.get(), longer.get(), &count));
    EXPECT_FALSE(StartsWithNoCaseLen(longer.get(), text.get(), &count));
}

TEST(StartsWithNoCase, Table) {
    EXPECT_TRUE(StartsWithNoCase("TABLE border", "table"));
    EXPECT_TRUE(StartsWithNoCase("<Td>", "<tD"));
    EXPECT_TRUE(StartsWithNoCase("", ""));
    EXPECT_TRUE(StartsWithNoCase("x", ""));
    EXPECT_FALSE(StartsWithNoCase("ta", "table"));
    EXPECT_FALSE(StartsWithNoCase("\xC9", "\xE9"));
    EXPECT_FALSE(StartsWithNoCase(nullptr, "a"));
    EXPECT_FALSE(StartsWithNoCase("a", nullptr));
    EXPECT_TRUE(StartsWithNoCase(nullptr, nullptr));
    CText shortText("ab");
    EXPECT_FALSE(StartsWithNoCase(shortText.get(), "abcdef"));
}

TEST(StartsWith, IsCaseSensitive) {
    EXPECT_TRUE(StartsWith("table border", "table"));
    EXPECT_FALSE(StartsWith("TABLE border", "table"));
    EXPECT_TRUE(StartsWith("x", ""));
    EXPECT_FALSE(StartsWith("ta", "table"));
    EXPECT_FALSE(StartsWith(nullptr, "a"));
    EXPECT_FALSE(StartsWith("a", nullptr));
    EXPECT_TRUE(StartsWith(nullptr, nullptr));
}

// ---------------------------------------------------------------------------------------------
// Number tests

TEST(NumberTests, Table) {
    struct Case {
        std::string text;
        bool allDigits, number, signedNumber, dateDigits;
    };
    const Case cases[] = {
        {"0123456789", true, true, true, true},
        {"-1,234.5", false, true, true, false},
        {"-", false, true, true, true},
        {"1-2", false, false, true, true},
        {"12/31/2024", false, false, false, true},
        {"2024-12-31", false, false, true, true},
        {"1.5", false, true, true, false},
        {"--1", false, false, true, true},
        {"1 2", false, false, false, false},
        {"+1", false, false, false, false},
        {"a", false, false, false, false},
        {"\xB9", false, false, false, false},
    };
    for (const Case& c : cases) {
        Bytes text(c.text);
        const int length = static_cast<int>(text.size());
        EXPECT_EQ(IsAllDigits(text.first(), length), c.allDigits) << c.text;
        EXPECT_EQ(IsNumberText(text.first(), length), c.number) << c.text;
        EXPECT_EQ(IsSignedNumberText(text.first(), length), c.signedNumber) << c.text;
        EXPECT_EQ(IsDateDigitsText(text.first(), length), c.dateDigits) << c.text;
    }
}

TEST(NumberTests, LengthEdges) {
    for (auto test : {IsAllDigits, IsNumberText, IsSignedNumberText, IsDateDigitsText}) {
        EXPECT_FALSE(test("123", 0));
        EXPECT_TRUE(test("abc", -1));  // a negative length tests no byte: true
        EXPECT_TRUE(test("1x", 1));    // the length, not the NUL, bounds the text
    }
}

// ---------------------------------------------------------------------------------------------
// Randomised checks: every scanner against a plain reference, over random ranges of exactly
// allocated blocks, bounded and unbounded, so that ASan catches any read out of range.

const char* ReferenceFindNoCase(const char* start, const char* end, std::string_view keyword) {
    if (keyword.empty() || start > end) {
        return nullptr;
    }
    const std::size_t available = static_cast<std::size_t>(end - start) + 1;
    for (std::size_t i = 0; i + keyword.size() <= available; ++i) {
        bool equal = true;
        for (std::size_t k = 0; k < keyword.size() && equal; ++k) {
            equal = FoldCase(start[i + k]) == FoldCase(keyword[k]);
        }
        if (equal) {
            return start + i;
        }
    }
    return nullptr;
}

class ScannerFuzz : public ::testing::Test {
protected:
    std::string RandomText(std::size_t maxLength) {
        static constexpr char kAlphabet[] = {' ', '\n', '\r', '\t', 'a', 'A',   'b',
                                             'B', 'c',  'o',  'l',  'r', '<',   '>',
                                             '=', ';',  '\0', '1',  '-', '\xE9'};
        std::uniform_int_distribution<std::size_t> length(0, maxLength);
        std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
        std::string text(length(m_random), ' ');
        for (char& c : text) {
            c = kAlphabet[pick(m_random)];
        }
        return text;
    }
    std::mt19937 m_random{20240611};
};

TEST_F(ScannerFuzz, BoundedScannersStayInRangeAndAgreeWithReference) {
    const char* keywords[] = {"a", "ab", "AAB", "<b", "color", "=", "\xE9", "b;"};
    for (int round = 0; round < 20000; ++round) {
        std::string content = RandomText(24);
        if (content.empty()) {
            continue;
        }
        Bytes text(content);
        std::uniform_int_distribution<std::size_t> index(0, content.size() - 1);
        std::size_t a = index(m_random);
        std::size_t b = index(m_random);
        if (a > b) {
            std::swap(a, b);
        }
        const char* start = text.at(a);
        const char* end = text.at(b);
        const std::string_view range(start, b - a + 1);

        const char* position = nullptr;
        const char c = SkipBlanksInRange(start, &position, end);
        const std::size_t firstNonBlank = range.find_first_not_of(" \n\r");
        if (firstNonBlank == std::string_view::npos) {
            EXPECT_EQ(c, 0);
            EXPECT_EQ(position, nullptr);
        } else {
            EXPECT_EQ(position, start + firstNonBlank);
            EXPECT_EQ(c, *position);
        }

        const std::size_t bracket = range.find('>');
        EXPECT_EQ(FindCharInRange(start, '>', end),
                  bracket == std::string_view::npos ? nullptr : start + bracket);

        const char* wordStart = nullptr;
        const int wordLength = FindWordInRange(start, &wordStart, end);
        if (wordLength > 0) {
            EXPECT_GE(wordStart, start);
            EXPECT_LE(wordStart + wordLength, end + 1);
        } else {
            EXPECT_EQ(wordStart, nullptr);
        }

        const char* tokenStart = nullptr;
        char delimiter = 0;
        const int tokenLength = FindTokenInRange(start, &tokenStart, &delimiter, "=>", end);
        EXPECT_GE(tokenStart, start);
        EXPECT_LE(tokenStart + tokenLength, end + 1);

        for (const char* keyword : keywords) {
            const char* found = FindNoCaseInRange(start, end, keyword);
            EXPECT_EQ(found, ReferenceFindNoCase(start, end, keyword)) << round << keyword;
            const char* delimited = FindDelimitedKeyword(start, end, keyword);
            if (found == nullptr) {
                EXPECT_EQ(delimited, nullptr);
            } else if (delimited != nullptr) {
                EXPECT_GE(delimited, found);
                EXPECT_EQ(ReferenceFindNoCase(delimited, end, keyword), delimited);
                if (delimited != start) {
                    const char before = delimited[-1];
                    EXPECT_TRUE(std::string_view(" \n\r;\0"sv).find(before) !=
                                    std::string_view::npos ||
                                (before == '>' && keyword[0] == '<'));
                }
            }
            MatchWordAt(start, keyword, end);
            MatchTokenAt(start, keyword, "=>", end);
        }
    }
}

TEST_F(ScannerFuzz, UnboundedScannersStopAtNul) {
    for (int round = 0; round < 20000; ++round) {
        const std::string content = RandomText(24);
        CText text(content);
        const char* start = text.get();
        const std::size_t length = std::strlen(start);
        const char* last = start + length;  // the NUL, the last byte a scan may look at

        const char* position = nullptr;
        SkipBlanksInRange(start, &position);
        EXPECT_LE(position, last);

        const char* found = FindCharInRange(start, '>');
        if (found != nullptr) {
            EXPECT_LT(found, last);
        }

        const char* wordStart = nullptr;
        const int wordLength = FindWordInRange(start, &wordStart);
        if (wordLength > 0) {
            EXPECT_LE(wordStart + wordLength, last);
        }

        const char* tokenStart = nullptr;
        char delimiter = 0;
        const int tokenLength = FindTokenInRange(start, &tokenStart, &delimiter, "=");
        EXPECT_LE(tokenStart + tokenLength, last);

        for (const char* keyword : {"a", "aab", "<B", "color"}) {
            const char* hit = FindNoCaseInRange(start, nullptr, keyword);
            const char* expected =
                length == 0 ? nullptr : ReferenceFindNoCase(start, last - 1, keyword);
            EXPECT_EQ(hit, expected);
            FindDelimitedKeyword(start, nullptr, keyword);
            MatchWordAt(start, keyword);
            MatchTokenAt(start, keyword, "=");
            StartsWithNoCase(start, keyword);
            StartsWith(start, keyword);
        }
    }
}

}  // namespace
}  // namespace paginor
