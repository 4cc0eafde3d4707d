#include "mail/mime_message.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tests/mail/mail_test_support.h"

namespace paginor {
namespace {

const std::string kB = "QZ_MAIL_PaRt_BoUnDaRy_05151998";

std::string composed(CMIMEMessage& message) {
    std::string error;
    EXPECT_TRUE(message.Compose(error)) << error;
    return message.header() + message.body();
}

TEST(MimeMessageTest, ComposesHeaderAndTextPartExactly) {
    FixedClock clock;
    CMIMEMessage message(clock);
    message.setFrom("me@example.org");
    message.setSubject("Report");
    message.setBody("Hi");
    message.AddRecipient("you@example.org", "", To);
    std::string error;
    ASSERT_TRUE(message.Compose(error));
    EXPECT_EQ(message.header(),
              "From: me@example.org\r\n"
              "To: <you@example.org>\r\n"
              "Cc: \r\n"
              "Date: Tue, 05 Mar 2024 14:03:09 +0100\r\n"
              "Subject: Report\r\n"
              "X-Mailer: Tabulan\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=" +
                  kB +
                  "\r\n"
                  "\r\n");
    EXPECT_EQ(message.body(),
              "This is a multi-part message in MIME format.\r\n\r\n"
              "--" +
                  kB +
                  "\r\n"
                  "Content-Type: text/plain\r\n"
                  "Content-Transfer-Encoding: 7Bit\r\n"
                  "\r\n"
                  "Hi\r\n"
                  "--" +
                  kB + "--\r\n");
}

TEST(MimeMessageTest, CarriageReturnsInHeaderTextsCannotAddHeaderLines) {
    CMIMEMessage message;
    message.setSubject("Hello\r\nBcc: evil@example.org");
    message.AddRecipient("a@example.org", "Bob\nX-Evil: 1 ", To);
    std::string text = composed(message);
    EXPECT_NE(text.find("Subject: Hello Bcc: evil@example.org\r\n"), std::string::npos);
    EXPECT_NE(text.find("To: Bob X-Evil: 1 <a@example.org>\r\n"), std::string::npos);
}

struct RecipientCase {
    std::string name;
    std::string text;
    bool result;
    std::string recipients;  // name|address per recipient
};

TEST(MimeMessageTest, ParsesRecipientLists) {
    const RecipientCase cases[] = {
        {"name and bare address", "Bob Smith <bob@x.org>;carol@y.org", true,
         "Bob Smith |bob@x.org\n|carol@y.org\n"},
        {"blanks around addresses", " a@x.org ; < b@y.org >", true, "|a@x.org\n |b@y.org\n"},
        {"trailing and doubled separators", "a@x.org;;b@y.org;", true, "|a@x.org\n|b@y.org\n"},
        {"angle without its end stops", "a@x.org;Bob <b@y.org;c@z.org", false, "|a@x.org\n"},
        {"end before the angle", "a>b<c@x.org", false, ""},
    };
    for (const RecipientCase& c : cases) {
        CMIMEMessage message;
        std::string bad;
        EXPECT_EQ(message.AddRecipientList(c.text, To, &bad), c.result) << c.name;
        std::string got;
        std::string address;
        std::string name;
        for (int i = 0; message.GetRecipient(address, name, i, To); ++i) {
            got += name + "|" + address + "\n";
        }
        EXPECT_EQ(got, c.recipients) << c.name;
        EXPECT_EQ(message.GetRecipientCount(Cc), 0);
    }
}

TEST(MimeMessageTest, ToLineJoinsRecipientsWithoutBlanks) {
    CMIMEMessage message;
    message.AddRecipientList("Bob <bob@x.org>;carol@y.org", To);
    EXPECT_NE(composed(message).find("To: Bob <bob@x.org>,<carol@y.org>\r\n"), std::string::npos);
}

TEST(MimeMessageTest, GetRecipientOutOfRangeGivesEmptyTexts) {
    CMIMEMessage message;
    message.AddRecipient("a@x.org", "A", Bcc);
    message.AddRecipient("ignored@x.org", "", 3);
    std::string address = "x";
    std::string name = "y";
    EXPECT_FALSE(message.GetRecipient(address, name, 1, Bcc));
    EXPECT_FALSE(message.GetRecipient(address, name, -1, Bcc));
    EXPECT_EQ(address + name, "");
    EXPECT_EQ(message.GetRecipientCount(3), 0);
}

TEST(MimeMessageTest, AttachmentLinesFollowTheFiftyFourByteBlocks) {
    TempFolder folder;
    struct Case {
        std::size_t size;
        std::string lines;  // line lengths of the base64 text after the part header
    };
    const Case cases[] = {{0, "0,0,"}, {54, "72,0,0,"}, {55, "72,4,0,"}, {108, "72,72,0,0,"}};
    for (const Case& c : cases) {
        std::string path = folder.file("r.htm", std::string(c.size, 'q'));
        CMIMEMessage message;
        message.AddPart(path, AppOctetStream, "", 4, true);
        std::string body = (composed(message), message.body());
        std::string header =
            "Content-Type: application/octet-stream; file=r.htm\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=r.htm\r\n\r\n";
        std::size_t start = body.find(header);
        ASSERT_NE(start, std::string::npos);
        std::size_t end = body.find("--" + kB + "--");
        std::string lines;
        for (std::size_t at = start + header.size(); at < end;) {
            std::size_t next = body.find("\r\n", at);
            lines += std::to_string(next - at) + ",";
            at = next + 2;
        }
        EXPECT_EQ(lines, c.lines) << c.size;
        EXPECT_EQ(body.find("text/plain"), std::string::npos);
    }
}

TEST(MimeMessageTest, AnAttachmentThatCannotBeReadFailsTheCompose) {
    TempFolder folder;
    // A FIFO fails at once: its open would wait for a writer that never comes.
    ASSERT_EQ(mkfifo((folder.path() + "/pipe.xls").c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        {folder.path() + "/missing.xls", std::strerror(ENOENT)},
        {folder.path(), "not a regular file"},
        {folder.path() + "/pipe.xls", "not a regular file"},
    };
    for (const auto& c : cases) {
        CMIMEMessage message;
        message.setBody("Hi");
        message.AddPart(c.path, AppOctetStream, "", 4, true);
        std::string error;
        EXPECT_FALSE(message.Compose(error));
        EXPECT_EQ(error, "Unable to read the attachment " + c.path + ": " + c.reason);
    }
}

TEST(MimeMessageTest, FileNamesOutsideTheTokenSetAreQuoted) {
    TempFolder folder;
    std::string path = folder.file("my report$1-2.xls", "x");
    CMIMEMessage message;
    message.AddPart(path, AppOctetStream, "", 4, true);
    EXPECT_NE(composed(message).find("filename=\"my report$1-2.xls\"\r\n"), std::string::npos);
}

// Python's email package reads the message back: parts, names, payloads and addresses.
TEST(MimeMessageTest, PythonsEmailPackageReadsTheMessageBack) {
    TempFolder folder;
    std::string data;
    for (int i = 0; i < 3000; ++i) {
        data += static_cast<char>(i * 7);
    }
    std::string attachment = folder.file("sales$3-5.xls", data);
    CMIMEMessage message;
    message.setFrom("me@example.org");
    message.setSubject("Oracle report");
    message.setBody("Comment:\nline two\n.starts with a dot");
    message.AddRecipientList("Bob <bob@x.org>;carol@y.org", To);
    message.AddPart(attachment, AppOctetStream, "", 4, true);
    std::string path = folder.file("mail.eml", composed(message));
    const std::string script =
        "import sys, email, email.policy\n"
        "for policy in (email.policy.default, email.policy.compat32):\n"
        "    m = email.message_from_bytes(open(sys.argv[1], \"rb\").read(), policy=policy)\n"
        "    parts = [p for p in m.walk() if not p.is_multipart()]\n"
        "    assert not m.defects and all(not p.defects for p in parts)\n"
        "    print(m.get_content_type(), len(parts), parts[0].get_payload(decode=True),\n"
        "          parts[1].get_filename(), len(parts[1].get_payload(decode=True)),\n"
        "          parts[1].get_payload(decode=True) == bytes((i * 7) % 256 for i in "
        "range(3000)))\n"
        "print(email.message_from_bytes(open(sys.argv[1], \"rb\").read(),\n"
        "      policy=email.policy.default)[\"To\"].addresses)\n";
    int status = 0;
    std::string output = runPython(script, path, status);
    EXPECT_EQ(status, 0);
    const std::string line =
        "multipart/mixed 2 b'Comment:\\r\\nline two\\r\\n.starts with a dot' sales$3-5.xls "
        "3000 True\n";
    EXPECT_EQ(output, line + line +
                          "(Address(display_name='Bob', username='bob', domain='x.org'), "
                          "Address(display_name='', username='carol', domain='y.org'))\n");
}

// Every byte of the message is 7-bit and no line runs past 78 characters.
bool sevenBitLines(const std::string& text, std::string& bad) {
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = text.substr(start, end - start);
        const bool eightBit = std::any_of(line.begin(), line.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80 || c == '\r' || c == '\n';
        });
        if (eightBit || line.size() > 78) {
            bad = line;
            return false;
        }
    }
    return start == text.size();
}

// Text outside ASCII is UTF-8, named so and encoded to stay 7-bit: the text part in
// quoted-printable, the subject and display names as encoded words, file names in the RFC 2231
// form (cut into sections when long). Python's email package reads every text back.
TEST(MimeMessageTest, TextOutsideAsciiArrivesWholeInSevenBits) {
    TempFolder folder;
    const std::string comment = "Z\u00fcrich caf\u00e9 \u2013 r\u00e9sum\u00e9";
    std::string longWord;
    for (int i = 0; i < 30; ++i) {
        longWord += "\u00e4\u00f6=";
    }
    const std::string body = comment + "\nends with a blank \n.a line with a dot\n" + longWord;
    const std::string shortName = comment + "$1-2.xlsx";
    std::string longName;
    for (int i = 0; i < 40; ++i) {
        longName += "\u00fc";
    }
    longName += ".xlsx";
    CMIMEMessage message;
    message.setFrom("me@example.org");
    message.setSubject("Bericht f\u00fcr " + comment + ", " + comment + ", " + comment);
    message.setBody(body);
    message.AddRecipientList("Zo\u00eb \u00c4rger <zoe@x.org>;Bob <bob@y.org>", To);
    message.AddPart(folder.file(shortName, "first"), AppOctetStream, "", 4, true);
    message.AddPart(folder.file(longName, "second"), AppOctetStream, "", 4, true);
    const std::string text = composed(message);
    std::string bad;
    EXPECT_TRUE(sevenBitLines(text, bad)) << bad;
    const std::string path = folder.file("mail.eml", text);
    const std::string script =
        "import sys, email, email.policy\n"
        "m = email.message_from_bytes(open(sys.argv[1], \"rb\").read(), "
        "policy=email.policy.default)\n"
        "parts = [p for p in m.walk() if not p.is_multipart()]\n"
        "assert not m.defects and all(not p.defects for p in parts)\n"
        "to = m[\"To\"].addresses\n"
        "out = [str(m[\"Subject\"]), to[0].display_name, to[0].addr_spec, to[1].display_name,\n"
        "       parts[0].get_content_charset(), parts[0].get_content().replace(\"\\r\\n\", "
        "\"\\n\"),\n"
        "       parts[1].get_filename(), parts[1].get_content().decode(),\n"
        "       parts[2].get_filename(), parts[2].get_content().decode()]\n"
        "sys.stdout.buffer.write(\"|\".join(out).encode(\"utf-8\"))\n";
    int status = 0;
    const std::string output = runPython(script, path, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "Bericht f\u00fcr " + comment + ", " + comment + ", " + comment +
                          "|Zo\u00eb \u00c4rger|zoe@x.org|Bob|utf-8|" + body + "|" + shortName +
                          "|first|" + longName + "|second");
    // Each of the texts needed its encoding.
    EXPECT_NE(text.find("Content-Type: text/plain; charset=UTF-8\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n"),
              std::string::npos);
    EXPECT_NE(message.header().find("Subject: =?UTF-8?B?"), std::string::npos);
    EXPECT_NE(text.find("filename*0*=UTF-8''%C3%BC"), std::string::npos);
}

// An ASCII subject, name and file name keep their plain form.
TEST(MimeMessageTest, AsciiTextsKeepTheirPlainForm) {
    TempFolder folder;
    CMIMEMessage message;
    message.setSubject("Oracle report");
    message.setBody("Comment:\r\nplain");
    message.AddRecipientList("Bob <bob@y.org>", To);
    message.AddPart(folder.file("sales$1-2.xlsx", "x"), AppOctetStream, "", 4, true);
    const std::string text = composed(message);
    for (const char* line : {"\r\nSubject: Oracle report\r\n", "\r\nTo: Bob <bob@y.org>\r\n",
                             "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n"
                             "\r\nComment:\r\nplain\r\n",
                             "Content-Type: application/octet-stream; file=sales$1-2.xlsx\r\n",
                             "Content-Disposition: attachment; filename=sales$1-2.xlsx\r\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

// A comment holding the boundary line must not start a part of its own (a forged attachment).
TEST(MimeMessageTest, ABodyHoldingTheBoundaryCannotForgeParts) {
    TempFolder folder;
    std::string attachment = folder.file("sales.xls", "real attachment");
    for (const std::string& boundary :
         {kB, std::string("qz_mail_part_boundary_05151998"), kB + "_1"}) {
        const std::string forged = "Comment:\n--" + boundary +
                                   "\nContent-Type: application/octet-stream\n"
                                   "Content-Disposition: attachment; filename=evil.exe\n\n"
                                   "TVqQ\n--" +
                                   boundary + "--\n";
        CMIMEMessage message;
        message.setFrom("me@example.org");
        message.setSubject("Oracle report");
        message.setBody(forged + "--" + kB + "_1\n");
        message.AddRecipient("you@example.org", "", To);
        message.AddPart(attachment, AppOctetStream, "", 4, true);
        std::string path = folder.file("mail.eml", composed(message));
        EXPECT_EQ(message.header().find(kB + "\r\n"), std::string::npos) << boundary;
        const std::string script =
            "import sys, email, email.policy\n"
            "m = email.message_from_bytes(open(sys.argv[1], \"rb\").read(), "
            "policy=email.policy.default)\n"
            "parts = [p for p in m.walk() if not p.is_multipart()]\n"
            "print(len(parts), [p.get_filename() for p in parts])\n"
            "print(parts[0].get_payload(decode=True).decode())\n";
        int status = 0;
        std::string output = runPython(script, path, status);
        EXPECT_EQ(status, 0);
        std::string sent = forged + "--" + kB + "_1";
        for (std::size_t at = 0; (at = sent.find('\n', at)) != std::string::npos; at += 2) {
            sent.replace(at, 1, "\r\n");
        }
        EXPECT_EQ(output, "2 [None, 'sales.xls']\n" + sent + "\n") << boundary;
    }
}

// Without the boundary in any text the message keeps it.
TEST(MimeMessageTest, KeepsItsBoundaryWhenNoTextHoldsIt) {
    CMIMEMessage message;
    message.setBody("QZ_MAIL_PaRt_BoUnDaRy_0515199 is not it");
    composed(message);
    EXPECT_EQ(message.boundary(), kB);
}

struct WrapCase {
    std::string name;
    std::string text;
    std::string wrapped;
};

TEST(MimeMessageTest, WrapsTextAtTheLastBlankWithinTheLineLength) {
    std::string words;
    for (int i = 0; i < 10; ++i) {
        words += "aaaaaaaaa ";
    }
    words.pop_back();  // 99 characters, blanks at 9, 19, ... 89
    const std::string longWord(90, 'w');
    const WrapCase cases[] = {
        {"short line", "Hello world", "Hello world"},
        {"long line broken at its last blank before 77", words,
         words.substr(0, 69) + "\r\n" + words.substr(70)},
        {"a long word is kept whole", longWord + " x", longWord + "\r\nx"},
        {"empty lines stay", "a\r\n\r\n" + longWord, "a\r\n\r\n" + longWord},
        {"bare line ends become CRLF", "a\nb\rc\r\n", "a\r\nb\r\nc\r\n"},
        {"an earlier line is never broken", "Hello world\r\n" + longWord,
         "Hello world\r\n" + longWord},
    };
    CTextPlain agent(TextPlain, 76);
    for (const WrapCase& c : cases) {
        EXPECT_EQ(agent.WrapText(c.text), c.wrapped) << c.name;
    }
}

TEST(MimeMessageTest, TypeManagerFindsTheFirstMatchElseTheLast) {
    CMIMEMessage::CMIMETypeManager manager;
    EXPECT_EQ(manager.FindAgent(0), nullptr);
    manager.AddAgent(std::make_unique<CTextPlain>(TextPlain, 76));
    auto* octets = new CAppOctetStream(AppOctetStream);
    manager.AddAgent(std::unique_ptr<CMIMEContentAgent>(octets));
    manager.AddAgent(std::make_unique<CAppOctetStream>(AppOctetStream));
    EXPECT_EQ(manager.FindAgent(AppOctetStream), octets);
    EXPECT_EQ(manager.FindAgent(TextPlain)->GetContentTypeName(), "text/plain");
    EXPECT_EQ(manager.FindAgent(9)->GetContentTypeName(), "application/octet-stream");
}

TEST(MimeMessageTest, TextPartsGoFirstAndAreTrimmed) {
    TempFolder folder;
    std::string path = folder.file("r.htm", "x");
    CMIMEMessage message;
    message.AddPart(path, AppOctetStream, "", 4, true);
    message.AddPart("  \r\nnote\r\n ", TextPlain, "", 0, false);
    std::string body = (composed(message), message.body());
    EXPECT_LT(body.find("\r\n\r\nnote\r\n--"), body.find("octet-stream"));
}

}  // namespace
}  // namespace paginor
