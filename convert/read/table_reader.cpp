// Reading the pages' HTML tables into the engine's cell grid.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/read/html_scan.h"
#include "convert/read/link_address.h"
#include "convert/write/character_references.h"
#include "core/report_core.h"
#include "core/text_format.h"

namespace paginor {

namespace {

constexpr std::string_view kHeadMark = "<!--9876543210_PageMark_Head-->";
constexpr std::ptrdiff_t kTableSearchAfterMark = 128;
constexpr std::int32_t kDefaultFontSize = 10;
constexpr std::int32_t kDefaultHtmlFontSize = 3;

struct CellTag {
    const char* tagStart = nullptr;
    const char* tagEnd = nullptr;  // its '>'
    const char* contentEnd = nullptr;
};

struct RowTag {
    std::vector<CellTag> cells;
};

struct PageTable {
    const char* tagStart = nullptr;
    const char* tagEnd = nullptr;
    std::vector<RowTag> rows;
    std::int32_t width = -1;  // the table's absolute width attribute
};

struct PageColumn {
    std::int32_t left = 0;
    std::int32_t width = 0;
    std::int32_t global = 0;
};

struct FontInfo {
    std::uint32_t colour = 0;
    bool colourFound = false;
    std::string_view face;
    bool bold = false;
    std::int32_t size = kDefaultFontSize;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Tags that separate the texts of a nested table's cells.
bool IsSeparatorTag(const char* lt, const char* end) {
    for (std::string_view name : {"br", "td", "/td", "th", "/th", "tr", "/tr", "table", "/table",
                                  "p", "/p", "div", "/div", "li"}) {
        if (IsTagNamed(lt, end, name)) {
            return true;
        }
    }
    return false;
}

struct Entity {
    std::string_view name;
    char value;
};
constexpr Entity kEntities[] = {{"&lt;", '<'},   {"&gt;", '>'},  {"&quot;", '"'},
                                {"&nbsp;", ' '}, {"&amp;", '&'}, {"&nbsp", ' '}};

// Length of the entity at p (0 when none) and its character.
std::size_t MatchEntity(const char* p, const char* end, char* value) {
    for (const Entity& e : kEntities) {
        if (end - p >= static_cast<std::ptrdiff_t>(e.name.size()) &&
            FindNoCaseInRangeLen(p, p + e.name.size(), e.name, nullptr, 1) == p) {
            *value = e.value;
            return e.name.size();
        }
    }
    return 0;
}

// A rewritten text joins what tags and entities kept apart: a '&' that is text but now starts a
// reference is written "&amp;", so that the outputs decode what the report shows, once.
void EscapeLiteralAmpersands(std::string& text, const std::vector<std::size_t>& literals) {
    std::string escaped;
    std::size_t copied = 0;
    for (const std::size_t at : literals) {
        if (at < text.size() && CharacterReferenceLength(text, at) > 0) {
            escaped.append(text, copied, at - copied);
            escaped += "&amp;";
            copied = at + 1;
        }
    }
    if (copied > 0) {
        escaped.append(text, copied);
        text = std::move(escaped);
    }
}

std::int32_t PointsOfHtmlSize(std::int32_t size) {
    static constexpr std::int32_t kPoints[] = {7, 7, 10, 12, 14, 18, 24, 36};
    return kPoints[std::clamp(size, 0, 7)];
}

}  // namespace

class HtmlTableReader {
public:
    explicit HtmlTableReader(CConvertEngine& engine) : m_e(engine) {}

    void read();

private:
    PageTable GetPageTableWidth(const char* start, const char* end);
    PageTable parsePage(const char* start, const char* end);
    std::vector<PageColumn> ReadPageColumns(const PageTable& table);
    std::int32_t cellWidth(const CellTag& cell);
    void ReadFirstRowWidths(const RowTag& first, std::vector<PageColumn>& columns);
    FontInfo ParseFontTag(const char* start, const char* end);

    CConvertEngine& m_e;
};

// The page's table: its tag and the width it states.
PageTable HtmlTableReader::GetPageTableWidth(const char* start, const char* end) {
    PageTable table;
    const char* p = start;
    while (p < end && IsSpace(*p)) {
        ++p;
    }
    if (end - p >= static_cast<std::ptrdiff_t>(kHeadMark.size()) &&
        std::string_view(p, kHeadMark.size()) == kHeadMark) {
        const char* limit = std::min(end, p + kHeadMark.size() + kTableSearchAfterMark);
        p += kHeadMark.size();
        while (p < limit && *p != '<') {
            ++p;
        }
        if (p == limit) {
            m_e.raise(kErrTableWidth);
        }
    }
    if (!IsTagNamed(p, end, "table")) {
        m_e.raise(kErrTableWidth);
    }
    table.tagStart = p;
    table.tagEnd = FindTagClose(p, end);
    if (table.tagEnd == nullptr) {
        m_e.raise(kErrTableWidth);
    }
    bool percent = false;
    table.width = ParseWidthAttribute(table.tagStart, table.tagEnd, &percent);
    if (percent) {
        table.width = -1;  // a share of the window says nothing about the columns
    }
    return table;
}

// The page's table with the tags of its rows and cells; th cells count as td cells.
PageTable HtmlTableReader::parsePage(const char* start, const char* end) {
    PageTable table = GetPageTableWidth(start, end);
    RowTag* row = nullptr;
    CellTag* cell = nullptr;
    int depth = 0;
    const char* q = table.tagEnd + 1;
    for (; q < end; ++q) {
        if (*q != '<') {
            continue;
        }
        if (end - q >= 4 && std::string_view(q, 4) == "<!--") {
            const std::string_view rest(q + 4, static_cast<std::size_t>(end - q - 4));
            const std::size_t close = rest.find("-->");
            q = close == std::string_view::npos ? end - 1 : q + 4 + close + 2;
            continue;
        }
        if (IsTagNamed(q, end, "table")) {
            ++depth;
            continue;
        }
        const bool tableClose = IsTagNamed(q, end, "/table");
        if (depth > 0) {
            depth -= tableClose ? 1 : 0;
            continue;
        }
        const bool rowOpen = IsTagNamed(q, end, "tr");
        const bool rowClose = IsTagNamed(q, end, "/tr");
        const bool cellOpen = IsTagNamed(q, end, "td") || IsTagNamed(q, end, "th");
        const bool cellClose = IsTagNamed(q, end, "/td") || IsTagNamed(q, end, "/th");
        if (!(rowOpen || rowClose || cellOpen || cellClose || tableClose)) {
            continue;
        }
        if (cell != nullptr) {
            cell->contentEnd = q;
            cell = nullptr;
        }
        if (tableClose) {
            break;
        }
        if (rowOpen) {
            const char* close = FindTagClose(q, end);
            if (close == nullptr) {
                m_e.raiseOwn("Failed to get the start position of current row");
            }
            row = &table.rows.emplace_back();
            q = close;
        } else if (rowClose) {
            row = nullptr;
        } else if (cellOpen) {
            if (row == nullptr) {
                m_e.raiseOwn("Failed to get the start position of current row");
            }
            const char* close = FindTagClose(q, end);
            if (close == nullptr) {
                m_e.raiseOwn("Fail to get the end position of current cell ");
            }
            cell = &row->cells.emplace_back(CellTag{q, close, end});
            q = close;
        }
    }
    if (cell != nullptr) {
        cell->contentEnd = std::min(q, end);
    }
    return table;
}

std::int32_t HtmlTableReader::cellWidth(const CellTag& cell) {
    const std::int32_t width = ParseWidthAttribute(cell.tagStart, cell.tagEnd);
    if (width < 1) {
        m_e.raiseOwn("Fail to get the Width of TD ");
    }
    return std::min(width, kMaxTableWidth);
}

// A first row without spans gives every column its width.
void HtmlTableReader::ReadFirstRowWidths(const RowTag& first, std::vector<PageColumn>& columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        columns[i].width = cellWidth(first.cells[i]);
    }
}

std::vector<PageColumn> HtmlTableReader::ReadPageColumns(const PageTable& table) {
    if (table.rows.empty()) {
        m_e.raiseOwn("Unable to process the file, please contact " + supportAddress());
    }
    const RowTag& first = table.rows.front();
    if (first.cells.empty()) {
        m_e.raise(kErrPageWidth);
    }
    std::int64_t count = 0;
    bool spans = false;
    for (const CellTag& c : first.cells) {
        const CellSpanAlign s = ParseCellSpanAlign(c.tagStart, c.tagEnd, false);
        count += s.columnSpan;
        spans = spans || s.columnSpan > 1;
    }
    if (count > kMaxTableWidth) {
        m_e.raise(kErrTableWidth);
    }
    std::vector<PageColumn> columns(static_cast<std::size_t>(count));
    if (!spans) {
        ReadFirstRowWidths(first, columns);
    } else {
        // Later rows give the widths that the first row's spans hide.
        for (auto& column : columns) {
            column.width = -1;
        }
        const std::size_t rows = table.rows.size();
        std::vector<std::uint8_t> covered(rows * columns.size(), 0);
        std::size_t known = 0;
        for (std::size_t r = 0; r < rows && known < columns.size(); ++r) {
            std::size_t next = 0;
            for (const CellTag& c : table.rows[r].cells) {
                while (next < columns.size() && covered[r * columns.size() + next] != 0) {
                    ++next;
                }
                if (next >= columns.size()) {
                    break;
                }
                const CellSpanAlign s = ParseCellSpanAlign(c.tagStart, c.tagEnd, false);
                if (s.columnSpan == 1 && columns[next].width < 0) {
                    columns[next].width = cellWidth(c);
                    ++known;
                }
                const std::size_t rowEnd = std::min(rows, r + static_cast<std::size_t>(s.rowSpan));
                const std::size_t colEnd =
                    std::min(columns.size(), next + static_cast<std::size_t>(s.columnSpan));
                for (std::size_t rr = r; rr < rowEnd; ++rr) {
                    for (std::size_t cc = next; cc < colEnd; ++cc) {
                        covered[rr * columns.size() + cc] = 1;
                    }
                }
                next = colEnd;
            }
        }
        if (known < columns.size()) {
            m_e.raiseOwn("Fail to get the Width of TD ");
        }
    }
    std::int64_t left = 0;
    for (auto& column : columns) {
        column.left = static_cast<std::int32_t>(left);
        left += column.width;
        if (left > kMaxTableWidth) {
            m_e.raise(kErrTableWidth);
        }
    }
    return columns;
}

tagCellContent CConvertEngine::GetCellText(const char* start, const char* end) {
    while (end > start && (end[-1] == ' ' || end[-1] == '\r' || end[-1] == '\n')) {
        --end;
    }
    std::string out;
    std::string link;
    // Where out holds a '&' that is text, not the start of a reference.
    std::vector<std::size_t> literals;
    bool rewrite = false;
    bool afterTag = false;
    const char* inPlace = nullptr;
    const char* inPlaceEnd = nullptr;
    for (const char* p = start; p < end;) {
        const char c = *p;
        if (c == '<') {
            const char* close = FindTagClose(p, end);
            if (close == nullptr) {
                raise(kErrMissingTagEnd);
            }
            if (IsSeparatorTag(p, close + 1)) {
                if (!out.empty() && out.back() != ' ') {
                    out.push_back(' ');
                }
                rewrite = true;
            } else if (link.empty() && IsTagNamed(p, close + 1, "a")) {
                std::string_view target;
                if (FindAttribute(p, close, "href", &target)) {
                    link = LinkAddressToUri(target, reportCodePage(), kMaxLinkLength);
                }
            }
            afterTag = true;
            p = close + 1;
            continue;
        }
        if (IsSpace(c)) {
            const char* run = p;
            while (p < end && IsSpace(*p)) {
                ++p;
            }
            if (out.empty()) {
                rewrite = rewrite || inPlace != nullptr;
                continue;
            }
            if (p - run > 1 || *run != ' ') {
                rewrite = true;
            }
            if (out.back() != ' ') {
                out.push_back(' ');
            }
            inPlaceEnd = p;
            continue;
        }
        char value = 0;
        const std::size_t entity = c == '&' ? MatchEntity(p, end, &value) : 0;
        if (afterTag && !out.empty()) {
            rewrite = true;
        }
        afterTag = false;
        if (inPlace == nullptr) {
            inPlace = p;
        }
        if (entity > 0) {
            rewrite = true;
            if (value == '&') {
                literals.push_back(out.size());
            }
            if (!(value == ' ' && (out.empty() || out.back() == ' '))) {
                out.push_back(value);
            }
            p += entity;
        } else if (const std::size_t reference =
                       c == '&' ? CharacterReferenceLength(
                                      std::string_view(p, static_cast<std::size_t>(end - p)), 0)
                                : 0;
                   reference > 0) {
            // What follows in the text must not change the reference: it ends in its ';'.
            out.append(p, reference);
            p += reference;
            if (out.back() != ';') {
                out.push_back(';');
                rewrite = true;
            }
        } else {
            if (c == '&') {
                literals.push_back(out.size());
            }
            out.push_back(c);
            ++p;
        }
        inPlaceEnd = p;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    if (rewrite) {
        EscapeLiteralAmpersands(out, literals);
    }
    tagCellContent result;
    if (!rewrite && link.empty()) {
        result.text = inPlace != nullptr ? inPlace : start;
        result.length = static_cast<std::int32_t>(out.size());
        (void)inPlaceEnd;
        return result;
    }
    if (out.size() > static_cast<std::size_t>(INT32_MAX) - 2 * kTextBufferBytes) {
        raise(kErrTextBuffers);
    }
    result.text = StoreText(out, link);
    result.length = static_cast<std::int32_t>(out.size());
    result.kind = link.empty() ? kKindText : kKindLink;
    return result;
}

tagCellContent CConvertEngine::GetCellContent(const char* start, const char* end) {
    tagCellContent content = GetCellText(start, end);
    if (content.length > 0) {
        return content;
    }
    ImageInfo image;
    switch (ParseImgTag(start, end, &image)) {
        case ImageParse::Found:
            content.kind = kKindImage;
            content.text = image.source.data();
            content.length = static_cast<std::int32_t>(image.source.size());
            content.imageWidth = image.widthTenths;
            content.imageHeight = image.heightTenths;
            break;
        case ImageParse::BadWidth:
            raiseOwn(
                "Failed to recognize the Width value inside html code, non-number character was "
                "found");
        case ImageParse::BadHeight:
            raiseOwn(
                "Failed to recognize the Heigth value inside html code, non-number character was "
                "found");
        case ImageParse::None:
            break;
    }
    return content;
}

FontInfo HtmlTableReader::ParseFontTag(const char* start, const char* end) {
    FontInfo font;
    std::int32_t htmlSize = kDefaultHtmlFontSize;
    bool faceFound = false;
    for (const char* p = start; p < end; ++p) {
        if (*p != '<') {
            continue;
        }
        const char* close = FindTagClose(p, end);
        if (close == nullptr) {
            break;
        }
        if (IsTagNamed(p, close + 1, "font")) {
            std::string_view value;
            if (m_e.m_colourFlag && !font.colourFound && FindAttribute(p, close, "color", &value) &&
                !value.empty() && value.front() == '#') {
                char digits[7] = {};
                std::memcpy(digits, value.data() + 1, std::min<std::size_t>(6, value.size() - 1));
                if (!ParseHexColor(digits, &font.colour)) {
                    m_e.raiseOwn(std::string("Fail to recognize the color value ") + digits);
                }
                font.colourFound = true;
            }
            TagAttribute face;
            if (m_e.m_fontFlag && !faceFound && FindAttribute(p, close, "face", &face)) {
                if (!face.closed) {
                    m_e.raise(kErrMissingQuote);
                }
                value = face.value;
                while (!value.empty() && IsSpace(value.back())) {
                    value.remove_suffix(1);
                }
                font.face = value;
                faceFound = true;
            }
            if (FindAttribute(p, close, "size", &value) && !value.empty()) {
                const char sign = value.front();
                const bool relative = sign == '+' || sign == '-';
                const std::int32_t digits = ParseDigits(relative ? value.substr(1) : value, 100);
                if (digits >= 0) {
                    htmlSize = !relative     ? digits
                               : sign == '+' ? kDefaultHtmlFontSize + digits
                                             : kDefaultHtmlFontSize - digits;
                }
            }
        } else if (m_e.m_fontFlag && IsTagNamed(p, close + 1, "b")) {
            font.bold = true;
        }
        p = close;
    }
    font.size = PointsOfHtmlSize(htmlSize);
    return font;
}

void HtmlTableReader::read() {
    const char* rangeEnd = m_e.m_rangeEnd;
    const char* base = m_e.m_rangeStart;
    const std::int32_t pages = m_e.m_pageCount;
    std::vector<PageTable> tables;
    std::vector<std::vector<PageColumn>> pageColumns;
    std::int64_t rows = 0;
    std::int32_t widest = 0;
    for (std::int32_t p = 0; p < pages; ++p) {
        const char* start = base + std::max<std::int64_t>(m_e.m_pageOffsets[p], 0);
        const char* end = p + 1 < pages ? base + std::max<std::int64_t>(m_e.m_pageOffsets[p + 1], 0)
                                        : rangeEnd + std::strlen("</table>");
        start = std::min(start, rangeEnd);
        end = std::clamp(end, start, m_e.m_input + m_e.m_inputLength);
        tables.push_back(parsePage(start, end));
        pageColumns.push_back(ReadPageColumns(tables.back()));
        const PageColumn& last = pageColumns.back().back();
        widest = std::max({widest, tables.back().width, last.left + last.width});
        rows += static_cast<std::int64_t>(tables.back().rows.size());
    }
    if (widest > kMaxTableWidth) {
        m_e.raise(kErrTableWidth);
    }

    // Every page's column boundaries, numbered left to right.
    std::vector<std::int32_t> map(static_cast<std::size_t>(widest) + 1, -1);
    for (const auto& columns : pageColumns) {
        for (const PageColumn& c : columns) {
            map[c.left] = 1;
        }
    }
    std::int32_t count = 0;
    for (std::int32_t x = 0; x < widest; ++x) {
        if (map[x] != -1) {
            map[x] = count++;
        }
    }
    map[widest] = count + 1;
    if (rows > INT32_MAX) {
        m_e.raise(kErrCapability);
    }
    m_e.AllocGrid(static_cast<std::int32_t>(rows), count);
    for (std::int32_t x = 0, c = 0; x < widest; ++x) {
        if (map[x] >= 0 && c < count) {
            m_e.m_columns[c++].left = x;
        }
    }
    for (std::int32_t c = 0; c < count; ++c) {
        const std::int32_t next = c + 1 < count ? m_e.m_columns[c + 1].left : widest;
        m_e.m_columns[c].width = next - m_e.m_columns[c].left;
    }

    const bool readFonts = m_e.m_colourFlag || m_e.m_fontFlag;
    bool colourSeen = false;
    std::int32_t g = 0;
    for (std::int32_t p = 0; p < pages; ++p) {
        auto& columns = pageColumns[p];
        for (auto& c : columns) {
            c.global = map[c.left];
        }
        const auto& pageRows = tables[p].rows;
        const std::int32_t pageRowEnd = g + static_cast<std::int32_t>(pageRows.size());
        for (const RowTag& row : pageRows) {
            m_e.m_rows[g].page = p;
            std::int32_t next = 0;
            for (const CellTag& tag : row.cells) {
                while (next < count && m_e.at(g, next).occupancy != 0) {
                    ++next;
                }
                if (next >= count) {
                    break;
                }
                const std::int32_t gc = next;
                const CellSpanAlign spans =
                    ParseCellSpanAlign(tag.tagStart, tag.tagEnd, m_e.m_rightToLeft);
                tagCellContent text = m_e.GetCellContent(tag.tagEnd + 1, tag.contentEnd);
                const std::int32_t kind = text.kind;
                const auto points = [](std::int32_t tenths) {
                    return static_cast<std::uint32_t>(std::min((tenths + 5) / 10, 0xFFFF));
                };
                const std::uint32_t size =
                    kind == kKindImage ? points(text.imageWidth) << 16 | points(text.imageHeight)
                                       : 0;
                FontInfo font;
                if (readFonts && tag.tagEnd + 1 < tag.contentEnd) {
                    font = ParseFontTag(tag.tagEnd + 1, tag.contentEnd);
                    colourSeen = colourSeen || font.colourFound;
                    m_e.CountFontSize(font.size);
                }
                std::size_t pc = 0;
                for (std::size_t i = 0; i < columns.size(); ++i) {
                    if (columns[i].global <= gc) {
                        pc = i;
                    }
                }
                const std::size_t pcEnd =
                    std::min(columns.size(), pc + static_cast<std::size_t>(spans.columnSpan));
                const std::int32_t spanEnd = pcEnd < columns.size() ? columns[pcEnd].global : count;
                const std::int32_t columnSpan = std::max(1, spanEnd - gc);
                std::int64_t width = 0;
                for (std::size_t i = pc; i < pcEnd; ++i) {
                    width += columns[i].width;
                }
                const std::int32_t rowSpan = std::min(spans.rowSpan, pageRowEnd - g);
                const std::int32_t columnEnd = std::min(count, gc + columnSpan);
                for (std::int32_t r = g; r < g + rowSpan; ++r) {
                    for (std::int32_t c = gc; c < columnEnd; ++c) {
                        if (r == g && c == gc) {
                            continue;
                        }
                        tagGridCell& covered = m_e.at(r, c);
                        covered = tagGridCell{};
                        covered.occupancy = 2;
                        covered.columnSpan = gc;
                        covered.rowSpan = g;
                    }
                }
                next = columnEnd;

                while (text.length > 0 && IsSpace(text.text[0])) {
                    ++text.text;
                    --text.length;
                }
                while (text.length > 0 && IsSpace(text.text[text.length - 1])) {
                    --text.length;
                }
                tagGridCell& cell = m_e.at(g, gc);
                cell = tagGridCell{};
                cell.occupancy = 1;
                cell.text = text.text;
                if (text.length == 0 && width < font.size) {
                    cell.text = nullptr;
                }
                cell.textLength = cell.text == nullptr ? 0 : text.length;
                cell.width = static_cast<std::int32_t>(std::min<std::int64_t>(width, INT32_MAX));
                cell.fontColour = font.colour;
                cell.fontName = font.face.empty() ? nullptr : m_e.InternFontName(font.face);
                cell.bold = font.bold ? 1 : 0;
                cell.fontSize = font.size;
                cell.columnSpan = columnSpan;
                cell.rowSpan = rowSpan;
                cell.kind = kind;
                cell.alignment = spans.alignment;
                cell.size = size;
            }
            ++g;
        }
    }

    if (m_e.m_dropEmptyTexts) {
        for (std::int32_t c = 0; c < count; ++c) {
            bool hasText = false;
            for (std::int32_t r = 0; r < m_e.m_rowCount && !hasText; ++r) {
                hasText = m_e.at(r, c).text != nullptr && m_e.at(r, c).textLength > 0;
            }
            for (std::int32_t r = 0; r < m_e.m_rowCount && !hasText; ++r) {
                if (m_e.at(r, c).textLength == 0) {
                    m_e.at(r, c).text = nullptr;
                }
            }
        }
    }
    if (m_e.m_colourFlag && !colourSeen) {
        m_e.m_colourFlag = false;
    }
}

void CConvertEngine::ReadHtmlTables() {
    HtmlTableReader(*this).read();
}

void CConvertEngine::FillRowSpans() {
    CountRowCells();
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell owner = at(r, c);
            if (owner.text == nullptr || owner.kind == kKindCoveredCopy || owner.rowSpan <= 1) {
                continue;
            }
            for (std::int32_t d = 1; d < owner.rowSpan && r + d < m_rowCount; ++d) {
                if (m_rows[r + d].occupied == 0) {
                    continue;
                }
                tagGridCell& copy = at(r + d, c);
                copy = owner;
                copy.kind = kKindCoveredCopy;
                copy.textLength = 0;
                copy.rowSpan = owner.rowSpan - d;
            }
        }
    }
    CountRowCells();
    CountColumnCells();
}

}  // namespace paginor
