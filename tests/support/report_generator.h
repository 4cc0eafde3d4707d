#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace paginor {

// Synthetic Oracle Reports output for tests and benchmarks. The same ReportSpec always gives the
// same bytes, and the page table returned is the one a correct loader must find in them.

enum class GeneratedFormat { Html, HtmlCss };

// Keeps the TOP of every element of a 65536-page block within 32-bit signed values.
constexpr int kMaxRowsPerPage = 2000;
constexpr int kMaxRuledColumns = 8;

struct ReportSpec {
    GeneratedFormat format = GeneratedFormat::Html;
    bool pageMarks = false;
    int pages = 1;                 // at least this many pages
    std::int64_t targetBytes = 0;  // when > 0, pages are added until the file reaches this size
    int rowsPerPage = 20;          // 1..kMaxRowsPerPage
    // Text before page 1; empty gives defaultPrologue(format). Neither text may hold a table,
    // div or form tag, nor a page mark; an unmarked HTMLCSS epilogue holds no visible text.
    std::string prologue;
    std::string epilogue = "\r\n</body>\r\n</html>\r\n";
    unsigned seed = 1;  // varies the row text
    // HTMLCSS with page marks only: when above 0, every page draws its rows as a ruled table of
    // this many columns (a bordered box per cell, a heading row), with a title line above and a
    // "Page n of m" line below it.
    int ruledColumns = 0;
};

// Page p is entry p-1; its last byte is at start + length - 1.
struct GeneratedPage {
    std::int64_t start = 0;
    std::int64_t length = 0;

    friend bool operator==(const GeneratedPage&, const GeneratedPage&) = default;
};

std::string defaultPrologue(GeneratedFormat format);

// The constant distance between the TOP values of consecutive HTMLCSS pages within a 65536-page
// block; a loader reports it as the page height.
int pagePitch(const ReportSpec& spec);

// Empty when the report can be generated, else why not.
std::string checkSpec(const ReportSpec& spec);

// Writes the report to a temporary file beside path and renames it into place, so path never
// holds a partial report. False with error on a refused ReportSpec or an I/O failure (pages then
// empty).
bool writeReport(const std::string& path, const ReportSpec& spec, std::vector<GeneratedPage>& pages,
                 std::string& error);

// The report in memory, for small cases; throws std::invalid_argument on a bad spec.
std::string makeReport(const ReportSpec& spec, std::vector<GeneratedPage>& pages);

}  // namespace paginor
