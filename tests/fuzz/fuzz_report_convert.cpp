// Loads arbitrary bytes as a report and converts all its pages to delimited text and to
// SpreadsheetML. A conversion may refuse the report with its error and then leaves no file; one
// that succeeds writes a whole file, and the workbook holds text when the delimited text does.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/report_core.h"
#include "tests/fuzz/fuzz_conversion.h"

using namespace paginor;

namespace {

// Letters and digits: what separators and quoting never add.
std::size_t countAlphanumerics(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) {
        count += (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::keepOffline(text);
    const std::string path = fuzz::writeScratchFile("report.htm", text);

    CReportCore core;
    std::int32_t pages = 0;
    try {
        core.Init(path, nullptr, false, nullptr, nullptr, nullptr);
        pages = core.GetPageCount();
    } catch (const ReportError&) {
        return 0;
    }

    bool delimitedHoldsText = false;
    struct Output {
        ExportFileFormat format;
        const char* name;
    };
    for (const Output& output : {Output{ExportFileFormat::Delimited, "out.txt"},
                                 Output{ExportFileFormat::SpreadsheetMl, "out.xml"}}) {
        ExcelOutputOptions options;
        options.firstPage = 1;
        options.lastPage = pages;
        options.fileFormat = output.format;
        options.rowsPerWorksheet = 65000;
        options.outputPath = fuzz::scratchFolder() + "/" + output.name;
        if (!fuzz::convertOrRefuseCleanly(core, options, output.name)) {
            continue;
        }
        const std::string written = fuzz::readWhole(options.outputPath);
        if (output.format == ExportFileFormat::Delimited) {
            // Pages without text give an empty file.
            delimitedHoldsText = countAlphanumerics(written) > 0;
        } else {
            fuzz::check(written.find("</Workbook>") != std::string::npos,
                        "a workbook that succeeds is whole");
            fuzz::check(!delimitedHoldsText || written.find("<Data ") != std::string::npos,
                        "a workbook holds the cells the delimited text holds");
        }
    }
    return 0;
}
