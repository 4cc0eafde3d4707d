#include "convert/write/xlsx_workbook.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "convert/read/text_measurer.h"
#include "convert/write/xlsx_entry.h"
#include "platform/replacing_file.h"

namespace paginor {
namespace {

using namespace xlsx;

constexpr std::size_t kMaxUrlLength = 2079;
constexpr std::size_t kMaxLinksPerSheet = 65530;
constexpr std::size_t kMaxBreaks = 1023;
constexpr double kDefaultColumnWidth = 8.43;

// The formatting of one cell; interned so that equal formats share one workbook format.
struct CellStyle {
    std::int32_t fontName = -1;  // index into the name table, -1 the default
    std::int16_t fontSize = 0;
    std::uint8_t bold = 0;
    std::int32_t fontColour = -1;  // 0xRRGGBB
    std::int32_t fill = -1;
    std::uint8_t alignment = 0;  // 0 general, 2 left, 3 centre, 4 right
    std::uint8_t wrap = 0;
    std::uint8_t border = 0;
    std::int32_t numberFormat = -1;  // index into the format table

    bool operator==(const CellStyle&) const = default;
};

struct StyleHash {
    std::size_t operator()(const CellStyle& s) const {
        std::size_t h = static_cast<std::size_t>(s.fontName) * 31 + s.fontSize;
        h = h * 31 + s.bold;
        h = h * 1000003 + static_cast<std::size_t>(s.fontColour);
        h = h * 1000003 + static_cast<std::size_t>(s.fill);
        h = h * 31 + s.alignment * 7 + s.wrap * 3 + s.border;
        return h * 31 + static_cast<std::size_t>(s.numberFormat);
    }
};

// 16 bytes: a text is its place in the sheet's text store, 40 bits of offset and 24 of length.
struct Cell {
    std::uint32_t style = 0;
    std::uint16_t column = 0;  // 0-based
    CellType type = CellType::Blank;
    union {
        double number;
        std::uint64_t text;
    };

    explicit Cell(std::uint16_t c = 0) : column(c), number(0) {}
};

struct Row {
    std::vector<Cell> cells;  // in column order
    double height = -1;
};

struct Link {
    std::int32_t row;
    std::int32_t column;
    std::string address;
    std::string text;
};

struct Picture {
    std::int32_t row;
    std::int32_t column;
    std::string path;
    double height;
    double width;
};

// Rows after the deleted ones move up: the first row of each deleted block and the rows removed
// before it.
class RowMap {
public:
    explicit RowMap(const std::map<std::int32_t, std::int32_t>& deleted) {
        std::int32_t removed = 0;
        for (const auto& [start, count] : deleted) {
            m_blocks.push_back({start, count, removed});
            removed += count;
        }
    }
    // The row after deletions, -1 for a deleted row.
    std::int32_t operator()(std::int32_t row) const {
        auto it = std::upper_bound(m_blocks.begin(), m_blocks.end(), row,
                                   [](std::int32_t r, const Block& b) { return r < b.start; });
        if (it == m_blocks.begin()) {
            return row;
        }
        --it;
        if (row < it->start + it->count) {
            return -1;
        }
        return row - it->removedBefore - it->count;
    }
    // The first row at or after row that is kept, mapped; -1 when none up to limit.
    std::int32_t keptFrom(std::int32_t row, std::int32_t limit) const {
        for (; row <= limit; ++row) {
            if (const std::int32_t mapped = (*this)(row); mapped >= 0) {
                return mapped;
            }
        }
        return -1;
    }
    std::int32_t keptUpTo(std::int32_t row, std::int32_t limit) const {
        for (; row >= limit; --row) {
            if (const std::int32_t mapped = (*this)(row); mapped >= 0) {
                return mapped;
            }
        }
        return -1;
    }

private:
    struct Block {
        std::int32_t start;
        std::int32_t count;
        std::int32_t removedBefore;
    };
    std::vector<Block> m_blocks;
};

class XlsxApplication;

class XlsxSheet : public ExcelWorksheet {
public:
    XlsxSheet(XlsxApplication& application, lxw_worksheet* sheet)
        : m_application(application), m_sheet(sheet) {}

    std::unique_ptr<ExcelRange> Range(std::string_view cell1, std::string_view cell2) override;
    void CellsItem(std::int32_t row, std::int32_t column, std::string_view text) override {
        if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) {
            throw AutomationError("cell out of the sheet");
        }
        enter(row - 1, column - 1, text);
    }
    void Protect(std::string_view password) override { m_password = std::string(password); }
    void Activate() override { m_active = true; }
    void HPageBreaksAdd(std::string_view before) override {
        std::int32_t row = 0;
        std::int32_t column = 0;
        if (!parseCell(before, row, column)) {
            throw AutomationError("not a cell reference");
        }
        m_breaks.push_back(row);
    }
    void HyperlinksAdd(std::string_view anchor, std::string_view address,
                       std::string_view text) override {
        std::int32_t row = 0;
        std::int32_t column = 0;
        if (!parseCell(anchor, row, column)) {
            throw AutomationError("not a cell reference");
        }
        if (row < m_base) {
            throw writtenRow(row);
        }
        m_links.push_back({row, column, std::string(address), std::string(text)});
    }
    void SetDisplayRightToLeft(bool on) override { m_rightToLeft = on; }
    void PicturesInsert(std::string_view path, double height, double width) override {
        double w = 0;
        double h = 0;
        if (!imageSize(std::string(path), w, h)) {
            throw AutomationError("not a picture: " + std::string(path));
        }
        m_pictures.push_back({m_activeRow, m_activeColumn, std::string(path), height, width});
    }

    // The range operations.
    template <typename Change>
    void restyle(const std::vector<Rect>& rects, const Change& change);
    void enter(std::int32_t row, std::int32_t column, std::string_view text);
    void literal(std::int32_t row, std::int32_t column, std::string_view text);
    Cell& cell(std::int32_t row, std::int32_t column);
    void merge(const Rect& rect);
    double columnWidth(std::int32_t column) const {
        const auto it = m_widths.find(column);
        return it == m_widths.end() ? kDefaultColumnWidth : it->second;
    }
    void setColumnWidth(std::int32_t column, double width) { m_widths[column] = width; }
    void setRowHeight(std::int32_t row, double height) { rowAt(row).height = height; }
    void autoFitColumn(std::int32_t column);
    void deleteRows(std::int32_t first, std::int32_t count);
    void activateCell(std::int32_t row, std::int32_t column) {
        m_activeRow = row;
        m_activeColumn = column;
    }

    bool WritesSettledRows() const override { return true; }
    void RowsSettled(std::int32_t row, const std::vector<ExcelRowBlock>& deleted) override;
    // Writes what is left and the sheet's own settings; the sheet takes nothing after.
    void finish();
    XlsxApplication& application() { return m_application; }

private:
    // A merge placed on the rows left after deletions, with the format of its first cell.
    struct PlacedMerge {
        std::int32_t first;
        std::int32_t last;
        Rect rect;
        std::uint32_t style;
    };
    // The widest text of a column so far, for its automatic width.
    struct Fit {
        double widest = 0;
        std::size_t longest = 0;  // characters of the longest text measured
    };

    static AutomationError writtenRow(std::int32_t row) {
        return AutomationError("row " + std::to_string(row + 1) + " is already written");
    }
    Row& rowAt(std::int32_t row) {
        if (row < m_base) {
            throw writtenRow(row);
        }
        const auto at = static_cast<std::size_t>(row - m_base);
        if (at >= m_rows.size()) {
            m_rows.resize(at + 1);
        }
        return m_rows[at];
    }
    static std::uint64_t mergedKey(std::int32_t row, std::int32_t column) {
        return (static_cast<std::uint64_t>(row) << 16) | static_cast<std::uint32_t>(column);
    }
    void fitCell(Fit& fit, std::int32_t row, const Cell& cell);
    // Writes the rows before limit to the workbook and lets go of them.
    void writeRows(std::int32_t limit, const RowMap& map);
    void placeMerges(std::int32_t row);
    void placeLinks(std::int32_t row);
    std::string_view textOf(const Cell& c) const {
        return std::string_view(m_texts).substr(c.text >> 24, c.text & 0xFFFFFF);
    }

    XlsxApplication& m_application;
    lxw_worksheet* m_sheet;
    std::int32_t m_base = 0;  // the first row still held; rows before it are written
    std::deque<Row> m_rows;   // from m_base on
    std::string m_texts;
    std::map<std::int32_t, double> m_widths;
    std::vector<Rect> m_merges;
    std::unordered_set<std::uint64_t> m_merged;
    std::deque<PlacedMerge> m_placedMerges;  // by last row
    std::vector<std::int32_t> m_breaks;
    std::vector<Link> m_links;
    std::deque<Link> m_placedLinks;  // by row, after deletions
    std::size_t m_linkCount = 0;
    std::vector<Fit> m_fits;  // by column, over the written rows
    std::u16string m_wide;
    std::map<std::int32_t, std::int32_t> m_settledDeletions;  // as m_deleted, before m_base
    std::vector<Picture> m_pictures;
    std::map<std::int32_t, std::int32_t> m_deleted;  // first original row -> count
    std::optional<std::string> m_password;
    bool m_rightToLeft = false;
    bool m_active = false;
    std::int32_t m_activeRow = 0;
    std::int32_t m_activeColumn = 0;
    std::int32_t m_growingRow = 0;
};

class XlsxRange : public ExcelRange {
public:
    XlsxRange(XlsxSheet& sheet, std::vector<Rect> rects)
        : m_sheet(sheet), m_rects(std::move(rects)) {}

    void SetValue(std::string_view text) override {
        forEachCell([&](std::int32_t r, std::int32_t c) { m_sheet.enter(r, c, text); });
    }
    void SetValueArray(const std::vector<std::string>& texts, std::int32_t rows,
                       std::int32_t columns) override {
        const Rect& rect = m_rects.front();
        for (std::int32_t r = 0; r < rows && rect.firstRow + r <= rect.lastRow; ++r) {
            for (std::int32_t c = 0; c < columns && rect.firstColumn + c <= rect.lastColumn; ++c) {
                const std::string& text = texts[static_cast<std::size_t>(r) * columns + c];
                if (!text.empty()) {
                    m_sheet.literal(rect.firstRow + r, rect.firstColumn + c, text);
                }
            }
        }
    }
    void SetNumberFormat(std::string_view format) override;
    void SetNumberFormatLocal(std::string_view format) override { SetNumberFormat(format); }
    void SetWrapText(bool wrap) override {
        m_sheet.restyle(m_rects, [wrap](CellStyle& s) { s.wrap = wrap ? 1 : 0; });
    }
    void Merge() override {
        for (const Rect& rect : m_rects) {
            m_sheet.merge(rect);
        }
    }
    void SetHorizontalAlignment(std::int16_t code) override {
        m_sheet.restyle(m_rects, [code](CellStyle& s) {
            s.alignment = code >= 2 && code <= 4 ? static_cast<std::uint8_t>(code) : 0;
        });
    }
    void SetFontBold(std::int16_t bold) override {
        m_sheet.restyle(m_rects, [bold](CellStyle& s) { s.bold = bold != 0 ? 1 : 0; });
    }
    void SetFontColor(std::int32_t colour) override {
        m_sheet.restyle(m_rects, [colour](CellStyle& s) { s.fontColour = toRgb(colour); });
    }
    void SetFontSize(std::int16_t size) override {
        m_sheet.restyle(m_rects, [size](CellStyle& s) { s.fontSize = size; });
    }
    void SetFontName(std::string_view name) override;
    void SetInteriorColor(std::int32_t colour) override {
        m_sheet.restyle(m_rects, [colour](CellStyle& s) { s.fill = toRgb(colour); });
    }
    void SetBordersLineStyle(std::int32_t style) override {
        m_sheet.restyle(m_rects, [style](CellStyle& s) { s.border = style == 1 ? 1 : 0; });
    }
    // Thin is the only weight the writer asks for.
    void SetBordersWeight(std::int32_t) override {}
    // Rows without a set height take their text's height when the workbook is opened.
    void EntireRowAutoFit() override {}
    void EntireColumnAutoFit() override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_sheet.autoFitColumn(c);
            }
        }
    }
    double ColumnWidth() override { return m_sheet.columnWidth(m_rects.front().firstColumn); }
    void SetColumnWidth(double width) override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_sheet.setColumnWidth(c, width);
            }
        }
    }
    void SetRowHeight(double height) override {
        for (const Rect& rect : m_rects) {
            for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
                m_sheet.setRowHeight(r, height);
            }
        }
    }
    void EntireRowDelete(std::int32_t) override {
        const Rect& rect = m_rects.front();
        m_sheet.deleteRows(rect.firstRow, rect.lastRow - rect.firstRow + 1);
    }
    void Activate() override {
        m_sheet.activateCell(m_rects.front().firstRow, m_rects.front().firstColumn);
    }

private:
    template <typename Visit>
    void forEachCell(const Visit& visit) {
        for (const Rect& rect : m_rects) {
            for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
                for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                    visit(r, c);
                }
            }
        }
    }

    XlsxSheet& m_sheet;
    std::vector<Rect> m_rects;
};

class XlsxApplication : public ExcelApplication, public ExcelWorkbook {
public:
    ~XlsxApplication() override { discard(); }

    std::string Version() override { return "16.0"; }
    ExcelWorkbook& WorkbooksAdd() override;
    // No dialogue ever asks anything here.
    void SetDisplayAlerts(bool) override {}
    void Quit() override { discard(); }

    std::int32_t WorksheetsCount() override { return static_cast<std::int32_t>(m_sheets.size()); }
    ExcelWorksheet& WorksheetsItem(std::int32_t index) override {
        if (index < 1 || index > WorksheetsCount()) {
            throw AutomationError("no sheet " + std::to_string(index));
        }
        return *m_sheets[static_cast<std::size_t>(index - 1)];
    }
    void WorksheetsAddAfterLast() override;
    // A workbook file keeps no sharing password of its own.
    void ProtectSharing(std::string_view) override {}
    void SaveCopyAs(const std::string& path) override;
    void Close() override { discard(); }

    std::uint32_t intern(const CellStyle& style) {
        const auto [it, added] =
            m_styleIds.try_emplace(style, static_cast<std::uint32_t>(m_styles.size()));
        if (added) {
            m_styles.push_back(style);
        }
        return it->second;
    }
    const CellStyle& style(std::uint32_t id) const { return m_styles[id]; }
    std::int32_t nameId(std::string_view name) { return tableId(m_names, name); }
    std::int32_t formatId(std::string_view format) { return tableId(m_formats, format); }
    const std::string& name(std::int32_t id) const {
        return m_names.texts[static_cast<std::size_t>(id)];
    }
    const std::string& format(std::int32_t id) const {
        return m_formats.texts[static_cast<std::size_t>(id)];
    }
    lxw_format* lxwFormat(std::uint32_t id);

private:
    // Drops the workbook unsaved.
    void discard() {
        m_sheets.clear();
        m_lxwFormats.clear();
        if (m_workbook != nullptr) {
            lxw_workbook_free(m_workbook);
            m_workbook = nullptr;
        }
    }

    struct Table {
        std::vector<std::string> texts;
        std::unordered_map<std::string, std::int32_t> ids;
        std::string lastText;
        std::int32_t lastId = -1;
    };
    static std::int32_t tableId(Table& table, std::string_view text) {
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

    // Rows go to the library's workbook as soon as they are settled; it names its file at saving.
    lxw_workbook* m_workbook = nullptr;
    std::vector<std::unique_ptr<XlsxSheet>> m_sheets;
    std::vector<CellStyle> m_styles{CellStyle{}};
    std::unordered_map<CellStyle, std::uint32_t, StyleHash> m_styleIds{{CellStyle{}, 0}};
    Table m_names;
    Table m_formats;
    std::vector<lxw_format*> m_lxwFormats;
};

std::unique_ptr<ExcelRange> XlsxSheet::Range(std::string_view cell1, std::string_view cell2) {
    std::string text(cell1);
    if (!cell2.empty()) {
        text += ':';
        text += cell2;
    }
    return std::make_unique<XlsxRange>(*this, parseRange(text));
}

Cell& XlsxSheet::cell(std::int32_t row, std::int32_t column) {
    if (row != m_growingRow) {
        // Rows fill one after another: give back what the last one reserved for growth.
        if (m_growingRow >= m_base &&
            static_cast<std::size_t>(m_growingRow - m_base) < m_rows.size()) {
            m_rows[static_cast<std::size_t>(m_growingRow - m_base)].cells.shrink_to_fit();
        }
        m_growingRow = row;
    }
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

template <typename Change>
void XlsxSheet::restyle(const std::vector<Rect>& rects, const Change& change) {
    for (const Rect& rect : rects) {
        for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
            std::uint32_t lastFrom = UINT32_MAX;
            std::uint32_t lastTo = 0;
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                Cell& target = cell(r, c);
                if (target.style != lastFrom) {
                    CellStyle style = m_application.style(target.style);
                    change(style);
                    lastFrom = target.style;
                    lastTo = m_application.intern(style);
                }
                target.style = lastTo;
            }
        }
    }
}

void XlsxSheet::literal(std::int32_t row, std::int32_t column, std::string_view text) {
    Cell& target = cell(row, column);
    target.type = CellType::Text;
    // Cells hold at most 32,767 characters, far below the length field's limit.
    text = text.substr(0, 0xFFFFFF);
    target.text = (static_cast<std::uint64_t>(m_texts.size()) << 24) | text.size();
    m_texts += text;
}

void XlsxSheet::enter(std::int32_t row, std::int32_t column, std::string_view text) {
    Cell& target = cell(row, column);
    const CellStyle& style = m_application.style(target.style);
    if (style.numberFormat >= 0 && m_application.format(style.numberFormat) == "@") {
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
        CellStyle changed = style;
        changed.numberFormat = m_application.formatId(entry.format);
        target.style = m_application.intern(changed);
    }
}

void XlsxSheet::merge(const Rect& rect) {
    if (rect.firstRow == rect.lastRow && rect.firstColumn == rect.lastColumn) {
        return;
    }
    if (rect.firstRow < m_base) {
        throw writtenRow(rect.firstRow);
    }
    // Overlapping merges would make a broken workbook: the later one is left unmerged.
    for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
        for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
            if (m_merged.count((static_cast<std::uint64_t>(r) << 16) |
                               static_cast<std::uint32_t>(c)) != 0) {
                return;
            }
        }
    }
    for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
        for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
            m_merged.insert((static_cast<std::uint64_t>(r) << 16) | static_cast<std::uint32_t>(c));
        }
    }
    m_merges.push_back(rect);
}

void XlsxSheet::fitCell(Fit& fit, std::int32_t row, const Cell& cell) {
    if (cell.type == CellType::Blank || m_merged.count(mergedKey(row, cell.column)) != 0) {
        return;
    }
    char number[32];
    std::string_view text;
    if (cell.type == CellType::Text) {
        text = textOf(cell);
    } else {
        const auto end = std::to_chars(number, number + sizeof number, cell.number).ptr;
        text = std::string_view(number, static_cast<std::size_t>(end - number));
    }
    m_wide.clear();
    for (const char ch : text.substr(0, 256)) {
        // A character beyond ASCII is estimated as a wide letter.
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) {
            m_wide += static_cast<char16_t>(static_cast<unsigned char>(ch) < 0x80 ? ch : u'W');
        }
    }
    // Texts much shorter than the longest one so far cannot be the widest.
    if (m_wide.size() * 4 < fit.longest * 3) {
        return;
    }
    fit.longest = std::max(fit.longest, m_wide.size());
    const CellStyle& style = m_application.style(cell.style);
    static const std::string kDefaultFamily = "Calibri";
    const std::string& family =
        style.fontName >= 0 ? m_application.name(style.fontName) : kDefaultFamily;
    const TextExtent extent = defaultTextMeasurer().measure(
        family, style.fontSize > 0 ? style.fontSize : 11, style.bold != 0, m_wide);
    fit.widest = std::max(fit.widest, (extent.width + 5) / 7.0);
}

void XlsxSheet::autoFitColumn(std::int32_t column) {
    // The rows written so far are measured already, in the same order.
    Fit fit = static_cast<std::size_t>(column) < m_fits.size()
                  ? m_fits[static_cast<std::size_t>(column)]
                  : Fit{};
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const auto& cells = m_rows[r].cells;
        const auto it =
            std::lower_bound(cells.begin(), cells.end(), column,
                             [](const Cell& a, std::int32_t b) { return a.column < b; });
        if (it != cells.end() && it->column == column) {
            fitCell(fit, m_base + static_cast<std::int32_t>(r), *it);
        }
    }
    if (fit.widest > 0) {
        m_widths[column] = std::min(fit.widest + 0.71, 255.0);
    }
}

void XlsxSheet::deleteRows(std::int32_t first, std::int32_t count) {
    // first counts the rows that are left: find the original row it names.
    std::int64_t original = first;
    for (const auto& [start, n] : m_deleted) {
        if (start > original) {
            break;
        }
        original += n;
    }
    std::int64_t remaining = count;
    while (remaining > 0) {
        const auto next = m_deleted.lower_bound(static_cast<std::int32_t>(original));
        const std::int64_t gap = next == m_deleted.end() ? remaining : next->first - original;
        const std::int64_t take = std::min(gap, remaining);
        if (take > 0) {
            m_deleted[static_cast<std::int32_t>(original)] = static_cast<std::int32_t>(take);
        }
        remaining -= take;
        original += take;
        if (remaining > 0 && next != m_deleted.end()) {
            original += next->second;
        }
    }
}

void XlsxRange::SetNumberFormat(std::string_view format) {
    XlsxApplication& application = m_sheet.application();
    const std::int32_t id = application.formatId(format);
    m_sheet.restyle(m_rects, [id](CellStyle& s) { s.numberFormat = id; });
}

void XlsxRange::SetFontName(std::string_view name) {
    const std::int32_t id = m_sheet.application().nameId(name);
    m_sheet.restyle(m_rects, [id](CellStyle& s) { s.fontName = id; });
}

lxw_format* XlsxApplication::lxwFormat(std::uint32_t id) {
    if (id == 0) {
        return nullptr;
    }
    if (m_lxwFormats.size() < m_styles.size()) {
        m_lxwFormats.resize(m_styles.size(), nullptr);
    }
    if (m_lxwFormats[id] != nullptr) {
        return m_lxwFormats[id];
    }
    const CellStyle& s = m_styles[id];
    lxw_format* format = workbook_add_format(m_workbook);
    if (s.fontName >= 0) {
        format_set_font_name(format, name(s.fontName).c_str());
    }
    if (s.fontSize > 0) {
        format_set_font_size(format, s.fontSize);
    }
    if (s.bold != 0) {
        format_set_bold(format);
    }
    if (s.fontColour >= 0) {
        // Black is the colour a font has without one.
        format_set_font_color(format, s.fontColour == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK)
                                                        : static_cast<lxw_color_t>(s.fontColour));
    }
    if (s.fill >= 0) {
        format_set_pattern(format, LXW_PATTERN_SOLID);
        format_set_bg_color(format, s.fill == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK)
                                                : static_cast<lxw_color_t>(s.fill));
    }
    switch (s.alignment) {
        case 2:
            format_set_align(format, LXW_ALIGN_LEFT);
            break;
        case 3:
            format_set_align(format, LXW_ALIGN_CENTER);
            break;
        case 4:
            format_set_align(format, LXW_ALIGN_RIGHT);
            break;
        default:
            break;
    }
    if (s.wrap != 0) {
        format_set_text_wrap(format);
    }
    if (s.border != 0) {
        format_set_border(format, LXW_BORDER_THIN);
    }
    if (s.numberFormat >= 0) {
        format_set_num_format(format, this->format(s.numberFormat).c_str());
    }
    m_lxwFormats[id] = format;
    return format;
}

// A link the workbook can hold: web and mail addresses as they are, local files as external
// links; nullopt for what it cannot hold.
std::optional<std::string> workbookLink(const std::string& address) {
    if (address.size() > kMaxUrlLength) {
        return std::nullopt;
    }
    for (const char* scheme : {"http://", "https://", "ftp://", "ftps://", "mailto:"}) {
        if (address.size() > std::strlen(scheme) &&
            strncasecmp(address.c_str(), scheme, std::strlen(scheme)) == 0) {
            return address;
        }
    }
    if (strncasecmp(address.c_str(), "file://", 7) == 0) {
        return "external:" + address.substr(7);
    }
    if (address.starts_with('/')) {
        return "external:" + address;
    }
    return std::nullopt;
}

void XlsxSheet::placeMerges(std::int32_t row) {
    // A merge is registered at its last row, before that row's cells, as the library's
    // row-at-a-time mode takes it: its first cell keeps its value.
    while (!m_placedMerges.empty() && m_placedMerges.front().last <= row) {
        const PlacedMerge& merge = m_placedMerges.front();
        worksheet_merge_range(m_sheet, static_cast<lxw_row_t>(merge.first),
                              static_cast<lxw_col_t>(merge.rect.firstColumn),
                              static_cast<lxw_row_t>(merge.last),
                              static_cast<lxw_col_t>(merge.rect.lastColumn), "",
                              m_application.lxwFormat(merge.style));
        m_placedMerges.pop_front();
    }
}

void XlsxSheet::placeLinks(std::int32_t row) {
    while (!m_placedLinks.empty() && m_placedLinks.front().row <= row) {
        const Link& link = m_placedLinks.front();
        const auto target = workbookLink(link.address);
        // Past the workbook's link limits the text stays, without its link.
        if (target && m_linkCount < kMaxLinksPerSheet &&
            worksheet_write_url_opt(m_sheet, static_cast<lxw_row_t>(link.row),
                                    static_cast<lxw_col_t>(link.column), target->c_str(), nullptr,
                                    link.text.c_str(), nullptr) == LXW_NO_ERROR) {
            ++m_linkCount;
        }
        m_placedLinks.pop_front();
    }
}

void XlsxSheet::writeRows(std::int32_t limit, const RowMap& map) {
    if (limit <= m_base) {
        return;
    }
    // Merges and links wholly on these rows take their places after deletions now.
    std::vector<Rect> open;
    std::vector<Rect> placed;
    for (const Rect& rect : m_merges) {
        if (rect.lastRow >= limit) {
            open.push_back(rect);
            continue;
        }
        placed.push_back(rect);
        const std::int32_t first = map.keptFrom(rect.firstRow, rect.lastRow);
        const std::int32_t last = map.keptUpTo(rect.lastRow, rect.firstRow);
        if (first < 0 || last < 0 || (first == last && rect.firstColumn == rect.lastColumn)) {
            continue;
        }
        std::uint32_t style = 0;
        if (static_cast<std::size_t>(rect.firstRow - m_base) < m_rows.size()) {
            for (const Cell& c : m_rows[static_cast<std::size_t>(rect.firstRow - m_base)].cells) {
                if (c.column == rect.firstColumn) {
                    style = c.style;
                }
            }
        }
        const auto at = std::upper_bound(
            m_placedMerges.begin(), m_placedMerges.end(), last,
            [](std::int32_t row, const PlacedMerge& merge) { return row < merge.last; });
        m_placedMerges.insert(at, PlacedMerge{first, last, rect, style});
    }
    m_merges.swap(open);
    std::vector<Link> waiting;
    for (Link& link : m_links) {
        if (link.row >= limit) {
            waiting.push_back(std::move(link));
            continue;
        }
        link.row = map(link.row);
        if (link.row < 0) {
            continue;
        }
        const auto at =
            std::upper_bound(m_placedLinks.begin(), m_placedLinks.end(), link.row,
                             [](std::int32_t row, const Link& other) { return row < other.row; });
        m_placedLinks.insert(at, std::move(link));
    }
    m_links.swap(waiting);

    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(
        static_cast<std::int64_t>(limit) - m_base, static_cast<std::int64_t>(m_rows.size())));
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t original = m_base + static_cast<std::int32_t>(i);
        const Row& source = m_rows[i];
        // Automatic widths measure every row, deleted ones too.
        for (const Cell& c : source.cells) {
            if (c.column >= m_fits.size()) {
                m_fits.resize(static_cast<std::size_t>(c.column) + 1);
            }
            fitCell(m_fits[c.column], original, c);
        }
        const std::int32_t row = map(original);
        if (row < 0) {
            continue;
        }
        const auto at = static_cast<lxw_row_t>(row);
        if (source.height >= 0) {
            worksheet_set_row(m_sheet, at, source.height, nullptr);
        }
        placeMerges(row);
        for (const Cell& c : source.cells) {
            lxw_format* format = m_application.lxwFormat(c.style);
            switch (c.type) {
                case CellType::Text:
                    text.assign(textOf(c));
                    worksheet_write_string(m_sheet, at, c.column, text.c_str(), format);
                    break;
                case CellType::Number:
                    worksheet_write_number(m_sheet, at, c.column, c.number, format);
                    break;
                case CellType::Blank:
                    if (format != nullptr) {
                        worksheet_write_blank(m_sheet, at, c.column, format);
                    }
                    break;
            }
        }
        placeLinks(row);
    }
    for (const Rect& rect : placed) {
        for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                m_merged.erase(mergedKey(r, c));
            }
        }
    }
    m_rows.erase(m_rows.begin(), m_rows.begin() + static_cast<std::ptrdiff_t>(count));
    m_base = limit;
    // Keep the texts of the rows still held only.
    std::string texts;
    for (Row& row : m_rows) {
        for (Cell& c : row.cells) {
            if (c.type == CellType::Text) {
                const std::string_view t = textOf(c);
                c.text = (static_cast<std::uint64_t>(texts.size()) << 24) | t.size();
                texts += t;
            }
        }
    }
    m_texts.swap(texts);
}

void XlsxSheet::RowsSettled(std::int32_t row, const std::vector<ExcelRowBlock>& deleted) {
    const std::int32_t limit = std::min(row, kMaxRows + 1) - 1;
    for (const ExcelRowBlock& block : deleted) {
        if (block.first >= 1 && block.count > 0 && block.first - 1 < limit) {
            m_settledDeletions[block.first - 1] = block.count;
        }
    }
    writeRows(limit, RowMap(m_settledDeletions));
}

void XlsxSheet::finish() {
    // The rows written already took the deletions promised for them, and only those.
    auto within = [this](const std::map<std::int32_t, std::int32_t>& blocks,
                         const std::map<std::int32_t, std::int32_t>& others) {
        for (const auto& [start, count] : blocks) {
            if (start >= m_base) {
                break;
            }
            const auto it = others.find(start);
            if (it == others.end() || it->second != count) {
                return false;
            }
        }
        return true;
    };
    if (!within(m_deleted, m_settledDeletions) || !within(m_settledDeletions, m_deleted)) {
        throw AutomationError("rows were deleted after they were written");
    }
    const RowMap map(m_deleted);
    writeRows(INT32_MAX, map);
    placeMerges(INT32_MAX);
    placeLinks(INT32_MAX);
    for (const auto& [column, width] : m_widths) {
        worksheet_set_column(m_sheet, static_cast<lxw_col_t>(column),
                             static_cast<lxw_col_t>(column), width, nullptr);
    }
    std::vector<lxw_row_t> breaks;
    for (const std::int32_t before : m_breaks) {
        const std::int32_t row = map(before);
        if (row > 0 && breaks.size() < kMaxBreaks) {
            breaks.push_back(static_cast<lxw_row_t>(row));
        }
    }
    if (!breaks.empty()) {
        breaks.push_back(0);
        worksheet_set_h_pagebreaks(m_sheet, breaks.data());
    }
    for (const Picture& picture : m_pictures) {
        const std::int32_t row = map(picture.row);
        double width = 0;
        double height = 0;
        if (row < 0 || !imageSize(picture.path, width, height)) {
            continue;
        }
        // Points to pixels at 96 per inch, against the picture's own size.
        lxw_image_options options{};
        options.x_scale = picture.width * 96.0 / 72.0 / width;
        options.y_scale = picture.height * 96.0 / 72.0 / height;
        worksheet_insert_image_opt(m_sheet, static_cast<lxw_row_t>(row),
                                   static_cast<lxw_col_t>(picture.column), picture.path.c_str(),
                                   &options);
    }
    if (m_password) {
        worksheet_protect(m_sheet, m_password->empty() ? nullptr : m_password->c_str(), nullptr);
    }
    if (m_rightToLeft) {
        worksheet_right_to_left(m_sheet);
    }
    if (m_active) {
        worksheet_activate(m_sheet);
    }
}

ExcelWorkbook& XlsxApplication::WorkbooksAdd() {
    discard();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    // The library names its file at the start but writes it only when closed: the real name is
    // given at saving.
    m_workbook = workbook_new_opt("unsaved.xlsx", &options);
    if (m_workbook == nullptr) {
        throw AutomationError("the workbook cannot be created");
    }
    WorksheetsAddAfterLast();
    return *this;
}

void XlsxApplication::WorksheetsAddAfterLast() {
    if (m_workbook == nullptr) {
        throw AutomationError("no workbook is open");
    }
    const std::string name = "Sheet" + std::to_string(m_sheets.size() + 1);
    lxw_worksheet* sheet = workbook_add_worksheet(m_workbook, name.c_str());
    if (sheet == nullptr) {
        throw AutomationError("cannot add " + name);
    }
    m_sheets.push_back(std::make_unique<XlsxSheet>(*this, sheet));
}

void XlsxApplication::SaveCopyAs(const std::string& path) {
    if (m_workbook == nullptr) {
        throw AutomationError(path + ": no workbook is open");
    }
    ReplacingFile file(path);
    if (!file.create()) {
        throw AutomationError(file.error());
    }
    char* name = nullptr;
    try {
        for (const auto& sheet : m_sheets) {
            sheet->finish();
        }
        name = strdup(file.temporaryPath().c_str());
        if (name == nullptr) {
            throw AutomationError(path + ": out of memory");
        }
    } catch (...) {
        discard();
        throw;
    }
    std::free(m_workbook->filename);
    m_workbook->filename = name;
    lxw_workbook* workbook = m_workbook;
    m_workbook = nullptr;
    m_sheets.clear();
    const lxw_error closed = workbook_close(workbook);
    m_lxwFormats.clear();
    if (closed != LXW_NO_ERROR) {
        throw AutomationError(path + ": " + lxw_strerror(closed));
    }
    if (!file.commit()) {
        throw AutomationError(file.error());
    }
}

}  // namespace

std::unique_ptr<ExcelApplication> StartXlsxApplication() {
    return std::make_unique<XlsxApplication>();
}

}  // namespace paginor
