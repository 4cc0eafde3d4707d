#include "convert/write/xlsx/workbook.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "convert/read/link_address.h"
#include "convert/write/spill_file.h"
#include "convert/write/xlsx/drawing_part.h"
#include "convert/write/xlsx/entry.h"
#include "convert/write/xlsx/model.h"
#include "convert/write/xlsx/pack.h"
#include "convert/write/xlsx/package_parts.h"
#include "convert/write/xlsx/row_map.h"
#include "convert/write/xlsx/sheet_part.h"
#include "convert/write/xlsx/styles_part.h"
#include "convert/write/xlsx/theme_part.h"
#include "convert/write/xlsx/workbook_part.h"
#include "convert/write/xlsx/zip_package.h"
#include "platform/file.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

using namespace xlsx;

constexpr std::size_t kMaxUrlLength = 2079;
constexpr std::size_t kMaxBreaks = 1023;
// A piece of a sheet's rows packed at once holds whole pages of at least this many cells.
constexpr std::size_t kPieceCells = 32768;
constexpr std::size_t kReadBackBytes = 1 << 20;
constexpr std::size_t kSpareBatchSheets = 16;
constexpr std::uint32_t kUnnumbered = UINT32_MAX;

// A link the workbook can hold: web and mail addresses, and local files as file addresses;
// nullopt for what it cannot hold.
std::optional<std::string> workbookLink(const std::string& address) {
    if (address.size() > kMaxUrlLength) {
        return std::nullopt;
    }
    for (const char* scheme : {"http://", "https://", "ftp://", "ftps://", "mailto:"}) {
        if (address.size() > std::strlen(scheme) &&
            strncasecmp(address.c_str(), scheme, std::strlen(scheme)) == 0) {
            return EscapeUriBytes(address);
        }
    }
    if (strncasecmp(address.c_str(), "file://", 7) == 0) {
        return EscapeUriBytes(address);
    }
    if (address.starts_with('/')) {
        return "file://" + EscapeUriBytes(address);
    }
    return std::nullopt;
}

class XlsxApplication;

// Ends a save whose copy is no longer to be kept.
struct SaveDropped {};

class XlsxSheet : public ExcelWorksheet, public RangeHost {
public:
    explicit XlsxSheet(XlsxApplication& application) : m_application(application) {}

    std::unique_ptr<ExcelRange> Range(std::string_view cell1, std::string_view cell2) override {
        return MakeRange(*this, cell1, cell2);
    }
    void CellsItem(std::int32_t row, std::int32_t column, std::string_view text) override {
        if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) {
            throw AutomationError("cell out of the sheet");
        }
        work().rows.enter(row - 1, column - 1, text);
    }
    void Protect(std::string_view password) override { m_password = std::string(password); }
    void Activate() override { m_active = true; }
    void HPageBreaksAdd(std::string_view before) override {
        std::int32_t row = 0;
        std::int32_t column = 0;
        if (!parseCell(before, row, column)) {
            throw AutomationError("not a cell reference");
        }
        // The rows of a finished sheet are written: it takes no break either.
        work();
        m_breaks.push_back(row);
    }
    void HyperlinksAdd(std::string_view anchor, std::string_view address,
                       std::string_view text) override {
        std::int32_t row = 0;
        std::int32_t column = 0;
        if (!parseCell(anchor, row, column)) {
            throw AutomationError("not a cell reference");
        }
        work().rows.addLink({row, column, std::string(address), std::string(text)});
    }
    void SetDisplayRightToLeft(bool on) override { m_rightToLeft = on; }
    void PicturesInsert(std::string_view path, double height, double width) override {
        double w = 0;
        double h = 0;
        std::string head;
        if (!readPictureHead(std::string(path), head) || !imageSize(head, w, h)) {
            throw AutomationError("not a picture: " + std::string(path));
        }
        work().rows.addPicture(std::string(path), height, width);
    }
    bool WritesSettledRows() const override { return true; }
    void RowsSettled(std::int32_t row, const std::vector<ExcelRowBlock>& deleted) override;
    void PlaceMadeRows(const std::shared_ptr<ExcelWorksheet>& made, std::int32_t first,
                       std::int32_t count, std::int32_t at, const ExcelFontFill& fill) override;

    SheetRows& rows() override { return work().rows; }
    void autoFitColumn(std::int32_t column) override;
    void deleteRows(std::int32_t first, std::int32_t count) override;
    double columnWidth(std::int32_t column) const override {
        const auto it = m_widths.find(column);
        return it == m_widths.end() ? kDefaultColumnWidth : it->second;
    }
    void setColumnWidth(std::int32_t, std::int32_t column, double width) override {
        m_widths[column] = width;
    }

    // Settles what is left with the deletions recorded, packs every piece and keeps only what
    // the package needs of the sheet, so that memory does not grow with the sheets finished;
    // the sheet takes no more rows after.
    void finish();
    SheetSettings settings(bool selected) const;
    bool active() const { return m_active; }
    const std::vector<SheetPicture>& pictures() const { return m_pictures; }
    const std::map<std::int32_t, double>& heights() const { return m_heights; }
    std::uint64_t compressedSize() const { return m_compressedSize; }
    std::uint64_t length() const { return m_length; }
    std::uint32_t crc() const { return m_crc; }
    const SpilledPieces& pieces() const { return m_pieces; }
    std::int64_t linksLeftOut() const { return m_linksLeftOut; }

private:
    struct Placed {
        std::shared_ptr<XlsxBatchSheet> made;
        std::int32_t first;  // 0-based rows of the batch sheet
        std::int32_t count;
        std::int32_t at;  // 0-based, before deletions
        ExcelFontFill fill;
    };

    void settleTo(std::int32_t limit, const RowMap& map);
    void settlePlaced(const Placed& placed, const RowMap& map);
    void settleOwnRows(std::int32_t limit, const RowMap& map);
    void place(const Rect& rect, std::int32_t offset, const RowMap& map);
    void placePicture(const Picture& picture, std::int32_t final, const SheetRows& rows);
    std::optional<std::string> acceptLink(const std::string& address);
    // The look of a link's cell, which stands for the cell's own.
    std::string linkStyle();
    // The workbook's number of a style of the batch sheet being placed (past its styles, those
    // of the fill's columns), numbered at its first use.
    std::uint32_t numberMade(std::uint32_t id);
    void submitPending();
    void submit(std::shared_ptr<PackJob> job);
    void drain(bool all);

    // What the sheet works with until it is finished.
    struct Work {
        StyleTable ownStyles;
        SheetRows rows{ownStyles};              // rows written here that are not settled yet
        std::vector<std::uint32_t> ownNumbers;  // ownStyles' styles as the workbook numbers them
        std::vector<Fit> ownFits;
        std::int32_t settled = 0;  // rows before it are settled
        std::map<std::int32_t, std::int32_t> settledDeletions;
        RowMap settledMap;                             // of settledDeletions
        std::map<std::int32_t, std::int32_t> deleted;  // first original row -> count
        std::int64_t deletedCount = 0;                 // rows of deleted
        std::deque<Placed> placed;                     // not settled yet

        // The batch sheet whose pages are being placed, and the piece they gather in.
        std::shared_ptr<XlsxBatchSheet> made;
        ExcelFontFill madeFill;
        std::vector<std::uint32_t> madeNumbers;
        std::vector<std::size_t> madeLinks;  // its links by row
        std::shared_ptr<PackJob> pending;

        std::deque<std::shared_ptr<PackJob>> jobs;  // in row order
        std::vector<Fit> madeFits;
    };
    // A finished sheet takes no more rows.
    Work& work() {
        if (!m_work) {
            throw AutomationError("the sheet is finished: a sheet was added after it");
        }
        return *m_work;
    }

    XlsxApplication& m_application;
    std::unique_ptr<Work> m_work = std::make_unique<Work>();
    // What the package needs of the sheet, kept once it is finished.
    SpilledPieces m_pieces;
    std::uint32_t m_crc = 0;
    std::uint64_t m_length = 0;
    std::uint64_t m_compressedSize = 0;
    std::int32_t m_firstRow = INT32_MAX;
    std::int32_t m_lastRow = -1;
    std::int32_t m_firstColumn = INT32_MAX;
    std::int32_t m_lastColumn = -1;

    std::map<std::int32_t, double> m_widths;
    std::map<std::int32_t, double> m_heights;  // of rows with pictures, after deletions
    std::vector<Rect> m_merges;                // after deletions
    std::vector<SheetLink> m_links;
    std::int64_t m_linksLeftOut = 0;  // past the links a sheet holds
    std::vector<SheetPicture> m_pictures;
    std::vector<std::int32_t> m_breaks;  // rows before deletions
    std::optional<std::string> m_password;
    bool m_rightToLeft = false;
    bool m_active = false;
};

struct BatchSheetPool {
    std::mutex mutex;
    std::vector<std::unique_ptr<XlsxBatchSheet>> spare;
};

class XlsxApplication : public ExcelApplication, public ExcelWorkbook {
public:
    ~XlsxApplication() override { discard(); }

    std::string Version() override { return "16.0"; }
    ExcelWorkbook& WorkbooksAdd() override;
    // No dialogue ever asks anything here.
    void SetDisplayAlerts(bool) override {}
    void Quit() override { discard(); }
    std::shared_ptr<ExcelWorksheet> NewBatchSheet() override;
    void SetWorkerThreads(std::int32_t threads) override { m_threads = std::max(threads, 1); }

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
    bool SaveCopyAs(const std::string& path, const std::function<bool()>& keep) override;
    void Close() override { discard(); }
    std::int64_t LinksLeftOut() const override { return m_linksLeftOut; }

    StyleTable& styles() { return m_styles; }
    // Packs the piece on a worker, or here when there is none.
    void pack(const std::shared_ptr<PackJob>& job) {
        if (m_pool) {
            m_pool->submit(job);
            return;
        }
        runPack(*job, m_scratch);
        job->done.store(true, std::memory_order_release);
    }
    // Packs the piece on the calling thread.
    void packHere(PackJob& job) {
        runPack(job, m_scratch);
        job.done.store(true, std::memory_order_release);
    }
    void wait(const PackJob& job) {
        if (!job.done.load(std::memory_order_acquire)) {
            m_pool->wait(job);
        }
    }
    std::size_t piecesInFlight() const { return 2 * static_cast<std::size_t>(m_threads); }
    SpillFile& spill() { return *m_spill; }

private:
    // Drops the workbook unsaved.
    void discard() {
        // The workers finish the pieces they hold before the sheets go.
        m_pool.reset();
        m_sheets.clear();
        m_styles.clear();
        m_spill.reset();
        m_keep = nullptr;
        m_open = false;
    }
    void writePackage(ZipWriter& zip);
    void storePicture(ZipWriter& zip, const std::string& path, const std::string& part);
    // Throws SaveDropped once the save being written is no longer to be kept.
    void checkKept() const;

    bool m_open = false;
    std::vector<std::unique_ptr<XlsxSheet>> m_sheets;
    StyleTable m_styles{kMaxCellFormats};
    std::unique_ptr<SpillFile> m_spill;
    std::int32_t m_threads = 1;
    std::function<bool()> m_keep;     // while a copy is saved
    std::int64_t m_linksLeftOut = 0;  // by the last copy saved
    std::unique_ptr<PackPool> m_pool;
    PackScratch m_scratch;
    std::shared_ptr<BatchSheetPool> m_batchSheets = std::make_shared<BatchSheetPool>();
};

void XlsxSheet::PlaceMadeRows(const std::shared_ptr<ExcelWorksheet>& made, std::int32_t first,
                              std::int32_t count, std::int32_t at, const ExcelFontFill& fill) {
    auto batch = std::dynamic_pointer_cast<XlsxBatchSheet>(made);
    if (!batch) {
        throw AutomationError("rows made by another application cannot be placed");
    }
    if (first < 1 || count < 0 || at < 1 || static_cast<std::int64_t>(at) + count - 1 > kMaxRows) {
        throw AutomationError("rows out of the sheet");
    }
    const std::int32_t start = at - 1;
    Work& w = work();
    if (start < w.rows.base() || start < w.settled ||
        (!w.placed.empty() && start < w.placed.back().at + w.placed.back().count)) {
        throw AutomationError("row " + std::to_string(at) + " is already written");
    }
    for (std::int32_t r = w.rows.base(); r < w.rows.end(); ++r) {
        const Row* row = w.rows.row(r);
        if (!row->cells.empty() || row->height >= 0) {
            throw AutomationError("rows written here and rows placed cannot mix");
        }
    }
    // Nothing may be written where these rows go.
    std::vector<Rect> merges;
    std::vector<Link> links;
    std::vector<Picture> pictures;
    std::vector<ColumnWidth> widths;
    w.rows.release(start + count, merges, links, pictures, widths);
    w.placed.push_back({std::move(batch), first - 1, count, start, fill});
}

void XlsxSheet::RowsSettled(std::int32_t row, const std::vector<ExcelRowBlock>& deleted) {
    Work& w = work();
    const std::int32_t limit = std::min(row, kMaxRows + 1) - 1;
    bool inOrder = true;
    for (const ExcelRowBlock& block : deleted) {
        if (block.first >= 1 && block.count > 0 && block.first - 1 < limit) {
            const auto [it, added] =
                w.settledDeletions.insert_or_assign(block.first - 1, block.count);
            // Blocks come page after page: most only extend the map.
            if (added && block.first - 1 > w.settledMap.last() && inOrder) {
                w.settledMap.add(block.first - 1, block.count);
            } else {
                inOrder = false;
            }
        }
    }
    if (!inOrder) {
        w.settledMap = RowMap(w.settledDeletions);
    }
    settleTo(limit, w.settledMap);
}

void XlsxSheet::settleTo(std::int32_t limit, const RowMap& map) {
    Work& w = work();
    while (!w.placed.empty() && w.placed.front().at + w.placed.front().count <= limit) {
        settlePlaced(w.placed.front(), map);
        w.placed.pop_front();
    }
    if (w.rows.end() > w.rows.base() && w.rows.base() < limit) {
        submitPending();
        settleOwnRows(limit, map);
    }
    w.settled = std::max(w.settled, limit);
}

void XlsxSheet::place(const Rect& rect, std::int32_t offset, const RowMap& map) {
    const std::int32_t first = map.keptFrom(rect.firstRow + offset, rect.lastRow + offset);
    const std::int32_t last = map.keptUpTo(rect.lastRow + offset, rect.firstRow + offset);
    if (first < 0 || last < 0 || (first == last && rect.firstColumn == rect.lastColumn)) {
        return;
    }
    m_merges.push_back({first, rect.firstColumn, last, rect.lastColumn});
}

void XlsxSheet::placePicture(const Picture& picture, std::int32_t final, const SheetRows& rows) {
    if (final < 0) {
        return;
    }
    m_pictures.push_back({final, picture.column, picture.path, picture.height, picture.width});
    if (const Row* row = rows.row(picture.row); row != nullptr && row->height >= 0) {
        m_heights[final] = row->height;
    }
}

// The cells that show a link's text, by row, then column, as the piece writes its rows.
void sortLinks(PackJob& job) {
    std::stable_sort(job.links.begin(), job.links.end(), [](const auto& a, const auto& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
}

std::string XlsxSheet::linkStyle() {
    CellStyle link;
    link.link = 1;
    return CellXml::styleAttribute(m_application.styles().intern(link));
}

std::optional<std::string> XlsxSheet::acceptLink(const std::string& address) {
    std::optional<std::string> link = workbookLink(address);
    // Past the links a sheet holds the text stays, without its link, and the export says so.
    if (link && static_cast<std::int64_t>(m_links.size()) >= kMaxLinksPerWorksheet) {
        ++m_linksLeftOut;
        return std::nullopt;
    }
    return link;
}

void XlsxSheet::settlePlaced(const Placed& placed, const RowMap& map) {
    const SheetRows& rows = placed.made->rows();
    Work& w = work();
    if (placed.made != w.made || placed.fill.firstColumn != w.madeFill.firstColumn ||
        placed.fill.lastColumn != w.madeFill.lastColumn || placed.fill.name != w.madeFill.name ||
        placed.fill.size != w.madeFill.size) {
        submitPending();
        w.made = placed.made;
        w.madeFill = placed.fill;
        // Numbered as cells use them: the styles a batch only passed through on the way to its
        // cells' take none of the workbook's formats.
        const std::uint32_t local = rows.styles().size();
        const bool filled = placed.fill.firstColumn <= placed.fill.lastColumn;
        w.madeNumbers.assign(filled ? 2 * local + 1 : local, kUnnumbered);
        if (filled) {
            numberMade(2 * local);
        }
        w.madeLinks.resize(rows.links().size());
        for (std::size_t i = 0; i < w.madeLinks.size(); ++i) {
            w.madeLinks[i] = i;
        }
        std::stable_sort(w.madeLinks.begin(), w.madeLinks.end(), [&](std::size_t a, std::size_t b) {
            return rows.links()[a].row < rows.links()[b].row;
        });
    }
    if (!w.pending) {
        w.pending = std::make_shared<PackJob>();
        w.pending->rows = &rows;
        w.pending->keep = placed.made;
        if (placed.fill.firstColumn <= placed.fill.lastColumn) {
            w.pending->fillBase = rows.styles().size();
            w.pending->fillFirst = placed.fill.firstColumn - 1;
            w.pending->fillLast = placed.fill.lastColumn - 1;
        }
    }
    PackJob& job = *w.pending;
    const std::int32_t offset = placed.at - placed.first;
    job.pages.push_back({placed.first, placed.count});
    const std::uint32_t fillBase = rows.styles().size();
    for (std::int32_t r = placed.first; r < placed.first + placed.count; ++r) {
        job.finalRows.push_back(map(r + offset));
        if (const Row* row = rows.row(r)) {
            job.cells += row->cells.size();
            for (const Cell& c : row->cells) {
                numberMade(c.style);
                if (c.column >= job.fillFirst && c.column <= job.fillLast) {
                    numberMade(fillBase + c.style);
                }
            }
        }
    }
    const std::int32_t end = placed.first + placed.count;
    auto rowOf = [&](std::int32_t r) { return map(r + offset); };
    for (const Rect& rect : rows.merges()) {
        if (rect.firstRow >= placed.first && rect.firstRow < end) {
            place(rect, offset, map);
        }
    }
    const auto& links = rows.links();
    auto at = std::lower_bound(w.madeLinks.begin(), w.madeLinks.end(), placed.first,
                               [&](std::size_t i, std::int32_t r) { return links[i].row < r; });
    for (; at != w.madeLinks.end() && links[*at].row < end; ++at) {
        const Link& link = links[*at];
        const std::int32_t final = rowOf(link.row);
        if (final < 0) {
            continue;
        }
        if (const auto target = acceptLink(link.address)) {
            m_links.push_back({final, link.column, *target});
            job.links.push_back({link.row, link.column, link.text});
            if (job.linkStyle.empty()) {
                job.linkStyle = linkStyle();
            }
        }
    }
    for (const Picture& picture : rows.pictures()) {
        if (picture.row >= placed.first && picture.row < end) {
            placePicture(picture, rowOf(picture.row), rows);
        }
    }
    for (const ColumnWidth& width : rows.widths()) {
        if (width.row >= placed.first && width.row < end) {
            m_widths[width.column] = width.width;
        }
    }
    if (job.cells >= kPieceCells) {
        submitPending();
    }
}

void XlsxSheet::settleOwnRows(std::int32_t limit, const RowMap& map) {
    StyleTable& workbook = m_application.styles();
    Work& w = work();
    const std::int32_t from = w.rows.base();
    const std::int32_t to = std::min(limit, w.rows.end());
    // Only the styles the rows' cells use take a number of the workbook.
    w.ownNumbers.resize(w.ownStyles.size(), kUnnumbered);
    for (std::int32_t r = from; r < to; ++r) {
        for (const Cell& c : w.rows.row(r)->cells) {
            if (w.ownNumbers[c.style] == kUnnumbered) {
                w.ownNumbers[c.style] = w.ownStyles.internIn(workbook, c.style);
            }
        }
    }
    auto job = std::make_shared<PackJob>();
    job->rows = &w.rows;
    job->styles = w.ownNumbers;
    job->ownFits = &w.ownFits;
    job->pages.push_back({from, to - from});
    for (std::int32_t r = from; r < to; ++r) {
        job->finalRows.push_back(map(r));
        if (const Row* row = w.rows.row(r); row != nullptr && row->height >= 0 && map(r) >= 0) {
            m_heights[map(r)] = row->height;
        }
    }
    for (const Link& link : w.rows.links()) {
        if (link.row < to && map(link.row) >= 0) {
            if (const auto target = acceptLink(link.address)) {
                m_links.push_back({map(link.row), link.column, *target});
                job->links.push_back({link.row, link.column, link.text});
                if (job->linkStyle.empty()) {
                    job->linkStyle = linkStyle();
                }
            }
        }
    }
    sortLinks(*job);
    // Written here and now: the rows change as soon as they are let go.
    m_application.packHere(*job);
    job->rows = nullptr;
    std::vector<Rect> merges;
    std::vector<Link> links;
    std::vector<Picture> pictures;
    std::vector<ColumnWidth> widths;
    w.rows.release(limit, merges, links, pictures, widths);
    for (const Rect& rect : merges) {
        place(rect, 0, map);
    }
    for (const Picture& picture : pictures) {
        if (map(picture.row) >= 0) {
            m_pictures.push_back(
                {map(picture.row), picture.column, picture.path, picture.height, picture.width});
        }
    }
    submit(std::move(job));
}

std::uint32_t XlsxSheet::numberMade(std::uint32_t id) {
    Work& w = work();
    std::uint32_t& number = w.madeNumbers[id];
    if (number != kUnnumbered) {
        return number;
    }
    const StyleTable& local = w.made->rows().styles();
    StyleTable& workbook = m_application.styles();
    if (id < local.size()) {
        number = local.internIn(workbook, id);
        return number;
    }
    // The fill's columns: the style with the fill's font, and last an empty place's.
    CellStyle style =
        id < 2 * local.size() ? workbook.style(numberMade(id - local.size())) : CellStyle{};
    if (!w.madeFill.name.empty()) {
        style.fontName = workbook.nameId(w.madeFill.name);
    }
    if (w.madeFill.size != 0) {
        style.fontSize = w.madeFill.size;
    }
    number = workbook.intern(style);
    return number;
}

void XlsxSheet::submitPending() {
    Work& w = work();
    if (w.pending) {
        // Every style the piece's cells use is numbered by now.
        w.pending->styles = w.madeNumbers;
        sortLinks(*w.pending);
        submit(std::move(w.pending));
        w.pending.reset();
    }
}

void XlsxSheet::submit(std::shared_ptr<PackJob> job) {
    if (!job->done.load(std::memory_order_acquire)) {
        m_application.pack(job);
    }
    work().jobs.push_back(std::move(job));
    drain(false);
}

void XlsxSheet::drain(bool all) {
    Work& w = work();
    while (!w.jobs.empty()) {
        PackJob& job = *w.jobs.front();
        if (!job.done.load(std::memory_order_acquire) && !all &&
            w.jobs.size() <= m_application.piecesInFlight()) {
            return;
        }
        m_application.wait(job);
        if (job.failure) {
            try {
                std::rethrow_exception(job.failure);
            } catch (const std::exception& error) {
                throw AutomationError(error.what());
            }
        }
        try {
            m_application.spill().Append(job.compressed, m_pieces);
        } catch (const std::exception& error) {
            throw AutomationError(error.what());
        }
        m_crc = Crc32Combine(m_crc, job.crc, job.length);
        m_length += job.length;
        m_compressedSize += job.compressed.size();
        if (w.madeFits.size() < job.fits.size()) {
            w.madeFits.resize(job.fits.size());
        }
        for (std::size_t c = 0; c < job.fits.size(); ++c) {
            w.madeFits[c].widest = std::max(w.madeFits[c].widest, job.fits[c].widest);
        }
        m_firstRow = std::min(m_firstRow, job.firstRow);
        m_lastRow = std::max(m_lastRow, job.lastRow);
        m_firstColumn = std::min(m_firstColumn, job.firstColumn);
        m_lastColumn = std::max(m_lastColumn, job.lastColumn);
        w.jobs.pop_front();
    }
}

void XlsxSheet::autoFitColumn(std::int32_t column) {
    submitPending();
    drain(true);
    // The rows written so far were measured in order; those held go on from there.
    Work& w = work();
    Fit fit = static_cast<std::size_t>(column) < w.ownFits.size()
                  ? w.ownFits[static_cast<std::size_t>(column)]
                  : Fit{};
    FitMeasure measure(w.ownStyles);
    for (std::int32_t r = w.rows.base(); r < w.rows.end(); ++r) {
        const auto& cells = w.rows.row(r)->cells;
        const auto it =
            std::lower_bound(cells.begin(), cells.end(), column,
                             [](const Cell& a, std::int32_t b) { return a.column < b; });
        if (it != cells.end() && it->column == column) {
            w.rows.fitCell(fit, r, *it, measure);
        }
    }
    double widest = fit.widest;
    if (static_cast<std::size_t>(column) < w.madeFits.size()) {
        widest = std::max(widest, w.madeFits[static_cast<std::size_t>(column)].widest);
    }
    if (widest > 0) {
        m_widths[column] = std::min(widest + 0.71, 255.0);
    }
}

void XlsxSheet::deleteRows(std::int32_t first, std::int32_t count) {
    // first counts the rows that are left: find the original row it names. Deletions mostly come
    // top to bottom, after every block deleted so far.
    Work& w = work();
    const auto last = w.deleted.empty() ? w.deleted.end() : std::prev(w.deleted.end());
    std::int64_t original = std::int64_t{first} + w.deletedCount;
    if (last != w.deleted.end() && original < std::int64_t{last->first} + last->second) {
        original = first;
        for (const auto& [start, n] : w.deleted) {
            if (start > original) {
                break;
            }
            original += n;
        }
    }
    std::int64_t remaining = count;
    while (remaining > 0) {
        const auto next = w.deleted.lower_bound(static_cast<std::int32_t>(original));
        const std::int64_t gap = next == w.deleted.end() ? remaining : next->first - original;
        const std::int64_t take = std::min(gap, remaining);
        if (take > 0) {
            w.deleted[static_cast<std::int32_t>(original)] = static_cast<std::int32_t>(take);
            w.deletedCount += take;
        }
        remaining -= take;
        original += take;
        if (remaining > 0 && next != w.deleted.end()) {
            original += next->second;
        }
    }
}

void XlsxSheet::finish() {
    if (!m_work) {
        return;
    }
    Work& w = *m_work;
    // The rows written already took the deletions promised for them, and only those.
    auto within = [&w](const std::map<std::int32_t, std::int32_t>& blocks,
                       const std::map<std::int32_t, std::int32_t>& others) {
        for (const auto& [start, count] : blocks) {
            if (start >= w.settled) {
                break;
            }
            const auto it = others.find(start);
            if (it == others.end() || it->second != count) {
                return false;
            }
        }
        return true;
    };
    if (!within(w.deleted, w.settledDeletions) || !within(w.settledDeletions, w.deleted)) {
        throw AutomationError("rows were deleted after they were written");
    }
    settleTo(INT32_MAX, RowMap(w.deleted));
    submitPending();
    drain(true);
    const RowMap map(w.deleted);
    std::vector<std::int32_t> breaks;
    for (const std::int32_t before : m_breaks) {
        const std::int32_t row = map(before);
        if (row > 0 && breaks.size() < kMaxBreaks) {
            breaks.push_back(row);
        }
    }
    m_breaks.swap(breaks);
    m_work.reset();
}

SheetSettings XlsxSheet::settings(bool selected) const {
    SheetSettings s;
    if (m_lastRow >= 0 && m_lastColumn >= 0) {
        s.dimension.clear();
        appendCellReference(s.dimension, m_firstRow, m_firstColumn);
        if (m_firstRow != m_lastRow || m_firstColumn != m_lastColumn) {
            s.dimension += ':';
            appendCellReference(s.dimension, m_lastRow, m_lastColumn);
        }
    }
    s.rightToLeft = m_rightToLeft;
    s.selected = selected;
    s.widths.assign(m_widths.begin(), m_widths.end());
    s.password = m_password;
    s.merges = m_merges;
    s.links = m_links;
    s.breaks = m_breaks;
    return s;
}

std::shared_ptr<ExcelWorksheet> XlsxApplication::NewBatchSheet() {
    std::unique_ptr<XlsxBatchSheet> sheet;
    {
        const std::lock_guard lock(m_batchSheets->mutex);
        if (!m_batchSheets->spare.empty()) {
            sheet = std::move(m_batchSheets->spare.back());
            m_batchSheets->spare.pop_back();
        }
    }
    if (!sheet) {
        sheet = std::make_unique<XlsxBatchSheet>();
    }
    sheet->clear();
    // A sheet given back keeps the room its rows took, for the next batch.
    return std::shared_ptr<XlsxBatchSheet>(sheet.release(),
                                           [pool = m_batchSheets](XlsxBatchSheet* given) {
                                               const std::lock_guard lock(pool->mutex);
                                               if (pool->spare.size() < kSpareBatchSheets) {
                                                   pool->spare.emplace_back(given);
                                               } else {
                                                   delete given;
                                               }
                                           });
}

ExcelWorkbook& XlsxApplication::WorkbooksAdd() {
    discard();
    m_open = true;
    m_spill = std::make_unique<SpillFile>("sheets");
    if (m_threads > 1) {
        m_pool = std::make_unique<PackPool>(m_threads);
    }
    WorksheetsAddAfterLast();
    return *this;
}

void XlsxApplication::WorksheetsAddAfterLast() {
    if (!m_open) {
        throw AutomationError("no workbook is open");
    }
    // The sheets before are not written again: each is finished as the next one comes.
    if (!m_sheets.empty()) {
        m_sheets.back()->finish();
    }
    m_sheets.push_back(std::make_unique<XlsxSheet>(*this));
}

void XlsxApplication::writePackage(ZipWriter& zip) {
    std::vector<std::string> names;
    std::size_t active = 0;
    bool found = false;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        names.push_back("Sheet" + std::to_string(i + 1));
        if (!found && m_sheets[i]->active()) {
            active = i;
            found = true;
        }
    }
    // Pictures that can be read, each file once.
    std::map<std::string, std::string> media;  // path -> part name
    std::vector<std::string> extensions;
    std::vector<std::vector<SheetPicture>> pictures(m_sheets.size());
    std::vector<std::vector<std::string>> pictureMedia(m_sheets.size());
    std::vector<std::int32_t> drawings;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        for (const SheetPicture& picture : m_sheets[i]->pictures()) {
            auto it = media.find(picture.path);
            if (it == media.end()) {
                double width = 0;
                double height = 0;
                std::string head;
                if (!readPictureHead(picture.path, head)) {
                    continue;
                }
                const auto kind = PictureKind(head);
                if (!kind || !imageSize(head, width, height)) {
                    continue;
                }
                it = media
                         .emplace(picture.path,
                                  "image" + std::to_string(media.size() + 1) + "." + *kind)
                         .first;
                if (std::find(extensions.begin(), extensions.end(), *kind) == extensions.end()) {
                    extensions.push_back(*kind);
                }
            }
            pictures[i].push_back(picture);
            pictureMedia[i].push_back(it->second);
        }
        if (!pictures[i].empty()) {
            drawings.push_back(static_cast<std::int32_t>(drawings.size() + 1));
        }
    }
    zip.add("[Content_Types].xml", ContentTypes(m_sheets.size(), drawings, extensions));
    zip.add("_rels/.rels", PackageRelationships());
    zip.add("docProps/app.xml", AppProperties(names));
    zip.add("docProps/core.xml", CoreProperties(std::time(nullptr)));
    zip.add("xl/workbook.xml", WorkbookXml(names, active));
    zip.add("xl/_rels/workbook.xml.rels", WorkbookRelationships(m_sheets.size()));
    zip.add("xl/styles.xml", StylesXml(m_styles));
    zip.add("xl/theme/theme1.xml", ThemeXml());
    DeflatePieces deflate;
    std::int32_t drawing = 0;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        const XlsxSheet& sheet = *m_sheets[i];
        SheetSettings settings = sheet.settings(i == active);
        settings.drawing = !pictures[i].empty();
        const std::string head = SheetHead(settings);
        const std::string tail = SheetTail(settings);
        std::string headPiece;
        std::string tailPiece;
        deflate.compress(head, headPiece, false);
        deflate.compress(tail, tailPiece, true);
        std::uint32_t crc = Crc32(head);
        crc = Crc32Combine(crc, sheet.crc(), sheet.length());
        crc = Crc32Combine(crc, Crc32(tail), tail.size());
        const std::string name = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        zip.addDeflated(name, headPiece.size() + sheet.compressedSize() + tailPiece.size(),
                        head.size() + sheet.length() + tail.size(), crc,
                        [&](const ZipWriter::Sink& sink) {
                            sink(headPiece);
                            m_spill->ReadBack(sheet.pieces(), kReadBackBytes, sink);
                            sink(tailPiece);
                        });
        if (settings.drawing) {
            ++drawing;
        }
        const std::string relationships = SheetRelationships(settings, drawing);
        if (!relationships.empty()) {
            zip.add("xl/worksheets/_rels/sheet" + std::to_string(i + 1) + ".xml.rels",
                    relationships);
        }
    }
    drawing = 0;
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (pictures[i].empty()) {
            continue;
        }
        ++drawing;
        const XlsxSheet& sheet = *m_sheets[i];
        const SheetSettings settings = sheet.settings(false);
        const std::vector<std::pair<std::int32_t, double>> heights(sheet.heights().begin(),
                                                                   sheet.heights().end());
        const std::string number = std::to_string(drawing);
        zip.add("xl/drawings/drawing" + number + ".xml",
                DrawingXml(pictures[i], settings.widths, heights));
        zip.add("xl/drawings/_rels/drawing" + number + ".xml.rels",
                DrawingRelationships(pictureMedia[i]));
    }
    for (const auto& [path, part] : media) {
        storePicture(zip, path, "xl/media/" + part);
    }
    zip.finish();
}

void XlsxApplication::checkKept() const {
    if (m_keep && !m_keep()) {
        throw SaveDropped{};
    }
}

// Read twice, block by block, so that a picture of any size passes through a block of memory:
// once for the CRC the entry's header states, once into the package.
void XlsxApplication::storePicture(ZipWriter& zip, const std::string& path,
                                   const std::string& part) {
    ReadOnlyFile file;
    std::string problem;
    if (!file.openRegular(path, problem)) {
        throw AutomationError(problem + ": the picture cannot be read");
    }
    std::string block(kReadBackBytes, '\0');
    const auto pass = [&](const std::function<void(std::string_view)>& take) {
        std::uint64_t length = 0;
        std::uint32_t crc = 0;
        for (;;) {
            checkKept();
            const std::int64_t n = file.readAt(static_cast<std::int64_t>(length), block.data(),
                                               static_cast<std::int64_t>(block.size()));
            if (n < 0) {
                throw AutomationError(
                    path + ": the picture cannot be read: " + systemErrorText(file.errorNumber()));
            }
            if (n == 0) {
                return std::pair{length, crc};
            }
            const std::string_view piece(block.data(), static_cast<std::size_t>(n));
            crc = Crc32(piece, crc);
            length += piece.size();
            take(piece);
        }
    };
    const auto first = pass([](std::string_view) {});
    zip.storeWritten(part, first.first, first.second, [&](const ZipWriter::Sink& sink) {
        const auto copied = pass([&sink](std::string_view piece) { sink(piece); });
        if (copied != first) {
            throw AutomationError(path + ": the picture changed while it was saved");
        }
    });
}

bool XlsxApplication::SaveCopyAs(const std::string& path, const std::function<bool()>& keep) {
    if (!m_open) {
        throw AutomationError(path + ": no workbook is open");
    }
    ReplacingFile file(path);
    if (!file.create()) {
        throw AutomationError(file.error());
    }
    m_keep = keep;
    try {
        m_linksLeftOut = 0;
        for (const auto& sheet : m_sheets) {
            sheet->finish();
            m_linksLeftOut += sheet->linksLeftOut();
        }
        ZipWriter zip([this, &file](std::string_view data) {
            checkKept();
            if (!file.write(data)) {
                throw AutomationError(file.error());
            }
        });
        writePackage(zip);
    } catch (const SaveDropped&) {
        discard();
        return false;
    } catch (const AutomationError&) {
        discard();
        throw;
    } catch (const std::exception& error) {
        discard();
        throw AutomationError(path + ": " + error.what());
    }
    discard();
    if (!file.commit(keep)) {
        if (file.error().empty()) {
            return false;
        }
        throw AutomationError(file.error());
    }
    return true;
}

}  // namespace

std::unique_ptr<ExcelApplication> StartXlsxApplication() {
    return std::make_unique<XlsxApplication>();
}

}  // namespace paginor
