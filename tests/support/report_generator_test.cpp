#include "tests/support/report_generator.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"

namespace paginor {
namespace {

const std::string kHeadMark = "<!--9876543210_PageMark_Head-->";
const std::string kFootMark = "<!--9876543210_PageMark_Foot-->";
constexpr std::int64_t kFileWindow = 3145728;
constexpr std::int64_t kLookBehind = 147456;

struct Variant {
    const char* name;
    GeneratedFormat format;
    bool pageMarks;
    int ruledColumns = 0;
};

const Variant kVariants[] = {
    {"html", GeneratedFormat::Html, false},
    {"html marked", GeneratedFormat::Html, true},
    {"htmlcss", GeneratedFormat::HtmlCss, false},
    {"htmlcss marked", GeneratedFormat::HtmlCss, true},
    {"htmlcss ruled", GeneratedFormat::HtmlCss, true, 3},
};

ReportSpec specFor(const Variant& variant, int pages, int rows, unsigned seed = 7) {
    ReportSpec spec;
    spec.format = variant.format;
    spec.pageMarks = variant.pageMarks;
    spec.pages = pages;
    spec.rowsPerPage = rows;
    spec.seed = seed;
    spec.ruledColumns = variant.ruledColumns;
    return spec;
}

std::vector<std::size_t> findAll(const std::string& text, const std::string& needle) {
    std::vector<std::size_t> found;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1)) {
        found.push_back(at);
    }
    return found;
}

GeneratedPage span(std::size_t first, std::size_t last) {
    return {static_cast<std::int64_t>(first), static_cast<std::int64_t>(last - first + 1)};
}

// The page table as a loader derives it from the text alone.
std::vector<GeneratedPage> scanPages(const std::string& text, GeneratedFormat format, bool marks) {
    std::vector<GeneratedPage> pages;
    if (marks) {
        for (std::size_t head : findAll(text, kHeadMark)) {
            const std::size_t foot = text.find(kFootMark, head);
            if (foot == std::string::npos) {
                ADD_FAILURE() << "head mark at " << head << " has no foot mark";
                return pages;
            }
            if (format == GeneratedFormat::Html) {
                pages.push_back(span(head, foot + kFootMark.size() - 1));
            } else {
                pages.push_back(span(text.rfind("<div ", head), text.find("</div>", foot) + 5));
            }
        }
    } else if (format == GeneratedFormat::Html) {
        const std::vector<std::size_t> starts = findAll(text, "<table ");
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
            pages.push_back(span(starts[i], end - 1));
        }
    } else {
        const std::vector<std::size_t> divs = findAll(text, "<div ");
        EXPECT_EQ(divs.size() % 2, 0u);
        for (std::size_t i = 0; i + 1 < divs.size(); i += 2) {
            pages.push_back(span(divs[i], text.find("</div>", divs[i + 1]) + 5));
        }
    }
    return pages;
}

// The TOP of the positioned element whose tag starts at offset.
std::int64_t topAt(const std::string& text, std::int64_t offset) {
    const std::size_t tagEnd = text.find('>', static_cast<std::size_t>(offset));
    const std::size_t top = text.find("top:", static_cast<std::size_t>(offset));
    if (tagEnd == std::string::npos || top == std::string::npos || top > tagEnd) {
        ADD_FAILURE() << "no TOP in the tag at " << offset;
        return -2;
    }
    return std::stoll(text.substr(top + 4, text.find("pt", top) - top - 4));
}

bool hasVisibleText(std::string_view text) {
    bool inTag = false;
    for (char c : text) {
        if (c == '<' || c == '>') {
            inTag = c == '<';
        } else if (!inTag && static_cast<unsigned char>(c) >= 33 &&
                   static_cast<unsigned char>(c) <= 127) {
            return true;
        }
    }
    return false;
}

void expectFits(const std::string& text, const std::vector<GeneratedPage>& pages,
                const ReportSpec& spec) {
    ASSERT_GE(pages.size(), static_cast<std::size_t>(spec.pages));
    EXPECT_EQ(pages, scanPages(text, spec.format, spec.pageMarks));

    const std::string prologue =
        spec.prologue.empty() ? defaultPrologue(spec.format) : spec.prologue;
    EXPECT_TRUE(text.starts_with(prologue));
    EXPECT_TRUE(text.ends_with(spec.epilogue));
    EXPECT_EQ(pages.front().start, static_cast<std::int64_t>(prologue.size()));
    for (std::size_t i = 1; i < pages.size(); ++i) {
        EXPECT_GE(pages[i].start, pages[i - 1].start + pages[i - 1].length) << "page " << i + 1;
    }
    EXPECT_LE(pages.back().start + pages.back().length, static_cast<std::int64_t>(text.size()));

    for (const GeneratedPage& page : pages) {
        const std::string_view body(text.data() + page.start,
                                    static_cast<std::size_t>(page.length));
        if (spec.format == GeneratedFormat::Html) {
            EXPECT_TRUE(body.starts_with(spec.pageMarks ? kHeadMark : "<table "));
            if (spec.pageMarks) {
                EXPECT_TRUE(body.ends_with(kFootMark));
            } else {
                EXPECT_TRUE(body.size() > 500 || hasVisibleText(body));
            }
        } else {
            EXPECT_TRUE(body.starts_with("<div "));
            EXPECT_TRUE(body.ends_with("</div>"));
            const std::size_t lastDiv = body.rfind("<div ");
            EXPECT_LT(body.find("</div>"), 1000u);
            EXPECT_LT(body.size() - lastDiv, 1000u);
            EXPECT_EQ(body.find("<span ", lastDiv), std::string_view::npos);
        }
    }
}

// TOPs of each page's first tag: 0 on pages q with q mod 65536 of 0 or 1, else the previous
// page's TOP plus the pitch.
void expectTops(const std::string& text, const std::vector<GeneratedPage>& pages,
                const ReportSpec& spec) {
    std::int64_t expected = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::size_t q = i + 1;
        expected = q % 65536 <= 1 ? 0 : expected + pagePitch(spec);
        ASSERT_EQ(topAt(text, pages[i].start), expected) << "page " << q;
        if (!spec.pageMarks) {
            const auto second = static_cast<std::int64_t>(
                text.rfind("<div ", static_cast<std::size_t>(pages[i].start + pages[i].length)));
            ASSERT_EQ(topAt(text, second), q % 65536 == 0 ? -1 : expected + 1) << "page " << q;
        }
    }
}

class TempFolder {
public:
    TempFolder() {
        std::string name = (std::filesystem::temp_directory_path() / "paginor-gen-XXXXXX").string();
        EXPECT_NE(mkdtemp(name.data()), nullptr);
        m_path = name;
    }
    ~TempFolder() { std::filesystem::remove_all(m_path); }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

TEST(ReportGenerator, PageTableMatchesTheText) {
    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        for (int rows : {1, 5, 40}) {
            const ReportSpec spec = specFor(variant, 7, rows);
            std::vector<GeneratedPage> pages;
            const std::string text = makeReport(spec, pages);
            ASSERT_EQ(pages.size(), 7u);
            expectFits(text, pages, spec);
            if (spec.format == GeneratedFormat::HtmlCss) {
                expectTops(text, pages, spec);
            }
        }
    }
}

TEST(ReportGenerator, PagesVaryInLengthWithTheSeed) {
    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        std::vector<GeneratedPage> first;
        std::vector<GeneratedPage> again;
        std::vector<GeneratedPage> other;
        const std::string text = makeReport(specFor(variant, 20, 10, 1), first);
        EXPECT_EQ(makeReport(specFor(variant, 20, 10, 1), again), text);
        EXPECT_EQ(again, first);
        const std::string otherText = makeReport(specFor(variant, 20, 10, 2), other);
        EXPECT_NE(otherText, text);
        expectFits(otherText, other, specFor(variant, 20, 10, 2));

        bool lengthsDiffer = false;
        for (const GeneratedPage& page : first) {
            lengthsDiffer = lengthsDiffer || page.length != first.front().length;
        }
        EXPECT_TRUE(lengthsDiffer);
    }
}

TEST(ReportGenerator, WritesReportsLargerThanTheFileWindow) {
    TempFolder folder;
    const std::int64_t target = kFileWindow + 3 * kLookBehind;
    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        ReportSpec spec = specFor(variant, 1, 30);
        spec.targetBytes = target;
        const std::string path = folder.file(std::string(variant.name) + ".htm");
        std::vector<GeneratedPage> pages;
        std::string error;
        ASSERT_TRUE(writeReport(path, spec, pages, error)) << error;

        std::string text;
        ASSERT_TRUE(readWholeFile(path, text, error)) << error;
        EXPECT_GE(static_cast<std::int64_t>(text.size()), target);
        // Pages stop as soon as the size is reached.
        EXPECT_LT(pages.back().start + static_cast<std::int64_t>(spec.epilogue.size()), target);
        expectFits(text, pages, spec);
        if (spec.format == GeneratedFormat::HtmlCss) {
            expectTops(text, pages, spec);
        }

        std::vector<GeneratedPage> inMemory;
        EXPECT_EQ(makeReport(spec, inMemory), text);
        EXPECT_EQ(inMemory, pages);
    }
}

TEST(ReportGenerator, HtmlCssTopsRestartOn65536PageBlocks) {
    for (bool marks : {false, true}) {
        SCOPED_TRACE(marks ? "marked" : "unmarked");
        const ReportSpec spec = specFor({"", GeneratedFormat::HtmlCss, marks}, 65539, 1);
        std::vector<GeneratedPage> pages;
        const std::string text = makeReport(spec, pages);
        ASSERT_EQ(pages.size(), 65539u);
        expectFits(text, pages, spec);
        expectTops(text, pages, spec);
        EXPECT_EQ(topAt(text, pages[65534].start), 65534LL * pagePitch(spec));
        EXPECT_EQ(topAt(text, pages[65535].start), 0);
        EXPECT_EQ(topAt(text, pages[65536].start), 0);
        EXPECT_EQ(topAt(text, pages[65537].start), pagePitch(spec));
    }
}

TEST(ReportGenerator, UsesTheGivenPrologueAndEpilogue) {
    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        ReportSpec spec = specFor(variant, 3, 4);
        spec.prologue =
            "<html><head><base href=\"http://srv/reports/\">\r\n"
            "<!--PAGINOR?papersize=A4-->\r\n</head><body dir=\"RTL\">\r\n";
        spec.epilogue = "\r\n</body></html>";
        std::vector<GeneratedPage> pages;
        const std::string text = makeReport(spec, pages);
        expectFits(text, pages, spec);
    }
}

TEST(ReportGenerator, RefusesReportsWhosePageTableItCannotPromise) {
    struct Case {
        const char* name;
        GeneratedFormat format;
        bool pageMarks;
        int pages;
        std::int64_t targetBytes;
        int rows;
        const char* prologue;
        const char* epilogue;
        int ruledColumns = 0;
    };
    const Case cases[] = {
        {"no pages", GeneratedFormat::Html, false, 0, 0, 5, "", "\r\n"},
        {"negative pages", GeneratedFormat::Html, false, -1, 100, 5, "", "\r\n"},
        {"negative size", GeneratedFormat::Html, false, 1, -1, 5, "", "\r\n"},
        {"no rows", GeneratedFormat::HtmlCss, false, 1, 0, 0, "", "\r\n"},
        {"too many rows", GeneratedFormat::Html, false, 1, 0, kMaxRowsPerPage + 1, "", "\r\n"},
        {"table in prologue", GeneratedFormat::Html, false, 1, 0, 5, "<TABLE border=0>", "\r\n"},
        {"div in prologue", GeneratedFormat::HtmlCss, false, 1, 0, 5, "<div class=x>", "\r\n"},
        {"form in prologue", GeneratedFormat::Html, false, 1, 0, 5, "<form action=x>", "\r\n"},
        {"mark in prologue", GeneratedFormat::Html, true, 1, 0, 5,
         "<!--9876543210_PageMark_Head-->", "\r\n"},
        {"div end in epilogue", GeneratedFormat::HtmlCss, true, 1, 0, 5, "", "</div>"},
        {"text after unmarked boxes", GeneratedFormat::HtmlCss, false, 1, 0, 5, "", "<p>end</p>"},
        {"ruled without marks", GeneratedFormat::HtmlCss, false, 1, 0, 5, "", "\r\n", 2},
        {"ruled table pages", GeneratedFormat::Html, true, 1, 0, 5, "", "\r\n", 2},
        {"too many ruled columns", GeneratedFormat::HtmlCss, true, 1, 0, 5, "", "\r\n",
         kMaxRuledColumns + 1},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReportSpec spec;
        spec.format = c.format;
        spec.pageMarks = c.pageMarks;
        spec.pages = c.pages;
        spec.targetBytes = c.targetBytes;
        spec.rowsPerPage = c.rows;
        spec.prologue = c.prologue;
        spec.epilogue = c.epilogue;
        spec.ruledColumns = c.ruledColumns;
        EXPECT_FALSE(checkSpec(spec).empty());
        std::vector<GeneratedPage> pages;
        EXPECT_THROW(makeReport(spec, pages), std::invalid_argument);
        std::string error;
        const std::string path = folder.file("refused.htm");
        EXPECT_FALSE(writeReport(path, spec, pages, error));
        EXPECT_EQ(error, checkSpec(spec));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST(ReportGenerator, ReportsAFileThatCannotBeWritten) {
    TempFolder folder;
    const std::string path = folder.file("missing/report.htm");
    std::vector<GeneratedPage> pages{{1, 2}};
    std::string error;
    EXPECT_FALSE(writeReport(path, specFor(kVariants[0], 2, 2), pages, error));
    EXPECT_TRUE(error.starts_with(path + ": ")) << error;
    EXPECT_TRUE(pages.empty());
}

}  // namespace
}  // namespace paginor
