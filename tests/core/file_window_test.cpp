#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "core/report_core.h"
#include "platform/file.h"
#include "temp_dir.h"
#include "tests/support/report_generator.h"

namespace paginor {
namespace {

class LargeReport : public ::testing::Test {
protected:
    void generate(GeneratedFormat format, bool marks, std::int64_t bytes) {
        ReportSpec spec;
        spec.format = format;
        spec.pageMarks = marks;
        spec.targetBytes = bytes;
        spec.rowsPerPage = 37;
        spec.seed = 7;
        m_path = m_dir.path() + "/large.htm";
        std::string error;
        ASSERT_TRUE(writeReport(m_path, spec, m_pages, error)) << error;
        ASSERT_TRUE(readWholeFile(m_path, m_text, error)) << error;
        try {
            m_core.Init(m_path, nullptr, false, nullptr, nullptr, nullptr);
        } catch (const ReportError&) {
            FAIL() << m_core.GetErrorText();
        }
    }

    // The window must hold exactly the file's bytes from its start.
    void expectWindowMatchesFile() {
        const std::int64_t start = m_core.windowStart();
        const std::int64_t valid = m_core.windowValid();
        ASSERT_GE(start, 0);
        ASSERT_LE(start + valid, static_cast<std::int64_t>(m_text.size()));
        ASSERT_EQ(std::string(m_core.windowData(), valid), m_text.substr(start, valid));
    }

    TempDir m_dir;
    std::string m_path;
    std::string m_text;
    std::vector<GeneratedPage> m_pages;
    CReportCore m_core;
};

void expectSamePages(const std::vector<tagPageInfo>& found,
                     const std::vector<GeneratedPage>& made) {
    ASSERT_EQ(found.size(), made.size());
    for (std::size_t i = 0; i < made.size(); ++i) {
        ASSERT_EQ(found[i].start, made[i].start) << "page " << i + 1;
        ASSERT_EQ(found[i].length, made[i].length) << "page " << i + 1;
    }
}

TEST_F(LargeReport, MarkedHtmlAcrossWindowMoves) {
    generate(GeneratedFormat::Html, true, 9 * 1024 * 1024);
    EXPECT_EQ(m_core.windowSize(), CReportCore::kMaxWindowSize);
    expectSamePages(m_core.pageTable(), m_pages);
}

TEST_F(LargeReport, MarkedCssAcrossWindowMoves) {
    generate(GeneratedFormat::HtmlCss, true, 7 * 1024 * 1024);
    expectSamePages(m_core.pageTable(), m_pages);
    EXPECT_GT(m_core.pageHeight(), 0);
}

TEST_F(LargeReport, SeekGivesTheFileBytesAtEveryKindOfMove) {
    generate(GeneratedFormat::Html, true, 8 * 1024 * 1024);
    const std::int64_t size = static_cast<std::int64_t>(m_text.size());
    std::vector<std::int64_t> offsets = {0,
                                         100,
                                         3145728 - 1025,
                                         3145728 - 1024,  // last 1024 bytes of the window
                                         3145728 + 5,
                                         3145728 * 2,
                                         4000000,
                                         10,  // far beyond, then backwards
                                         200000,
                                         190000,
                                         size - 1,
                                         size - 5000,  // overlapping backward move
                                         1,
                                         size - 1,
                                         0};
    std::mt19937 random(42);
    for (int i = 0; i < 200; ++i) {
        offsets.push_back(static_cast<std::int64_t>(random() % size));
    }
    for (std::int64_t offset : offsets) {
        std::int64_t index = -1;
        m_core.SeekWindow(offset, index);
        ASSERT_EQ(m_core.windowData()[index], m_text[offset]) << "offset " << offset;
        ASSERT_EQ(m_core.windowStart() + index, offset);
        expectWindowMatchesFile();
    }
    for (std::int64_t offset = 0; offset < size; offset += 4093) {
        std::int64_t index = -1;
        m_core.SeekWindow(offset, index);
        ASSERT_EQ(m_core.windowData()[index], m_text[offset]) << "offset " << offset;
    }
    expectWindowMatchesFile();
}

TEST_F(LargeReport, SeekAtOrBeyondTheEndRaises1005) {
    generate(GeneratedFormat::Html, true, 200000);
    std::int64_t index = 0;
    for (std::int64_t offset : {static_cast<std::int64_t>(m_text.size()), std::int64_t{-1}}) {
        try {
            m_core.SeekWindow(offset, index);
            FAIL() << "no error at " << offset;
        } catch (const ReportError& error) {
            EXPECT_EQ(error.code(), 1005);
            EXPECT_EQ(m_core.GetErrorText(),
                      "Programming Error, please contract the author of the software(Error "
                      "Code:1005)");
        }
    }
}

// A report that another program cut after it was opened is named as the cause, whether the
// window or a copy meets the new end.
TEST_F(LargeReport, AReportCutOnDiskIsNamedAsTheCause) {
    generate(GeneratedFormat::HtmlCss, true, 8 * 1024 * 1024);
    const std::int64_t size = static_cast<std::int64_t>(m_text.size());
    ASSERT_EQ(::truncate(m_path.c_str(), size / 2), 0);
    const std::string cut = "The report file " + m_path +
                            " was changed or cut on disk after it was opened: it no longer holds "
                            "the " +
                            std::to_string(size) + " bytes it held then. Open the report again.";
    const std::int32_t last = static_cast<std::int32_t>(m_pages.size());
    std::string page;
    std::int64_t index = 0;
    std::int64_t length = 100;
    const std::function<void()> reads[] = {
        [&] {
            m_core.SeekWindow(0, index);
            m_core.SeekWindow(size - 10, index);
        },
        [&] { m_core.CopyToStringBuffer(size - 200, '\0', length); },
        [&] { m_core.GetPage(last, last, page, false); },
    };
    for (const auto& read : reads) {
        try {
            read();
            ADD_FAILURE() << "no error";
        } catch (const ReportError& error) {
            EXPECT_EQ(error.code(), -1);
            EXPECT_EQ(m_core.GetErrorText(), cut);
        }
    }
}

TEST_F(LargeReport, CopyLongerThanTheWindow) {
    generate(GeneratedFormat::Html, true, 6 * 1024 * 1024);
    std::int64_t length = 5 * 1024 * 1024;
    m_core.CopyToStringBuffer(1000, '\0', length);
    EXPECT_EQ(m_core.tagBufferUsed(), length);
    EXPECT_EQ(m_core.tagBufferOffset(), 1000);
    EXPECT_EQ(std::string(m_core.tagBuffer(), length), m_text.substr(1000, length));
    EXPECT_EQ(m_core.tagBuffer()[length], '\0');
}

TEST_F(LargeReport, CopyMeasuresUpToTheEndCharacter) {
    generate(GeneratedFormat::Html, true, 4 * 1024 * 1024);
    const std::int64_t from = 3500000;
    std::int64_t length = 0;
    m_core.CopyToStringBuffer(from, '>', length);
    const std::int64_t close = static_cast<std::int64_t>(m_text.find('>', from));
    EXPECT_EQ(length, close - from + 1);
    EXPECT_EQ(std::string(m_core.tagBuffer(), length), m_text.substr(from, length));

    // A length past the end is cut at the end; no endChar copies to the end.
    const std::int64_t size = static_cast<std::int64_t>(m_text.size());
    length = 1000;
    m_core.CopyToStringBuffer(size - 10, '\0', length);
    EXPECT_EQ(length, 10);
    length = 0;
    m_core.CopyToStringBuffer(size - 100, '\x01', length);
    EXPECT_EQ(length, 100);
}

TEST(FileWindow, NothingLoadedRaises1001) {
    CReportCore core;
    std::int64_t index = 0;
    try {
        core.SeekWindow(0, index);
        FAIL();
    } catch (const ReportError& error) {
        EXPECT_EQ(error.code(), 1001);
    }
}

}  // namespace
}  // namespace paginor
