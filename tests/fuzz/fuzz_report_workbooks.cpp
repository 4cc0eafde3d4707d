// Loads arbitrary bytes as a report and converts all its pages to the web archive and to the xlsx
// workbook, with images, fonts, colours and value detection on. A conversion may refuse the report
// with its error and then leaves no file; one that succeeds writes a whole file: the archive ends
// with its closing boundary and is plain 7-bit text, the workbook is a zip package.

#include <cstddef>
#include <cstdint>
#include <string>

#include "convert/write/workbook_archive.h"
#include "core/report_core.h"
#include "tests/fuzz/fuzz_conversion.h"

using namespace paginor;

namespace {

bool isSevenBit(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
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

    struct Output {
        ExportFileFormat format;
        const char* name;
    };
    for (const Output& output : {Output{ExportFileFormat::ExcelCompatible, "out.mht"},
                                 Output{ExportFileFormat::NativeExcel, "out.xlsx"}}) {
        ExcelOutputOptions options;
        options.firstPage = 1;
        options.lastPage = pages;
        options.fileFormat = output.format;
        options.colour = true;
        options.font = true;
        options.images = true;
        options.textFormatDetection = true;
        options.mergeSpannedCells = true;
        options.markPages = true;
        options.outputPath = fuzz::scratchFolder() + "/" + output.name;
        if (!fuzz::convertOrRefuseCleanly(core, options, output.name)) {
            continue;
        }
        const std::string written = fuzz::readWhole(options.outputPath);
        if (output.format == ExportFileFormat::ExcelCompatible) {
            const std::string end = std::string("--") + WorkbookArchive::kBoundary + "--";
            fuzz::check(written.size() >= end.size() &&
                            written.compare(written.size() - end.size(), end.size(), end) == 0,
                        "an archive that succeeds is whole");
            fuzz::check(isSevenBit(written), "an archive is 7-bit text");
        } else {
            fuzz::check(written.rfind("PK\x03\x04", 0) == 0, "a workbook that succeeds is whole");
        }
    }
    return 0;
}
