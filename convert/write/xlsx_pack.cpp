#include "convert/write/xlsx_pack.h"

#include <algorithm>

namespace paginor::xlsx {

namespace {

void writeRows(PackJob& job, PackScratch& s) {
    const SheetRows& rows = *job.rows;
    CellXml& xml = s.cells;
    xml.setStyles(job.styles);
    std::size_t next = 0;
    std::size_t link = 0;
    for (const PackJob::Page& page : job.pages) {
        std::vector<Fit>& fits = job.ownFits != nullptr ? *job.ownFits : s.pageFits;
        if (job.ownFits == nullptr) {
            fits.clear();
        }
        for (std::int32_t r = page.first; r < page.first + page.count; ++r) {
            const std::int32_t final = job.finalRows[next++];
            const Row* row = rows.row(r);
            if (row != nullptr) {
                // Automatic widths measure every row, deleted ones too.
                for (const Cell& c : row->cells) {
                    if (c.column >= fits.size()) {
                        fits.resize(static_cast<std::size_t>(c.column) + 1);
                    }
                    rows.fitCell(fits[c.column], r, c, s.wide);
                }
            }
            while (link < job.links.size() && job.links[link].row < r) {
                ++link;
            }
            if (final < 0) {
                continue;
            }
            const bool cells = row != nullptr && !row->cells.empty();
            const bool linked = link < job.links.size() && job.links[link].row == r;
            const bool filled = job.fillFirst <= job.fillLast;
            const double height = row != nullptr ? row->height : -1;
            if (!cells && !linked && !filled && height < 0) {
                continue;
            }
            xml.startRow(s.xml, final, height);
            job.firstRow = std::min(job.firstRow, final);
            job.lastRow = std::max(job.lastRow, final);
            std::int32_t fill = job.fillFirst;
            auto wrote = [&](std::int32_t column) {
                job.firstColumn = std::min(job.firstColumn, column);
                job.lastColumn = std::max(job.lastColumn, column);
            };
            const std::uint32_t fillBlank = static_cast<std::uint32_t>(job.styles.size() - 1);
            static const std::vector<Cell> kNone;
            for (const Cell& c : cells ? row->cells : kNone) {
                const std::int32_t column = c.column;
                // Links and fill before this cell.
                for (;;) {
                    const bool linkNext = link < job.links.size() && job.links[link].row == r &&
                                          job.links[link].column < column;
                    const std::int32_t until = linkNext ? job.links[link].column : column;
                    for (; fill <= job.fillLast && fill < until; ++fill) {
                        xml.blank(s.xml, fill, fillBlank);
                        wrote(fill);
                    }
                    if (!linkNext) {
                        break;
                    }
                    xml.textWith(s.xml, until, job.linkStyle, job.links[link].text);
                    wrote(until);
                    fill = std::max(fill, until + 1);
                    ++link;
                }
                if (link < job.links.size() && job.links[link].row == r &&
                    job.links[link].column == column) {
                    xml.textWith(s.xml, column, job.linkStyle, job.links[link].text);
                    wrote(column);
                    ++link;
                    fill = std::max(fill, column + 1);
                    continue;
                }
                const bool inFill = column >= job.fillFirst && column <= job.fillLast;
                const std::uint32_t style = inFill ? job.fillBase + c.style : c.style;
                switch (c.type) {
                    case CellType::Text:
                        xml.text(s.xml, column, style, rows.textOf(c));
                        wrote(column);
                        break;
                    case CellType::Number:
                        xml.number(s.xml, column, style, c.number);
                        wrote(column);
                        break;
                    case CellType::Blank:
                        if (job.styles[style] != 0) {
                            xml.blank(s.xml, column, style);
                            wrote(column);
                        }
                        break;
                }
                fill = std::max(fill, column + 1);
            }
            // What is left of the row: its other links and the rest of the fill.
            for (;;) {
                const bool linkNext = link < job.links.size() && job.links[link].row == r;
                const std::int32_t until = linkNext ? job.links[link].column : INT32_MAX;
                for (; fill <= job.fillLast && fill < until; ++fill) {
                    xml.blank(s.xml, fill, fillBlank);
                    wrote(fill);
                }
                if (!linkNext) {
                    break;
                }
                xml.textWith(s.xml, until, job.linkStyle, job.links[link].text);
                wrote(until);
                fill = std::max(fill, until + 1);
                ++link;
            }
            CellXml::endRow(s.xml);
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
        job.crc = Crc32(s.xml);
        job.length = s.xml.size();
        job.compressed.clear();
        s.deflate.compress(s.xml, job.compressed, false);
    } catch (...) {
        job.failure = std::current_exception();
    }
}

}  // namespace paginor::xlsx
