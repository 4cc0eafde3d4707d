#include "convert/layout/cell_grid.h"

#include <algorithm>
#include <limits>
#include <string>
#include <string_view>

#include "convert/convert_engine.h"
#include "convert/convert_errors.h"

namespace paginor {
namespace {

constexpr std::int32_t kReachGap = 9;       // a following line this far below is a new line
constexpr std::int32_t kJoinLookAbove = 5;  // lines this close above may lie between joins
constexpr std::int32_t kJoinRaise = 10;     // a joined text moves up at most this far
constexpr std::int32_t kCloseRun = 7;       // tops this close form one row
constexpr std::int32_t kTightRun = 3;       // a tighter run competes for the boundary
constexpr std::size_t kCodeLength = 10;     // a capital code this long may wrap without a blank

bool isCodeText(const char* text, std::int32_t length) {
    for (std::int32_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

std::int32_t bottomOf(const tagDivInfo& piece) {
    return piece.top + piece.height;
}

std::uint32_t clampSize(std::int32_t value) {
    return static_cast<std::uint32_t>(std::clamp(value, 0, 65535));
}

// Sum of squared distances from the middle top, and the member count without the middle.
struct Spread {
    std::int64_t sum = 0;
    std::int64_t members = 0;
};

// Compares mean spreads without dividing; a run of one line has spread 0.
bool smallerSpread(const Spread& a, const Spread& b) {
    const std::int64_t left = a.members == 0 ? 0 : a.sum * std::max<std::int64_t>(b.members, 1);
    const std::int64_t right = b.members == 0 ? 0 : b.sum * std::max<std::int64_t>(a.members, 1);
    return left < right;
}

}  // namespace

CellGrid::CellGrid(CConvertEngine& engine, const RegionColours* regions)
    : m_engine(engine), m_regions(regions) {}

void CellGrid::raise(std::int32_t code) {
    m_engine.raise(code);
}

std::ptrdiff_t CellGrid::findRowLine(std::int32_t top) const {
    const auto it = std::lower_bound(
        m_rowLines.begin(), m_rowLines.end(), top,
        [](const tagRowLineInfo& line, std::int32_t value) { return line.top < value; });
    return it != m_rowLines.end() && it->top == top ? it - m_rowLines.begin() : -1;
}

std::ptrdiff_t CellGrid::findColumnLine(std::int32_t left) const {
    const auto it = std::lower_bound(
        m_columnLines.begin(), m_columnLines.end(), left,
        [](const tagColumnLineInfo& line, std::int32_t value) { return line.left < value; });
    return it != m_columnLines.end() && it->left == left ? it - m_columnLines.begin() : -1;
}

std::size_t CellGrid::GetRowLine(std::int32_t top) {
    const auto it = std::lower_bound(
        m_rowLines.begin(), m_rowLines.end(), top,
        [](const tagRowLineInfo& line, std::int32_t value) { return line.top < value; });
    if (it != m_rowLines.end() && it->top == top) {
        return static_cast<std::size_t>(it - m_rowLines.begin());
    }
    tagRowLineInfo line;
    line.top = top;
    const auto inserted = m_rowLines.insert(it, line);
    return static_cast<std::size_t>(inserted - m_rowLines.begin());
}

std::size_t CellGrid::GetColumnLine(std::int32_t left) {
    const auto it = std::lower_bound(
        m_columnLines.begin(), m_columnLines.end(), left,
        [](const tagColumnLineInfo& line, std::int32_t value) { return line.left < value; });
    if (it != m_columnLines.end() && it->left == left) {
        return static_cast<std::size_t>(it - m_columnLines.begin());
    }
    tagColumnLineInfo line;
    line.left = left;
    const auto inserted = m_columnLines.insert(it, line);
    return static_cast<std::size_t>(inserted - m_columnLines.begin());
}

void CellGrid::AddDivToLines(tagDivInfo* piece) {
    piece->previous = piece->next = nullptr;
    piece->previousInColumn = piece->nextInColumn = nullptr;

    // Pieces mostly arrive in reading order, so the tail is tried before the walk.
    tagRowLineInfo& row = m_rowLines[GetRowLine(piece->top)];
    tagDivInfo* before = nullptr;
    tagDivInfo* after = row.first;
    if (row.last != nullptr && row.last->left < piece->left) {
        before = row.last;
        after = nullptr;
    }
    while (after != nullptr && after->left < piece->left) {
        before = after;
        after = after->next;
    }
    piece->previous = before;
    piece->next = after;
    (before != nullptr ? before->next : row.first) = piece;
    (after != nullptr ? after->previous : row.last) = piece;
    ++row.pieceCount;
    if (piece->joinedTo != nullptr) {
        row.joined = 1;
    }

    tagColumnLineInfo& column = m_columnLines[GetColumnLine(piece->left)];
    before = nullptr;
    after = column.first;
    if (column.last != nullptr && column.last->top < piece->top) {
        before = column.last;
        after = nullptr;
    }
    while (after != nullptr && after->top < piece->top) {
        before = after;
        after = after->nextInColumn;
    }
    piece->previousInColumn = before;
    piece->nextInColumn = after;
    (before != nullptr ? before->nextInColumn : column.first) = piece;
    (after != nullptr ? after->previousInColumn : column.last) = piece;
    ++column.pieceCount;
}

void CellGrid::UnlinkDiv(tagDivInfo* piece) {
    if (!IsDivListed(piece)) {
        return;
    }
    tagRowLineInfo& row = m_rowLines[static_cast<std::size_t>(findRowLine(piece->top))];
    (piece->previous != nullptr ? piece->previous->next : row.first) = piece->next;
    (piece->next != nullptr ? piece->next->previous : row.last) = piece->previous;
    --row.pieceCount;

    const std::ptrdiff_t c = findColumnLine(piece->left);
    if (c >= 0) {
        tagColumnLineInfo& column = m_columnLines[static_cast<std::size_t>(c)];
        (piece->previousInColumn != nullptr ? piece->previousInColumn->nextInColumn
                                            : column.first) = piece->nextInColumn;
        (piece->nextInColumn != nullptr ? piece->nextInColumn->previousInColumn : column.last) =
            piece->previousInColumn;
        --column.pieceCount;
    }
    piece->previous = piece->next = nullptr;
    piece->previousInColumn = piece->nextInColumn = nullptr;
}

bool CellGrid::IsDivListed(const tagDivInfo* piece) const {
    const std::ptrdiff_t r = findRowLine(piece->top);
    if (r < 0) {
        return false;
    }
    for (const tagDivInfo* p = m_rowLines[static_cast<std::size_t>(r)].first; p != nullptr;
         p = p->next) {
        if (p == piece) {
            return true;
        }
    }
    return false;
}

std::vector<tagDivInfo*> CellGrid::piecesOf(const tagRowLineInfo& line) {
    std::vector<tagDivInfo*> pieces;
    for (tagDivInfo* p = line.first; p != nullptr; p = p->next) {
        pieces.push_back(p);
    }
    return pieces;
}

bool CellGrid::PlacePiecesInLines(tagDivInfo* pieces, tagDivInfo* chain) {
    // Placing reuses the next links, so both lists are taken first.
    std::vector<tagDivInfo*> all;
    for (tagDivInfo* list : {pieces, chain}) {
        for (tagDivInfo* p = list; p != nullptr; p = p->next) {
            all.push_back(p);
        }
    }
    for (tagDivInfo* p : all) {
        // An image that an earlier grid moved off a shared cell starts where it is drawn again.
        if (p->kind == kKindImage) {
            p->left = p->leftEdge / 10;
        }
        AddDivToLines(p);
    }
    validatePlacedJoins();
    return true;
}

void CellGrid::validatePlacedJoins() {
    for (std::size_t i = 1; i < m_rowLines.size(); ++i) {
        tagRowLineInfo& line = m_rowLines[i];
        if (line.joined == 0) {
            continue;
        }
        std::int32_t bottom = std::numeric_limits<std::int32_t>::min();
        bool allJoined = true;
        for (const tagDivInfo* p = line.first; p != nullptr; p = p->next) {
            bottom = std::max(bottom, bottomOf(*p));
            allJoined = allJoined && p->joinedTo != nullptr;
        }
        const tagRowLineInfo& above = m_rowLines[i - 1];
        if (allJoined && (line.pieceCount < 3 || line.pieceCount != above.pieceCount)) {
            continue;
        }
        line.joined = 0;
        const bool reachesNext = i + 1 < m_rowLines.size() &&
                                 m_rowLines[i + 1].top - line.top >= kReachGap &&
                                 m_rowLines[i + 1].top < bottom;
        bool aboveReaches = false;
        for (const tagDivInfo* p = above.first; p != nullptr; p = p->next) {
            aboveReaches = aboveReaches || bottomOf(*p) > line.top;
        }
        if (!reachesNext && !aboveReaches) {
            for (tagDivInfo* p = line.first; p != nullptr; p = p->next) {
                p->joinedTo = nullptr;
            }
        }
    }
}

void CellGrid::moveLineTo(std::size_t line, std::int32_t top) {
    for (tagDivInfo* p : piecesOf(m_rowLines[line])) {
        UnlinkDiv(p);
        p->top = top;
        AddDivToLines(p);
    }
}

void CellGrid::removeEmptyRowLines() {
    std::erase_if(m_rowLines, [](const tagRowLineInfo& line) { return line.pieceCount == 0; });
    std::erase_if(m_columnLines,
                  [](const tagColumnLineInfo& line) { return line.pieceCount == 0; });
}

void CellGrid::MergeRowLines() {
    if (m_rowLines.empty()) {
        return;
    }
    const std::size_t lines = m_rowLines.size();
    std::vector<std::int32_t> kept(lines, 0);
    for (std::size_t i = 0; i < lines; ++i) {
        const bool last = i + 1 == lines;
        const tagDivInfo* nextFirst = last ? nullptr : m_rowLines[i + 1].first;
        for (tagDivInfo* p = m_rowLines[i].first; p != nullptr; p = p->next) {
            if (p->joinedTo == nullptr) {
                continue;
            }
            // The first line has nothing above it to join.
            const std::ptrdiff_t target = findRowLine(p->joinedTo->top);
            if (i == 0 || last || target < 0 ||
                m_rowLines[static_cast<std::size_t>(target)].pieceCount <= 1 ||
                (nextFirst != nullptr && p->page != nextFirst->page)) {
                p->joinedTo = nullptr;
            } else {
                ++kept[i];
            }
        }
    }
    m_rowLines.front().joined = 0;

    for (std::size_t i = 1; i < lines; ++i) {
        tagRowLineInfo& line = m_rowLines[i];
        const std::vector<tagDivInfo*> pieces = piecesOf(line);
        if (kept[i] == line.pieceCount && kept[i] < m_rowLines[i - 1].pieceCount) {
            for (tagDivInfo* p : pieces) {
                if (IsDivListed(p->joinedTo)) {
                    UnlinkDiv(p);
                    p->left = p->joinedTo->left;
                    AddDivToLines(p);
                }
            }
            m_rowLines[i].joined = 1;
        } else {
            for (tagDivInfo* p : pieces) {
                p->joinedTo = nullptr;
            }
            line.joined = 0;
        }
    }
    removeEmptyRowLines();

    for (std::size_t i = 1; i < m_rowLines.size();) {
        if (m_rowLines[i].joined == 0) {
            ++i;
        } else if (joinsReachTargets(i)) {
            const std::int32_t top = m_rowLines[i].top;
            joinLineTexts(i);
            i = static_cast<std::size_t>(
                std::upper_bound(m_rowLines.begin(), m_rowLines.end(), top,
                                 [](std::int32_t value, const tagRowLineInfo& line) {
                                     return value < line.top;
                                 }) -
                m_rowLines.begin());
        } else {
            m_rowLines[i].joined = 0;
            ++i;
        }
    }
    removeEmptyRowLines();
    mergeCloseRows();
    separateSharedStarts();
}

bool CellGrid::joinsReachTargets(std::size_t line) const {
    for (const tagDivInfo* p = m_rowLines[line].first; p != nullptr; p = p->next) {
        if (p->joinedTo == nullptr) {
            continue;
        }
        for (std::size_t j = line; j-- > 0;) {
            const tagRowLineInfo& between = m_rowLines[j];
            if (between.top <= p->joinedTo->top || between.top < p->top - kJoinLookAbove) {
                break;
            }
            if (between.joined == 0) {
                return false;
            }
        }
    }
    return true;
}

void CellGrid::joinLineTexts(std::size_t line) {
    const std::int32_t lineTop = m_rowLines[line].top;
    std::int32_t newTop = lineTop;
    for (tagDivInfo* p : piecesOf(m_rowLines[line])) {
        if (p->joinedTo == nullptr) {
            continue;
        }
        newTop = std::min(newTop, p->joinedTo->top);
        // A wrapped line goes on a text, never an image drawn where that text starts.
        tagDivInfo* into = p->previousInColumn;
        while (into != nullptr && into->kind == kKindImage) {
            into = into->previousInColumn;
        }
        if (into == nullptr) {
            into = p->joinedTo;
        }
        JoinDivTexts(into, p);
        UnlinkDiv(p);
    }
    newTop = std::max(newTop, lineTop - kJoinRaise);
    m_rowLines[line].joined = 0;
    // Moving may insert the line of newTop, so the lines are found again by their tops.
    std::vector<std::int32_t> tops;
    for (std::size_t j = 0; j < line; ++j) {
        if (m_rowLines[j].top > newTop && m_rowLines[j].top < lineTop) {
            tops.push_back(m_rowLines[j].top);
        }
    }
    for (const std::int32_t top : tops) {
        moveLineTo(static_cast<std::size_t>(findRowLine(top)), newTop);
    }
    removeEmptyRowLines();
}

void CellGrid::mergeCloseRows() {
    for (std::size_t i = 0; i < m_rowLines.size(); ++i) {
        const std::int32_t start = m_rowLines[i].top;
        std::size_t end = i;
        while (end < m_rowLines.size() && m_rowLines[end].top - start <= kCloseRun) {
            ++end;
        }
        auto spreadOf = [this](std::size_t first, std::size_t last) {
            const std::size_t middle = first + (last - first - 1) / 2;
            Spread s;
            for (std::size_t k = first; k < last; ++k) {
                if (k != middle) {
                    const std::int64_t d = std::int64_t{m_rowLines[k].top} - m_rowLines[middle].top;
                    s.sum += d * d;
                    ++s.members;
                }
            }
            return s;
        };
        if (end < m_rowLines.size()) {
            // The tight run around the next line may claim the tail of this run.
            const std::int32_t next = m_rowLines[end].top;
            std::size_t tightFirst = end;
            while (tightFirst - 1 > i && next - m_rowLines[tightFirst - 1].top <= kTightRun) {
                --tightFirst;
            }
            std::size_t tightEnd = end;
            while (tightEnd < m_rowLines.size() &&
                   m_rowLines[tightEnd].top - m_rowLines[tightFirst].top <= kTightRun) {
                ++tightEnd;
            }
            if (tightFirst < end &&
                smallerSpread(spreadOf(tightFirst, tightEnd), spreadOf(i, end))) {
                end = tightFirst;
            }
        }
        const std::int32_t middleTop = m_rowLines[i + (end - i - 1) / 2].top;
        for (std::size_t k = i; k < end; ++k) {
            if (m_rowLines[k].top != middleTop) {
                moveLineTo(k, middleTop);
            }
        }
        removeEmptyRowLines();
    }
}

// Pieces that start at one point of a row would share a cell. Texts stay and share it (FillGrid
// joins them); every image but one that shares with no text moves, in reading order, to a cell
// of its own in the row (freeLeft). Its edges stay where it is drawn.
void CellGrid::separateSharedStarts() {
    const auto byOrder = [](const tagDivInfo* a, const tagDivInfo* b) {
        return a->order < b->order;
    };
    std::vector<std::int32_t> taken;  // ascending, as the row is linked
    std::vector<tagDivInfo*> moving;
    std::vector<tagDivInfo*> images;
    for (std::size_t i = 0; i < m_rowLines.size(); ++i) {
        taken.clear();
        moving.clear();
        for (tagDivInfo* p = m_rowLines[i].first; p != nullptr;) {
            const std::int32_t left = p->left;
            taken.push_back(left);
            images.clear();
            std::size_t shared = 0;
            for (; p != nullptr && p->left == left; p = p->next, ++shared) {
                if (p->kind == kKindImage) {
                    images.push_back(p);
                }
            }
            std::sort(images.begin(), images.end(), byOrder);
            if (images.size() == shared) {
                images.erase(images.begin());
            }
            moving.insert(moving.end(), images.begin(), images.end());
        }
        for (tagDivInfo* image : moving) {
            const std::int32_t left = freeLeft(*image, taken);
            UnlinkDiv(image);
            image->left = left;
            AddDivToLines(image);
            taken.insert(std::upper_bound(taken.begin(), taken.end(), left), left);
        }
    }
}

// The first column line inside the image's width at which no piece of its row starts, else the
// first such point right of where it starts: a line of its own between it and the next piece.
std::int32_t CellGrid::freeLeft(const tagDivInfo& image,
                                const std::vector<std::int32_t>& taken) const {
    const auto isTaken = [&](std::int32_t left) {
        return std::binary_search(taken.begin(), taken.end(), left);
    };
    const std::int64_t reach = std::int64_t{image.left} + image.width;
    for (auto line = std::upper_bound(
             m_columnLines.begin(), m_columnLines.end(), image.left,
             [](std::int32_t value, const tagColumnLineInfo&line) { return value < line.left; });
         line != m_columnLines.end() && line->left < reach; ++line) {
        if (!isTaken(line->left)) {
            return line->left;
        }
    }
    std::int32_t left = image.left + 1;
    while (isTaken(left)) {
        ++left;
    }
    return left;
}

std::int32_t CellGrid::rowCount() const {
    return m_engine.m_rowCount;
}

std::int32_t CellGrid::columnCount() const {
    return m_engine.m_columnCount;
}

const tagGridCell& CellGrid::cell(std::int32_t row, std::int32_t column) const {
    return m_engine.cell(row, column);
}

const tagGridRowInfo& CellGrid::rowInfo(std::int32_t row) const {
    return m_engine.m_rows[static_cast<std::size_t>(row)];
}

const tagGridColumnInfo& CellGrid::columnInfo(std::int32_t column) const {
    return m_engine.m_columns[static_cast<std::size_t>(column)];
}

tagGridCell& CellGrid::at(std::int32_t row, std::int32_t column) {
    return m_engine.at(row, column);
}

void CellGrid::FillGrid(std::int32_t firstRow, std::int32_t rows, std::int32_t firstColumn,
                        std::int32_t columns) {
    m_engine.AllocGrid(rows, columns);
    for (std::int32_t c = 0; c < columns; ++c) {
        tagColumnLineInfo& line = m_columnLines[static_cast<std::size_t>(firstColumn + c)];
        line.gridColumn = c;
        m_engine.m_columns[static_cast<std::size_t>(c)].left = line.left;
    }
    bool abovePieces = false;
    std::int32_t abovePage = 0;
    for (std::int32_t r = 0; r < rows; ++r) {
        tagRowLineInfo& line = m_rowLines[static_cast<std::size_t>(firstRow + r)];
        line.gridRow = r;
        tagGridRowInfo& info = m_engine.m_rows[static_cast<std::size_t>(r)];
        info.top = line.top;
        if (line.first == nullptr) {
            continue;
        }
        info.page = line.first->page;
        if (abovePieces && info.page < abovePage) {
            raise(kErrWrongPage);
        }
        abovePieces = true;
        abovePage = info.page;
        for (tagDivInfo* p = line.first; p != nullptr; p = p->next) {
            const std::ptrdiff_t c = findColumnLine(p->left) - firstColumn;
            if (c < 0 || c >= columns) {
                continue;
            }
            p->row = r;
            p->column = static_cast<std::int32_t>(c);
            tagGridCell& cell = at(r, p->column);
            if (cell.piece != nullptr &&
                keepsHeldPiece(*static_cast<const tagDivInfo*>(cell.piece), *p)) {
                continue;
            }
            cell = tagGridCell{};
            cell.occupancy = 1;
            cell.text = p->text;
            cell.textLength = p->textLength;
            cell.width = p->width;
            cell.fontColour = p->fontColour;
            cell.fontName = p->fontName;
            cell.bold = p->bold;
            cell.fontSize = p->fontSize;
            cell.piece = p;
            cell.columnSpan = 1;
            cell.rowSpan = 1;
            cell.kind = p->kind;
            cell.backgroundColour =
                m_regions != nullptr
                    ? m_regions->GetRegionColour(
                          static_cast<std::int32_t>((std::int64_t{p->leftEdge} + p->rightEdge) / 2),
                          p->centre)
                    : kNoBackground;
            cell.size = clampSize(p->width) << 16 | clampSize(p->height);
        }
    }
    for (tagGridCell& cell : m_engine.m_grid) {
        if (cell.occupancy == 0) {
            cell.occupancy = 2;
            cell.columnSpan = kNoSpan;
            cell.rowSpan = kNoSpan;
        }
    }
    ExtendTallCells();
}

// Two pieces on one cell: neither text may be lost. Equal texts and empty pieces leave one;
// two texts become one in reading order. Returns true when held stays the cell's piece.
bool CellGrid::keepsHeldPiece(const tagDivInfo& held, tagDivInfo& piece) {
    const auto isText = [](const tagDivInfo& d) {
        return d.kind == kKindText || d.kind == kKindLink;
    };
    if (!isText(held) || !isText(piece) || held.textLength <= 0) {
        return false;
    }
    const std::string_view heldText(held.text, static_cast<std::size_t>(held.textLength));
    const std::string_view pieceText(piece.text, static_cast<std::size_t>(piece.textLength));
    if (piece.textLength <= 0 || heldText == pieceText) {
        return true;
    }
    const bool heldFirst = held.order < piece.order;
    std::string joined(heldFirst ? heldText : pieceText);
    joined += ' ';
    joined += heldFirst ? pieceText : heldText;
    const auto linkOf = [](const tagDivInfo& d, std::string_view text) {
        return d.kind == kKindLink ? std::string_view(text.data() + text.size() + 1)
                                   : std::string_view();
    };
    const std::string_view link =
        piece.kind == kKindLink ? linkOf(piece, pieceText) : linkOf(held, heldText);
    piece.text = m_engine.StoreText(joined, link);
    piece.textLength = static_cast<std::int32_t>(joined.size());
    piece.kind = link.empty() ? kKindText : kKindLink;
    piece.width = std::max(piece.width, held.width);
    return false;
}

void CellGrid::ExtendTallCells() {
    std::vector<bool> hasPieces(static_cast<std::size_t>(m_engine.m_rowCount), false);
    for (std::int32_t r = 0; r < m_engine.m_rowCount; ++r) {
        std::int32_t centre = std::numeric_limits<std::int32_t>::max();
        for (std::int32_t c = 0; c < m_engine.m_columnCount; ++c) {
            if (const auto* p = static_cast<const tagDivInfo*>(at(r, c).piece); p != nullptr) {
                centre = std::min(centre, p->centre / 10);
                hasPieces[static_cast<std::size_t>(r)] = true;
            }
        }
        m_engine.m_rows[static_cast<std::size_t>(r)].centre =
            hasPieces[static_cast<std::size_t>(r)] ? centre : 0;
    }
    for (std::int32_t r = 0; r < m_engine.m_rowCount; ++r) {
        for (std::int32_t c = 0; c < m_engine.m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.text == nullptr || cell.kind == kKindCoveredCopy || cell.piece == nullptr) {
                continue;
            }
            const std::int32_t bottom = bottomOf(*static_cast<const tagDivInfo*>(cell.piece));
            std::int32_t last = r;
            for (std::int32_t below = r + 1; below < m_engine.m_rowCount; ++below) {
                if (at(below, c).text != nullptr) {
                    break;
                }
                if (!hasPieces[static_cast<std::size_t>(below)]) {
                    continue;
                }
                if (m_engine.m_rows[static_cast<std::size_t>(below)].centre >= bottom) {
                    break;
                }
                tagGridCell& copy = at(below, c);
                copy = cell;
                copy.kind = kKindCoveredCopy;
                copy.textLength = 0;
                last = below;
            }
            for (std::int32_t k = r; k <= last; ++k) {
                if (at(k, c).text != nullptr) {
                    at(k, c).rowSpan = last - k + 1;
                }
            }
        }
    }
    m_engine.CountRowCells();
    m_engine.CountColumnCells();
}

void CellGrid::SpreadTallPieces(const std::function<tagDivInfo*()>& newRecord) {
    std::vector<tagDivInfo*> pieces;
    for (std::size_t i = 0; i < m_rowLines.size(); ++i) {
        m_rowLines[i].gridRow = static_cast<std::int32_t>(i);
        for (tagDivInfo* p = m_rowLines[i].first; p != nullptr; p = p->next) {
            p->row = static_cast<std::int32_t>(i);
            pieces.push_back(p);
        }
    }
    for (tagDivInfo* piece : pieces) {
        if (piece->kind == kKindCoveredCopy) {
            continue;
        }
        piece->rowSpan = 1;
        // The next piece below in the piece's column bounds the walk.
        std::size_t lowest = m_rowLines.size() - 1;
        if (piece->nextInColumn != nullptr) {
            lowest = static_cast<std::size_t>(piece->nextInColumn->row);
        }
        const std::int32_t bottom = bottomOf(*piece);
        std::vector<std::int32_t> reached;
        for (std::size_t line = static_cast<std::size_t>(piece->row) + 1;
             line <= lowest && line < m_rowLines.size() && m_rowLines[line].top < bottom; ++line) {
            bool overlaps = false;
            for (const tagDivInfo* p = m_rowLines[line].first; p != nullptr && !overlaps;
                 p = p->next) {
                overlaps = p->leftEdge < piece->rightEdge && piece->leftEdge < p->rightEdge;
            }
            if (overlaps) {
                break;
            }
            reached.push_back(m_rowLines[line].top);
        }
        for (const std::int32_t top : reached) {
            tagDivInfo* copy = newRecord();
            const std::int32_t order = copy->order;
            *copy = *piece;
            copy->order = order;
            copy->kind = kKindCoveredCopy;
            copy->textLength = 0;
            copy->top = top;
            copy->joinedTo = nullptr;
            AddDivToLines(copy);
        }
        piece->rowSpan = 1 + static_cast<std::int32_t>(reached.size());
    }
}

void CellGrid::JoinDivTexts(tagDivInfo* first, const tagDivInfo* second) {
    if (second->textLength <= 0 || second->text == nullptr) {
        return;
    }
    const std::int32_t firstLength = first->text != nullptr ? first->textLength : 0;
    // No blank after a hyphen, inside a capital code broken over two lines, or after nothing.
    const bool blank = firstLength > 0 && first->text[firstLength - 1] != '-' &&
                       !(static_cast<std::size_t>(firstLength) >= kCodeLength &&
                         firstLength > second->textLength && isCodeText(first->text, firstLength) &&
                         isCodeText(second->text, second->textLength));
    std::string joined(first->text != nullptr ? first->text : "",
                       static_cast<std::size_t>(firstLength));
    if (blank) {
        joined += ' ';
    }
    joined.append(second->text, static_cast<std::size_t>(second->textLength));
    const std::string_view link = first->kind == kKindLink && first->text != nullptr
                                      ? std::string_view(first->text + firstLength + 1)
                                      : std::string_view();
    first->text = m_engine.StoreText(joined, link);
    first->textLength = static_cast<std::int32_t>(joined.size());
}

}  // namespace paginor
