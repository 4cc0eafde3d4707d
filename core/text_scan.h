#pragma once

#include <cstddef>
#include <string_view>

// Text-scanning helpers of the report core.
//
// All helpers work on single-byte text in the report's own code page and never allocate.
// A range is a start pointer and an INCLUSIVE end pointer: `end` points at the last byte that may
// be examined, so a range of one byte has start == end and start > end is an empty range.
// Where `end` is optional, a null end means "no bound": such a scan then also stops at the first
// NUL byte, treating it as the end of the text. Inside a bounded range a NUL byte is an ordinary
// byte.
//
// Blanks are exactly space, line feed and carriage return (not tab). Case-insensitive comparison
// folds only the ASCII capitals A to Z; bytes of 128 and above compare as they are.

namespace paginor {

inline bool IsBlank(char c) {
    return c == ' ' || c == '\n' || c == '\r';
}

inline char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Prefix and suffix tests over views, ASCII case-insensitive.
inline bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (FoldCase(text[i]) != FoldCase(prefix[i])) {
            return false;
        }
    }
    return true;
}

inline bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           startsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// The first non-blank byte of the range, its position in *position. A range of blanks only gives
// 0 and leaves *position untouched. A NUL byte counts as non-blank: it is returned (as 0) with its
// position, which is where an unbounded scan stops.
char SkipBlanksInRange(const char* start, const char** position, const char* end = nullptr);

// The first occurrence of `byte` in the range, null if none. Unbounded: searching for NUL finds
// the terminating NUL.
const char* FindCharInRange(const char* start, char byte, const char* end = nullptr);

// Skips leading blanks; when the next byte is an ASCII letter, *wordStart is set to it and the
// length of the run of letters is returned (the first non-letter or the end of the range ends the
// word). Otherwise (non-letter first, or only blanks) the result is 0 and *wordStart is null.
int FindWordInRange(const char* start, const char** wordStart, const char* end = nullptr);

// Skips leading blanks and returns the length of the token starting at *tokenStart. The token
// ends at a blank (*delimiter = ' '), at a byte of the NUL-terminated set `delimiters` (that byte)
// or at the end of the range (*delimiter = 0). When a delimiter byte comes before any token byte,
// the result is the number of leading blanks, *tokenStart stays at `start` and that delimiter is
// reported; "=5" with delimiters "=" gives 0 and '='. A blank range gives 0 with delimiter 0.
// `delimiter` and `delimiters` may be null (not reported / empty set).
int FindTokenInRange(const char* start, const char** tokenStart, char* delimiter,
                     const char* delimiters, const char* end = nullptr);

// The first case-insensitive occurrence of `keyword` lying wholly in [start, end], null when there
// is none, when start is past end, or when the keyword is null or empty. A null end searches up to
// the first NUL.
const char* FindNoCaseInRange(const char* start, const char* end, const char* keyword);

// Like FindNoCaseInRange, but an occurrence counts only at the start of the range or right after
// a space, LF, CR, ';' or NUL, or after '>' when the keyword itself begins with '<'. After a
// rejected occurrence the search goes on behind it (occurrence + keyword length).
const char* FindDelimitedKeyword(const char* start, const char* end, const char* keyword);

// The start of the word FindWordInRange finds when it equals `keyword` case-insensitively and has
// the same length; else null.
const char* MatchWordAt(const char* start, const char* keyword, const char* end = nullptr);

// The start of the token FindTokenInRange finds when it equals `keyword` case-insensitively and
// has the same length; else null.
const char* MatchTokenAt(const char* start, const char* keyword, const char* delimiters,
                         const char* end = nullptr);

// False when exactly one text is null or the lengths differ; true when the length is below 1;
// otherwise whether the bytes are equal case-insensitively.
bool EqualNoCaseN(const char* a, int lengthA, const char* b, int lengthB);

// False when exactly one of text and keyword is null. A *count of 0 is replaced by the keyword's
// length and written back (count may be null: taken as 0, nothing written). A count below 1 gives
// true; otherwise whether the first *count bytes of both texts are equal case-insensitively, where
// the comparison ends with true when both texts end together (a shorter text fails at its NUL).
bool StartsWithNoCaseLen(const char* text, const char* keyword, int* count);

// `text` begins with `keyword`, ASCII case-insensitive; an empty keyword always matches.
bool StartsWithNoCase(const char* text, const char* keyword);

// `text` begins with `keyword`, case-sensitive; an empty keyword always matches.
bool StartsWith(const char* text, const char* keyword);

// Tests of length-given text; length 0 gives false and a negative length true (no byte is
// tested).
bool IsAllDigits(const char* text, int length);         // '0'..'9'
bool IsNumberText(const char* text, int length);        // digits, '.', ','; '-' first byte only
bool IsSignedNumberText(const char* text, int length);  // digits, '.', ',', '-' anywhere
bool IsDateDigitsText(const char* text, int length);    // digits, '/', '-'

}  // namespace paginor
