#pragma once

// Records shared by the passes of the conversion engine. Row, column, span and offset fields are
// 32-bit: a batch of many pages passes 32767 rows.

#include <cstdint>

namespace paginor {

inline constexpr std::uint32_t kNoBackground = 0xFFFFFF;

// Content kinds of grid cells and output records.
inline constexpr std::int32_t kKindText = 0;
inline constexpr std::int32_t kKindImage = 1;
inline constexpr std::int32_t kKindCoveredCopy = 2;
inline constexpr std::int32_t kKindLink = 3;

struct tagGridCell {
    std::int32_t occupancy = 0;  // 0 free, 1 origin, 2 covered by another cell's span
    // Read by its length. A rewritten text is followed by a NUL and, for kind 3, by the link
    // target and another NUL. Non-null marks the cell as occupied.
    const char* text = nullptr;
    std::int32_t textLength = 0;
    std::int32_t outputColumn = -1;
    std::int32_t width = 0;
    std::uint32_t fontColour = 0;
    const char* fontName = nullptr;
    std::uint8_t bold = 0;
    std::int32_t fontSize = 0;
    const void* piece = nullptr;
    std::int32_t columnSpan = 0;  // on a covered position: the owner's grid column
    std::int32_t rowSpan = 0;     // on a covered position: the owner's grid row
    std::int32_t kind = kKindText;
    std::int32_t alignment = 0;  // 0 none, 1 left, 2 centre, 3 right
    std::uint32_t backgroundColour = kNoBackground;
    std::uint32_t size = 0;  // width in points << 16 | height in points
};

struct tagGridRowInfo {
    std::int32_t occupied = 0;
    std::int32_t work = 0;  // the optimiser's score, then the output step's kept-blank mark
    std::int32_t top = 0;
    std::int32_t centre = 0;
    std::int32_t mark = 0;  // the optimiser's row mark
    std::int32_t page = 0;
};

struct tagGridColumnInfo {
    std::int32_t ordinal = -1;
    std::int32_t occupied = 0;
    std::int32_t left = 0;
    std::int32_t width = 0;
    std::int32_t scratch = 0;
    std::int32_t globalIndex = 0;
};

struct tagOutputCellInfo {
    std::int32_t row = 0;
    std::int32_t column = 0;
    const char* text = nullptr;  // "" for spacers, null for a cell with a colour only
    std::int32_t textLength = 0;
    std::uint32_t fontColour = 0;
    const char* fontName = nullptr;
    std::uint8_t bold = 0;
    std::int32_t rowSpan = 1;
    std::int32_t columnSpan = 1;
    std::int32_t fontSize = 0;
    std::uint32_t backgroundColour = kNoBackground;
    std::int32_t kind = kKindText;
    std::int32_t alignment = 0;
    std::int32_t page = 0;
    std::uint32_t size = 0;
    std::uint8_t framed = 0;
};

struct tagOutputPageInfo {
    const tagOutputCellInfo* records = nullptr;
    std::uint32_t recordCount = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t rowCount = 0;
    std::uint32_t writerMark = 0;  // not written by the engine
};

struct tagOutputBatchInfo {
    tagOutputPageInfo* pages = nullptr;  // the caller's array, one entry per page of the batch
    std::uint8_t rangeFound = 0;
    std::int32_t frameCount = 0;
    const char* fontName = nullptr;
    std::int32_t fontSize = 0;
};

}  // namespace paginor
