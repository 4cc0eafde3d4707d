#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "core/report_core.h"
#include "tests/convert/convert_harness.h"
#include "tests/convert/report_texts.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;

// A 1x1 GIF, the picture the fixtures link to.
constexpr unsigned char kLogo[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04,
                                   0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                                   0x00, 0x01, 0x00, 0x00, 0x02, 0x01, 0x44, 0x00, 0x3B};

struct ReferenceCase {
    const char* name;
    std::function<std::string()> report;  // the report's text
    const char* extension;
    std::function<void(ExcelOutputOptions&)> options;
};

std::string fileText(const fs::path& path) {
    return testing::readFileText(path);
}

const fs::path kSamples(PAGINOR_SAMPLES_DIR);
const fs::path kFixtures(PAGINOR_CONVERT_FIXTURES);

// Reports and options that reach every part of the workbook: fonts, colours, alignment, merges
// over rows and columns, borders of ruled frames, links, pictures, page labels and breaks, rows
// deleted at the top and bottom of pages, sheets cut at a row count, dates and decimal commas,
// numbers kept as text, protection and right to left.
const std::vector<ReferenceCase>& referenceCases() {
    static const std::vector<ReferenceCase> cases = {
        {"sales-summary", [] { return fileText(kSamples / "sales-summary.htm"); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.colour = true;
             o.mergeSpannedCells = true;
             o.textFormatDetection = true;
             o.headerFooterRemoval = true;
             o.markPages = true;
         }},
        {"sales-summary-as-text", [] { return fileText(kSamples / "sales-summary.htm"); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.noNumberDetection = true;
             o.rowsDeletedAtTop = 2;
             o.rowsDeletedAtBottom = 1;
         }},
        {"order-listing", [] { return fileText(kSamples / "order-listing.rrph"); }, ".rrph",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.colour = true;
             o.mergeSpannedCells = true;
             o.textFormatDetection = true;
             o.headerFooterRemoval = true;
         }},
        {"framed", [] { return testing::framedReport("FFPFFEF"); }, ".rrph",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.colour = true;
             o.mergeSpannedCells = true;
         }},
        {"links-and-pictures", [] { return fileText(kFixtures / "sales_report.htm"); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.colour = true;
             o.images = true;
             o.mergeSpannedCells = true;
             o.textFormatDetection = true;
         }},
        {"invoice-listing", [] { return fileText(kFixtures / "htmlcss" / "invoice_listing.htm"); },
         ".htm",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.colour = true;
             o.images = true;
         }},
        {"long-cut-and-removed", [] { return testing::htmlReport(250); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.font = true;
             o.mergeSpannedCells = true;
             o.markPages = true;
             o.rowsPerWorksheet = 700;
             o.rowsDeletedAtTop = 1;
             o.rowsDeletedAtBottom = 1;
         }},
        {"conventions", [] { return testing::conventionsReport(250); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.textFormatDetection = true;
             o.decimalCommaMode = 1;
         }},
        {"protected-right-to-left", [] { return fileText(kFixtures / "sales_report.htm"); }, ".htm",
         [](ExcelOutputOptions& o) {
             o.password = "pw";
             o.textDirection = TextDirection::RightToLeft;
             o.rowsPerWorksheet = 6;
         }},
    };
    return cases;
}

class XlsxReference : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/xlsx-reference-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_dir = folder;
        std::ofstream(m_dir / "logo.gif", std::ios::binary)
            .write(reinterpret_cast<const char*>(kLogo), sizeof kLogo);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // The case's workbook, converted on the given number of threads.
    fs::path convert(const ReferenceCase& c, std::int32_t threads) {
        const fs::path report = m_dir / (std::string(c.name) + c.extension);
        std::ofstream(report, std::ios::binary) << c.report();
        CReportCore core;
        core.Init(report.string(), nullptr, false, nullptr, nullptr, nullptr);
        ExcelOutputOptions o;
        o.fileFormat = ExportFileFormat::NativeExcel;
        o.firstPage = 1;
        o.lastPage = static_cast<std::int32_t>(core.pageTable().size());
        o.outputPath = (m_dir / (std::string(c.name) + ".xlsx")).string();
        o.threads = threads;
        c.options(o);
        std::string written;
        o.writtenPath = &written;
        OutputToExcelFile(core, o);
        return written;
    }

    fs::path m_dir;
};

std::string facts(const fs::path& book, const std::string& reference = {}) {
    return testing::runCommand("/usr/bin/python3 " + std::string(PAGINOR_TESTS_DIR) +
                               "/convert/write/xlsx_facts.py '" + book.string() + "'" +
                               (reference.empty() ? "" : " '" + reference + "'") + " 2>&1");
}

// The workbooks read the same as those of the writer that saved them through libxlsxwriter, cell
// by cell and style by style, made on one thread or on four. The references are those workbooks'
// facts, but for a link to a local file, which is a file address now where that writer gave the
// path with backslashes; PAGINOR_XLSX_REFERENCES names a folder to write the facts of this build
// to instead.
TEST_F(XlsxReference, WorkbooksReadAsTheirReferences) {
    const char* record = std::getenv("PAGINOR_XLSX_REFERENCES");
    for (const ReferenceCase& c : referenceCases()) {
        SCOPED_TRACE(c.name);
        const std::string reference =
            (kFixtures / "xlsx" / (std::string(c.name) + ".facts.gz")).string();
        if (record != nullptr) {
            const fs::path book = convert(c, 1);
            std::ofstream(fs::path(record) / (std::string(c.name) + ".facts")) << facts(book);
            continue;
        }
        for (const std::int32_t threads : {1, 4}) {
            const fs::path book = convert(c, threads);
            EXPECT_EQ(facts(book, reference), "") << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace paginor
