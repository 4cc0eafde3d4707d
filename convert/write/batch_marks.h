#pragma once

// A batch made ahead of its turn cannot know the numbers that depend on the batches before it
// (sheet rows, style identifiers): they stand in its text as marks, '\x01', the kind, the number
// and '\x02', resolved when the writer places the batch. The writers' text is plain ASCII
// without control characters other than TAB, CR and LF, so a mark cannot be met by chance.

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

inline constexpr char kRowMark = 'R';
inline constexpr char kStyleMark = 'S';

inline void appendMark(std::string& out, char kind, std::int64_t number) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out += '\x01';
    out += kind;
    out.append(digits, end);
    out += '\x02';
}

// Appends text to out with each mark replaced by the number resolve(kind, number) gives.
template <typename Resolve>
void resolveMarks(std::string& out, std::string_view text, const Resolve& resolve) {
    std::size_t at = 0;
    for (;;) {
        const std::size_t mark = text.find('\x01', at);
        if (mark == std::string_view::npos) {
            out.append(text.substr(at));
            return;
        }
        out.append(text.substr(at, mark - at));
        const std::size_t end = text.find('\x02', mark);
        std::int64_t number = 0;
        std::from_chars(text.data() + mark + 2, text.data() + end, number);
        char digits[24];
        const std::int64_t resolved = resolve(text[mark + 1], number);
        out.append(digits, std::to_chars(digits, digits + sizeof digits, resolved).ptr);
        at = end + 1;
    }
}

}  // namespace paginor
