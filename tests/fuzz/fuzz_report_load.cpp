// Loads arbitrary bytes as a report, then asks for what the viewer and printing ask: the page
// count, the first, the last and all pages, the print runs, the printing directives, the page
// height and the information page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/report_core.h"
#include "tests/fuzz/fuzz_support.h"

using namespace paginor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    fuzz::keepOffline(text);
    const std::string path = fuzz::writeScratchFile("report.htm", text);

    CReportCore core;
    try {
        core.Init(path, nullptr, false, nullptr, nullptr, nullptr);
    } catch (const ReportError&) {
        fuzz::check(!core.GetErrorText().empty(), "a failed load gives a message");
        return 0;
    }
    const std::int32_t pages = core.GetPageCount();
    fuzz::check(pages >= 1, "a loaded report has a page");
    std::int64_t previousEnd = 0;
    for (const tagPageInfo& page : core.pageTable()) {
        fuzz::check(page.start >= previousEnd && page.length >= 0 &&
                        page.start + page.length <= core.fileSize(),
                    "pages lie in order inside the file",
                    std::to_string(page.start) + "+" + std::to_string(page.length));
        previousEnd = page.start + page.length;
    }

    std::string left, right, top, bottom;
    core.GetMarginDirectives(left, right, top, bottom);
    try {
        std::int32_t height = 0;
        core.GetPageHeight(&height);
    } catch (const ReportError&) {
        fuzz::check(!core.GetErrorText().empty(), "a failed page height gives a message");
    }

    std::string document;
    for (auto [first, last] : {std::pair{1, 1}, std::pair{pages, pages}, std::pair{1, pages}}) {
        try {
            core.GetPage(first, last, document, true);
            fuzz::check(document.size() >= core.head().size(), "a page holds the head");
        } catch (const ReportError&) {
            fuzz::check(!core.GetErrorText().empty(), "a failed page gives a message");
        }
    }
    try {
        std::vector<tagPageRun> runs;
        core.SplitPageRange(1, pages, runs);
        std::int32_t next = 1;
        for (const tagPageRun& run : runs) {
            fuzz::check(run.first == next && run.last >= run.first && run.last <= pages,
                        "the runs cover the range in order");
            next = run.last + 1;
        }
        fuzz::check(next == pages + 1, "the runs cover the whole range");
    } catch (const ReportError&) {
        fuzz::check(!core.GetErrorText().empty(), "a failed split gives a message");
    }
    std::string info;
    core.GetInfo(info);
    return 0;
}
