// The frame road of HTMLCSS batches: taken when frames hold more than 0.3 of the pieces and
// the frames can be cut into bands and slices; otherwise the batch, and every later batch of
// the conversion, takes the grid road with its pieces as read.

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "convert/convert_engine.h"
#include "convert/layout/cell_grid.h"
#include "convert/layout/frame_store.h"
#include "convert/layout/layout_tree.h"
#include "convert/read/box_reader.h"

namespace paginor {
namespace {

constexpr std::int32_t kWideFrame = 2000;  // frames wider than this bound the page's body

}  // namespace

std::vector<tagDivInfo*> CConvertEngine::RemoveOuterHeadersFooters() {
    const std::int32_t pages = m_pageCount;
    std::vector<std::int32_t> bodyTop(static_cast<std::size_t>(pages),
                                      std::numeric_limits<std::int32_t>::max());
    std::vector<std::int32_t> bodyBottom(static_cast<std::size_t>(pages),
                                         std::numeric_limits<std::int32_t>::min());
    for (std::int32_t i = 0; i < m_frames->frameCount(); ++i) {
        const tagFrameInfo& f = m_frames->GetFrame(i);
        if (std::int64_t{f.right} - f.left <= kWideFrame || f.page < 0 || f.page >= pages) {
            continue;
        }
        const auto p = static_cast<std::size_t>(f.page);
        bodyTop[p] = std::min(bodyTop[p], f.top);
        bodyBottom[p] = std::max(bodyBottom[p], f.bottom);
    }
    std::vector<tagDivInfo*> pending;
    std::vector<tagDivInfo*> moved;
    // A page whose body goes on in its frames may lose all of its outer rows: those above the
    // body as header, those below it as footer.
    std::vector<tagPageBody> bodies(static_cast<std::size_t>(pages));
    for (tagDivInfo* p = m_boxReader->pieces(); p != nullptr; p = p->next) {
        const auto page = static_cast<std::size_t>(std::clamp(p->page, 0, pages - 1));
        const bool noted = bodyTop[page] != std::numeric_limits<std::int32_t>::max();
        const bool inBody = noted && bodyTop[page] != bodyBottom[page] &&
                            verticalReference(*p) >= bodyTop[page] &&
                            std::int64_t{p->top} * 10 <= bodyBottom[page];
        (inBody ? pending : moved).push_back(p);
        if (inBody) {
            bodies[page] = tagPageBody{true, bodyTop[page], bodyBottom[page]};
        }
    }
    if (moved.empty()) {
        return pending;
    }
    for (std::size_t i = 0; i < moved.size(); ++i) {
        moved[i]->previous = i > 0 ? moved[i - 1] : nullptr;
        moved[i]->next = i + 1 < moved.size() ? moved[i + 1] : nullptr;
    }
    {
        CellGrid grid(*this, m_frames.get());
        grid.PlacePiecesInLines(moved.front(), nullptr);
        grid.MergeRowLines();
        grid.FillGrid(0, static_cast<std::int32_t>(grid.rowLines().size()), 0,
                      static_cast<std::int32_t>(grid.columnLines().size()));
        RemoveRepeatedHeaders(bodies);
        RemoveRepeatedFooters(bodies);
    }
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.occupancy == 1 && cell.piece != nullptr && cell.text != nullptr &&
                cell.kind != kKindCoveredCopy) {
                pending.push_back(static_cast<tagDivInfo*>(const_cast<void*>(cell.piece)));
            }
        }
    }
    return pending;
}

bool CConvertEngine::UseFrameRoad(std::int32_t* outputColumns) {
    FrameStore& frames = *m_frames;
    if (m_frameEngineAllowed && frames.frameCount() > 0) {
        m_frameRoadTried = true;
        // The trial may relink and rewrite pieces; the grid road gets them back as read.
        std::vector<tagDivInfo*> all;
        for (tagDivInfo* p = m_boxReader->pieces(); p != nullptr; p = p->next) {
            all.push_back(p);
        }
        std::vector<tagDivInfo> asRead;
        asRead.reserve(all.size());
        for (const tagDivInfo* p : all) {
            asRead.push_back(*p);
        }
        const LineList strips = frames.strips();
        std::vector<tagDivInfo*> pending =
            m_headerFooterRemoval ? RemoveOuterHeadersFooters() : all;
        if (frames.PrepareFrames(pending, m_pageCount)) {
            std::int64_t inFrame = 0;
            std::int64_t loose = 0;
            frames.SplitDivsByFrame(pending, inFrame, loose);
            // A share of exactly 0.3 stays on the grid road.
            if (inFrame + loose > 0 && inFrame * 10 > (inFrame + loose) * 3) {
                frames.DissolveThinFrames(pending);
                if (frames.frameCount() > 0) {
                    m_layoutTree = std::make_unique<LayoutTree>(*this, frames);
                    bool ok = false;
                    m_layoutTree->BuildLayoutTree(ok);
                    if (ok) {
                        m_layoutTree->DeferGapBoxes(pending);
                        m_layoutTree->AttachLooseDivs(pending);
                        trace("UseEngine102_start");
                        BuildFrameGrids();
                        trace("UseEngine102_start#1");
                        PlaceFrames(*outputColumns);
                        trace("UseEngine102_start#2");
                        return true;
                    }
                }
            }
        }
        for (std::size_t i = 0; i < all.size(); ++i) {
            *all[i] = asRead[i];
        }
        // Strips that frame preparation dropped still divide the page for the side-by-side test.
        frames.RestoreStrips(strips);
    }
    m_frameEngineAllowed = false;
    return false;
}

}  // namespace paginor
