#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"

namespace paginor {
namespace {

// A loaded one-page report whose text behind the page is the piece under test; copy() puts
// that piece into the tag buffer.
class TagBuffer {
public:
    explicit TagBuffer(const std::string& piece) : m_piece(piece) {
        const std::string before = fixtures::cssPrologue() + fixtures::markedCssPage(1);
        m_offset = static_cast<std::int64_t>(before.size());
        const std::string text = before + piece + "\r\n</body></html>";
        try {
            m_core.Init(m_dir.write("r.htm", text), nullptr, false, nullptr, nullptr, nullptr);
        } catch (const ReportError&) {
            ADD_FAILURE() << m_core.GetErrorText();
        }
    }

    CReportCore& copy() {
        std::int64_t length = static_cast<std::int64_t>(m_piece.size());
        m_core.CopyToStringBuffer(m_offset, '\0', length);
        return m_core;
    }
    std::string contents() const { return std::string(m_core.tagBuffer(), m_core.tagBufferUsed()); }
    // The file offset of the piece's byte at index.
    std::int64_t offset(std::size_t index = 0) const {
        return m_offset + static_cast<std::int64_t>(index);
    }
    const char* at(std::size_t index) const { return m_core.tagBuffer() + index; }

private:
    TempDir m_dir;
    CReportCore m_core;
    std::string m_piece;
    std::int64_t m_offset = 0;
};

struct Raised {
    std::int32_t code = 0;
    std::string message;
};

template <typename Call>
Raised raisedBy(CReportCore& core, Call call) {
    try {
        call();
    } catch (const ReportError& error) {
        return {error.code(), core.GetErrorText()};
    }
    return {};
}

struct LayoutCase {
    const char* name;
    std::string tag;
    std::int32_t result;
    std::int32_t top;  // when the TOP was read
    bool closed;
    friend void PrintTo(const LayoutCase& c, std::ostream* out) { *out << c.name; }
};

class DivLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(DivLayout, Recognised) {
    const LayoutCase& c = GetParam();
    TagBuffer buffer(c.tag);
    CReportCore& core = buffer.copy();
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int32_t top = -2;
    EXPECT_EQ(core.ParseDivLayout(buffer.at(0), &start, &end, &top, -1), c.result);
    EXPECT_EQ(start, c.result == 0 ? buffer.offset() : -1);
    const std::size_t closing =
        c.tag.find("</div>") != std::string::npos ? c.tag.find("</div>") : c.tag.find("</DIV>");
    EXPECT_EQ(end, c.closed ? buffer.offset(closing + 5) : -1);
    EXPECT_EQ(top, c.top);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DivLayout,
    ::testing::Values(
        LayoutCase{"Positioned", "<div style=\"position:absolute; top:12pt; left:5pt\">x</div>", 0,
                   12, true},
        LayoutCase{"RightSide", "<div style=\"position:absolute; top:12pt; right:5pt\">x</div>", 0,
                   12, true},
        LayoutCase{"SingleQuotes", "<div style='position:absolute;top:7pt;left:1pt;'>x</div>", 0, 7,
                   true},
        LayoutCase{"UpperCase", "<DIV STYLE=\"POSITION:ABSOLUTE; TOP:4PT; LEFT:0PT\">x</DIV>", 0, 4,
                   true},
        LayoutCase{"LineBreaks",
                   "<div\r\nstyle=\"position:absolute;\r\ntop: 3pt ;left:0pt\">\r\n<b>x</b></div>",
                   0, 3, true},
        LayoutCase{"NoTopValue", "<div style=\"position:absolute; top:-1pt; left:0pt\">x</div>", 0,
                   -1, true},
        LayoutCase{"Fraction", "<div style=\"position:absolute; top:12.75pt; left:0pt\">x</div>", 0,
                   12, true},
        // "style" inside another attribute's name or value is not a style attribute.
        LayoutCase{"ClassNamedLikeStyle",
                   "<div class=\"mystyle\" title=style style=\"top:9pt; left:0pt\">x</div>", 0, 9,
                   true},
        LayoutCase{"QuotedId", "<div style=\"top:9pt; left:0pt\" id=\"p1\">x</div>", 0, 9, true},
        LayoutCase{"TrailingUnquotedId", "<div style=\"top:9pt; left:0pt\" id=p1>x</div>", -1, -1,
                   false},
        LayoutCase{"OtherDeclaration", "<div style=\"top:9pt; left:0pt; width:10pt\">x</div>", -1,
                   -1, false},
        LayoutCase{"BothSides", "<div style=\"top:9pt; left:0pt; right:0pt\">x</div>", -1, -1,
                   false},
        LayoutCase{"TwoTops", "<div style=\"top:9pt; top:10pt\">x</div>", -1, -1, false},
        LayoutCase{"Relative", "<div style=\"position:relative; top:9pt\">x</div>", -1, -1, false},
        LayoutCase{"StyleWithoutEquals", "<div style \"top:9pt\">x</div>", -1, -1, false},
        LayoutCase{"UnquotedStyle", "<div style=top:9pt>x</div>", -1, -1, false},
        LayoutCase{"UnclosedStyle", "<div style=\"top:9pt>x</div>", -1, -1, false},
        LayoutCase{"Pixels", "<div style=\"position:absolute; top:120px; left:0pt\">x</div>", -1,
                   -1, false},
        LayoutCase{"NoTop", "<div style=\"position:absolute; left:0pt\">x</div>", -1, -1, false},
        LayoutCase{"NotADiv", "<span style=\"position:absolute; top:1pt; left:0pt\">x</span>", -1,
                   -1, false},
        // A span before the closing tag leaves the end unknown.
        LayoutCase{"SpanInside",
                   "<div style=\"top:5pt; left:0pt\"><b>a</b><span class=\"c\">x</span></div>", -1,
                   5, false},
        LayoutCase{"NoClosingTag", "<div style=\"top:5pt; left:0pt\">x<b>y</b>", -1, 5, false}),
    [](const auto& info) { return info.param.name; });

TEST(DivLayoutText, LineBreaksInTheTagBecomeBlanks) {
    TagBuffer buffer("<div\r\nstyle=\"top:3pt;\nleft:0pt\">\r\nx</div>");
    CReportCore& core = buffer.copy();
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int32_t top = 0;
    ASSERT_EQ(core.ParseDivLayout(buffer.at(0), &start, &end, &top, 77), 0);
    EXPECT_EQ(start, 77);
    EXPECT_EQ(buffer.contents(), "<div  style=\"top:3pt; left:0pt\">\r\nx</div>");
}

TEST(TopValue, PixelsAreRefusedWithTheValue) {
    const std::string piece =
        "<p>x</p><div style=\"position:absolute; top:120px; left:0pt\">x</div>";
    TagBuffer buffer(piece);
    CReportCore& core = buffer.copy();
    const Raised raised = raisedBy(core, [&] { core.GetTopValue(piece.find("<div")); });
    EXPECT_EQ(raised.code, -1);
    EXPECT_EQ(raised.message, "Unrecognizable TOP value,(reference address : " +
                                  std::to_string(buffer.offset(piece.find("<div"))) +
                                  ") TOP:120px");
}

TEST(TopValue, LastPositionedElementAndWhetherItIsFullyPlaced) {
    struct Case {
        std::string piece;
        std::int32_t top;
        bool fullyPlaced;
    };
    const std::string div10 = fixtures::positionedDiv(10, "a");
    const std::string span20 =
        "<span style=\"position:absolute; top:20pt; left:0pt\">b</span><span class=\"c\">x</span>";
    const std::vector<Case> cases = {
        {div10 + span20, 20, false},
        {span20 + div10 + "<b>x</b>", 10, true},
        {span20 + "<div style=\"top:40pt; left:0pt\"><span class=\"c\">x</span></div>", 40, false},
        {span20 + "<div style=\"top:40pt; width:3pt\">x</div>", 40, false},
    };
    for (const Case& c : cases) {
        TagBuffer buffer(c.piece);
        CReportCore& core = buffer.copy();
        bool fullyPlaced = !c.fullyPlaced;
        EXPECT_EQ(core.GetTopValueAtPage(&fullyPlaced), c.top) << c.piece;
        EXPECT_EQ(fullyPlaced, c.fullyPlaced) << c.piece;
    }
}

struct RebaseCase {
    const char* name;
    std::string piece;
    std::int32_t startTop;
    std::string expected;  // when it succeeds
    std::int32_t code;
    friend void PrintTo(const RebaseCase& c, std::ostream* out) { *out << c.name; }
};

std::string box(const std::string& element, const std::string& top) {
    return "<" + element + " style=\"position:absolute; top:" + top + "pt; left:0pt\">x</" +
           element + ">";
}

class Rebase : public ::testing::TestWithParam<RebaseCase> {};

TEST_P(Rebase, RewritesInPlace) {
    const RebaseCase& c = GetParam();
    TagBuffer buffer(c.piece);
    CReportCore& core = buffer.copy();
    const Raised raised = raisedBy(core, [&] { core.RebaseTopValues(c.startTop, 2); });
    EXPECT_EQ(raised.code, c.code) << raised.message;
    if (c.code == 0) {
        EXPECT_EQ(buffer.contents(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rebase,
    ::testing::Values(
        RebaseCase{"SameWidth", box("div", "1200"), 800, box("div", " 400"), 0},
        RebaseCase{"DivsAndSpans", box("div", "900") + box("span", "950"), 800,
                   box("div", "100") + box("span", "150"), 0},
        RebaseCase{"ZeroStays", box("span", "0") + box("div", "1000"), 800,
                   box("span", "0") + box("div", " 200"), 0},
        RebaseCase{"FractionStays", box("div", "1200.5"), 800, box("div", " 400.5"), 0},
        RebaseCase{"LeadingZeros", box("div", "0900"), 800, box("div", " 100"), 0},
        RebaseCase{"NegativeThatFits", box("div", "1000"), 1500, box("div", "-500"), 0},
        RebaseCase{"StrayLessThanInText", "a < b" + box("div", "900"), 800,
                   "a < b" + box("div", "100"), 0},
        RebaseCase{"BelowTheStart", box("div", "100"), 800, "", 8},
        RebaseCase{"NegativeStart", box("div", "998"), -5, "", 20}),
    [](const auto& info) { return info.param.name; });

struct HideCase {
    const char* name;
    std::string piece;
    bool hidden;
    friend void PrintTo(const HideCase& c, std::ostream* out) { *out << c.name; }
};

class HideLastDiv : public ::testing::TestWithParam<HideCase> {};

TEST_P(HideLastDiv, EmptyLastDivBecomesAComment) {
    const HideCase& c = GetParam();
    const std::string before = fixtures::positionedDiv(10, "Row") + "text ";
    TagBuffer buffer(before + c.piece);
    CReportCore& core = buffer.copy();
    core.HideEmptyLastDiv();
    std::string expected = before + c.piece;
    if (c.hidden) {
        std::string element = c.piece.substr(0, c.piece.rfind('>') + 1);
        std::replace(element.begin(), element.end(), '<', '(');
        std::replace(element.begin(), element.end(), '>', ')');
        element.replace(0, 4, "<!--").replace(element.size() - 3, 3, "-->");
        expected = before + element + c.piece.substr(element.size());
    }
    EXPECT_EQ(buffer.contents(), expected);
    EXPECT_EQ(buffer.contents().size(), before.size() + c.piece.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HideLastDiv,
    ::testing::Values(
        HideCase{"CommentOnly",
                 "<div style=\"position:absolute; top:700pt; left:0pt\"><!-- foot --></div>\r\n",
                 true},
        HideCase{"BlanksAndLineBreaks",
                 "<div style=\"position:absolute; top:700pt; left:0pt\"> \r\n </div>", true},
        HideCase{"WithText", "<div style=\"position:absolute; top:700pt; left:0pt\">x</div>",
                 false},
        HideCase{"WithATag", "<div style=\"position:absolute; top:700pt; left:0pt\"><br></div>",
                 false},
        HideCase{"LastIsASpan", "<span style=\"position:absolute; top:700pt; left:0pt\"></span>",
                 false},
        HideCase{"NotPositioned", "<div class=\"x\"></div>", false}),
    [](const auto& info) { return info.param.name; });

TEST(CountText, VisibleBytesOutsideTagsAndComments) {
    struct Case {
        std::string text;
        std::int32_t count;
    };
    const std::vector<Case> cases = {
        {"", 0},
        {"abc", 3},
        {" !\x7F", 2},
        {"\t\x01 \r\n", 0},
        {"\xE9\xE8\xA0", 0},
        {"<b>x</b> y", 2},
        {"<a title=\"t\">t</a>", 1},
        {"<!DOCTYPE html>z", 1},
        {"<!-- <b>x</b> -- > -->y", 1},
        {"<!---->y", 1},
        // Pages are not always well formed: a stray '>' is text, a '<' restarts a tag.
        {"a > b", 3},
        {"<td <b>x</b>", 1},
        {"x<", 1},
    };
    CReportCore core;
    for (const Case& c : cases) {
        EXPECT_EQ(core.CountTextChars(c.text.data(), static_cast<std::int64_t>(c.text.size())),
                  c.count)
            << c.text;
        EXPECT_EQ(core.textCharCount(), c.count) << c.text;
    }
}

TEST(CheckTopValues, MarkedPagesOffTheirPitchRaiseTen) {
    TempDir dir;
    std::string text = fixtures::cssPrologue();
    for (int top : {0, 792, 1600}) {
        text += fixtures::positionedDiv(top, fixtures::kHeadMark) +
                fixtures::positionedDiv(top + 700, fixtures::kFootMark);
    }
    CReportCore core;
    const Raised raised = raisedBy(core, [&] {
        core.Init(dir.write("r.htm", text + "</body></html>"), nullptr, false, nullptr, nullptr,
                  nullptr);
    });
    EXPECT_EQ(raised.code, 10);
    EXPECT_EQ(core.state(), 0);
}

}  // namespace
}  // namespace paginor
