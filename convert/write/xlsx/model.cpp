#include "convert/write/xlsx/model.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "convert/read/text_measurer.h"
#include "convert/write/xlsx/part_text.h"

namespace paginor::xlsx {

namespace {

// The kinds of style change, in the top byte of a change's key.
constexpr std::uint64_t kNumberFormat = 1ull << 56;
constexpr std::uint64_t kWrap = 2ull << 56;
constexpr std::uint64_t kAlignment = 3ull << 56;
constexpr std::uint64_t kBold = 4ull << 56;
constexpr std::uint64_t kFontColour = 5ull << 56;
constexpr std::uint64_t kFontSize = 6ull << 56;
constexpr std::uint64_t kFontName = 7ull << 56;
constexpr std::uint64_t kFill = 8ull << 56;
constexpr std::uint64_t kBorder = 9ull << 56;
constexpr std::uint64_t kEnteredFormat = 10ull << 56;

std::uint64_t keyed(std::uint64_t kind, std::int64_t value) {
    return kind | static_cast<std::uint32_t>(value);
}

AutomationError writtenRow(std::int32_t row) {
    return AutomationError("row " + std::to_string(row + 1) + " is already written");
}

}  // namespace

std::size_t CellStyleHash::operator()(const CellStyle& s) const {
    std::size_t h =
        static_cast<std::size_t>(s.fontName) * 31 + static_cast<std::size_t>(s.fontSize);
    h = h * 31 + s.bold * 2u + s.link;
    h = h * 1000003 + static_cast<std::size_t>(s.fontColour);
    h = h * 1000003 + static_cast<std::size_t>(s.fill);
    h = h * 31 + s.alignment * 7u + s.wrap * 3u + s.border;
    return h * 31 + static_cast<std::size_t>(s.numberFormat);
}

StyleTable::StyleTable(std::uint32_t limit) : m_limit(std::max<std::uint32_t>(limit, 1)) {
    clear();
}

void StyleTable::clear() {
    m_styles.assign(1, CellStyle{});
    m_ids.clear();
    m_ids.emplace(CellStyle{}, 0);
    m_names = Table{};
    m_formats = Table{};
    m_nearest.reset();
}

std::uint32_t StyleTable::intern(const CellStyle& style) {
    if (const auto it = m_ids.find(style); it != m_ids.end()) {
        return it->second;
    }
    if (m_styles.size() >= m_limit) {
        // Asked again, the style takes the same one.
        const std::uint32_t id = nearest(style);
        m_ids.emplace(style, id);
        return id;
    }
    const auto id = static_cast<std::uint32_t>(m_styles.size());
    m_styles.push_back(style);
    m_ids.emplace(style, id);
    return id;
}

namespace {

// The colours a style has when it gives none: no fill shows white, no font colour black.
constexpr std::int32_t kShownFill = 0xFFFFFF;
constexpr std::int32_t kShownFont = 0x000000;
constexpr std::int32_t kGridStep = 16;  // of a colour channel
constexpr std::int32_t kGridCells = 256 / kGridStep;

CellStyle shapeOf(CellStyle style) {
    style.fill = -1;
    style.fontColour = -1;
    return style;
}

std::int32_t channel(std::int32_t rgb, int shift) {
    return (rgb >> shift) & 0xFF;
}

std::uint32_t gridCell(std::int32_t r, std::int32_t g, std::int32_t b) {
    return static_cast<std::uint32_t>((r * kGridCells + g) * kGridCells + b);
}

std::uint32_t gridCellOf(std::int32_t fill) {
    const std::int32_t rgb = fill < 0 ? kShownFill : fill;
    return gridCell(channel(rgb, 16) / kGridStep, channel(rgb, 8) / kGridStep,
                    channel(rgb, 0) / kGridStep);
}

// Squared distance of two colours as shown, and a step more when only one is given, so that a
// style without a fill keeps to styles without one.
std::int64_t colourDistance(std::int32_t a, std::int32_t b, std::int32_t shown) {
    const std::int32_t x = a < 0 ? shown : a;
    const std::int32_t y = b < 0 ? shown : b;
    std::int64_t d = (a < 0) != (b < 0) ? 1 : 0;
    for (const int shift : {16, 8, 0}) {
        const std::int64_t c = channel(x, shift) - channel(y, shift);
        d += c * c;
    }
    return d;
}

}  // namespace

std::uint32_t StyleTable::nearest(const CellStyle& style) {
    if (!m_nearest) {
        m_nearest = std::make_unique<Nearest>();
        for (std::uint32_t id = 0; id < m_styles.size(); ++id) {
            const CellStyle& held = m_styles[id];
            m_nearest->shapes[shapeOf(held)][gridCellOf(held.fill)].push_back(id);
            m_nearest->formats.try_emplace({held.numberFormat, held.link}, id);
        }
    }
    const auto shape = m_nearest->shapes.find(shapeOf(style));
    if (shape == m_nearest->shapes.end()) {
        const auto format = m_nearest->formats.find({style.numberFormat, style.link});
        return format != m_nearest->formats.end() ? format->second : 0;
    }
    // Rings of grid cells around the fill's, out to where no cell can hold a nearer fill.
    const std::int32_t shown = style.fill < 0 ? kShownFill : style.fill;
    const std::int32_t r0 = channel(shown, 16) / kGridStep;
    const std::int32_t g0 = channel(shown, 8) / kGridStep;
    const std::int32_t b0 = channel(shown, 0) / kGridStep;
    std::uint32_t best = 0;
    std::int64_t bestDistance = INT64_MAX;
    for (std::int32_t ring = 0; ring < kGridCells; ++ring) {
        const std::int64_t closest = static_cast<std::int64_t>(std::max(ring - 1, 0)) * kGridStep;
        if (bestDistance != INT64_MAX && 4 * closest * closest > bestDistance) {
            break;
        }
        for (std::int32_t r = r0 - ring; r <= r0 + ring; ++r) {
            for (std::int32_t g = g0 - ring; g <= g0 + ring; ++g) {
                for (std::int32_t b = b0 - ring; b <= b0 + ring; ++b) {
                    const bool onRing =
                        std::max({std::abs(r - r0), std::abs(g - g0), std::abs(b - b0)}) == ring;
                    if (!onRing || r < 0 || g < 0 || b < 0 || r >= kGridCells || g >= kGridCells ||
                        b >= kGridCells) {
                        continue;
                    }
                    const auto cell = shape->second.find(gridCell(r, g, b));
                    if (cell == shape->second.end()) {
                        continue;
                    }
                    for (const std::uint32_t id : cell->second) {
                        const CellStyle& held = m_styles[id];
                        // The fill counts most: it is what covers the cell.
                        const std::int64_t d =
                            colourDistance(style.fill, held.fill, kShownFill) * 4 +
                            colourDistance(style.fontColour, held.fontColour, kShownFont);
                        if (d < bestDistance || (d == bestDistance && id < best)) {
                            bestDistance = d;
                            best = id;
                        }
                    }
                }
            }
        }
    }
    return best;
}

std::int32_t StyleTable::tableId(Table& table, std::string_view text) {
    // Runs of cells mostly repeat the last format or name.
    if (table.lastId >= 0 && table.lastText == text) {
        return table.lastId;
    }
    const auto [it, added] =
        table.ids.try_emplace(std::string(text), static_cast<std::int32_t>(table.texts.size()));
    if (added) {
        table.texts.emplace_back(text);
    }
    table.lastText.assign(text);
    table.lastId = it->second;
    return it->second;
}

std::uint32_t StyleTable::internIn(StyleTable& table, std::uint32_t id) const {
    CellStyle style = m_styles[id];
    if (style.fontName >= 0) {
        style.fontName = table.nameId(name(style.fontName));
    }
    if (style.numberFormat >= 0) {
        style.numberFormat = table.formatId(format(style.numberFormat));
    }
    return table.intern(style);
}

void SheetRows::clear() {
    for (std::int32_t i = 0; i < m_count; ++i) {
        Row& row = m_rows[static_cast<std::size_t>(i)];
        row.cells.clear();
        row.height = -1;
    }
    m_base = 0;
    m_count = 0;
    m_texts.clear();
    m_merges.clear();
    m_merged.clear();
    m_links.clear();
    m_pictures.clear();
    m_widths.clear();
    m_activeRow = 0;
    m_activeColumn = 0;
    m_transitions.fill(Transition{});
}

Row& SheetRows::rowAt(std::int32_t row) {
    if (row < m_base) {
        throw writtenRow(row);
    }
    const auto at = static_cast<std::size_t>(row - m_base);
    if (at >= static_cast<std::size_t>(m_count)) {
        if (at >= m_rows.size()) {
            m_rows.resize(at + 1);
        }
        m_count = static_cast<std::int32_t>(at + 1);
    }
    return m_rows[at];
}

Cell& SheetRows::cell(std::int32_t row, std::int32_t column) {
    auto& cells = rowAt(row).cells;
    const auto c = static_cast<std::uint16_t>(column);
    if (cells.empty() || cells.back().column < c) {
        cells.push_back(Cell{c});
        return cells.back();
    }
    const auto it = std::lower_bound(cells.begin(), cells.end(), c,
                                     [](const Cell& a, std::uint16_t b) { return a.column < b; });
    if (it != cells.end() && it->column == c) {
        return *it;
    }
    return *cells.insert(it, Cell{c});
}

void SheetRows::literal(std::int32_t row, std::int32_t column, std::string_view text) {
    Cell& target = cell(row, column);
    target.type = CellType::Text;
    // Cells hold at most 32,767 characters, far below the length field's limit.
    text = text.substr(0, 0xFFFFFF);
    target.text = (static_cast<std::uint64_t>(m_texts.size()) << 24) | text.size();
    m_texts += text;
}

void SheetRows::enter(std::int32_t row, std::int32_t column, std::string_view text) {
    Cell& target = cell(row, column);
    const CellStyle& style = m_styles->style(target.style);
    if (style.numberFormat >= 0 && m_styles->format(style.numberFormat) == "@") {
        literal(row, column, text);
        return;
    }
    const Entry entry = enterText(text);
    if (entry.type != CellType::Number) {
        if (text.empty()) {
            target.type = CellType::Blank;
            return;
        }
        literal(row, column, text);
        return;
    }
    target.type = CellType::Number;
    target.number = entry.number;
    if (entry.format != nullptr && style.numberFormat < 0) {
        const std::int32_t format = m_styles->formatId(entry.format);
        target.style = changed(target.style, kEnteredFormat | static_cast<std::uint32_t>(format),
                               [format](CellStyle& s) { s.numberFormat = format; });
    }
}

void SheetRows::merge(const Rect& rect) {
    if (rect.firstRow == rect.lastRow && rect.firstColumn == rect.lastColumn) {
        return;
    }
    if (rect.firstRow < m_base) {
        throw writtenRow(rect.firstRow);
    }
    for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
        for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
            if (merged(r, c)) {
                return;
            }
        }
    }
    for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
        for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
            m_merged.insert(mergedKey(r, c));
        }
    }
    m_merges.push_back(rect);
}

double SheetRows::columnWidth(std::int32_t column) const {
    for (auto it = m_widths.rbegin(); it != m_widths.rend(); ++it) {
        if (it->column == column) {
            return it->width;
        }
    }
    return kDefaultColumnWidth;
}

void SheetRows::setColumnWidth(std::int32_t row, std::int32_t column, double width) {
    m_widths.push_back({row, column, width});
}

void SheetRows::addLink(Link link) {
    if (link.row < m_base) {
        throw writtenRow(link.row);
    }
    m_links.push_back(std::move(link));
}

void SheetRows::fitCell(Fit& fit, std::int32_t row, const Cell& cell, FitMeasure& measure) const {
    if (cell.type == CellType::Blank || merged(row, cell.column)) {
        return;
    }
    if (cell.type == CellType::Text) {
        measure.fit(fit, textOf(cell), cell.style);
        return;
    }
    char number[32];
    const char* end = formatNumber(number, cell.number);
    measure.fit(fit, std::string_view(number, static_cast<std::size_t>(end - number)), cell.style);
}

const FitMeasure::Advances& FitMeasure::advances(std::uint32_t style) {
    if (style >= m_advances.size()) {
        m_advances.resize(style + 1);
    }
    if (!m_advances[style]) {
        const CellStyle& s = m_styles.style(style);
        static const std::string kDefaultFamily = "Calibri";
        const std::string& family =
            s.fontName >= 0 && s.link == 0 ? m_styles.name(s.fontName) : kDefaultFamily;
        auto table = std::make_unique<Advances>();
        for (char16_t c = 0; c < 128; ++c) {
            (*table)[c] = defaultTextMeasurer()
                              .measure(family, s.fontSize > 0 ? s.fontSize : 11, s.bold != 0,
                                       std::u16string_view(&c, 1))
                              .width;
        }
        m_advances[style] = std::move(table);
    }
    return *m_advances[style];
}

void FitMeasure::fit(Fit& fit, std::string_view text, std::uint32_t style) {
    text = text.substr(0, 256);
    std::size_t characters = 0;
    for (const char c : text) {
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    if (characters * 4 < fit.longest * 3) {
        return;
    }
    fit.longest = std::max(fit.longest, characters);
    const Advances& advance = advances(style);
    std::int64_t width = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) {
            width += advance[byte < 0x80 ? byte : 'W'];
        }
    }
    fit.widest = std::max(fit.widest, (std::min<std::int64_t>(width, INT32_MAX) + 5) / 7.0);
}

void SheetRows::release(std::int32_t limit, std::vector<Rect>& merges, std::vector<Link>& links,
                        std::vector<Picture>& pictures, std::vector<ColumnWidth>& widths) {
    if (limit <= m_base) {
        return;
    }
    std::vector<Rect> open;
    for (const Rect& rect : m_merges) {
        if (rect.lastRow >= limit) {
            open.push_back(rect);
            continue;
        }
        merges.push_back(rect);
        for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_merged.erase(mergedKey(r, c));
            }
        }
    }
    m_merges.swap(open);
    auto move = [limit](auto& from, auto& to) {
        auto keep = from.begin();
        for (auto it = from.begin(); it != from.end(); ++it) {
            if (it->row < limit) {
                to.push_back(std::move(*it));
            } else {
                *keep++ = std::move(*it);
            }
        }
        from.erase(keep, from.end());
    };
    move(m_links, links);
    move(m_pictures, pictures);
    move(m_widths, widths);
    const auto count = static_cast<std::int32_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(limit) - m_base, m_count));
    m_rows.erase(m_rows.begin(), m_rows.begin() + count);
    m_count -= count;
    m_base = limit;
    // Keep the texts of the rows still held only.
    std::string texts;
    for (std::int32_t i = 0; i < m_count; ++i) {
        for (Cell& c : m_rows[static_cast<std::size_t>(i)].cells) {
            if (c.type == CellType::Text) {
                const std::string_view t = textOf(c);
                c.text = (static_cast<std::uint64_t>(texts.size()) << 24) | t.size();
                texts += t;
            }
        }
    }
    m_texts.swap(texts);
}

namespace {

class XlsxRange : public ExcelRange {
public:
    XlsxRange(RangeHost& host, RectList rects)
        : m_host(host), m_rows(host.rows()), m_rects(std::move(rects)) {}

    // Ranges come and go by the million: their memory is kept for the next ones of the thread.
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    void SetValue(std::string_view text) override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
                for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                    m_rows.enter(r, c, text);
                }
            }
        }
    }
    void SetValueArray(const std::vector<std::string>& texts, std::int32_t rows,
                       std::int32_t columns) override {
        const Rect& rect = m_rects.front();
        for (std::int32_t r = 0; r < rows && rect.firstRow + r <= rect.lastRow; ++r) {
            for (std::int32_t c = 0; c < columns && rect.firstColumn + c <= rect.lastColumn; ++c) {
                const std::string& text = texts[static_cast<std::size_t>(r) * columns + c];
                if (!text.empty()) {
                    m_rows.literal(rect.firstRow + r, rect.firstColumn + c, text);
                }
            }
        }
    }
    void SetNumberFormat(std::string_view format) override {
        const std::int32_t id = m_rows.styles().formatId(format);
        m_rows.restyle(m_rects, keyed(kNumberFormat, id),
                       [id](CellStyle& s) { s.numberFormat = id; });
    }
    void SetNumberFormatLocal(std::string_view format) override { SetNumberFormat(format); }
    void SetWrapText(bool wrap) override {
        m_rows.restyle(m_rects, keyed(kWrap, wrap ? 1 : 0),
                       [wrap](CellStyle& s) { s.wrap = wrap ? 1 : 0; });
    }
    void Merge() override {
        for (const Rect& rect : m_rects) {
            m_rows.merge(rect);
        }
    }
    void SetHorizontalAlignment(std::int16_t code) override {
        m_rows.restyle(m_rects, keyed(kAlignment, code), [code](CellStyle& s) {
            s.alignment = code >= 2 && code <= 4 ? static_cast<std::uint8_t>(code) : 0;
        });
    }
    void SetFontBold(std::int16_t bold) override {
        m_rows.restyle(m_rects, keyed(kBold, bold != 0 ? 1 : 0),
                       [bold](CellStyle& s) { s.bold = bold != 0 ? 1 : 0; });
    }
    void SetFontColor(std::int32_t colour) override {
        m_rows.restyle(m_rects, keyed(kFontColour, colour),
                       [colour](CellStyle& s) { s.fontColour = toRgb(colour); });
    }
    void SetFontSize(std::int16_t size) override {
        m_rows.restyle(m_rects, keyed(kFontSize, size),
                       [size](CellStyle& s) { s.fontSize = size; });
    }
    void SetFontName(std::string_view name) override {
        const std::int32_t id = m_rows.styles().nameId(name);
        m_rows.restyle(m_rects, keyed(kFontName, id), [id](CellStyle& s) { s.fontName = id; });
    }
    void SetInteriorColor(std::int32_t colour) override {
        m_rows.restyle(m_rects, keyed(kFill, colour),
                       [colour](CellStyle& s) { s.fill = toRgb(colour); });
    }
    void SetBordersLineStyle(std::int32_t style) override {
        m_rows.restyle(m_rects, keyed(kBorder, style == 1 ? 1 : 0),
                       [style](CellStyle& s) { s.border = style == 1 ? 1 : 0; });
    }
    // Thin is the only weight the writer asks for.
    void SetBordersWeight(std::int32_t) override {}
    // Rows without a set height take their text's height when the workbook is opened.
    void EntireRowAutoFit() override {}
    void EntireColumnAutoFit() override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_host.autoFitColumn(c);
            }
        }
    }
    double ColumnWidth() override { return m_host.columnWidth(m_rects.front().firstColumn); }
    void SetColumnWidth(double width) override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_host.setColumnWidth(rect.firstRow, c, width);
            }
        }
    }
    void SetRowHeight(double height) override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
                m_rows.setRowHeight(r, height);
            }
        }
    }
    void EntireRowDelete(std::int32_t) override {
        const Rect& rect = m_rects.front();
        m_host.deleteRows(rect.firstRow, rect.lastRow - rect.firstRow + 1);
    }
    void Activate() override {
        m_rows.activate(m_rects.front().firstRow, m_rects.front().firstColumn);
    }

private:
    RangeHost& m_host;
    SheetRows& m_rows;
    RectList m_rects;
};

// Blocks of freed ranges, one list a thread.
struct FreeRanges {
    struct Block {
        Block* next;
    };
    Block* head = nullptr;
    ~FreeRanges() {
        while (head != nullptr) {
            Block* next = head->next;
            ::operator delete(head);
            head = next;
        }
    }
};
thread_local FreeRanges t_freeRanges;

void* XlsxRange::operator new(std::size_t size) {
    if (size == sizeof(XlsxRange) && t_freeRanges.head != nullptr) {
        FreeRanges::Block* block = t_freeRanges.head;
        t_freeRanges.head = block->next;
        return block;
    }
    return ::operator new(std::max(size, sizeof(XlsxRange)));
}

void XlsxRange::operator delete(void* block) {
    auto* freed = static_cast<FreeRanges::Block*>(block);
    freed->next = t_freeRanges.head;
    t_freeRanges.head = freed;
}

}  // namespace

std::unique_ptr<ExcelRange> MakeRange(RangeHost& host, std::string_view cell1,
                                      std::string_view cell2) {
    if (cell2.empty()) {
        return std::make_unique<XlsxRange>(host, parseRange(cell1));
    }
    // The rectangle between two cells.
    Rect rect{};
    Rect last{};
    if (!parseCell(cell1, rect.firstRow, rect.firstColumn) ||
        !parseCell(cell2, last.firstRow, last.firstColumn)) {
        throw AutomationError("not a cell reference: " + std::string(cell1) + ":" +
                              std::string(cell2));
    }
    rect.lastRow = std::max(rect.firstRow, last.firstRow);
    rect.lastColumn = std::max(rect.firstColumn, last.firstColumn);
    rect.firstRow = std::min(rect.firstRow, last.firstRow);
    rect.firstColumn = std::min(rect.firstColumn, last.firstColumn);
    RectList rects;
    rects.push_back(rect);
    return std::make_unique<XlsxRange>(host, std::move(rects));
}

void XlsxBatchSheet::refuse(const char* member) {
    throw AutomationError(std::string(member) + " is not taken by a batch's rows");
}

void XlsxBatchSheet::CellsItem(std::int32_t row, std::int32_t column, std::string_view text) {
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) {
        throw AutomationError("cell out of the sheet");
    }
    m_rows.enter(row - 1, column - 1, text);
}

void XlsxBatchSheet::HyperlinksAdd(std::string_view anchor, std::string_view address,
                                   std::string_view text) {
    std::int32_t row = 0;
    std::int32_t column = 0;
    if (!parseCell(anchor, row, column)) {
        throw AutomationError("not a cell reference");
    }
    m_rows.addLink({row, column, std::string(address), std::string(text)});
}

void XlsxBatchSheet::PicturesInsert(std::string_view path, double height, double width) {
    double w = 0;
    double h = 0;
    std::string head;
    if (!readPictureHead(std::string(path), head) || !imageSize(head, w, h)) {
        throw AutomationError("not a picture: " + std::string(path));
    }
    m_rows.addPicture(std::string(path), height, width);
}

}  // namespace paginor::xlsx
