#include <gtest/gtest.h>

#include <string>

#include "core/report_core.h"
#include "report_fixtures.h"
#include "temp_dir.h"

namespace paginor {
namespace {

struct BaseCase {
    std::string text;
    std::string folder;
    bool web;
};

TEST(ReportHead, BaseElement) {
    const BaseCase cases[] = {
        {"<head><base href=\"http://srv/reports/run.jsp?x=1\"></head>", "http://srv/reports/",
         true},
        {"<base href=\"C:\\rep\\out\\r.htm\">", "C:\\rep\\out\\", false},
        {"<BASE  HREF=\"/srv/a b/r.htm\" target=x>", "/srv/a b/", false},
        {"<base href=HTTPS://srv/r/>", "HTTPS://srv/r/", true},
        {"<base href=ab>", "", false},
        {"<basefont href=\"/x/y\">", "", false},
        {"<p><base target=x><base href=\"/first/a\"><base href=\"/second/b\">", "/first/", false},
    };
    for (const BaseCase& c : cases) {
        CReportCore core;
        core.ParseBaseHref(c.text.data(), static_cast<std::int64_t>(c.text.size()));
        EXPECT_EQ(core.baseFolder(), c.folder) << c.text;
        EXPECT_EQ(core.fromWebAddress(), c.web) << c.text;
        EXPECT_EQ(core.ownBaseTag(), !c.folder.empty()) << c.text;
    }
}

TEST(ReportHead, MetaCharset) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {"<META http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1256\">", 1256},
        {"<meta content=\"text/html; charset=UTF-8\">", 65001},
        {"<meta content=\"text/html; charset=latin1\">", 0},
        {"<meta name=x content=y><meta content=\"text/html;charset=big5\">", 950},
        {"<meta content=\"text/html; charset=" + std::string(40, 'x') + "\">", -5},
        {"<meta charset=\"gb2312\">", -5},
    };
    for (const auto& [text, codePage] : cases) {
        CReportCore core;
        // -5 marks "left as it was"; a fresh object holds 0.
        core.ParseMetaCharset(text.data(), static_cast<std::int64_t>(text.size()));
        EXPECT_EQ(core.codePage(), codePage == -5 ? 0 : codePage) << text;
    }
}

TEST(ReportHead, Direction) {
    const std::pair<std::string, TextDirection> cases[] = {
        {"<body dir=\"RTL\" bgcolor=\"#FFFFFF\">", TextDirection::RightToLeft},
        {"<html dir=LTR lang=en><body>", TextDirection::LeftToRight},
        {"<body dir=rtl>", TextDirection::NotStated},
        {"<div dir=\"rtl\"><body dir=\"ltr\" x>", TextDirection::LeftToRight},
        {"<body dir=\"up\"><html dir=\"rtl\">", TextDirection::RightToLeft},
    };
    for (const auto& [text, direction] : cases) {
        CReportCore core;
        core.ParseDirection(text.data(), static_cast<std::int64_t>(text.size()));
        EXPECT_EQ(core.textDirection(), direction) << text;
    }
}

TEST(ReportHead, BodyNowrap) {
    const std::pair<std::string, std::string> cases[] = {
        {"<head></head><body bgcolor=\"#FFFFFF\">\r\n",
         "<head></head><body bgcolor=\"#FFFFFF\" nowrap>\r\n"},
        {"<body>", "<body>"},
        {"<BODY nowrap bgcolor=x>", "<BODY nowrap bgcolor=x>"},
        {"<body class=nowrapped>", "<body class=nowrapped nowrap>"},
        {"<html><head></head>", "<html><head></head>"},
    };
    for (const auto& [before, after] : cases) {
        std::string head = before;
        CReportCore::AddBodyNowrap(head);
        EXPECT_EQ(head, after);
    }
}

TEST(ReportHead, FormTest) {
    const std::pair<std::string, bool> cases[] = {
        {"<FORM action=x><Input type=text></form>", true},
        {"<form action=x></form><input type=text>", false},
        {"<form action=x><input type=text>", false},
        {"<form><input type=text></form>", false},
    };
    for (const auto& [text, holds] : cases) {
        EXPECT_EQ(CReportCore::HasForm(text.data(), static_cast<std::int64_t>(text.size())), holds)
            << text;
    }
}

class LinkedStyleSheet : public ::testing::Test {
protected:
    std::string load(bool embed, const std::string& link) {
        std::string prologue = "<html>\r\n<head>\r\n" + link +
                               "\r\n<style>#c9 {color:blue}</style>\r\n</head>\r\n<body>\r\n";
        std::string path = m_dir.write("r.htm", fixtures::markedCssReport(1, prologue));
        try {
            m_core.Init(path, nullptr, embed, nullptr, nullptr, nullptr);
        } catch (const ReportError&) {
            return "error: " + m_core.GetErrorText();
        }
        return m_core.head();
    }

    TempDir m_dir;
    CReportCore m_core;
    const std::string m_sheet =
        ".c1 {font-size:10pt;}\r\n.c2 {\r\n color:red;\r\n}\r\nbody {margin:0}\r\n  .c3{x:y}";
    const std::string m_blocks =
        "<style>#c1 {font-size:10pt;}</style>\r\n<style>#c2 {   color:red;  }</style>\r\n"
        "<style>#c3{x:y}</style>\r\n";
};

TEST_F(LinkedStyleSheet, ClassRulesBecomeStyleBlocks) {
    m_dir.write("rpt.css", m_sheet);
    std::string head = load(false, "<link rel=\"stylesheet\" type=\"text/css\" href=\"rpt.css\">");
    ASSERT_TRUE(head.ends_with("<body>\r\n" + m_blocks)) << head;
}

TEST_F(LinkedStyleSheet, EmbeddedSheetComesWhole) {
    m_dir.write("rpt.css", m_sheet);
    std::string head = load(true, "<LINK REL=stylesheet TYPE=text/css HREF=rpt.css>");
    ASSERT_TRUE(head.ends_with("<body>\r\n<style type=\"text/css\">\r\n" + m_sheet +
                               "</style>\r\n" + m_blocks))
        << head;
}

TEST_F(LinkedStyleSheet, SingleQuotedAddress) {
    m_dir.write("rpt.css", ".c1 {a:b}");
    std::string head = load(false, "<link rel=stylesheet type=text/css href='rpt.css'>");
    EXPECT_TRUE(head.ends_with("<style>#c1 {a:b}</style>\r\n")) << head;
}

TEST_F(LinkedStyleSheet, WithoutASheetTheReportsOwnBlocksAreCopied) {
    std::string head = load(false, "<link rel=\"icon\" href=\"x.ico\">");
    EXPECT_TRUE(head.ends_with("<body>\r\n<style>#c9 {color:blue}</style>\r\n")) << head;
}

TEST_F(LinkedStyleSheet, MissingSheetFailsTheLoad) {
    std::string head = load(false, "<link rel=stylesheet type=text/css href=\"none.css\">");
    EXPECT_EQ(head, "error: Runtime exception[FLC][GSMV3Op]:" + m_dir.path() +
                        "/none.css: No such file or directory");
    EXPECT_EQ(m_core.state(), 0);
}

}  // namespace
}  // namespace paginor
