#pragma once

// The cell grid of the HTMLCSS road: row lines (distinct tops) and column lines (distinct lefts)
// that hold the positioned pieces, the joining of wrapped lines and close rows, and the grid of
// cells filled from the lines.

#include <cstdint>
#include <functional>
#include <vector>

#include "convert/convert_types.h"
#include "convert/read/box_reader.h"

namespace paginor {

class CConvertEngine;

inline constexpr std::int32_t kErrWrongPage = 6;
inline constexpr std::int32_t kNoSpan = 65535;

struct tagRowLineInfo {
    std::int32_t top = 0;  // points
    std::int32_t gridRow = 0;
    std::int32_t pieceCount = 0;
    tagDivInfo* first = nullptr;  // linked by previous/next in order of left
    tagDivInfo* last = nullptr;
    std::uint8_t joined = 0;
};

struct tagColumnLineInfo {
    std::int32_t left = 0;  // points
    std::int32_t gridColumn = 0;
    std::int32_t pieceCount = 0;
    tagDivInfo* first = nullptr;  // linked by previousInColumn/nextInColumn in order of top
    tagDivInfo* last = nullptr;
};

// The coloured regions of the frame engine, as the grid asks for a cell's background.
class RegionColours {
public:
    virtual ~RegionColours() = default;
    // Coordinates in tenths of a point; kNoBackground outside every region.
    virtual std::uint32_t GetRegionColour(std::int32_t x, std::int32_t y) const = 0;
};

class CellGrid {
public:
    // Errors are stored in engine before ConvertError is thrown; regions may be null.
    explicit CellGrid(CConvertEngine& engine, const RegionColours* regions = nullptr);
    CellGrid(const CellGrid&) = delete;
    CellGrid& operator=(const CellGrid&) = delete;

    // Find or insert; the index stays valid until a line is inserted or removed.
    std::size_t GetRowLine(std::int32_t top);
    std::size_t GetColumnLine(std::int32_t left);

    void AddDivToLines(tagDivInfo* piece);
    void UnlinkDiv(tagDivInfo* piece);
    bool IsDivListed(const tagDivInfo* piece) const;

    // Both lists are linked by next; the links are reused as row links.
    bool PlacePiecesInLines(tagDivInfo* pieces, tagDivInfo* chain);
    void MergeRowLines();
    void FillGrid(std::int32_t firstRow, std::int32_t rows, std::int32_t firstColumn,
                  std::int32_t columns);
    void ExtendTallCells();
    // Tall pieces get covered copies in the lines below them that they reach and nothing else
    // overlaps; a piece's row span counts its copies.
    void SpreadTallPieces(const std::function<tagDivInfo*()>& newRecord);
    void JoinDivTexts(tagDivInfo* first, const tagDivInfo* second);

    const std::vector<tagRowLineInfo>& rowLines() const { return m_rowLines; }
    const std::vector<tagColumnLineInfo>& columnLines() const { return m_columnLines; }

    // The grid is the engine's.
    std::int32_t rowCount() const;
    std::int32_t columnCount() const;
    const tagGridCell& cell(std::int32_t row, std::int32_t column) const;
    const tagGridRowInfo& rowInfo(std::int32_t row) const;
    const tagGridColumnInfo& columnInfo(std::int32_t column) const;

private:
    [[noreturn]] void raise(std::int32_t code);
    tagGridCell& at(std::int32_t row, std::int32_t column);
    // -1 when no line has that position.
    std::ptrdiff_t findRowLine(std::int32_t top) const;
    std::ptrdiff_t findColumnLine(std::int32_t left) const;
    static std::vector<tagDivInfo*> piecesOf(const tagRowLineInfo& line);
    void moveLineTo(std::size_t line, std::int32_t top);
    void removeEmptyRowLines();
    void validatePlacedJoins();
    bool joinsReachTargets(std::size_t line) const;
    void joinLineTexts(std::size_t line);
    void mergeCloseRows();
    void separateSharedStarts();
    std::int32_t freeLeft(const tagDivInfo& image, const std::vector<std::int32_t>& taken) const;
    bool keepsHeldPiece(const tagDivInfo& held, tagDivInfo& piece);

    CConvertEngine& m_engine;
    const RegionColours* m_regions;
    std::vector<tagRowLineInfo> m_rowLines;
    std::vector<tagColumnLineInfo> m_columnLines;
};

}  // namespace paginor
