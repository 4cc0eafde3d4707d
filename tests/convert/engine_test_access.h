#pragma once

// Reaches into the engine so that tests can set up a grid and run one pass on it.

#include <memory>

#include "convert/convert_engine.h"
#include "convert/layout/frame_store.h"

namespace paginor {

struct EngineTestAccess {
    static void setMode(CConvertEngine& e, std::int32_t mode) { e.m_mode = mode; }
    static void setOutputKind(CConvertEngine& e, std::int32_t kind) { e.m_outputKind = kind; }
    static void setPageCount(CConvertEngine& e, std::int32_t pages) { e.m_pageCount = pages; }
    static std::vector<std::int32_t>& pageTops(CConvertEngine& e) { return e.m_pageTops; }
    static void allocGrid(CConvertEngine& e, std::int32_t rows, std::int32_t columns) {
        e.AllocGrid(rows, columns);
    }
    static tagGridCell& cell(CConvertEngine& e, std::int32_t row, std::int32_t column) {
        return e.at(row, column);
    }
    static tagGridRowInfo& row(CConvertEngine& e, std::int32_t row) { return e.m_rows[row]; }
    static tagGridColumnInfo& column(CConvertEngine& e, std::int32_t column) {
        return e.m_columns[column];
    }
    static std::int32_t& outputColumnCount(CConvertEngine& e) { return e.m_outputColumnCount; }
    static void countCells(CConvertEngine& e) {
        e.CountRowCells();
        e.CountColumnCells();
    }
    static FrameStore& frames(CConvertEngine& e) {
        if (e.m_frames == nullptr) {
            e.m_frames = std::make_unique<FrameStore>(e);
        }
        return *e.m_frames;
    }
    static void optimiseColumns(CConvertEngine& e, bool relaxed) { e.OptimiseColumns(relaxed); }
    static void mergeSpannedCells(CConvertEngine& e) { e.MergeSpannedCells(); }
    static void checkColumnOrdinals(CConvertEngine& e) { e.CheckColumnOrdinals(); }
    static bool layOutSideBySide(CConvertEngine& e) { return e.LayOutSideBySide(); }
};

}  // namespace paginor
