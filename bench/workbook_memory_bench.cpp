// Peak memory of the workbook exports where a report's size could hold memory to the end.
//
//   paginor-workbook-memory-bench [--sheets 10000,70000] [--picture-mib 400] [--folder DIR]
//
// Many sheets: an HTML report of one-row pages exported to xlsx with one row a worksheet, so
// that every page is a sheet of its own; the memory a finished sheet keeps is the growth of the
// peak from the smallest to the largest count, divided by the sheets between them (target: at
// most 2 KiB a sheet). A large picture: a report whose one picture is a PNG of the size given,
// exported to xlsx and to the web archive with pictures on (target: each peak within 64 MiB of
// the same export's with a picture of 1 KiB). Each export runs in a process of its own on one
// thread; the exit status is 1 when a target is missed or an export fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_reports.h"
#include "bench/child_run.h"
#include "convert/conversion_driver.h"
#include "core/report_core.h"

namespace {

using namespace paginor::bench;
namespace fs = std::filesystem;

constexpr const char kHeadMark[] = "<!--9876543210_PageMark_Head-->";
constexpr const char kFootMark[] = "<!--9876543210_PageMark_Foot-->";
constexpr double kMaxBytesPerSheet = 2048;
constexpr double kMaxPictureGrowthMiB = 64;

bool convert(const std::string& report, const std::string& output, paginor::ExportFileFormat kind,
             std::int32_t rowsPerWorksheet) {
    paginor::CReportCore core;
    try {
        core.Init(report, nullptr, false, nullptr, nullptr, nullptr);
        paginor::ExcelOutputOptions options;
        options.firstPage = 1;
        options.lastPage = core.GetPageCount();
        options.fileFormat = kind;
        options.outputPath = output;
        options.rowsPerWorksheet = rowsPerWorksheet;
        options.images = true;
        options.threads = 1;
        paginor::OutputToExcelFile(core, options);
    } catch (const paginor::ReportError&) {
        std::fprintf(stderr, "%s\n", core.GetErrorText().c_str());
        return false;
    } catch (const paginor::ConversionError& error) {
        std::fprintf(stderr, "%s\n", error.text().c_str());
        return false;
    }
    return true;
}

bool writeSheetsReport(const std::string& path, int pages) {
    std::ofstream out(path, std::ios::binary);
    out << kHtmlReportHead;
    for (int page = 1; page <= pages; ++page) {
        out << kHeadMark << "<table width=\"300\"><tr><td width=\"100\">Item " << page
            << "</td><td width=\"100\">" << page * 7 << ".25</td><td width=\"100\">Page " << page
            << "</td></tr></table>" << kFootMark << "\r\n";
    }
    out << "</body>\r\n</html>\r\n";
    return static_cast<bool>(out);
}

bool writePictureReport(const std::string& folder, std::uint64_t pictureBytes) {
    // A PNG header of 1x1 pixels, then zeros to the size asked for.
    static constexpr unsigned char kPng[] = {0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A, 0x00,
                                             0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R',  0x00, 0x00,
                                             0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00,
                                             0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89};
    {
        std::ofstream picture(folder + "/picture.png", std::ios::binary);
        picture.write(reinterpret_cast<const char*>(kPng), sizeof kPng);
        const std::string zeros(1 << 20, '\0');
        for (std::uint64_t left = pictureBytes - sizeof kPng; left > 0;) {
            const std::uint64_t n = std::min<std::uint64_t>(left, zeros.size());
            picture.write(zeros.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
        if (!picture) {
            return false;
        }
    }
    std::ofstream out(folder + "/picture.htm", std::ios::binary);
    out << kHtmlReportHead << kHeadMark
        << "<table width=\"300\"><tr><td width=\"100\">Logo</td><td width=\"200\"><img "
           "src=\"picture.png\" width=\"40\" height=\"40\"></td></tr></table>"
        << kFootMark << "\r\n</body>\r\n</html>\r\n";
    return static_cast<bool>(out);
}

std::vector<int> numbers(const char* text) {
    std::vector<int> values;
    for (const char* at = text; *at != '\0';) {
        char* end = nullptr;
        values.push_back(static_cast<int>(std::strtol(at, &end, 10)));
        at = *end == ',' ? end + 1 : end;
    }
    return values;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sheets = {10000, 70000};
    int pictureMiB = 400;
    std::string folder;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--sheets") {
            sheets = numbers(argv[i + 1]);
        } else if (option == "--picture-mib") {
            pictureMiB = std::atoi(argv[i + 1]);
        } else if (option == "--folder") {
            folder = argv[i + 1];
        }
    }
    const bool ownFolder = folder.empty();
    if (ownFolder) {
        char name[] = "/tmp/paginor-workbook-memory-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = name;
    }
    bool missed = false;
    std::printf("| run | time | peak memory |\n|---|---|---|\n");
    std::vector<Run> sheetRuns;
    for (const int count : sheets) {
        const std::string report = folder + "/sheets-" + std::to_string(count) + ".htm";
        if (!writeSheetsReport(report, count)) {
            std::fprintf(stderr, "cannot write %s\n", report.c_str());
            return 1;
        }
        const Run run = inChild([&] {
            return convert(report, folder + "/sheets.xlsx", paginor::ExportFileFormat::NativeExcel,
                           1);
        });
        std::printf("| xlsx, %d sheets of one row | %.2f s | %.1f MiB |\n", count, run.seconds,
                    run.peakMiB);
        missed = missed || !run.ok;
        sheetRuns.push_back(run);
        fs::remove(report);
    }
    if (sheets.size() >= 2 && sheets.back() > sheets.front()) {
        const double perSheet = (sheetRuns.back().peakMiB - sheetRuns.front().peakMiB) * 1048576 /
                                (sheets.back() - sheets.front());
        std::printf("\nA finished sheet keeps %.0f bytes (target: at most %.0f).\n\n", perSheet,
                    kMaxBytesPerSheet);
        missed = missed || perSheet > kMaxBytesPerSheet;
    }
    struct Kind {
        paginor::ExportFileFormat format;
        const char* name;
        const char* file;
    };
    for (const Kind& kind :
         {Kind{paginor::ExportFileFormat::NativeExcel, "xlsx", "book.xlsx"},
          Kind{paginor::ExportFileFormat::ExcelCompatible, "web archive", "book.mht"}}) {
        Run small;
        for (const std::uint64_t bytes : {std::uint64_t{1024}, std::uint64_t(pictureMiB) << 20}) {
            if (!writePictureReport(folder, bytes)) {
                std::fprintf(stderr, "cannot write the picture report\n");
                return 1;
            }
            const Run run = inChild([&] {
                return convert(folder + "/picture.htm", folder + "/" + kind.file, kind.format, 0);
            });
            const bool large = bytes > 1024;
            std::error_code ignored;
            const double written =
                static_cast<double>(fs::file_size(folder + "/" + kind.file, ignored)) / 1048576;
            std::printf("| %s, a picture of %s (%.1f MiB written) | %.2f s | %.1f MiB |\n",
                        kind.name, large ? (std::to_string(pictureMiB) + " MiB").c_str() : "1 KiB",
                        written, run.seconds, run.peakMiB);
            missed = missed || !run.ok;
            if (!large) {
                small = run;
            } else if (run.peakMiB - small.peakMiB > kMaxPictureGrowthMiB) {
                std::printf("missed: the large picture takes %.1f MiB more (target: %.0f)\n",
                            run.peakMiB - small.peakMiB, kMaxPictureGrowthMiB);
                missed = true;
            }
            fs::remove(folder + "/" + kind.file);
        }
    }
    fs::remove(folder + "/picture.png");
    fs::remove(folder + "/picture.htm");
    if (ownFolder) {
        fs::remove_all(folder);
    }
    return missed ? 1 : 0;
}
