#include <gtest/gtest.h>

#include "core/report_core.h"
#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

using testing::makeBatch;
using testing::runHtml;
using testing::RunOptions;

const char* const kMark = "<!--9876543210_PageMark_Head-->";

struct Failure {
    std::int32_t code;
    std::string text;
};

Failure fail(const std::string& html, const EngineLimits& limits = {}) {
    CConvertEngine engine(limits);
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    try {
        testing::run(engine, makeBatch({html}));
    } catch (const ConvertError& e) {
        Failure f{e.code(), {}};
        EXPECT_EQ(engine.GetErrorText(f.text), e.code());
        // Whoever logs what() keeps the message the engine stored with the code.
        EXPECT_EQ(e.what(), f.text);
        return f;
    }
    return {0, "no error"};
}

TEST(ConvertEngine, BadHtmlGivesEngineErrors) {
    const std::string address = supportAddress();
    struct Case {
        const char* name;
        std::string html;
        std::int32_t code;
        std::string text;
    };
    const Case cases[] = {
        {"table never closes", std::string(kMark) + "<table width=10><tr><td width=10>a</td></tr>",
         9, "Failed to find the expected string '&lt;/table>'(Error Code:9)"},
        {"garbage bytes", "\x01\xff\xfe garbage <<>> \x80", 9,
         "Failed to find the expected string '&lt;/table>'(Error Code:9)"},
        {"first row without cells", std::string(kMark) + "<table width=10><tr></tr></table>", 13,
         "Fail to get width of page(Error Code:13)"},
        {"table without rows", std::string(kMark) + "<table width=10></table>", -1,
         "Unable to process the file, please contact " + address},
        {"cell without width", std::string(kMark) + "<table><tr><td>a</td></tr></table>", -1,
         "Fail to get the Width of TD "},
        {"tag without end in a cell",
         std::string(kMark) + "<table><tr><td width=9>a <b</td></tr></table>", 8,
         "Failed to find the expected character '>'. Please contact " + address +
             " for more information(Error Code:8)"},
        {"face quote never closes",
         std::string(kMark) +
             "<table><tr><td width=9><font face=\"Arial>a</font></td></tr></table>",
         0, "no error"},
    };
    for (const Case& c : cases) {
        const Failure f = fail(c.html);
        EXPECT_EQ(f.code, c.code) << c.name;
        EXPECT_EQ(f.text, c.text) << c.name;
    }
}

TEST(ConvertEngine, UnterminatedQuotedFaceIsError104WithTheFontFlag) {
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    RunOptions o;
    o.font = true;
    const auto batch =
        makeBatch({std::string(kMark) +
                   "<table><tr><td width=9><font face=\"Arial>a</font></td></tr></table>"});
    try {
        testing::run(engine, batch, o);
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        std::string text;
        EXPECT_EQ(e.code(), 104);
        engine.GetErrorText(text);
        EXPECT_EQ(text, "Can not find the expecting character \" (Error Code:104)");
        EXPECT_EQ(e.what(), text);
    }
}

TEST(ConvertEngine, ErrorTexts) {
    CConvertEngine engine;
    std::string text;
    const std::string address = supportAddress();
    engine.SetError(4);
    engine.GetErrorText(text);
    EXPECT_EQ(text, "Unknow reason, Please contact " + address + "(Error Code:4)");
    engine.SetError(1001);
    engine.GetErrorText(text);
    EXPECT_EQ(text, "(Error Code:1001)");
    engine.SetError(0);
    engine.GetErrorText(text, 4);
    EXPECT_EQ(text, "No ");
    engine.SetError(12);
    engine.GetErrorText(text);
    EXPECT_EQ(text, "DEFAUlT_CELLTEXTBUFFER_NUMBER is too small. Please contact " + address +
                        " and report this bug, Thank you!(Error Code:12)");
}

TEST(ConvertEngine, TextBuffersExhaustedIsError12AndTheNextBatchWorks) {
    std::string rows;
    for (int i = 0; i < 40; ++i) {
        rows += "<tr><td width=\"50\">" + std::string(9000, 'x') + "&amp;</td></tr>";
    }
    const std::string big = std::string(kMark) + "<table>" + rows + "</table>";
    EngineLimits limits;
    limits.textBuffers = 4;
    CConvertEngine engine(limits);
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    EXPECT_THROW(testing::run(engine, makeBatch({big})), ConvertError);
    EXPECT_EQ(engine.errorCode(), 12);
    const auto r = testing::run(
        engine, makeBatch({std::string(kMark) + "<table><tr><td width=9>ok</td></tr></table>"}));
    EXPECT_EQ(r.text, "ok\r\n");
    EXPECT_EQ(engine.textBuffersAllocated(), 4u);
}

TEST(ConvertEngine, OneTextLongerThanABufferDoesNotOverflow) {
    const std::string cell = std::string(100000, 'y') + "&lt;";
    const auto r = runHtml(
        makeBatch({std::string(kMark) + "<table><tr><td width=9>" + cell + "</td></tr></table>"}));
    EXPECT_EQ(r.text, std::string(100000, 'y') + "<\r\n");
}

TEST(ConvertEngine, BatchesReuseBuffersAndGiveEqualResults) {
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    const auto a =
        makeBatch({std::string(kMark) + "<table><tr><td width=9>A&amp;1</td></tr></table>"});
    const auto b = makeBatch(
        {std::string(kMark) + "<table><tr><td width=9>B</td><td width=9>2</td></tr></table>"});
    const auto first = testing::run(engine, a);
    testing::run(engine, b);
    const auto again = testing::run(engine, a);
    EXPECT_EQ(first.text, again.text);
    EXPECT_EQ(engine.textBuffersAllocated(), 1u);
}

TEST(ConvertEngine, OtherEngineNumberProducesNothing) {
    RunOptions o;
    o.engineNumber = 5;
    const auto r =
        runHtml(makeBatch({std::string(kMark) + "<table><tr><td width=9>A</td></tr></table>"}), o);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.batch.rangeFound, 0);
}

TEST(ConvertEngine, HtmlCssBatchWithoutPiecesProducesNothing) {
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtmlCss, nullptr, 0, false);
    const auto r = testing::run(engine, makeBatch({"<div>x</div><p>text</p>"}));
    EXPECT_EQ(engine.errorCode(), 0);
    EXPECT_EQ(r.text, "");
    EXPECT_EQ(r.batch.rangeFound, 1);
    EXPECT_EQ(r.step, "detected_REPORT_DESFORMAT_HTMLCSS");
}

TEST(ConvertEngine, PageOffsetsOutsideTheInputAreRefused) {
    CConvertEngine engine;
    engine.Init(nullptr, kFormatHtml, nullptr, 0, false);
    auto batch = makeBatch({"<table><tr><td width=9>A</td></tr></table>"});
    batch.offsets.push_back(1000);
    EXPECT_THROW(testing::run(engine, batch), ConvertError);
    EXPECT_EQ(engine.errorCode(), -1);
}

TEST(ConvertEngine, StepBufferHoldsTheLastStep) {
    const auto r =
        runHtml(makeBatch({std::string(kMark) + "<table><tr><td width=9>A</td></tr></table>"}));
    EXPECT_EQ(r.step, "detected_REPORT_DESFORMAT_HTML");
}

}  // namespace
}  // namespace paginor
