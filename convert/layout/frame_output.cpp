// Output records of the frame road: the frames' cells, the pieces around each frame and the
// pieces between the bands, with rows made relative to their pages.

#include <algorithm>

#include "convert/convert_engine.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"

namespace paginor {
namespace {

std::uint32_t sizeWord(const tagDivInfo& piece) {
    const auto clamp = [](std::int32_t v) {
        return static_cast<std::uint32_t>(std::clamp(v, 0, 0xFFFF));
    };
    return clamp(piece.width) << 16 | clamp(piece.height);
}

void takePiece(tagOutputCellInfo& record, const tagDivInfo& piece) {
    record.text = piece.text;
    record.textLength = piece.textLength;
    record.fontColour = piece.fontColour;
    record.bold = piece.bold;
    record.fontName = piece.fontName;
    record.fontSize = piece.fontSize;
    record.kind = piece.kind;
    record.size = sizeWord(piece);
    record.page = piece.page;
}

bool hasText(const tagDivInfo& piece) {
    return piece.text != nullptr && piece.textLength > 0;
}

}  // namespace

void CConvertEngine::OutputFramesToRecords(std::int32_t /*columns*/, std::int32_t* recordCount,
                                           tagOutputBatchInfo* batch) {
    FrameStore& frames = *m_frames;
    // Counted exactly: a cell gives one record per piece in it.
    std::size_t count = m_deferredPieces.size();
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        tagFrameInfo& f = frames.GetFrame(i);
        for (const tagFrameCell& cell : f.grid) {
            count += std::max<std::size_t>(cell.pieces.size(), 1);
        }
        count += f.sides[kSideAbove - 1].size();
    }
    trace("bf_GetExcelOutputSpace");
    m_records.clear();
    m_records.reserve(count + 1);
    std::vector<std::int32_t> recordFrame;  // the frame of each record, -1 outside frames
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        tagFrameInfo& f = frames.GetFrame(i);
        std::vector<bool> written(f.grid.size(), false);
        for (std::int32_t r = 0; r < f.gridRows(); ++r) {
            for (std::int32_t c = 0; c < f.gridColumns(); ++c) {
                const tagFrameCell& cell = f.cell(r, c);
                if (cell.kind == kFrameCellCovered) {
                    continue;
                }
                const auto base = [&] {
                    tagOutputCellInfo record;
                    record.backgroundColour = cell.background;
                    record.rowSpan = cell.kind == kFrameCellOwner ? cell.rowSpan : 1;
                    record.columnSpan = cell.kind == kFrameCellOwner ? cell.columnSpan : 1;
                    record.framed = 1;
                    record.row = f.rowOffset + r;
                    record.column = f.columnOffset + c;
                    record.page = f.page;
                    return record;
                };
                if (cell.pieces.empty()) {
                    if (cell.kind != kFrameCellOwner && cell.background == kNoBackground) {
                        continue;
                    }
                    m_records.push_back(base());
                    recordFrame.push_back(i);
                    written[static_cast<std::size_t>(r) * f.gridColumns() + c] = true;
                    continue;
                }
                for (std::size_t k = 0; k < cell.pieces.size(); ++k) {
                    tagOutputCellInfo record = base();
                    takePiece(record, *cell.pieces[k]);
                    record.alignment = k > 0 ? 3 : 0;
                    m_records.push_back(record);
                    recordFrame.push_back(i);
                }
                written[static_cast<std::size_t>(r) * f.gridColumns() + c] = true;
            }
        }
        for (const tagDivInfo* p : f.sides[kSideAbove - 1]) {
            if (!hasText(*p)) {
                continue;
            }
            tagOutputCellInfo record;
            takePiece(record, *p);
            record.row = f.rowOffset + p->row;
            record.column = f.columnOffset + p->column;
            record.rowSpan = std::max(p->rowSpan, 1);
            record.columnSpan = std::max(p->columnSpan, 1);
            record.backgroundColour = frames.GetRegionColour(
                static_cast<std::int32_t>((std::int64_t{p->leftEdge} + p->rightEdge) / 2),
                p->centre);
            m_records.push_back(record);
            recordFrame.push_back(i);
        }
        if (m_outputKind == kOutputRecordsSml) {
            for (std::int32_t r = 0; r < f.gridRows(); ++r) {
                for (std::int32_t c = 0; c < f.gridColumns(); ++c) {
                    if (written[static_cast<std::size_t>(r) * f.gridColumns() + c] ||
                        f.cell(r, c).kind == kFrameCellCovered) {
                        continue;
                    }
                    tagOutputCellInfo record;
                    record.framed = 1;
                    record.row = f.rowOffset + r;
                    record.column = f.columnOffset + c;
                    record.page = f.page;
                    m_records.push_back(record);
                    recordFrame.push_back(i);
                }
            }
        }
    }
    for (const tagDivInfo* p : m_deferredPieces) {
        if (!hasText(*p)) {
            continue;
        }
        tagOutputCellInfo record;
        takePiece(record, *p);
        record.row = p->row;
        record.column = p->column;
        record.rowSpan = std::max(p->rowSpan, 1);
        record.columnSpan = std::max(p->columnSpan, 1);
        record.backgroundColour = frames.GetRegionColour(
            static_cast<std::int32_t>((std::int64_t{p->leftEdge} + p->rightEdge) / 2), p->centre);
        m_records.push_back(record);
        recordFrame.push_back(-1);
    }

    // Records follow one another page by page; rows become relative to their page.
    std::vector<std::size_t> order(m_records.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return m_records[a].page < m_records[b].page;
    });
    std::vector<tagOutputCellInfo> sorted;
    sorted.reserve(m_records.size() + 1);
    std::vector<std::int32_t> sortedFrame;
    for (const std::size_t k : order) {
        sorted.push_back(m_records[k]);
        sortedFrame.push_back(recordFrame[k]);
    }
    std::vector<std::int32_t> highest(static_cast<std::size_t>(m_pageCount), -1);
    std::vector<std::uint32_t> records(static_cast<std::size_t>(m_pageCount), 0);
    std::vector<std::uint32_t> frameCounts(static_cast<std::size_t>(m_pageCount), 0);
    for (const tagOutputCellInfo& record : sorted) {
        const auto p = static_cast<std::size_t>(std::clamp(record.page, 0, m_pageCount - 1));
        highest[p] = std::max(highest[p], record.row + record.rowSpan - 1);
        ++records[p];
    }
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        const auto p =
            static_cast<std::size_t>(std::clamp(frames.GetFrame(i).page, 0, m_pageCount - 1));
        ++frameCounts[p];
    }
    for (std::size_t p = 0; p < highest.size(); ++p) {
        if (highest[p] < 0) {
            highest[p] = p == 0 ? 0 : highest[p - 1];
        }
    }
    for (tagOutputCellInfo& record : sorted) {
        const auto p = static_cast<std::size_t>(std::clamp(record.page, 0, m_pageCount - 1));
        if (p > 0) {
            record.row -= highest[p - 1] + 1;
        }
    }
    for (std::int32_t i = 0; i < frames.frameCount(); ++i) {
        tagFrameInfo& f = frames.GetFrame(i);
        const auto p = static_cast<std::size_t>(std::clamp(f.page, 0, m_pageCount - 1));
        if (p > 0) {
            f.rowOffset -= highest[p - 1] + 1;
        }
    }
    const std::size_t total = sorted.size();
    sorted.emplace_back();
    m_records = std::move(sorted);
    if (batch != nullptr) {
        batch->frameCount = frames.frameCount();
        if (batch->pages != nullptr) {
            for (std::int32_t p = 0; p < m_pageCount; ++p) {
                const auto k = static_cast<std::size_t>(p);
                const std::int32_t rows =
                    p == 0 ? highest[k] + 1 : std::max(highest[k] - highest[k - 1], 0);
                batch->pages[p] = tagOutputPageInfo{m_records.data(), records[k], frameCounts[k],
                                                    static_cast<std::uint32_t>(rows), 0};
            }
        }
    }
    *recordCount = static_cast<std::int32_t>(total);
}

}  // namespace paginor
