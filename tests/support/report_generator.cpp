#include "tests/support/report_generator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <string_view>

#include "platform/sys_error.h"

namespace paginor {
namespace {

constexpr std::string_view kHeadMark = "<!--9876543210_PageMark_Head-->";
constexpr std::string_view kFootMark = "<!--9876543210_PageMark_Foot-->";
constexpr std::string_view kMarkPrefix = "<!--9876543210_PageMark_";
constexpr std::string_view kForbiddenInFrame[] = {"<table", "<div", "</div>", "<form ",
                                                  kMarkPrefix};

constexpr std::int64_t kBlockPages = 65536;
constexpr int kHeaderHeight = 48;
constexpr int kLineHeight = 12;
constexpr int kFooterHeight = 24;
// Ruled tables: the left edge, the first column's width and every other column's width.
constexpr int kRuledLeft = 36;
constexpr int kRuledFirstWidth = 180;
constexpr int kRuledWidth = 80;
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

constexpr std::string_view kWords[] = {
    "North",    "South",   "East",    "West",   "Central",   "Region", "Bolt",     "Nut",
    "Washer",   "Bracket", "Hinge",   "Spring", "Quarterly", "Total",  "Orders",   "Returns",
    "Customer", "Invoice", "Account", "Branch", "Delivery",  "Stock",  "Supplier", "Balance",
};

// splitmix64: tiny, and the same sequence on every platform and library.
class Random {
public:
    explicit Random(unsigned seed) : m_state(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }

private:
    std::uint64_t m_state;
};

void appendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, result.ptr);
}

void appendWords(std::string& out, Random& random) {
    const std::size_t count = 1 + random.below(4);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += kWords[random.below(std::size(kWords))];
    }
}

void appendAmount(std::string& out, Random& random) {
    const auto cents = static_cast<std::int64_t>(random.next() % 100000000);
    appendNumber(out, cents / 100);
    out += '.';
    out += static_cast<char>('0' + cents % 100 / 10);
    out += static_cast<char>('0' + cents % 10);
}

void appendTitle(std::string& out, std::int64_t pageNumber) {
    out += "<b>Sales by region, page ";
    appendNumber(out, pageNumber);
    out += "</b>";
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    auto equal = [&](char a, char b) { return lower(a) == lower(b); };
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), equal) != text.end();
}

// Bytes 33..127 outside tags, as a loader counts text.
bool hasVisibleText(std::string_view text) {
    bool inTag = false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        } else if (!inTag && byte >= 33 && byte <= 127) {
            return true;
        }
    }
    return false;
}

// Pages q with q mod 65536 of 0 or 1 both restart at TOP 0, as Oracle Reports does.
std::int64_t pageTop(std::int64_t pageNumber, int pitch) {
    const std::int64_t place = pageNumber % kBlockPages;
    return place == 0 ? 0 : (place - 1) * pitch;
}

void appendPositionedDiv(std::string& out, std::int64_t top, int left) {
    out += "<div style=\"position:absolute; top:";
    appendNumber(out, top);
    out += "pt; left:";
    appendNumber(out, left);
    out += "pt\">";
}

void appendPositionedSpan(std::string& out, std::string_view styleClass, std::int64_t top,
                          int left) {
    out += "<span class=\"";
    out += styleClass;
    out += "\" style=\"position:absolute; top:";
    appendNumber(out, top);
    out += "pt; left:";
    appendNumber(out, left);
    out += "pt\">";
}

void appendRightAlignedSpan(std::string& out, std::string_view styleClass, std::int64_t top,
                            int left, int width) {
    out += "<span class=\"";
    out += styleClass;
    out += "\" style=\"position:absolute; top:";
    appendNumber(out, top);
    out += "pt; left:";
    appendNumber(out, left);
    out += "pt; width:";
    appendNumber(out, width);
    out += "pt; text-align:right\">";
}

// Returns the page's place in out; an unmarked HTML page's length is only known once the next
// page starts, so it is left 0 here.
GeneratedPage appendHtmlPage(std::string& out, const ReportSpec& spec, std::int64_t pageNumber,
                             Random& random) {
    GeneratedPage page{static_cast<std::int64_t>(out.size()), 0};
    if (spec.pageMarks) {
        out += kHeadMark;
    }
    out += "<table border=0 cellspacing=0 cellpadding=0 width=612>\r\n<tr><td colspan=2>";
    appendTitle(out, pageNumber);
    out += "</td></tr>\r\n";
    for (int row = 0; row < spec.rowsPerPage; ++row) {
        out += "<tr><td><font size=2>";
        appendWords(out, random);
        out += "</font></td><td align=right><font size=2>";
        appendAmount(out, random);
        out += "</font></td></tr>\r\n";
    }
    out += "</table>";
    if (spec.pageMarks) {
        out += kFootMark;
        page.length = static_cast<std::int64_t>(out.size()) - page.start;
    }
    out += "\r\n";
    return page;
}

// Two positioned divs frame the rows, which are spans so that they never end a div early.
GeneratedPage appendHtmlCssPage(std::string& out, const ReportSpec& spec, int pitch,
                                std::int64_t pageNumber, Random& random) {
    GeneratedPage page{static_cast<std::int64_t>(out.size()), 0};
    const std::int64_t top = pageTop(pageNumber, pitch);
    appendPositionedDiv(out, top, 0);
    if (spec.pageMarks) {
        out += kHeadMark;
    } else {
        appendTitle(out, pageNumber);
    }
    out += "</div>\r\n";
    for (int row = 0; row < spec.rowsPerPage; ++row) {
        const std::int64_t rowTop = top + kHeaderHeight + std::int64_t{row} * kLineHeight;
        appendPositionedSpan(out, "c1", rowTop, 36);
        appendWords(out, random);
        out += "</span>";
        appendPositionedSpan(out, "c2", rowTop, 400);
        appendAmount(out, random);
        out += "</span>\r\n";
    }
    if (spec.pageMarks) {
        appendPositionedDiv(out, top + pitch - kFooterHeight, 0);
        out += kFootMark;
    } else {
        // The pair structure puts the second div one point below the first; on the last page of
        // a 65536-page block it carries no TOP (-1).
        appendPositionedDiv(out, pageNumber % kBlockPages == 0 ? -1 : top + 1, 500);
        out += "Page ";
        appendNumber(out, pageNumber);
    }
    out += "</div>";
    page.length = static_cast<std::int64_t>(out.size()) - page.start;
    out += "\r\n";
    return page;
}

void appendRuledBox(std::string& out, std::int64_t top, int left, int width, int height) {
    out += "<div style=\"position:absolute; top:";
    appendNumber(out, top);
    out += "pt; left:";
    appendNumber(out, left);
    out += "pt; width:";
    appendNumber(out, width);
    out += "pt; height:";
    appendNumber(out, height);
    out += "pt; border-style:solid\"></div>\r\n";
}

int ruledColumnLeft(int column) {
    return kRuledLeft + (column == 0 ? 0 : kRuledFirstWidth + (column - 1) * kRuledWidth);
}

// A marked page whose rows stand in a ruled table: the boxes first, then the texts, as the
// report server writes them. A title line stands above the table and a footer line below it.
GeneratedPage appendRuledPage(std::string& out, const ReportSpec& spec, int pitch,
                              std::int64_t pageNumber, Random& random) {
    GeneratedPage page{static_cast<std::int64_t>(out.size()), 0};
    const std::int64_t top = pageTop(pageNumber, pitch);
    const int columns = spec.ruledColumns;
    const std::int64_t tableTop = top + kHeaderHeight - kLineHeight;
    appendPositionedDiv(out, top, 0);
    out += kHeadMark;
    out += "</div>\r\n";
    const int tableWidth = ruledColumnLeft(columns) - kRuledLeft;
    appendRuledBox(out, tableTop, kRuledLeft, tableWidth, (spec.rowsPerPage + 1) * kLineHeight);
    for (int row = 0; row <= spec.rowsPerPage; ++row) {
        for (int column = 0; column < columns; ++column) {
            appendRuledBox(out, tableTop + std::int64_t{row} * kLineHeight, ruledColumnLeft(column),
                           column == 0 ? kRuledFirstWidth : kRuledWidth, kLineHeight);
        }
    }
    // The title line: the report's name, and the page number right-aligned over the table.
    appendPositionedSpan(out, "c2", top + kLineHeight, kRuledLeft);
    out += "Sales by region</span>";
    appendRightAlignedSpan(out, "c1", top + kLineHeight, kRuledLeft, tableWidth);
    out += "Page ";
    appendNumber(out, pageNumber);
    out += "</span>\r\n";
    for (int column = 0; column < columns; ++column) {
        appendPositionedSpan(out, "c2", tableTop + 1, ruledColumnLeft(column) + 2);
        if (column == 0) {
            out += "Region";
        } else {
            out += "Amount ";
            appendNumber(out, column);
        }
        out += "</span>";
    }
    out += "\r\n";
    for (int row = 0; row < spec.rowsPerPage; ++row) {
        const std::int64_t rowTop = top + kHeaderHeight + std::int64_t{row} * kLineHeight + 1;
        for (int column = 0; column < columns; ++column) {
            appendPositionedSpan(out, "c1", rowTop, ruledColumnLeft(column) + 2);
            if (column == 0) {
                appendWords(out, random);
            } else {
                appendAmount(out, random);
            }
            out += "</span>";
        }
        out += "\r\n";
    }
    appendPositionedSpan(out, "c1",
                         top + kHeaderHeight + std::int64_t{spec.rowsPerPage} * kLineHeight + 4,
                         kRuledLeft);
    out += "Printed by Paginor, page ";
    appendNumber(out, pageNumber);
    out += "</span>\r\n";
    appendPositionedDiv(out, top + pitch - 1, 0);
    out += kFootMark;
    out += "</div>";
    page.length = static_cast<std::int64_t>(out.size()) - page.start;
    out += "\r\n";
    return page;
}

// Builds the report in pieces of about kFlushBytes and hands each to sink (false stops).
template <typename Sink>
bool generate(const ReportSpec& spec, std::vector<GeneratedPage>& pages, Sink&& sink) {
    pages.clear();
    Random random(spec.seed);
    const int pitch = pagePitch(spec);
    const auto minimumPages = static_cast<std::size_t>(std::max(spec.pages, 1));
    const auto epilogueBytes = static_cast<std::int64_t>(spec.epilogue.size());

    std::string chunk = spec.prologue.empty() ? defaultPrologue(spec.format) : spec.prologue;
    chunk.reserve(kFlushBytes + 65536);
    std::int64_t flushed = 0;
    auto written = [&] { return flushed + static_cast<std::int64_t>(chunk.size()); };

    while (pages.size() < minimumPages || written() + epilogueBytes < spec.targetBytes) {
        const auto pageNumber = static_cast<std::int64_t>(pages.size()) + 1;
        GeneratedPage page =
            spec.format == GeneratedFormat::Html ? appendHtmlPage(chunk, spec, pageNumber, random)
            : spec.ruledColumns > 0 ? appendRuledPage(chunk, spec, pitch, pageNumber, random)
                                    : appendHtmlCssPage(chunk, spec, pitch, pageNumber, random);
        page.start += flushed;
        pages.push_back(page);
        if (chunk.size() >= kFlushBytes) {
            if (!sink(std::string_view(chunk))) {
                return false;
            }
            flushed += static_cast<std::int64_t>(chunk.size());
            chunk.clear();
        }
    }
    chunk += spec.epilogue;
    const std::int64_t total = written();
    if (!sink(std::string_view(chunk))) {
        return false;
    }

    // An unmarked table page runs up to the next page's table, the last one to the end.
    if (spec.format == GeneratedFormat::Html && !spec.pageMarks) {
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const std::int64_t end = i + 1 < pages.size() ? pages[i + 1].start : total;
            pages[i].length = end - pages[i].start;
        }
    }
    return true;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t count = ::write(fd, data.data(), data.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            if (count == 0) {
                errno = EIO;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
}

}  // namespace

std::string defaultPrologue(GeneratedFormat format) {
    std::string text =
        "<html>\r\n<head>\r\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">\r\n"
        "<title>Generated</title>\r\n";
    if (format == GeneratedFormat::HtmlCss) {
        text +=
            "<style>#c1 {font-family:Arial; font-size:10pt}</style>\r\n"
            "<style>#c2 {font-family:Arial; font-size:10pt; font-weight:bold}</style>\r\n";
    }
    text += "</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
    return text;
}

int pagePitch(const ReportSpec& spec) {
    return kHeaderHeight + spec.rowsPerPage * kLineHeight + kFooterHeight;
}

std::string checkSpec(const ReportSpec& spec) {
    if (spec.pages < 0 || spec.targetBytes < 0) {
        return "pages and target size must not be negative";
    }
    if (spec.pages == 0 && spec.targetBytes == 0) {
        return "a report needs at least one page or a target size";
    }
    if (spec.rowsPerPage < 1 || spec.rowsPerPage > kMaxRowsPerPage) {
        return "rows per page must be between 1 and " + std::to_string(kMaxRowsPerPage);
    }
    for (std::string_view forbidden : kForbiddenInFrame) {
        if (containsIgnoringCase(spec.prologue, forbidden)) {
            return "the prologue holds \"" + std::string(forbidden) + "\"";
        }
        if (containsIgnoringCase(spec.epilogue, forbidden)) {
            return "the epilogue holds \"" + std::string(forbidden) + "\"";
        }
    }
    if (spec.ruledColumns < 0 || spec.ruledColumns > kMaxRuledColumns) {
        return "ruled columns must be between 0 and " + std::to_string(kMaxRuledColumns);
    }
    if (spec.ruledColumns > 0 && (spec.format != GeneratedFormat::HtmlCss || !spec.pageMarks)) {
        return "ruled tables need HTMLCSS pages with page marks";
    }
    if (spec.format == GeneratedFormat::HtmlCss && !spec.pageMarks &&
        hasVisibleText(spec.epilogue)) {
        return "the epilogue of an unmarked HTMLCSS report must hold no visible text";
    }
    return {};
}

bool writeReport(const std::string& path, const ReportSpec& spec, std::vector<GeneratedPage>& pages,
                 std::string& error) {
    pages.clear();
    error = checkSpec(spec);
    if (!error.empty()) {
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + systemErrorText(errno);
        return false;
    }
    std::string failedPath = temporary;
    int failure = 0;
    if (::fchmod(fd, 0644) != 0 ||
        !generate(spec, pages, [fd](std::string_view data) { return writeAll(fd, data); })) {
        failure = errno;
    }
    if (::close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) {
        failure = errno;
        failedPath = path;
    }
    if (failure != 0) {
        error = failedPath + ": " + systemErrorText(failure);
        ::unlink(temporary.c_str());
        pages.clear();
        return false;
    }
    return true;
}

std::string makeReport(const ReportSpec& spec, std::vector<GeneratedPage>& pages) {
    const std::string error = checkSpec(spec);
    if (!error.empty()) {
        throw std::invalid_argument(error);
    }
    std::string text;
    generate(spec, pages, [&text](std::string_view data) {
        text += data;
        return true;
    });
    return text;
}

}  // namespace paginor
