#include "convert/write/xlsx/pack.h"

#include <algorithm>
#include <charconv>

namespace paginor::xlsx {

namespace {

// Writes one row's cells: its links' texts in their cells, the fill's empty places, and the
// cells as they are, each measured for its column's width as it goes.
class RowWriter {
public:
    RowWriter(PackJob& job, PackScratch& s, FitMeasure& measure)
        : m_job(job), m_s(s), m_measure(measure) {}

    void write(std::int32_t r, std::int32_t final, const Row* row, std::vector<Fit>& fits,
               std::size_t& link) {
        m_r = r;
        m_fits = &fits;
        m_link = &link;
        m_fill = m_job.fillFirst;
        m_s.cells.startRow(m_s.xml, final, row != nullptr ? row->height : -1);
        m_job.firstRow = std::min(m_job.firstRow, final);
        m_job.lastRow = std::max(m_job.lastRow, final);
        if (row != nullptr) {
            for (const Cell& c : row->cells) {
                before(c.column);
                cell(c);
            }
        }
        before(INT32_MAX);
        CellXml::endRow(m_s.xml);
    }

private:
    bool linkAt(std::int32_t column) const {
        return *m_link < m_job.links.size() && m_job.links[*m_link].row == m_r &&
               m_job.links[*m_link].column == column;
    }
    std::int32_t nextLinkColumn() const {
        return *m_link < m_job.links.size() && m_job.links[*m_link].row == m_r
                   ? m_job.links[*m_link].column
                   : INT32_MAX;
    }
    void wrote(std::int32_t column) {
        m_job.firstColumn = std::min(m_job.firstColumn, column);
        m_job.lastColumn = std::max(m_job.lastColumn, column);
    }
    void writeLink() {
        const PackJob::LinkText& link = m_job.links[(*m_link)++];
        m_s.cells.textWith(m_s.xml, link.column, m_job.linkStyle, link.text);
        wrote(link.column);
        m_fill = std::max(m_fill, link.column + 1);
    }
    // The links and the fill's places before column.
    void before(std::int32_t column) {
        const auto fillBlank = static_cast<std::uint32_t>(m_job.styles.size() - 1);
        for (;;) {
            const std::int32_t until = std::min(column, nextLinkColumn());
            for (; m_fill <= m_job.fillLast && m_fill < until; ++m_fill) {
                m_s.cells.blank(m_s.xml, m_fill, fillBlank);
                wrote(m_fill);
            }
            if (until == column) {
                return;
            }
            writeLink();
        }
    }
    Fit& fitOf(std::int32_t column) {
        if (static_cast<std::size_t>(column) >= m_fits->size()) {
            m_fits->resize(static_cast<std::size_t>(column) + 1);
        }
        return (*m_fits)[static_cast<std::size_t>(column)];
    }
    void cell(const Cell& c) {
        const std::int32_t column = c.column;
        const SheetRows& rows = *m_job.rows;
        m_fill = std::max(m_fill, column + 1);
        if (linkAt(column)) {
            // The cell's own value still widens its column.
            rows.fitCell(fitOf(column), m_r, c, m_measure);
            writeLink();
            return;
        }
        const bool inFill = column >= m_job.fillFirst && column <= m_job.fillLast;
        const std::uint32_t style = inFill ? m_job.fillBase + c.style : c.style;
        switch (c.type) {
            case CellType::Text: {
                const std::string_view text = rows.textOf(c);
                rows.fitCell(fitOf(column), m_r, c, text, m_measure);
                m_s.cells.text(m_s.xml, column, style, text);
                wrote(column);
                break;
            }
            case CellType::Number: {
                char digits[32];
                const char* end = formatNumber(digits, c.number);
                const std::string_view text(digits, static_cast<std::size_t>(end - digits));
                rows.fitCell(fitOf(column), m_r, c, text, m_measure);
                m_s.cells.number(m_s.xml, column, style, text);
                wrote(column);
                break;
            }
            case CellType::Blank:
                if (m_job.styles[style] != 0) {
                    m_s.cells.blank(m_s.xml, column, style);
                    wrote(column);
                }
                break;
        }
    }

    PackJob& m_job;
    PackScratch& m_s;
    FitMeasure& m_measure;
    std::int32_t m_r = 0;
    std::vector<Fit>* m_fits = nullptr;
    std::size_t* m_link = nullptr;
    std::int32_t m_fill = 0;
};

void writeRows(PackJob& job, PackScratch& s) {
    const SheetRows& rows = *job.rows;
    s.cells.setStyles(job.styles);
    FitMeasure measure(rows.styles());
    RowWriter writer(job, s, measure);
    std::size_t next = 0;
    std::size_t link = 0;
    const bool filled = job.fillFirst <= job.fillLast;
    for (const PackJob::Page& page : job.pages) {
        std::vector<Fit>& fits = job.ownFits != nullptr ? *job.ownFits : s.pageFits;
        if (job.ownFits == nullptr) {
            fits.clear();
        }
        for (std::int32_t r = page.first; r < page.first + page.count; ++r) {
            const std::int32_t final = job.finalRows[next++];
            const Row* row = rows.row(r);
            while (link < job.links.size() && job.links[link].row < r) {
                ++link;
            }
            const bool linked = link < job.links.size() && job.links[link].row == r;
            const bool content = row != nullptr && (!row->cells.empty() || row->height >= 0);
            if (final >= 0 && (content || linked || filled)) {
                writer.write(r, final, row, fits, link);
                continue;
            }
            if (row == nullptr) {
                continue;
            }
            // Automatic widths measure every row, deleted ones too.
            for (const Cell& c : row->cells) {
                if (c.column >= fits.size()) {
                    fits.resize(static_cast<std::size_t>(c.column) + 1);
                }
                rows.fitCell(fits[c.column], r, c, measure);
            }
        }
        if (job.ownFits == nullptr) {
            if (job.fits.size() < fits.size()) {
                job.fits.resize(fits.size());
            }
            for (std::size_t c = 0; c < fits.size(); ++c) {
                job.fits[c].widest = std::max(job.fits[c].widest, fits[c].widest);
                job.fits[c].longest = std::max(job.fits[c].longest, fits[c].longest);
            }
        }
    }
}

}  // namespace

void runPack(PackJob& job, PackScratch& s) {
    try {
        s.xml.clear();
        writeRows(job, s);
        job.crc = Crc32(s.xml.view());
        job.length = s.xml.view().size();
        job.compressed.clear();
        s.deflate.compress(s.xml.view(), job.compressed, false);
    } catch (...) {
        job.failure = std::current_exception();
    }
}

}  // namespace paginor::xlsx
