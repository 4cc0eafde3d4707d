#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

std::string page(const std::string& rows) {
    return "<!--9876543210_PageMark_Head--><table>" + rows + "</table>";
}

TEST(DelimitedText, Layouts) {
    const std::string two = "<tr><td width=50>a</td><td width=50>b</td></tr>";
    const std::string empty = "<tr><td width=50></td><td width=50></td></tr>";
    struct Case {
        const char* name;
        std::vector<std::string> pages;
        RunOptions options;
        std::string expected;
    };
    RunOptions breaks;
    breaks.pageBreakLines = true;
    RunOptions dropReference;
    dropReference.keepFirst = false;
    dropReference.keepLast = false;
    const std::string blankCells =
        "<tr><td width=50>x</td><td width=50>y</td></tr><tr><td>&nbsp;</td><td>&nbsp;</td></tr>";
    const Case cases[] = {
        {"page break lines", {page(two), page(two)}, breaks, "a\tb\r\n\r\na\tb\r\n\r\n"},
        {"reference pages dropped",
         {page(two), page("<tr><td width=50>m</td></tr>"), page(two)},
         dropReference,
         "m\t\r\n"},
        {"a link keeps its shown text",
         {page("<tr><td width=50><a href=\"t.htm\">Total</a></td><td width=50>9</td></tr>")},
         {},
         "Total\t9\r\n"},
        {"blank cells as wide as the font stay", {page(blankCells)}, {}, "x\ty\r\n\t\r\n"},
        {"empty rows", {page(two + empty + two)}, {}, "a\tb\r\n\t\r\na\tb\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(runHtml(makeBatch(c.pages), c.options).text, c.expected) << c.name;
    }
}

// A text a spreadsheet would take for a formula gets an apostrophe before it; amounts, lone signs
// and texts that only hold a sign further on stay as they are.
TEST(DelimitedText, FormulasBecomeText) {
    struct Case {
        const char* cell;
        const char* field;
    };
    const Case cases[] = {
        {"=1+2", "'=1+2"},
        {"=HYPERLINK(&quot;http://x/&quot;,&quot;x&quot;)",
         "\"'=HYPERLINK(\"\"http://x/\"\",\"\"x\"\")\""},
        {"=cmd|' /C calc'!A0", "'=cmd|' /C calc'!A0"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"+1+2", "'+1+2"},
        {"-A1", "'-A1"},
        {"&#61;A1", "'=A1"},
        {"&#9;=A1", "' =A1"},
        {"&#13;-A1", "' -A1"},
        {"-7.25", "-7.25"},
        {"+42", "+42"},
        {"-1,234.50", "\"-1,234.50\""},
        {"-5 %", "-5 %"},
        {"-$12", "-$12"},
        {"-", "-"},
        {"=", "="},
        {"a=b", "a=b"},
        {"1-2", "1-2"},
    };
    for (const Case& c : cases) {
        const std::string html =
            page("<tr><td width=50>x</td><td width=50>" + std::string(c.cell) + "</td></tr>");
        EXPECT_EQ(runHtml(makeBatch({html})).text, "x\t" + std::string(c.field) + "\r\n") << c.cell;
    }
}

}  // namespace
}  // namespace paginor

namespace paginor {
namespace {

// Python's csv module reads the text back: one line per row, fields joined by '|'.
std::string readWithPythonCsv(const std::string& text) {
    char path[] = "/tmp/paginor-csv-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    const std::string command =
        std::string(
            "/usr/bin/python3 -c \"import csv,sys\n"
            "for row in csv.reader(open(sys.argv[1], newline=''), delimiter='\\t'):\n"
            "    print('|'.join(row))\" ") +
        path;
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
            out += buffer;
        }
        EXPECT_EQ(pclose(pipe), 0);
    }
    unlink(path);
    return out;
}

TEST(DelimitedText, QuotesReadBackByACsvReader) {
    const std::string html = page(
        "<tr><td width=50>&quot;Quoted&quot; lead</td><td width=50>5&quot; bolt</td>"
        "<td width=50>plain</td></tr>"
        "<tr><td>a\tb</td><td>line<br>break</td><td>&quot;</td></tr>"
        "<tr><td>Products, Inc.</td><td>Paris; France</td><td>1,234.50</td></tr>");
    const std::string text = runHtml(makeBatch({html})).text;
    EXPECT_EQ(text,
              "\"\"\"Quoted\"\" lead\"\t\"5\"\" bolt\"\tplain\r\na b\tline break\t\"\"\"\"\r\n"
              "\"Products, Inc.\"\t\"Paris; France\"\t\"1,234.50\"\r\n");
    EXPECT_EQ(readWithPythonCsv(text),
              "\"Quoted\" lead|5\" bolt|plain\na b|line break|\"\nProducts, Inc.|Paris; "
              "France|1,234.50\n");
}

}  // namespace
}  // namespace paginor
