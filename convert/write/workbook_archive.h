#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "convert/convert_types.h"
#include "convert/write/batch_marks.h"
#include "convert/write/spill_file.h"
#include "mail/quoted_printable.h"

namespace paginor {

class CReportCore;

// What the cells of a batch are written with.
struct ArchiveCellSettings {
    std::int32_t codePage = 0;
    std::int32_t separatorMode = 0;
    bool images = false;
    std::string baseFolder;  // the report's: where links other than web addresses lead
};

// A batch's pages as HTML tables, made apart from the archive (possibly on another thread).
// Style classes are numbered across the archive: they stand as marks beside the text until the
// archive places the batch.
struct ArchiveBatch {
    struct Page {
        std::int32_t rows = 0;
        MarkedText table;
    };
    std::vector<Page> pages;
    std::vector<std::string> styles;  // by the marks' numbers
    std::int32_t commaDecimals = 0;
    std::int32_t pointDecimals = 0;
};

// Writes the pages of an export as one single-file web archive (MIME multipart/related) that a
// spreadsheet program opens as a workbook: a frameset listing the sheets, a style sheet, one HTML
// page per sheet with one table per report page, and the images of image cells. The frameset
// comes first but lists every sheet, so the sheets wait until the end: they go to an unnamed
// temporary file as they grow, and memory stays that of one batch.
class WorkbookArchive {
public:
    static constexpr std::int32_t SheetRowLimit = 65535;
    static constexpr const char kBoundary[] = "----=_NextPart_01C9ECD4.4FF9C280";

    using Sink = std::function<void(std::string_view)>;

    // separatorMode: 0 decide by the numbers met, 1 decimal comma, any other value decimal point.
    WorkbookArchive(CReportCore& report, std::int32_t separatorMode);
    ~WorkbookArchive();
    WorkbookArchive(const WorkbookArchive&) = delete;
    WorkbookArchive& operator=(const WorkbookArchive&) = delete;

    // Writes the pages of one batch, leaving out its reference pages. Only the batch's page table
    // is read. A failure throws and leaves the sheets as they were before the batch. The same as
    // MakeBatch and WriteBatch in turn, image cells fetched here.
    void WriteSheetTable(bool skipFirstPage, bool skipLastPage, std::int32_t pageCount,
                         std::int32_t columnCount, const tagOutputBatchInfo& batch,
                         std::time_t* activityStamp, std::int32_t recordCount, bool images);

    // Fetches an image cell's file and lists it for the archive: its location in the archive,
    // empty when it cannot be had.
    using ImageLocation = std::function<std::string(std::string_view source)>;
    ArchiveCellSettings cellSettings(bool images) const;
    // Whether making the batch needs its images fetched, which only the archive can do.
    static bool NeedsImages(const ArchiveCellSettings& settings, bool skipFirstPage,
                            bool skipLastPage, std::int32_t pageCount,
                            const tagOutputBatchInfo& batch, std::int32_t recordCount);
    // Makes the tables of one batch (arguments as WriteSheetTable's); imageLocation may be null
    // when the batch needs no images. Touches no archive.
    static void MakeBatch(const ArchiveCellSettings& settings, bool skipFirstPage,
                          bool skipLastPage, std::int32_t pageCount, std::int32_t columnCount,
                          const tagOutputBatchInfo& batch, std::int32_t recordCount,
                          const ImageLocation* imageLocation, ArchiveBatch& made);
    // Places a made batch after the batches placed before it.
    void WriteBatch(const ArchiveBatch& made, std::time_t* activityStamp);

    // The whole archive in pieces to sink; protect locks the sheets' contents.
    void WriteWorkbook(const Sink& sink, bool protect);

    // The class of the record's style, "" for none; fontTag tells that the font name cannot
    // stand in the class and goes into a font tag.
    std::string GetStyleClass(const tagOutputCellInfo& cell, bool& fontTag);
    // Text of the report's code page as 7-bit HTML text: markup characters escaped, every
    // character from 127 up as one decimal reference.
    void WriteTextAsAscii(std::string& out, std::string_view text) const;

    std::int32_t sheetCount() const { return static_cast<std::int32_t>(m_sheets.size()); }
    std::int32_t commaDecimalCount() const { return m_commaDecimals; }
    std::int32_t pointDecimalCount() const { return m_pointDecimals; }

    static void WriteArchiveHeader(const Sink& sink);
    // One quoted-printable part goes through one encoder, body. With a location the part's header
    // comes first.
    static void WriteQuotedPrintable(const Sink& sink, QuotedPrintableEncoder& body,
                                     std::string_view bytes, const char* location,
                                     std::string_view charset);
    static void WriteQuotedPrintableText(const Sink& sink, QuotedPrintableEncoder& body,
                                         const std::string& text, const char* location,
                                         std::string_view charset);
    void WriteSheetHead(const Sink& sink, QuotedPrintableEncoder& body, bool protect) const;
    static void WriteSheetEnd(const Sink& sink, QuotedPrintableEncoder& body);
    // The header of a base64 part, typed by the location's extension.
    static void WriteBase64PartHeader(const Sink& sink, std::string_view location);
    std::string BuildFrameset() const;
    std::string BuildStyleSheet() const;
    std::string BuildSheetHead(bool protect) const;

private:
    struct Sheet {
        SpilledPieces spilled;
        std::string text;  // the rest
    };
    std::string listImage(std::string_view source);
    void spill(Sheet& sheet);
    void WriteFilePart(const Sink& sink, const std::string& location, const std::string& path);

    CReportCore& m_report;
    std::int32_t m_separatorMode;
    std::vector<Sheet> m_sheets;
    std::int32_t m_sheetRows = 0;
    SpillFile m_spill{"sheets"};
    // Image source as written in the sheets, to its local file; in order of appearance.
    std::vector<std::pair<std::string, std::string>> m_images;
    std::unordered_map<std::string, std::size_t> m_imageIndex;
    // Style texts in class order, and each one's class number.
    std::vector<std::string> m_styles;
    std::unordered_map<std::string, std::int32_t> m_styleClasses;
    std::vector<std::int32_t> m_batchStyles;  // a batch's style marks to class numbers
    std::int32_t m_commaDecimals = 0;
    std::int32_t m_pointDecimals = 0;
};

}  // namespace paginor
