#pragma once

// A batch made ahead of its turn cannot know the numbers that depend on the batches before it
// (sheet rows, style identifiers). Its text leaves them out and lists beside it where each one
// goes, so that no byte of a report's text can ever be taken for one of them.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace paginor {

inline constexpr char kRowMark = 'R';
inline constexpr char kStyleMark = 'S';

struct MarkedText {
    struct Mark {
        std::size_t at;  // the text's length when the number was asked for
        std::int32_t number;
        char kind;
    };

    std::string text;
    std::vector<Mark> marks;  // in text order

    // Asks for the number resolve(kind, number) gives, at the end of the text so far.
    void appendMark(char kind, std::int32_t number) {
        marks.push_back(Mark{text.size(), number, kind});
    }
};

// Appends the text to out with the numbers its marks ask for in their places.
template <typename Resolve>
void resolveMarks(std::string& out, const MarkedText& marked, const Resolve& resolve) {
    std::size_t at = 0;
    for (const MarkedText::Mark& mark : marked.marks) {
        out.append(marked.text, at, mark.at - at);
        char digits[24];
        const std::int64_t resolved = resolve(mark.kind, mark.number);
        out.append(digits, std::to_chars(digits, digits + sizeof digits, resolved).ptr);
        at = mark.at;
    }
    out.append(marked.text, at);
}

}  // namespace paginor
