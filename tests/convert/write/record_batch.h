#pragma once

// Pages of output records built by hand, as the engine hands them to the workbook writer.

#include <deque>
#include <string>
#include <vector>

#include "convert/convert_types.h"
#include "convert/write/excel_writer.h"

namespace paginor::testing {

class RecordBatch {
public:
    // References that add returns stay valid for the small batches of the tests.
    RecordBatch() { m_records.reserve(1024); }

    tagOutputCellInfo& add(std::int32_t page, std::int32_t row, std::int32_t column,
                           std::string text) {
        m_texts.push_back(std::move(text));
        tagOutputCellInfo record;
        record.page = page;
        record.row = row;
        record.column = column;
        record.text = m_texts.back().c_str();
        record.textLength = static_cast<std::int32_t>(m_texts.back().size());
        m_records.push_back(record);
        return m_records.back();
    }
    void pages(std::initializer_list<std::uint32_t> rows) { m_rows = rows; }

    // The page table the engine would give, over the records added.
    tagOutputPageInfo* pageTable() {
        m_pages.clear();
        for (const std::uint32_t rows : m_rows) {
            tagOutputPageInfo page;
            page.records = m_records.data();
            page.rowCount = rows;
            m_pages.push_back(page);
        }
        for (const auto& record : m_records) {
            ++m_pages[static_cast<std::size_t>(record.page)].recordCount;
        }
        m_batch.pages = m_pages.data();
        return m_pages.data();
    }
    std::int32_t pageCount() const { return static_cast<std::int32_t>(m_rows.size()); }
    std::int32_t recordCount() const { return static_cast<std::int32_t>(m_records.size()); }

    void write(CExcelWriter& writer, std::int32_t firstPage, std::int32_t columns,
               ExcelMadeBatch* made = nullptr) {
        tagOutputPageInfo* pages = pageTable();
        writer.WriteBatch(firstPage, false, false, pageCount(), columns, pages, m_batch,
                          recordCount(), made);
    }
    tagOutputBatchInfo& info() { return m_batch; }

private:
    std::deque<std::string> m_texts;
    std::vector<tagOutputCellInfo> m_records;
    std::vector<std::uint32_t> m_rows;
    std::vector<tagOutputPageInfo> m_pages;
    tagOutputBatchInfo m_batch;
};

}  // namespace paginor::testing
