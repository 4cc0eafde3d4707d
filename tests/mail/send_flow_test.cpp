#include "mail/send_flow.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "mail/account.h"
#include "tests/mail/mail_test_support.h"

namespace paginor {
namespace {

class RecordingMailUi : public MailUi {
public:
    void showMessage(const std::string& text, MailIcon icon) override {
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool runAccountDialog() override {
        ++accountDialogs;
        return false;
    }
    std::vector<std::string> messages;
    std::vector<MailIcon> icons;
    int accountDialogs = 0;
};

void storeAccount(SettingsStore& store, bool authenticate) {
    std::string error;
    ASSERT_TRUE(saveAccount(store, {"127.0.0.1", "me@example.org", authenticate, "alice", "secret"},
                            error));
}

TEST(SendFlowTest, WithoutAnAccountShowsTheMessageAndTheAccountDialog) {
    MemorySettingsStore store;
    RecordingMailUi ui;
    EXPECT_FALSE(runSendSequence(store, ui, {"s", "b", "a@x.org", ""}));
    EXPECT_EQ(ui.messages, std::vector<std::string>{kNoAccountMessage});
    EXPECT_EQ(ui.icons, std::vector<MailIcon>{MailIcon::Information});
    EXPECT_EQ(ui.accountDialogs, 1);
}

TEST(SendFlowTest, ARecipientListThatCannotBeParsedSendsNothing) {
    MemorySettingsStore store;
    storeAccount(store, false);
    RecordingMailUi ui;
    EXPECT_FALSE(runSendSequence(store, ui, {"s", "b", "a@x.org;Bob <b@y.org", ""}));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Invalid Email Address: Bob <b@y.org"});
    EXPECT_EQ(ui.icons, std::vector<MailIcon>{MailIcon::Error});
}

TEST(SendFlowTest, DialogChecksRecipientsAndStartsFromTheReport) {
    EXPECT_EQ(checkRecipients("").value_or(""), "Please enter the email address of the recipients");
    EXPECT_EQ(checkRecipients("bob").value_or(""),
              "Invalid Email Address, the character '@' not found");
    EXPECT_FALSE(checkRecipients("bob@x.org"));
    MemorySettingsStore store;
    SendDialogFields empty = sendDialogStart(store, "");
    EXPECT_FALSE(empty.attachEnabled);
    EXPECT_EQ(empty.subject + empty.comment + empty.recipients, "");
    SendDialogFields report = sendDialogStart(store, "/r/sales.htm");
    EXPECT_TRUE(report.attach);
    EXPECT_EQ(report.subject, "Oracle report");
    EXPECT_EQ(report.comment, "Comment:\r\n");
}

TEST(SendFlowTest, RequestAddsTheDefaultSubjectAndTheFooterOnce) {
    FixedClock clock;
    SendDialogFields fields;
    fields.comment = "Hello";
    fields.recipients = "a@x.org";
    SendRequest request = sendDialogRequest(fields, "/r/x.htm", clock);
    EXPECT_EQ(request.subject, "A mail sent by Paginor");
    EXPECT_EQ(request.bodyText, "Hello\r\n\r\nPaginor\r\nDate: Tuesday, March 05, 14:03:09");
    EXPECT_EQ(request.attachmentPath, "");
    EXPECT_EQ(sendDialogRequest(fields, "/r/x.htm", clock).bodyText, request.bodyText);
}

TEST(SendFlowTest, FailureMessageNamesTheAccountAndStaysWithinItsCap) {
    EmailAccount account{"smtp.x.org", "me@x.org", false, "alice", "secret"};
    EXPECT_EQ(sendFailureMessage(account, "Socket Error: timed out"),
              "Failed to send the mail. \r\nError Message: Socket Error: timed out."
              "\r\n\r\n\r\nAccount Settings:\r\nSMTP Server: smtp.x.org\r\n");
    account.requiresAuthentication = true;
    std::string longText = sendFailureMessage(account, std::string(600, 'e'));
    EXPECT_EQ(longText.size(), kMaxSendFailureBytes);
    EXPECT_NE(longText.find("e....\r\n\r\n\r\nAccount Settings:\r\nSMTP Server: smtp.x.org\r\n"
                            "User name: alice\r\n"),
              std::string::npos);
    EXPECT_EQ(longText.find("secret"), std::string::npos);
}

TEST(SendFlowTest, SendsTheReportThroughARealServerAndRemembersTheRecipients) {
    TempFolder folder;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"real", folder.path()}));
    MemorySettingsStore store;
    storeAccount(store, true);
    std::string report = folder.file("report.htm", "<html>report</html>");
    SendDialogFields fields = sendDialogStart(store, report);
    fields.recipients = "Bob <bob@x.org>; carol@y.org";
    RecordingMailUi ui;
    ASSERT_TRUE(runSendSequence(store, ui, sendDialogRequest(fields, report), systemClock(),
                                nullptr, server.port()));
    EXPECT_EQ(ui.messages, std::vector<std::string>{});
    EXPECT_EQ(sendDialogSucceeded(store, fields.recipients),
              "The email has been sent to Bob <bob@x.org>; carol@y.org");
    EXPECT_EQ(sendDialogStart(store, "").recipients, fields.recipients);
    server.stop();
    EXPECT_EQ(readFile(folder.path() + "/1.rcpt"), "bob@x.org\ncarol@y.org");
    EXPECT_EQ(readFile(folder.path() + "/1.auth"), "alice");
    std::string mail = readFile(folder.path() + "/1.eml");
    EXPECT_NE(mail.find("Subject: Oracle report\r\n"), std::string::npos);
    EXPECT_NE(mail.find("filename=report.htm\r\n"), std::string::npos);
}

// A comment, subject and report name outside ASCII reach the reader as typed, through a real
// SMTP server, in a message of 7-bit bytes only.
TEST(SendFlowTest, TextOutsideAsciiArrivesAsTyped) {
    TempFolder folder;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"real", folder.path()}));
    MemorySettingsStore store;
    storeAccount(store, false);
    const std::string comment = "Z\u00fcrich caf\u00e9 \u2013 r\u00e9sum\u00e9";
    const std::string report = folder.file("\u00dcbersicht.htm", "<html>report</html>");
    SendDialogFields fields = sendDialogStart(store, report);
    fields.subject = "Bericht " + comment;
    fields.comment = comment;
    fields.recipients = "J\u00fcrgen <j@x.org>";
    RecordingMailUi ui;
    FixedClock clock;
    ASSERT_TRUE(runSendSequence(store, ui, sendDialogRequest(fields, report, clock), clock, nullptr,
                                server.port()));
    EXPECT_EQ(ui.messages, std::vector<std::string>{});
    server.stop();
    const std::string mail = readFile(folder.path() + "/1.eml");
    EXPECT_TRUE(std::all_of(mail.begin(), mail.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    const std::string script =
        "import sys, email, email.policy\n"
        "m = email.message_from_bytes(open(sys.argv[1], \"rb\").read(), "
        "policy=email.policy.default)\n"
        "parts = [p for p in m.walk() if not p.is_multipart()]\n"
        "assert not m.defects and all(not p.defects for p in parts)\n"
        "out = [str(m[\"Subject\"]), m[\"To\"].addresses[0].display_name,\n"
        "       parts[0].get_content().replace(\"\\r\\n\", \"\\n\"), parts[1].get_filename(),\n"
        "       parts[1].get_content().decode()]\n"
        "sys.stdout.buffer.write(\"|\".join(out).encode(\"utf-8\"))\n";
    int status = 0;
    const std::string output = runPython(script, folder.path() + "/1.eml", status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(output, "Bericht " + comment + "|J\u00fcrgen|" + comment +
                          "\n\nPaginor\nDate: Tuesday, March 05, 14:03:09|\u00dcbersicht.htm|"
                          "<html>report</html>");
}

TEST(SendFlowTest, AFailedSendShowsTheFailingStepNotTheQuit) {
    TempFolder folder;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"scripted", folder.path() + "/t",
                              "[\"220 hi\\r\\n\",\"250 hi\\r\\n\",\"250 ok\\r\\n\","
                              "\"550 5.1.1 no such user\\r\\n\",\"@close\"]"}));
    MemorySettingsStore store;
    storeAccount(store, false);
    RecordingMailUi ui;
    EXPECT_FALSE(runSendSequence(store, ui, {"s", "b", "a@x.org", ""}, systemClock(), nullptr,
                                 server.port()));
    EXPECT_EQ(ui.messages,
              std::vector<std::string>{
                  "Failed to send the mail. \r\nError Message: 550:SMTP server error, More "
                  "Information: 550 5.1.1 no such user.\r\n\r\n\r\nAccount Settings:\r\n"
                  "SMTP Server: 127.0.0.1\r\n"});
    EXPECT_EQ(sendDialogStart(store, "").recipients, "");
}

}  // namespace
}  // namespace paginor
