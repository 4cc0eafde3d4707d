#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <string>

#include "app/qt/mail_dialogs.h"
#include "mail/account.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"
#include "tests/app/app_fakes.h"
#include "tests/mail/mail_test_support.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

class MailDialogs : public ::testing::Test {
protected:
    void storeAccount(int port) {
        EmailAccount account;
        account.address = "me@example.org";
        account.server = "127.0.0.1";
        account.requiresAuthentication = true;
        account.userName = "alice";
        account.password = "secret";
        std::string error;
        ASSERT_TRUE(saveAccount(m_settings, account, error)) << error;
        m_port = port;
    }

    RecordingUi m_ui;
    MemorySettingsStore m_settings;
    int m_port = 0;
};

TEST_F(MailDialogs, SendsTheReportAndRemembersTheRecipients) {
    TempFolder received;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"real", received.path()}));
    storeAccount(server.port());
    TempFolder files;
    const std::string report =
        files.file("sales report.htm", "<html><body><table x></table></body></html>");

    CSendEmail dialog(m_settings, m_ui, report);
    dialog.setPort(server.port());
    EXPECT_TRUE(dialog.attachCheck()->isChecked());
    EXPECT_EQ(dialog.subjectEdit()->text(), QStringLiteral("Oracle report"));
    dialog.recipientsEdit()->setText(QStringLiteral("you@example.org"));
    QSignalSpy finished(&dialog, &CSendEmail::sendFinished);
    dialog.show();
    dialog.OnOK();
    // While the mail goes out the window answers, and neither Send nor Cancel starts or ends it.
    EXPECT_TRUE(dialog.sending());
    EXPECT_FALSE(dialog.sendButton()->isEnabled());
    dialog.OnOK();
    dialog.reject();
    EXPECT_TRUE(dialog.isVisible());
    waitForSignal(finished, "the send to finish");
    EXPECT_TRUE(finished.takeFirst().at(0).toBool());
    ASSERT_FALSE(m_ui.messages.empty());
    EXPECT_EQ(m_ui.messages.back(), "The email has been sent to you@example.org");
    EXPECT_EQ(readStringSetting(m_settings, kLastRecipientsValue), "you@example.org");
    EXPECT_FALSE(dialog.isVisible());

    EXPECT_EQ(readFile(received.path() + "/1.rcpt"), "you@example.org");
    EXPECT_NE(readFile(received.path() + "/1.eml").find("sales report.htm"), std::string::npos);

    CSendEmail again(m_settings, m_ui, report);
    EXPECT_EQ(again.recipientsEdit()->text(), QStringLiteral("you@example.org"));
}

TEST_F(MailDialogs, RefusedRecipientsKeepTheDialogOpen) {
    storeAccount(1);
    CSendEmail dialog(m_settings, m_ui, "");
    dialog.show();
    EXPECT_FALSE(dialog.attachCheck()->isEnabled());
    dialog.recipientsEdit()->setText(QString());
    dialog.OnOK();
    dialog.recipientsEdit()->setText(QStringLiteral("nobody"));
    dialog.OnOK();
    EXPECT_EQ(m_ui.messages,
              (std::vector<std::string>{"Please enter the email address of the recipients",
                                        "Invalid Email Address, the character '@' not found"}));
    EXPECT_FALSE(dialog.sending());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(MailDialogs, AFailedSendNamesTheServerAndTheUser) {
    storeAccount(closedPort());
    CSendEmail dialog(m_settings, m_ui, "");
    dialog.setPort(m_port);
    dialog.recipientsEdit()->setText(QStringLiteral("you@example.org"));
    QSignalSpy finished(&dialog, &CSendEmail::sendFinished);
    dialog.show();
    dialog.OnOK();
    waitForSignal(finished, "the send to finish");
    EXPECT_FALSE(finished.takeFirst().at(0).toBool());
    ASSERT_FALSE(m_ui.messages.empty());
    const std::string& failure = m_ui.messages.back();
    EXPECT_TRUE(failure.starts_with("Failed to send the mail. \r\nError Message: ")) << failure;
    EXPECT_NE(failure.find("SMTP Server: 127.0.0.1\r\nUser name: alice\r\n"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.sendButton()->isEnabled());
}

TEST_F(MailDialogs, AccountDialogChecksAndSaves) {
    CEmailAcctSetup dialog(m_settings, m_ui);
    EXPECT_FALSE(dialog.userNameEdit()->isEnabled());
    dialog.addressEdit()->setText(QStringLiteral("@example.org"));
    dialog.OnOK();
    EXPECT_EQ(m_ui.messages.back(),
              "The email address is invalid, character '@' or prefix not found");
    dialog.addressEdit()->setText(QStringLiteral("me@example.org"));
    dialog.serverEdit()->setText(QStringLiteral("smtp.example.org"));
    dialog.authenticationCheck()->setChecked(true);
    EXPECT_TRUE(dialog.userNameEdit()->isEnabled());
    dialog.OnOK();
    EXPECT_EQ(m_ui.messages.back(), "Please enter the user name");
    dialog.userNameEdit()->setText(QStringLiteral("alice"));
    dialog.passwordEdit()->setText(QString::fromUtf8("s3cr\xc3\xa9t"));
    dialog.OnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EmailAccount account;
    std::string message;
    ASSERT_TRUE(GetEmailAccountSettings(m_settings, account, message)) << message;
    EXPECT_EQ(account.server, "smtp.example.org");
    EXPECT_EQ(account.password, "s3cr\xc3\xa9t");
}

}  // namespace
}  // namespace paginor
