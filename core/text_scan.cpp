#include "core/text_scan.h"

#include <cstddef>
#include <cstring>

namespace paginor {

namespace {

// Whether p may still be examined: bounded ranges stop past `end`, unbounded ones at a NUL.
inline bool InRange(const char* p, const char* end) {
    return end != nullptr ? p <= end : *p != '\0';
}

inline bool IsLetter(char c) {
    const char folded = FoldCase(c);
    return folded >= 'a' && folded <= 'z';
}

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Membership in a NUL-terminated set; the NUL byte itself is never a member.
inline bool IsInSet(char c, const char* set) {
    if (set == nullptr) {
        return false;
    }
    for (; *set != '\0'; ++set) {
        if (*set == c) {
            return true;
        }
    }
    return false;
}

// The bytes text[0..length) equal the keyword's first `length` bytes, folded, and the keyword has
// exactly `length` bytes. The text may hold NUL bytes; the keyword's NUL is never passed.
bool EqualsKeywordNoCase(const char* text, int length, const char* keyword) {
    for (int i = 0; i < length; ++i) {
        if (keyword[i] == '\0' || FoldCase(text[i]) != FoldCase(keyword[i])) {
            return false;
        }
    }
    return keyword[length] == '\0';
}

// Applies an allowed-byte test to length-given text, last byte first.
template <typename Allowed>
bool AllBytesAllowed(const char* text, int length, Allowed allowed) {
    if (length == 0) {
        return false;
    }
    for (int i = length - 1; i >= 0; --i) {
        if (!allowed(text[i], i)) {
            return false;
        }
    }
    return true;  // also for a negative length: no byte is tested
}

}  // namespace

char SkipBlanksInRange(const char* start, const char** position, const char* end) {
    if (end != nullptr) {
        for (const char* p = start; p <= end; ++p) {
            if (!IsBlank(*p)) {
                *position = p;
                return *p;
            }
        }
        return 0;
    }
    const char* p = start;
    while (IsBlank(*p)) {
        ++p;
    }
    *position = p;  // the first non-blank byte, possibly the terminating NUL
    return *p;
}

const char* FindCharInRange(const char* start, char byte, const char* end) {
    if (end != nullptr) {
        if (start > end) {
            return nullptr;
        }
        return static_cast<const char*>(std::memchr(start, static_cast<unsigned char>(byte),
                                                    static_cast<std::size_t>(end - start) + 1));
    }
    return std::strchr(start, byte);  // strchr also finds the terminating NUL when byte is 0
}

int FindWordInRange(const char* start, const char** wordStart, const char* end) {
    const char* p = start;
    while (InRange(p, end) && IsBlank(*p)) {
        ++p;
    }
    if (!InRange(p, end) || !IsLetter(*p)) {
        *wordStart = nullptr;
        return 0;
    }
    const char* word = p;
    while (InRange(p, end) && IsLetter(*p)) {
        ++p;
    }
    *wordStart = word;
    return static_cast<int>(p - word);
}

int FindTokenInRange(const char* start, const char** tokenStart, char* delimiter,
                     const char* delimiters, const char* end) {
    const char* token = nullptr;
    char found = 0;
    const char* p = start;
    // The order of the tests matters: a blank ends a begun token; otherwise a byte of the set
    // ends the scan, even before any token byte (and even when the set holds a blank).
    for (; InRange(p, end); ++p) {
        const char c = *p;
        const bool blank = IsBlank(c);
        if (blank && token != nullptr) {
            found = ' ';
            break;
        }
        if (IsInSet(c, delimiters)) {
            found = c;
            break;
        }
        if (!blank && token == nullptr) {
            token = p;
        }
    }
    if (delimiter != nullptr) {
        *delimiter = found;
    }
    if (token == nullptr) {
        *tokenStart = start;
        return found != 0 ? static_cast<int>(p - start) : 0;
    }
    *tokenStart = token;
    return static_cast<int>(p - token);
}

const char* FindNoCaseInRange(const char* start, const char* end, const char* keyword) {
    if (keyword == nullptr || keyword[0] == '\0') {
        return nullptr;
    }
    const char first = FoldCase(keyword[0]);
    if (end == nullptr) {
        // The keyword holds no NUL, so a comparison never runs past the text's NUL.
        for (const char* p = start; *p != '\0'; ++p) {
            if (FoldCase(*p) != first) {
                continue;
            }
            std::size_t i = 1;
            while (keyword[i] != '\0' && FoldCase(p[i]) == FoldCase(keyword[i])) {
                ++i;
            }
            if (keyword[i] == '\0') {
                return p;
            }
        }
        return nullptr;
    }
    if (start > end) {
        return nullptr;
    }
    const std::size_t length = std::strlen(keyword);
    const std::size_t available = static_cast<std::size_t>(end - start) + 1;
    if (available < length) {
        return nullptr;
    }
    const char* last = start + (available - length);  // the last start whose match fits
    const bool firstIsLetter = first >= 'a' && first <= 'z';
    for (const char* p = start; p <= last; ++p) {
        if (!firstIsLetter) {
            p = static_cast<const char*>(std::memchr(p, static_cast<unsigned char>(first),
                                                     static_cast<std::size_t>(last - p) + 1));
            if (p == nullptr) {
                return nullptr;
            }
        } else if (FoldCase(*p) != first) {
            continue;
        }
        std::size_t i = 1;
        while (i < length && FoldCase(p[i]) == FoldCase(keyword[i])) {
            ++i;
        }
        if (i == length) {
            return p;
        }
    }
    return nullptr;
}

const char* FindDelimitedKeyword(const char* start, const char* end, const char* keyword) {
    if (keyword == nullptr || keyword[0] == '\0') {
        return nullptr;
    }
    const std::size_t length = std::strlen(keyword);
    const bool tagKeyword = keyword[0] == '<';
    const char* from = start;
    while (const char* hit = FindNoCaseInRange(from, end, keyword)) {
        // An occurrence at the range start counts as delimited: the byte before it is not ours.
        if (hit == start) {
            return hit;
        }
        const char before = hit[-1];
        if (before == ' ' || before == '\n' || before == '\r' || before == ';' || before == '\0' ||
            (before == '>' && tagKeyword)) {
            return hit;
        }
        from = hit + length;  // at most one past `end`, or the terminating NUL when unbounded
    }
    return nullptr;
}

const char* MatchWordAt(const char* start, const char* keyword, const char* end) {
    const char* word = nullptr;
    const int length = FindWordInRange(start, &word, end);
    if (length <= 0 || keyword == nullptr) {
        return nullptr;
    }
    return EqualsKeywordNoCase(word, length, keyword) ? word : nullptr;
}

const char* MatchTokenAt(const char* start, const char* keyword, const char* delimiters,
                         const char* end) {
    const char* token = nullptr;
    const int length = FindTokenInRange(start, &token, nullptr, delimiters, end);
    if (length <= 0 || keyword == nullptr) {
        return nullptr;
    }
    return EqualsKeywordNoCase(token, length, keyword) ? token : nullptr;
}

bool EqualNoCaseN(const char* a, int lengthA, const char* b, int lengthB) {
    if ((a == nullptr) != (b == nullptr) || lengthA != lengthB) {
        return false;
    }
    if (lengthA < 1 || a == b) {
        return true;
    }
    for (int i = 0; i < lengthA; ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCaseLen(const char* text, const char* keyword, int* count) {
    if ((text == nullptr) != (keyword == nullptr)) {
        return false;
    }
    int n = count != nullptr ? *count : 0;
    if (n == 0) {
        n = keyword != nullptr ? static_cast<int>(std::strlen(keyword)) : 0;
        if (count != nullptr) {
            *count = n;
        }
    }
    if (n < 1 || text == keyword) {
        return true;
    }
    for (int i = 0; i < n; ++i) {
        const char a = FoldCase(text[i]);
        if (a != FoldCase(keyword[i])) {
            return false;
        }
        if (a == '\0') {
            return true;  // both texts end here; nothing beyond their NULs is read
        }
    }
    return true;
}

bool StartsWithNoCase(const char* text, const char* keyword) {
    if ((text == nullptr) != (keyword == nullptr)) {
        return false;
    }
    if (text == nullptr) {
        return true;
    }
    for (; *keyword != '\0'; ++text, ++keyword) {
        if (FoldCase(*text) != FoldCase(*keyword)) {
            return false;  // also at the text's NUL
        }
    }
    return true;
}

bool StartsWith(const char* text, const char* keyword) {
    if ((text == nullptr) != (keyword == nullptr)) {
        return false;
    }
    if (text == nullptr) {
        return true;
    }
    for (; *keyword != '\0'; ++text, ++keyword) {
        if (*text != *keyword) {
            return false;
        }
    }
    return true;
}

bool IsAllDigits(const char* text, int length) {
    return AllBytesAllowed(text, length, [](char c, int) { return IsDigit(c); });
}

bool IsNumberText(const char* text, int length) {
    return AllBytesAllowed(text, length, [](char c, int index) {
        return IsDigit(c) || c == '.' || c == ',' || (c == '-' && index == 0);
    });
}

bool IsSignedNumberText(const char* text, int length) {
    return AllBytesAllowed(
        text, length, [](char c, int) { return IsDigit(c) || c == '.' || c == ',' || c == '-'; });
}

bool IsDateDigitsText(const char* text, int length) {
    return AllBytesAllowed(text, length,
                           [](char c, int) { return IsDigit(c) || c == '/' || c == '-'; });
}

}  // namespace paginor
