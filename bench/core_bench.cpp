// Load speed, memory and page latency of the report core on large generated reports.
//
//   paginor-core-bench [--sizes 64,512] [--folder DIR]
//
// For every size (MiB) and kind (HTML and HTMLCSS, with and without page marks) it writes a
// report, reads it once to warm the cache, then measures in a child process each: a baseline pass
// (pread in 3 MiB windows plus memchr for '<') and CReportCore::Init, the best of three runs of
// each taken in turn in fresh processes, their peak resident memory, and GetPage for the first, the
// second, a middle and the last page. Two hostile files of tiny positioned divs follow, which no
// page division fits: one without any layout (each div holds a letter), one whose pair layout holds
// for the first 2^20 divs and is lost behind them; Init must refuse them (code 3) in bounded
// memory. It prints one line per file and checks the targets; the exit status is 1 when a target is
// missed.
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/report_core.h"
#include "tests/support/report_generator.h"

namespace {

using Clock = std::chrono::steady_clock;

// Files of tiny positioned divs that no page division fits.
enum class Hostile { None, NoLayout, LayoutLost };

struct Kind {
    const char* name;
    paginor::GeneratedFormat format;
    bool marks;
    double maxRatio;  // Init's time over the baseline's
    Hostile hostile = Hostile::None;
};

constexpr Kind kKinds[] = {
    {"html", paginor::GeneratedFormat::Html, false, 3.0},
    {"html+marks", paginor::GeneratedFormat::Html, true, 3.0},
    {"htmlcss", paginor::GeneratedFormat::HtmlCss, false, 8.0},
    {"htmlcss+marks", paginor::GeneratedFormat::HtmlCss, true, 1.3},
    {"no layout", paginor::GeneratedFormat::HtmlCss, false, 8.0, Hostile::NoLayout},
    {"layout lost", paginor::GeneratedFormat::HtmlCss, false, 8.0, Hostile::LayoutLost},
};

constexpr int kRuns = 3;
// The divs of the hostile file that keep a pair layout: the split's first check.
constexpr std::int64_t kLayoutDivs = 1 << 20;

// What the child measures; sent back through a pipe.
struct Measure {
    double baselineSeconds = 0;
    double initSeconds = 0;
    double firstPageSeconds = 0;
    double secondPageSeconds = 0;
    double middlePageSeconds = 0;
    double lastPageSeconds = 0;
    std::int64_t pages = 0;
    std::int64_t openingBrackets = 0;
    std::int32_t code = 0;
    char error[256] = {};
};

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

std::int64_t baselinePass(const std::string& path) {
    constexpr std::size_t kWindow = 3145728;
    std::vector<char> window(kWindow);
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    std::int64_t offset = 0;
    std::int64_t count = 0;
    for (;;) {
        ssize_t n = pread(fd, window.data(), kWindow, offset);
        if (n <= 0) {
            break;
        }
        const char* p = window.data();
        const char* end = p + n;
        while ((p = static_cast<const char*>(std::memchr(p, '<', end - p))) != nullptr) {
            ++count;
            ++p;
        }
        offset += n;
    }
    close(fd);
    return count;
}

// Tiny divs up to bytes, TOPs in no order past the first layoutDivs (a pair layout before them).
bool writeHostile(const std::string& path, std::int64_t bytes, bool letters,
                  std::int64_t layoutDivs) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    std::string text = "<html><head></head><body>\r\n";
    std::int64_t written = 0;
    unsigned state = 12345;
    for (std::int64_t i = 0; written + static_cast<std::int64_t>(text.size()) < bytes; ++i) {
        state = state * 1103515245u + 12345u;
        const std::int64_t top = i < layoutDivs ? i % 2 + i / 2 * 40 : 1 + (state >> 16) % 30000;
        text +=
            "<div style=\"top:" + std::to_string(top) + "pt\">" + (letters ? "x" : "") + "</div>";
        if (text.size() >= 1 << 20) {
            written += static_cast<std::int64_t>(std::fwrite(text.data(), 1, text.size(), out));
            text.clear();
        }
    }
    text += "\r\n</body>\r\n</html>\r\n";
    std::fwrite(text.data(), 1, text.size(), out);
    return std::fclose(out) == 0;
}

// Best of a few runs of GetPage for one page.
double pageSeconds(paginor::CReportCore& core, std::int32_t page) {
    double best = 1e9;
    std::string document;
    for (int i = 0; i < 20; ++i) {
        Clock::time_point start = Clock::now();
        core.GetPage(page, page, document, false);
        best = std::min(best, seconds(start));
    }
    return best;
}

// One run: the baseline, Init and, with pages set, GetPage.
void measureInChild(const std::string& path, bool pages, Measure& m) {
    // The baseline's window and Init's come from fresh memory, as for a process that opens its
    // first report: the allocator is kept from serving the second from the first's freed pages.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // A process's first pass over the file runs slower: that one is not counted.
    baselinePass(path);
    Clock::time_point start = Clock::now();
    m.openingBrackets = baselinePass(path);
    m.baselineSeconds = seconds(start);
    paginor::CReportCore core;
    try {
        start = Clock::now();
        core.Init(path, nullptr, false, nullptr, nullptr, nullptr);
        m.initSeconds = seconds(start);
        m.pages = core.GetPageCount();
        if (!pages) {
            return;
        }
        m.firstPageSeconds = pageSeconds(core, 1);
        m.secondPageSeconds =
            pageSeconds(core, std::min<std::int32_t>(2, static_cast<std::int32_t>(m.pages)));
        m.middlePageSeconds = pageSeconds(core, static_cast<std::int32_t>((m.pages + 1) / 2));
        m.lastPageSeconds = pageSeconds(core, static_cast<std::int32_t>(m.pages));
    } catch (const paginor::ReportError& error) {
        m.initSeconds = seconds(start);
        m.code = error.code();
        std::snprintf(m.error, sizeof m.error, "%s", core.GetErrorText().c_str());
    }
}

// Runs measureInChild in a process of its own; false when that process failed.
bool measureInProcess(const std::string& path, bool pages, Measure& m, double& peakMiB) {
    int channel[2];
    if (pipe(channel) != 0) {
        return false;
    }
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        Measure measured;
        measureInChild(path, pages, measured);
        ssize_t written = write(channel[1], &measured, sizeof measured);
        _exit(written == sizeof measured ? 0 : 1);
    }
    close(channel[1]);
    ssize_t got = read(channel[0], &m, sizeof m);
    close(channel[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return got == sizeof m;
}

bool runOne(const std::string& folder, const Kind& kind, int mebibytes) {
    paginor::ReportSpec spec;
    spec.format = kind.format;
    spec.pageMarks = kind.marks;
    spec.targetBytes = static_cast<std::int64_t>(mebibytes) * 1024 * 1024;
    spec.rowsPerPage = 40;
    std::string name = kind.name;
    std::replace(name.begin(), name.end(), ' ', '-');
    const std::string path = folder + "/bench-" + name + "-" + std::to_string(mebibytes) + ".htm";
    std::vector<paginor::GeneratedPage> pages;
    std::string error;
    if (kind.hostile != Hostile::None) {
        if (!writeHostile(path, spec.targetBytes, kind.hostile == Hostile::NoLayout,
                          kind.hostile == Hostile::LayoutLost ? kLayoutDivs : 0)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return false;
        }
    } else if (!paginor::writeReport(path, spec, pages, error)) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    baselinePass(path);  // warm the cache

    // The best time of each over the runs, each run in a fresh process; the memory of the worst.
    Measure m;
    double peakMiB = 0;
    bool measured = true;
    for (int run = 0; run < kRuns && measured; ++run) {
        Measure one;
        double onePeakMiB = 0;
        measured = measureInProcess(path, run + 1 == kRuns, one, onePeakMiB);
        if (run > 0) {
            one.baselineSeconds = std::min(one.baselineSeconds, m.baselineSeconds);
            one.initSeconds = std::min(one.initSeconds, m.initSeconds);
        }
        m = one;
        peakMiB = std::max(peakMiB, onePeakMiB);
    }
    unlink(path.c_str());
    if (!measured) {
        std::fprintf(stderr, "%s: the measuring process failed\n", kind.name);
        return false;
    }
    const double megabytes = static_cast<double>(spec.targetBytes) / 1e6;
    const double ratio = m.initSeconds / m.baselineSeconds;
    if (kind.hostile != Hostile::None) {
        // Refused in memory that does not grow with the file: what the layout kept needs.
        const double layoutPages = kind.hostile == Hostile::LayoutLost ? kLayoutDivs / 2 : 0;
        const double limitMiB = 64.0 + 48.0 * layoutPages / 1048576.0;
        const bool refused = m.code == 3;
        const bool memoryOk = peakMiB <= limitMiB;
        std::printf(
            "%-14s %5d MiB  refused with code %d%s after %.2f s  peak %6.1f MiB (<= %.0f)%s\n",
            kind.name, mebibytes, m.code, refused ? "" : " MISSED", m.initSeconds, peakMiB,
            limitMiB, memoryOk ? "" : " MISSED");
        std::fflush(stdout);
        return refused && memoryOk;
    }
    if (m.error[0] != '\0') {
        std::printf("%-14s %5d MiB  load failed: %s\n", kind.name, mebibytes, m.error);
        return false;
    }

    const double memoryLimitMiB = 64.0 + 48.0 * static_cast<double>(m.pages) / 1048576.0;
    // Page 1 starts at TOP 0 and needs no TOP rewriting, so the pages after it are compared with
    // the first page that does.
    const double lastOverFirst =
        m.lastPageSeconds / std::max(m.firstPageSeconds, m.secondPageSeconds);
    const bool speedOk = ratio <= kind.maxRatio;
    const bool memoryOk = mebibytes < 512 || peakMiB <= memoryLimitMiB;
    const bool pagesOk = lastOverFirst <= 2.0 && m.pages == static_cast<std::int64_t>(pages.size());
    std::printf(
        "%-14s %5d MiB %9lld pages  baseline %7.0f MB/s  Init %7.0f MB/s  ratio %4.2f (<= %.0f)%s"
        "  peak %6.1f MiB%s  GetPage first %.3f ms, second %.3f ms, middle %.3f ms, last %.3f "
        "ms%s\n",
        kind.name, mebibytes, static_cast<long long>(m.pages), megabytes / m.baselineSeconds,
        megabytes / m.initSeconds, ratio, kind.maxRatio, speedOk ? "" : " MISSED", peakMiB,
        memoryOk ? "" : " MISSED", m.firstPageSeconds * 1e3, m.secondPageSeconds * 1e3,
        m.middlePageSeconds * 1e3, m.lastPageSeconds * 1e3, pagesOk ? "" : " MISSED");
    std::fflush(stdout);
    return speedOk && memoryOk && pagesOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes = {64, 512};
    std::string folder = "/tmp";
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--sizes" && i + 1 < argc) {
            sizes.clear();
            for (char* p = argv[++i]; *p != '\0';) {
                char* end = nullptr;
                long size = std::strtol(p, &end, 10);
                if (end == p || size <= 0) {
                    std::fprintf(stderr, "--sizes takes sizes in MiB such as 64,512\n");
                    return 2;
                }
                sizes.push_back(static_cast<int>(size));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (argument == "--folder" && i + 1 < argc) {
            folder = argv[++i];
        } else {
            std::fprintf(stderr, "usage: paginor-core-bench [--sizes 64,512] [--folder DIR]\n");
            return 2;
        }
    }
    bool allMet = true;
    for (int size : sizes) {
        for (const Kind& kind : kKinds) {
            allMet = runOne(folder, kind, size) && allMet;
        }
    }
    std::printf(allMet ? "All targets met.\n" : "Some targets were missed.\n");
    return allMet ? 0 : 1;
}
