#pragma once

// The charset-label-to-Windows-code-page table of the report core.

#include <span>
#include <string_view>

namespace paginor {

struct CharsetRow {
    std::string_view label;  // the preferred charset label, as the table spells it
    int codePage;            // its Windows code page
};

constexpr int kCharsetTableRows = 119;

// The constant table in its fixed order (a look-up takes the first match), duplicate rows
// included.
std::span<const CharsetRow> CharsetTable();

// The code page of the first row whose label equals `label` as a whole, ASCII case-insensitive;
// 0 when no row has it. Aliases ("latin1") are not known.
int GetCodePageFromCharset(std::string_view label);

}  // namespace paginor
