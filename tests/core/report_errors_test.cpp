#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "core/report_core.h"
#include "tests/core/report_fixtures.h"
#include "tests/core/temp_dir.h"

namespace paginor {
namespace {

struct MessageCase {
    std::int32_t code;
    std::string expected;
    friend void PrintTo(const MessageCase& c, std::ostream* out) { *out << "code " << c.code; }
};

class ErrorTextTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorTextTest, MessageAndSuffix) {
    CReportCore core;
    core.SetErrorCode(GetParam().code);
    EXPECT_EQ(core.GetErrorText(), GetParam().expected);
}

const std::string kAddress = "support@example.com";

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorTextTest,
    ::testing::Values(
        MessageCase{0, "No error!(Error Code:0)"},
        MessageCase{1, "Initial Fail, the file name is NULL(Error Code:1)"},
        MessageCase{5, "Report Object is not initialed ,\nplease open a file(Error Code:5)"},
        MessageCase{9,
                    "Syntax error : Encounter ONLY PageHeadMark  or  PageFootMark (Error Code:9)"},
        MessageCase{13, "The file is not a web page !(Error Code:13)"},
        MessageCase{17, "Sorry, Exceed the maximum style ID number, Please contact " + kAddress +
                            "(Error Code:17)"},
        MessageCase{22,
                    "Failed to analysis the file, Please be so kind to send the report output "
                    "(html file) to Orrin Soft at " +
                        kAddress + " , Thank you!(Error Code:22)"},
        MessageCase{28, "Fail to get width of page. tr tag not found.(Error Code:28)"},
        MessageCase{30, "Unknow reason. Please contact " + kAddress + " for help(Error Code:30)"},
        MessageCase{-2, "Unknow reason. Please contact " + kAddress + " for help(Error Code:-2)"},
        MessageCase{1000,
                    "Unknow reason. Please contact " + kAddress + " for help(Error Code:1000)"},
        MessageCase{1005,
                    "Programming Error, please contract the author of the software(Error "
                    "Code:1005)"}));

TEST(ErrorText, PageBlockCodesShareTheirFiveLines) {
    CReportCore core;
    core.SetErrorCode(6);
    std::string six = core.GetErrorText();
    core.SetErrorCode(7);
    std::string seven = core.GetErrorText();
    ASSERT_TRUE(six.ends_with("(Error Code:6)"));
    ASSERT_TRUE(seven.ends_with("(Error Code:7)"));
    EXPECT_EQ(six.substr(0, six.size() - 14), seven.substr(0, seven.size() - 14));
    EXPECT_EQ(std::count(six.begin(), six.end(), '\n'), 4);
    EXPECT_TRUE(
        six.starts_with("The range of page index you can browse has the following "
                        "limitation: \n1.The page with page index of 65535"));
    EXPECT_NE(six.find("n=0,1,2,\xE2\x80\xA6\xE2\x80\xA6 \n For more infomation"),
              std::string::npos);
}

TEST(ErrorText, OwnTextHasNoSuffixAndIsCapped) {
    CReportCore core;
    core.SetExceptionText(std::string(2000, 'x'), "InitOp2");
    EXPECT_EQ(core.errorCode(), -1);
    std::string text = core.GetErrorText();
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_TRUE(text.starts_with("Runtime exception[FLC][InitOp2]:xxx"));

    core.SetExceptionText("", "CTSBOp1");
    EXPECT_EQ(core.GetErrorText(), "Runtime exception[FLC][CTSBOp1]:[NO ERR MSG FOUND]");
}

TEST(ErrorText, SystemTextNamesTheStep) {
    CReportCore core;
    core.SetSystemErrorText("InitGA1", ENOENT);
    EXPECT_EQ(core.GetErrorText(),
              "Error [M:FLC] :Error (2): No such file or directory More Info for Vendor: InitGA1");
    core.SetSystemErrorText(nullptr, ENOMEM);
    EXPECT_EQ(core.GetErrorText(), "Error [M:FLC] :Error (12): Cannot allocate memory");
}

TEST(ErrorText, BufferIsBoundedSuffixIncluded) {
    CReportCore core;
    core.SetErrorCode(13);
    char buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(core.GetErrorText(buffer, 10), 13);
    EXPECT_STREQ(buffer, "The file ");
    EXPECT_EQ(buffer[10], 'Z');
    char exact[64];
    core.GetErrorText(exact, sizeof exact);
    EXPECT_STREQ(exact, "The file is not a web page !(Error Code:13)");
}

// Whoever logs what() of a failure keeps the message the report stored with its code.
TEST(ReportErrors, CarryTheStoredCodeAndMessage) {
    TempDir dir;
    const std::string report = dir.write("r.htm", fixtures::markedHtmlReport(2));
    const struct {
        const char* name;
        std::function<void(CReportCore&)> fail;
        std::int32_t code;
        std::string start;
    } cases[] = {
        {"a missing file",
         [&](CReportCore& core) {
             core.Init(dir.path() + "/missing.htm", nullptr, false, nullptr, nullptr, nullptr);
         },
         -1, "Runtime exception[FLC][InitOp2]:"},
        {"pages outside the report",
         [&](CReportCore& core) {
             core.Init(report, nullptr, false, nullptr, nullptr, nullptr);
             std::string html;
             core.GetPage(2, 3, html, false);
         },
         -1, "Page number should between 1 and 2"},
        {"no report loaded",
         [](CReportCore& core) {
             std::string html;
             core.GetPage(1, 1, html, false);
         },
         5, "Report Object is not initialed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CReportCore core;
        try {
            c.fail(core);
            ADD_FAILURE() << "no error";
        } catch (const ReportError& error) {
            EXPECT_EQ(error.code(), c.code);
            EXPECT_EQ(error.code(), core.errorCode());
            EXPECT_EQ(error.what(), core.GetErrorText());
            EXPECT_TRUE(std::string(error.what()).starts_with(c.start)) << error.what();
        }
    }
}

}  // namespace
}  // namespace paginor
