#pragma once

// The cells of worksheet rows as the object model's calls leave them: values, styles, merges,
// links, pictures, row heights and column widths. The workbook's sheets keep their unsettled rows
// in one; a batch made ahead of its turn keeps all of its rows in one of its own.

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "convert/write/excel_automation.h"
#include "convert/write/xlsx/entry.h"

namespace paginor::xlsx {

// The formatting of one cell.
struct CellStyle {
    std::int32_t fontName = -1;  // in the table's names, -1 the default
    std::int16_t fontSize = 0;
    std::uint8_t bold = 0;
    std::uint8_t link = 0;         // the look of a link, which stands for every other setting
    std::int32_t fontColour = -1;  // 0xRRGGBB
    std::int32_t fill = -1;
    std::uint8_t alignment = 0;  // 0 general, 2 left, 3 centre, 4 right
    std::uint8_t wrap = 0;
    std::uint8_t border = 0;
    std::int32_t numberFormat = -1;  // in the table's formats

    bool operator==(const CellStyle&) const = default;
};

struct CellStyleHash {
    std::size_t operator()(const CellStyle& s) const;
};

// The cell formats a workbook holds, as the spreadsheet program documents them.
inline constexpr std::uint32_t kMaxCellFormats = 64000;

// Styles numbered in the order of their first use, 0 the default; the font names and number
// formats they name likewise. A table with a limit holds at most that many styles: past it, a
// new style takes the nearest one held (see intern).
class StyleTable {
public:
    explicit StyleTable(std::uint32_t limit = UINT32_MAX);
    void clear();

    // The style's number. Past the limit a new style is not added: it takes the held style of the
    // same font, alignment, wrapping, border and number format whose fill and font colour are
    // nearest, else the first one of its number format (its values read the same), else the
    // default.
    std::uint32_t intern(const CellStyle& style);
    const CellStyle& style(std::uint32_t id) const { return m_styles[id]; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(m_styles.size()); }
    std::int32_t nameId(std::string_view name) { return tableId(m_names, name); }
    std::int32_t formatId(std::string_view format) { return tableId(m_formats, format); }
    const std::string& name(std::int32_t id) const {
        return m_names.texts[static_cast<std::size_t>(id)];
    }
    const std::string& format(std::int32_t id) const {
        return m_formats.texts[static_cast<std::size_t>(id)];
    }
    // The same style with its name and format numbered in table, interned there.
    std::uint32_t internIn(StyleTable& table, std::uint32_t id) const;

private:
    struct Table {
        std::vector<std::string> texts;
        std::unordered_map<std::string, std::int32_t> ids;
        std::string lastText;
        std::int32_t lastId = -1;
    };
    static std::int32_t tableId(Table& table, std::string_view text);
    // The held style nearest to one past the limit.
    std::uint32_t nearest(const CellStyle& style);

    // The held styles by their look but for the colours, each group by its fill's cell of a
    // coarse colour grid; and the first style of each number format and link look. Made when the
    // limit is first met: no style is added after.
    struct Nearest {
        std::unordered_map<CellStyle, std::unordered_map<std::uint32_t, std::vector<std::uint32_t>>,
                           CellStyleHash>
            shapes;
        std::map<std::pair<std::int32_t, std::uint8_t>, std::uint32_t> formats;
    };

    std::uint32_t m_limit;
    std::vector<CellStyle> m_styles;
    std::unordered_map<CellStyle, std::uint32_t, CellStyleHash> m_ids;
    std::unique_ptr<Nearest> m_nearest;
    Table m_names;
    Table m_formats;
};

// 16 bytes: a text is its place in the rows' text store, 40 bits of offset and 24 of length.
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
    double height;  // points
    double width;
};

struct ColumnWidth {
    std::int32_t row;  // of the range that set it
    std::int32_t column;
    double width;
};

// The widest text of a column, for its automatic width.
struct Fit {
    double widest = 0;
    std::size_t longest = 0;  // characters of the longest text measured
};

inline constexpr double kDefaultColumnWidth = 8.43;

// Widens a column's fit by texts of a table's styles, as the text measurer measures them; texts
// much shorter than the longest one measured so far cannot be the widest. A text's width is the
// sum of its characters' advances, and characters beyond ASCII are taken as a wide letter, so one
// table of the ASCII advances of a style measures every text of it.
class FitMeasure {
public:
    explicit FitMeasure(const StyleTable& styles) : m_styles(styles) {}
    void fit(Fit& fit, std::string_view text, std::uint32_t style);

private:
    using Advances = std::array<std::int32_t, 128>;
    const Advances& advances(std::uint32_t style);

    const StyleTable& m_styles;
    std::vector<std::unique_ptr<Advances>> m_advances;  // by style
};

// Rows from a first row on (0-based); rows before it are gone and take nothing more.
class SheetRows {
public:
    explicit SheetRows(StyleTable& styles) : m_styles(&styles) {}

    // Empty again from row 0, keeping what was reserved.
    void clear();

    StyleTable& styles() const { return *m_styles; }
    std::int32_t base() const { return m_base; }
    // One past the last row held.
    std::int32_t end() const { return m_base + m_count; }
    // The row, or null when none is held there.
    const Row* row(std::int32_t r) const {
        return r >= m_base && r < end() ? &m_rows[static_cast<std::size_t>(r - m_base)] : nullptr;
    }
    std::string_view textOf(const Cell& c) const {
        return std::string_view(m_texts).substr(c.text >> 24, c.text & 0xFFFFFF);
    }

    Cell& cell(std::int32_t row, std::int32_t column);
    // Changes the style of every cell of the rectangles; key names the change (its kind and
    // value) so that a change met before takes the style it gave then.
    template <typename Rects, typename Change>
    void restyle(const Rects& rects, std::uint64_t key, const Change& change);
    // A text entered as a user types it, unless the cell's format keeps texts as they are.
    void enter(std::int32_t row, std::int32_t column, std::string_view text);
    // A text taken as it is.
    void literal(std::int32_t row, std::int32_t column, std::string_view text);
    // Overlapping merges would make a broken workbook: a merge over merged cells is left out.
    void merge(const Rect& rect);
    void setRowHeight(std::int32_t row, double height) { rowAt(row).height = height; }
    double columnWidth(std::int32_t column) const;
    void setColumnWidth(std::int32_t row, std::int32_t column, double width);
    void addLink(Link link);
    void activate(std::int32_t row, std::int32_t column) {
        m_activeRow = row;
        m_activeColumn = column;
    }
    void addPicture(std::string path, double height, double width) {
        m_pictures.push_back({m_activeRow, m_activeColumn, std::move(path), height, width});
    }

    bool merged(std::int32_t row, std::int32_t column) const {
        return m_merged.count(mergedKey(row, column)) != 0;
    }
    const std::vector<Rect>& merges() const { return m_merges; }
    const std::vector<Link>& links() const { return m_links; }
    const std::vector<Picture>& pictures() const { return m_pictures; }
    const std::vector<ColumnWidth>& widths() const { return m_widths; }

    // Measures the cell for its column's automatic width; merged and empty cells do not count.
    void fitCell(Fit& fit, std::int32_t row, const Cell& cell, FitMeasure& measure) const;
    // The same, with a number's text given.
    void fitCell(Fit& fit, std::int32_t row, const Cell& cell, std::string_view text,
                 FitMeasure& measure) const {
        if (cell.type != CellType::Blank && !merged(row, cell.column)) {
            measure.fit(fit, text, cell.style);
        }
    }

    // Lets go of the rows before limit; their merges, links, pictures and widths move to the
    // vectors given.
    void release(std::int32_t limit, std::vector<Rect>& merges, std::vector<Link>& links,
                 std::vector<Picture>& pictures, std::vector<ColumnWidth>& widths);

private:
    struct Transition {
        bool valid = false;
        std::uint32_t from = 0;
        std::uint64_t key = 0;
        std::uint32_t to = 0;
    };
    static constexpr std::size_t kTransitions = 256;
    template <typename Change>
    std::uint32_t changed(std::uint32_t from, std::uint64_t key, const Change& change);

    static std::uint64_t mergedKey(std::int32_t row, std::int32_t column) {
        return (static_cast<std::uint64_t>(row) << 16) | static_cast<std::uint32_t>(column);
    }
    Row& rowAt(std::int32_t row);

    StyleTable* m_styles;
    std::int32_t m_base = 0;
    // Rows from m_base on; those from m_count on are spare, kept for their reserved cells.
    std::deque<Row> m_rows;
    std::int32_t m_count = 0;
    std::string m_texts;
    std::vector<Rect> m_merges;
    std::unordered_set<std::uint64_t> m_merged;
    std::vector<Link> m_links;
    std::vector<Picture> m_pictures;
    std::vector<ColumnWidth> m_widths;
    std::int32_t m_activeRow = 0;
    std::int32_t m_activeColumn = 0;
    std::array<Transition, kTransitions> m_transitions{};
};

template <typename Rects, typename Change>
void SheetRows::restyle(const Rects& rects, std::uint64_t key, const Change& change) {
    for (const Rect& rect : rects) {
        for (std::int32_t r = rect.firstRow; r <= rect.lastRow; ++r) {
            for (std::int32_t c = rect.firstColumn; c <= rect.lastColumn; ++c) {
                Cell& target = cell(r, c);
                target.style = changed(target.style, key, change);
            }
        }
    }
}

template <typename Change>
std::uint32_t SheetRows::changed(std::uint32_t from, std::uint64_t key, const Change& change) {
    Transition& known = m_transitions[(from * 0x9E3779B1u ^ key * 0x85EBCA77u) % kTransitions];
    if (known.valid && known.from == from && known.key == key) {
        return known.to;
    }
    CellStyle style = m_styles->style(from);
    change(style);
    known = {true, from, key, m_styles->intern(style)};
    return known.to;
}

// What a range asks of the worksheet it belongs to.
class RangeHost {
public:
    virtual SheetRows& rows() = 0;
    virtual void autoFitColumn(std::int32_t column) = 0;
    virtual void deleteRows(std::int32_t first, std::int32_t count) = 0;
    virtual double columnWidth(std::int32_t column) const = 0;
    virtual void setColumnWidth(std::int32_t row, std::int32_t column, double width) = 0;

protected:
    ~RangeHost() = default;
};

// "A1", "A1:B2" or a union of them, on the host's rows.
std::unique_ptr<ExcelRange> MakeRange(RangeHost& host, std::string_view cell1,
                                      std::string_view cell2);

// A worksheet of its own for one batch's rows, from row 1 on, made apart from the workbook
// (possibly on another thread); a sheet of the workbook places its rows.
class XlsxBatchSheet : public ExcelWorksheet, public RangeHost {
public:
    XlsxBatchSheet() : m_rows(m_styles) {}

    void clear() {
        m_rows.clear();
        m_styles.clear();
    }

    std::unique_ptr<ExcelRange> Range(std::string_view cell1, std::string_view cell2) override {
        return MakeRange(*this, cell1, cell2);
    }
    void CellsItem(std::int32_t row, std::int32_t column, std::string_view text) override;
    void Protect(std::string_view) override { refuse("Protect"); }
    void Activate() override { refuse("Activate"); }
    void HPageBreaksAdd(std::string_view) override { refuse("HPageBreaks.Add"); }
    void HyperlinksAdd(std::string_view anchor, std::string_view address,
                       std::string_view text) override;
    void SetDisplayRightToLeft(bool) override { refuse("DisplayRightToLeft"); }
    void PicturesInsert(std::string_view path, double height, double width) override;
    bool TakesFormatsAtOnce() const override { return true; }

    SheetRows& rows() override { return m_rows; }
    const SheetRows& rows() const { return m_rows; }
    void autoFitColumn(std::int32_t) override { refuse("EntireColumn.AutoFit"); }
    void deleteRows(std::int32_t, std::int32_t) override { refuse("EntireRow.Delete"); }
    double columnWidth(std::int32_t column) const override { return m_rows.columnWidth(column); }
    void setColumnWidth(std::int32_t row, std::int32_t column, double width) override {
        m_rows.setColumnWidth(row, column, width);
    }

private:
    [[noreturn]] static void refuse(const char* member);

    StyleTable m_styles;
    SheetRows m_rows;
};

}  // namespace paginor::xlsx
