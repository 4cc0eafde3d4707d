#include "convert/read/box_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/read/text_measurer.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

// Records what the reader hands to the frame engine; takes no box into a frame.
class RecordingCollector final : public FrameCollector {
public:
    std::int32_t frames = 0;
    bool inRegion = false;
    std::vector<std::string> calls;

    std::int32_t frameCount() const override { return frames; }
    bool insideColouredRegion(const tagDivRectInfo&) const override { return inRegion; }
    bool placeBox(const tagDivRectInfo& box, std::int32_t page) override {
        calls.push_back("place p" + std::to_string(page) + " " + describe(box));
        return false;
    }
    void offerWaitingBox(const tagDivRectInfo& box, std::int32_t page) override {
        calls.push_back("offer p" + std::to_string(page) + " " + describe(box));
    }
    void addStrips(const tagDivRectInfo& box) override {
        calls.push_back("strip " + describe(box));
    }

    static std::string describe(const tagDivRectInfo& b) {
        char line[160];
        std::snprintf(line, sizeof line, "T%d L%d B%d R%d W%d H%d bg%X", b.top, b.left, b.bottom,
                      b.right, b.width, b.height, b.background);
        return line;
    }
};

std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(PAGINOR_CONVERT_FIXTURES) + "/htmlcss/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string pieceText(const tagDivInfo& p) {
    return std::string(p.text, static_cast<std::size_t>(p.textLength));
}

std::string dumpPieces(const BoxReader& reader) {
    std::string out;
    for (const tagDivInfo* p = reader.firstPiece(); p != nullptr; p = p->next) {
        char line[256];
        std::snprintf(line, sizeof line, "p%d k%d L%d T%d W%d H%d E%d-%d C%d #%06X %s b%d s%d",
                      p->page, p->kind, p->left, p->top, p->width, p->height, p->leftEdge,
                      p->rightEdge, p->centre, p->fontColour,
                      p->fontName != nullptr ? p->fontName : "-", p->bold, p->fontSize);
        out += line;
        out += " \"" + pieceText(*p) + "\"";
        if (p->kind == kKindLink) {
            out += " -> " + std::string(p->text + p->textLength + 1);
        }
        if (p->joinedTo != nullptr) {
            out += " joins \"" + pieceText(*p->joinedTo) + "\"";
        }
        out += "\n";
    }
    return out;
}

// A report read as the driver hands it: the head, then pages that start at each page mark.
struct Reading {
    CConvertEngine engine;
    StyleSheet styles;
    RecordingCollector frames;
    std::string report;
    testing::CssReport css;  // the pieces point into it
    std::unique_ptr<BoxReader> reader;

    explicit Reading(const std::string& text, bool rightToLeft = false) : report(text) {
        try {
            run(rightToLeft);
        } catch (const ConvertError&) {
            engine.GetErrorText(error);
        }
    }

    std::string error;

    void run(bool rightToLeft) {
        css = testing::splitCssReport(report);
        styles.ParseStyleSheet(engine, defaultTextMeasurer(), css.head);
        BoxReaderOptions options;
        options.rightToLeft = rightToLeft;
        reader =
            std::make_unique<BoxReader>(engine, styles, defaultTextMeasurer(), frames, options);
        reader->readBoxes(css.batch.html.data(), static_cast<std::int64_t>(css.batch.html.size()),
                          css.batch.offsets.data(),
                          static_cast<std::int32_t>(css.batch.offsets.size()));
    }
};

std::string errorOf(const std::string& page) {
    return Reading("<head></head><!--PAGE-->" + page).error;
}

TEST(StyleClass, ClassesOfTheHead) {
    const std::string head =
        "<head><style type=\"text/css\">div{position:absolute;}</style>\n"
        "<style>#f0 {font:bold 9pt \"Courier New\"; color:#0000FF}</style>\n"
        "<style> #f1{font:normal 8pt/normal Arial Narrow;}</style>\n"
        "<style>#f2 {font:italic 12px Verdana; color:#000000}</style>\n"
        "<style>p {margin:0}</style></head>";
    CConvertEngine engine;
    StyleSheet styles;
    styles.ParseStyleSheet(engine, defaultTextMeasurer(), head);
    EXPECT_TRUE(styles.positionsAbsolute());
    EXPECT_TRUE(styles.colourClasses());
    EXPECT_FALSE(styles.builtIn());
    std::string dump;
    for (const tagStyleClassInfo& s : styles.classes()) {
        dump += s.className + "|" + s.fontName + "|" + std::to_string(s.fontSize) + "|" +
                std::to_string(s.bold) + "|" + std::to_string(s.fontColour) + "|" +
                std::to_string(s.referenceWidth) + "x" + std::to_string(s.referenceHeight) + "\n";
    }
    EXPECT_EQ(dump,
              "f0|Courier New|9|1|16711680|7x14\n"
              "f1|Arial Narrow|8|0|0|6x11\n"
              "f2|Verdana|9|0|0|7x14\n");
    ASSERT_NE(styles.find("F1"), nullptr);
    EXPECT_EQ(styles.find("F1")->fontName, "Arial Narrow");
    EXPECT_EQ(styles.find("nope"), nullptr);
}

TEST(StyleClass, BuiltInClassWithoutClasses) {
    CConvertEngine engine;
    StyleSheet styles;
    styles.ParseStyleSheet(engine, defaultTextMeasurer(), "<head><title>x</title></head>");
    ASSERT_TRUE(styles.builtIn());
    const tagStyleClassInfo* s = styles.find("anything");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->className, "PreDefined");
    EXPECT_EQ(s->fontName, "Arial");
    EXPECT_EQ(s->fontSize, 10);
    EXPECT_EQ(s->bold, 0);
}

TEST(StyleClass, MalformedClassesFail) {
    const std::pair<const char*, const char*> cases[] = {
        {"<style>#a {font:10pt \"Arial}</style>",
         "Syntax Error in HTML Style, Fail to recognize font name"},
        {"<style>#a {font:10pt Arial; color:#12XY56}</style>",
         "Fail to recognize the color value 12XY56"},
    };
    for (const auto& [head, message] : cases) {
        CConvertEngine engine;
        StyleSheet styles;
        try {
            styles.ParseStyleSheet(engine, defaultTextMeasurer(), head);
            ADD_FAILURE() << "no error for " << head;
        } catch (const ConvertError& error) {
            EXPECT_EQ(error.code(), kErrOwnText);
            EXPECT_EQ(error.what(), std::string(message));
        }
        std::string text;
        EXPECT_EQ(engine.GetErrorText(text), kErrOwnText);
        EXPECT_EQ(text, message);
    }
}

TEST(BoxReader, ReadsTheSalesReport) {
    Reading r(readFixture("sales_boxes.htm"));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(
        dumpPieces(*r.reader),
        "p0 k0 L72 T36 W71 H11 E720-1430 C416 #800000 Arial b1 s10 \"Quarterly Sales\"\n"
        "p0 k0 L40 T64 W54 H10 E400-940 C692 #000000 Times New Roman b0 s9 \"Region & Area\"\n"
        "p0 k0 L351 T64 W29 H10 E3510-3800 C692 #000000 Times New Roman b0 s9 \"Amount\"\n"
        "p0 k0 L40 T80 W87 H10 E400-1270 C852 #000000 Times New Roman b0 s9 "
        "\"The northern region sold\"\n"
        "p0 k0 L40 T91 W65 H10 E400-1050 C962 #000000 Times New Roman b0 s9 "
        "\"more than planned\" joins \"The northern region sold\"\n"
        "p0 k0 L40 T110 W18 H10 E400-580 C1152 #000000 Times New Roman b0 s9 \"1200\"\n"
        "p0 k0 L40 T121 W18 H10 E400-580 C1262 #000000 Times New Roman b0 s9 \"1300\"\n"
        "p0 k0 L45 T105 W40 H8 E450-850 C1091 #000000 Courier New b0 s8 \"In pixels\"\n"
        "p0 k1 L40 T200 W72 H36 E400-1120 C2180 #000000 - b0 s0 \"logo.gif\"\n"
        "p0 k3 L40 T230 W24 H10 E400-640 C2352 #000000 Times New Roman b0 s9 \"Details\" -> "
        "http://example.com/q3\n"
        "p1 k0 L40 T960 W17 H10 E400-570 C9652 #000000 Times New Roman b0 s9 \"Kept\"\n"
        "p1 k0 L40 T1000 W40 H10 E400-800 C10052 #000000 Times New Roman b0 s9 "
        "\"01/02/2024\"\n"
        "p1 k0 L40 T1011 W40 H10 E400-800 C10162 #000000 Times New Roman b0 s9 "
        "\"03/04/2024\"\n");
    std::string calls;
    for (const std::string& c : r.frames.calls) {
        calls += c + "\n";
    }
    EXPECT_EQ(calls,
              "place p0 T600 L360 B2600 R5760 W5400 H2000 bg1000000\n"
              "strip T600 L360 B2600 R5760 W5400 H2000 bg1000000\n"
              "offer p0 T600 L360 B2600 R5760 W5400 H2000 bg1000000\n"
              "place p1 T8300 L300 B9300 R1300 W1000 H1000 bgC0C0C0\n"
              "strip T8300 L300 B9300 R1300 W1000 H1000 bgC0C0C0\n"
              "place p1 T9600 L300 B10600 R1300 W1000 H1000 bg1000000\n"
              "strip T9600 L300 B10600 R1300 W1000 H1000 bg1000000\n"
              "offer p1 T8300 L300 B9300 R1300 W1000 H1000 bgC0C0C0\n"
              "offer p1 T9600 L300 B10600 R1300 W1000 H1000 bg1000000\n");
    ASSERT_EQ(r.reader->pageTops().size(), 2u);
    EXPECT_EQ(r.reader->pageTops()[0], 36);
    EXPECT_EQ(r.reader->pageTops()[1], 836);
}

TEST(BoxReader, BadPiecesFail) {
    const std::pair<const char*, const char*> cases[] = {
        {"<div style=\"position:absolute;left:5pt\">a</div>",
         "Failed to recognize the TOP value inside html code, no TOP tag found"},
        {"<div style=\"position:absolute;top:abc;left:5pt\">a</div>",
         "Failed to recognize the TOP value inside html code, non-number character was found"},
        {"<div style=\"position:absolute;top:5pt;left:x1\">a</div>",
         "Failed to recognize the LEFT value inside html code, non-number character was found: "
         "x1.Len=2, RTL=0. "},
        {"<div style=\"position:absolute;top:5pt\">a</div>",
         "Failed to recognize the LEFT value inside html code, non-number character was found: "
         "*Empty*.Len=0, RTL=0. "},
        {"<div title=\"open style=\"position:absolute\">a</div>", "Expected \" not found "},
        {"<div title='open style=\"position:absolute\">a</div>", "Expected ' not found "},
        {"<div style=\"position:absolute;top:5pt;left:5pt\"",
         "Failed to find the expected character '>'."},
    };
    for (const auto& [page, message] : cases) {
        EXPECT_EQ(errorOf(page).substr(0, std::string(message).size()), message) << page;
    }
}

TEST(BoxReader, UnknownStyleIdFails) {
    Reading r(
        "<head><style>#a {font:10pt Arial}</style></head><!--PAGE-->"
        "<div id=\"xyz\" style=\"position:absolute;top:5pt;left:5pt\">a</div>");
    EXPECT_EQ(r.error, "Fail to recognize the style ID : xyz");
}

TEST(BoxReader, TextsWithoutAClassTakeTheBuiltInClass) {
    const std::string pages =
        "<!--PAGE--><span style=\"position:absolute;top:30pt;left:9pt\">1</span>"
        "<span style=\"position:absolute;top:30pt;left:60pt\">Total</span>"
        "<div style=\"position:absolute;top:50pt;left:0pt\"><!--mark--></div>"
        "<span id=\"c0\" style=\"position:absolute;top:70pt;left:9pt\">Named</span>";
    const std::string unclassed =
        "p0 k0 L9 T30 W5 H11 E90-140 C356 #000000 Arial b0 s10 \"1\"\n"
        "p0 k0 L60 T30 W21 H11 E600-810 C356 #000000 Arial b0 s10 \"Total\"\n";
    // Without classes in the head every element is a piece; the empty mark too.
    Reading plain("<head></head>" + pages.substr(0, pages.find("<span id")));
    ASSERT_EQ(plain.error, "");
    EXPECT_EQ(dumpPieces(*plain.reader),
              unclassed + "p0 k0 L0 T50 W5 H11 E0-50 C556 #000000 Arial b0 s10 \"\"\n");
    Reading styled(
        "<head><style>#c0{font-family:Arial; font-size:13pt; color:#000080}</style></head>" +
        pages);
    ASSERT_EQ(styled.error, "");
    EXPECT_EQ(dumpPieces(*styled.reader),
              unclassed + "p0 k0 L9 T70 W30 H11 E90-390 C756 #800000  b0 s10 \"Named\"\n");
}

TEST(BoxReader, RightToLeftReport) {
    Reading r(readFixture("right_to_left.htm"), true);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(dumpPieces(*r.reader),
              "p0 k0 L82 T20 W48 H11 E820-1300 C256 #0000FF Tahoma b0 s10 \"Left in RTL\"\n"
              "p0 k0 L30 T40 W25 H11 E300-550 C456 #0000FF Tahoma b0 s10 \"Stays\"\n");
}

// Texts of a class as small as an image's missing font size: a caption under an image is no
// second line of it.
TEST(BoxReader, AWrappedLineNeverContinuesAnImage) {
    Reading r(
        "<head><style>#f1 {font:1px Arial}</style></head><!--PAGE-->"
        "<div id=\"f1\" style=\"position:absolute;top:10pt;left:10pt\"><img src=\"logo.gif\" "
        "width=\"40\" height=\"40\"></div>"
        "<div id=\"f1\" style=\"position:absolute;top:40pt;left:10pt\">Caption</div>");
    ASSERT_EQ(r.error, "");
    const tagDivInfo* caption = r.reader->firstPiece()->next;
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->joinedTo, nullptr) << dumpPieces(*r.reader);
}

}  // namespace
}  // namespace paginor
