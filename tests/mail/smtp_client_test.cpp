#include "mail/smtp_client.h"

#include <gtest/gtest.h>

#include "mail/base64.h"
#include "tests/mail/mail_test_support.h"

namespace paginor {
namespace {

std::string json(const std::vector<std::string>& replies) {
    std::string text = "[";
    for (const std::string& reply : replies) {
        text += text.size() > 1 ? ",\"" : "\"";
        for (char c : reply) {
            text += c == '\r'               ? std::string("\\r")
                    : c == '\n'             ? std::string("\\n")
                    : c == '"' || c == '\\' ? std::string("\\") + c
                                            : std::string(1, c);
        }
        text += "\"";
    }
    return text + "]";
}

// One session against the scripted server; transcript() is every byte the client sent.
class ScriptedSmtp {
public:
    explicit ScriptedSmtp(const std::vector<std::string>& replies,
                          std::chrono::milliseconds io = std::chrono::milliseconds(10000))
        : m_connector(TcpTimeouts{std::chrono::milliseconds(10000), io}) {
        m_started = m_server.start({"scripted", m_folder.path() + "/transcript", json(replies)});
        m_client = std::make_unique<CSMTP>("127.0.0.1", m_server.port(), &m_connector);
    }
    bool started() const { return m_started; }
    CSMTP& client() { return *m_client; }
    std::string transcript() {
        m_client.reset();
        m_server.stop();
        return readFile(m_folder.path() + "/transcript");
    }

private:
    TempFolder m_folder;
    SmtpTestServer m_server;
    PosixTcpConnector m_connector;
    bool m_started = false;
    std::unique_ptr<CSMTP> m_client;
};

std::unique_ptr<CMIMEMessage> simpleMessage() {
    auto message = std::make_unique<CMIMEMessage>();
    message->setFrom("me@example.org");
    message->setSubject("Report");
    message->setBody("Hi\r\n.\r\n.dot");
    message->AddRecipient("a@example.org", "", To);
    message->AddRecipient("b@example.org", "", Bcc);
    return message;
}

const std::string kHelo = "HELO " + localHostName() + "\r\n";
const std::string kEhlo = "EHLO " + localHostName() + "\r\n";

TEST(SmtpClientTest, SendsTheCommandsInOrderWithTheStuffedBody) {
    ScriptedSmtp smtp({"220 ready\r\n", "250 hello\r\n", "250 sender\r\n", "250 to a\r\n",
                       "250 to b\r\n", "354 go\r\n", "250 queued\r\n", "221 bye\r\n"});
    ASSERT_TRUE(smtp.started());
    auto message = simpleMessage();
    ASSERT_TRUE(smtp.client().Connect("", "", false));
    ASSERT_TRUE(smtp.client().Send(*message)) << smtp.client().GetErrorText();
    EXPECT_TRUE(smtp.client().Disconnect());
    EXPECT_EQ(smtp.client().GetErrorText(), "OK");
    EXPECT_NE(message->body().find("\r\nHi\r\n.\r\n.dot\r\n"), std::string::npos);
    EXPECT_EQ(smtp.transcript(), kHelo +
                                     "MAIL FROM:<me@example.org>\r\n"
                                     "RCPT TO:<a@example.org>\r\n"
                                     "RCPT TO:<b@example.org>\r\n"
                                     "DATA\r\n" +
                                     message->header() + CSMTP::PrepareBody(message->body()) +
                                     "\r\n.\r\nQUIT\r\n");
}

struct ConnectCase {
    std::string name;
    std::vector<std::string> replies;
    bool authenticate;
    std::string password;
    bool connected;
    std::string errorText;
    std::string transcript;
};

TEST(SmtpClientTest, ConnectsThroughEachRoad) {
    const std::string user = CBase64().Encode(std::string("alice")) + "\r\n";
    const std::string pass = CBase64().Encode(std::string("secret")) + "\r\n";
    const ConnectCase cases[] = {
        {"greeting refused", {"554 go away\r\n"}, false, "", false, "Server didn't respond.", ""},
        {"multi-line greeting in single bytes",
         {"@bytes:220-first\r\n220 second\r\n", "250 hello\r\n", "221 bye\r\n"},
         false,
         "",
         true,
         "OK",
         kHelo + "QUIT\r\n"},
        {"AUTH LOGIN refused falls back to HELO",
         {"220 ready\r\n", "250-x\r\n250 AUTH PLAIN\r\n", "502 5.5.1 not here\r\n", "250 ok\r\n",
          "221 bye\r\n"},
         true,
         "secret",
         true,
         "502:SMTP server do not require username/password, More Information: 502 5.5.1 not here",
         kEhlo + "AUTH LOGIN\r\n" + kHelo + "QUIT\r\n"},
        {"wrong password",
         {"220 ready\r\n", "250 hi\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
          "535 5.7.8 bad credentials\r\n"},
         true,
         "secret",
         false,
         "535:Authentication failed, More Information: 535 5.7.8 bad credentials",
         kEhlo + "AUTH LOGIN\r\n" + user + pass},
        {"authenticated",
         {"220 ready\r\n", "250 hi\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
          "235 ok\r\n", "221 bye\r\n"},
         true,
         "secret",
         true,
         "OK",
         kEhlo + "AUTH LOGIN\r\n" + user + pass + "QUIT\r\n"},
        {"closed after the greeting",
         {"220 ready\r\n", "@close"},
         false,
         "",
         false,
         "0:SMTP server error, More Information: ",
         kHelo},
        {"a code of four digits",
         {"220 ready\r\n", "2500 odd\r\n"},
         false,
         "",
         false,
         "0:SMTP server error, More Information: 2500 odd",
         kHelo},
        {"codes that disagree",
         {"220 ready\r\n", "250-a\r\n550 b\r\n"},
         false,
         "",
         false,
         "0:SMTP server error, More Information: 250-a\r\n550 b",
         kHelo},
    };
    for (const ConnectCase& c : cases) {
        ScriptedSmtp smtp(c.replies);
        ASSERT_TRUE(smtp.started());
        EXPECT_EQ(smtp.client().Connect("alice", c.password, c.authenticate), c.connected)
            << c.name;
        EXPECT_EQ(smtp.client().connected(), c.connected) << c.name;
        EXPECT_EQ(smtp.client().GetErrorText(), c.errorText) << c.name;
        EXPECT_EQ(smtp.transcript(), c.transcript) << c.name;
    }
}

TEST(SmtpClientTest, EmptyUserNameIsRefusedBeforeEhlo) {
    ScriptedSmtp smtp({"220 ready\r\n"});
    EXPECT_FALSE(smtp.client().Connect("", "secret", true));
    EXPECT_EQ(smtp.client().GetErrorText(), "Username should not be empty");
    EXPECT_EQ(smtp.transcript(), "");
}

TEST(SmtpClientTest, FirstRefusedRecipientEndsTheDelivery) {
    ScriptedSmtp smtp({"220 ready\r\n", "250 hello\r\n", "250 sender\r\n", "250 to a\r\n",
                       "550 5.7.1 Relaying denied\r\n", "221 bye\r\n"});
    auto message = simpleMessage();
    ASSERT_TRUE(smtp.client().Connect("", "", false));
    EXPECT_FALSE(smtp.client().Send(*message));
    EXPECT_EQ(smtp.client().GetErrorText(),
              "550:SMTP server error, More Information: 550 5.7.1 Relaying denied");
    EXPECT_EQ(smtp.client().lastReplyCode(), 550);
    EXPECT_TRUE(smtp.client().connected());
    EXPECT_EQ(smtp.transcript(), kHelo +
                                     "MAIL FROM:<me@example.org>\r\n"
                                     "RCPT TO:<a@example.org>\r\n"
                                     "RCPT TO:<b@example.org>\r\nQUIT\r\n");
}

TEST(SmtpClientTest, RefusesMessagesItMustNotSend) {
    struct Case {
        std::string name;
        std::string from;
        std::string to;
        std::string cc;
        std::string errorText;
    };
    const Case cases[] = {
        {"only Cc", "me@x.org", "", "c@x.org", "No Recipients"},
        {"line break in a recipient", "me@x.org", "a@x.org>\r\nRCPT TO: <evil@x.org", "",
         "Invalid Email Address: a@x.org>??RCPT TO: <evil@x.org"},
        {"line break in the sender", "me@x.org\r\nDATA", "a@x.org", "",
         "Invalid Email Address: me@x.org??DATA"},
    };
    for (const Case& c : cases) {
        ScriptedSmtp smtp({"220 ready\r\n", "250 hello\r\n", "221 bye\r\n"});
        CMIMEMessage message;
        message.setFrom(c.from);
        if (!c.to.empty()) {
            message.AddRecipient(c.to, "", To);
        }
        if (!c.cc.empty()) {
            message.AddRecipient(c.cc, "", Cc);
        }
        ASSERT_TRUE(smtp.client().Connect("", "", false));
        EXPECT_FALSE(smtp.client().Send(message)) << c.name;
        EXPECT_EQ(smtp.client().GetErrorText(), c.errorText) << c.name;
        EXPECT_EQ(smtp.transcript(), kHelo + "QUIT\r\n") << c.name;
    }
}

TEST(SmtpClientTest, WithoutAConnectionNothingIsSent) {
    CSMTP client("127.0.0.1", 1);
    CMIMEMessage message;
    EXPECT_TRUE(client.Disconnect());
    EXPECT_FALSE(client.Send(message));
    EXPECT_EQ(client.GetErrorText(), "Must be connected");
    EXPECT_EQ(client.GetServerName(), "127.0.0.1");
    EXPECT_EQ(client.GetPort(), 1);
}

TEST(SmtpClientTest, ARefusedConnectionNamesServerPortAndReason) {
    TempFolder folder;
    SmtpTestServer server;
    ASSERT_TRUE(server.start({"scripted", folder.path() + "/t", "[\"@close\"]"}));
    int port = server.port();
    server.stop();
    CSMTP client("127.0.0.1", port);
    EXPECT_FALSE(client.Connect("", "", false));
    EXPECT_EQ(client.GetErrorText(), "Unable to connect to server 127.0.0.1:" +
                                         std::to_string(port) + " (Connection refused)");
}

TEST(SmtpClientTest, ASilentServerTimesOut) {
    ScriptedSmtp smtp({"220 ready\r\n", "@stall"}, std::chrono::milliseconds(200));
    EXPECT_FALSE(smtp.client().Connect("", "", false));
    EXPECT_EQ(smtp.client().GetErrorText(), "Socket Error: timed out");
    EXPECT_FALSE(smtp.client().connected());
}

TEST(SmtpClientTest, AServerThatStopsReadingDuringDataTimesOut) {
    TempFolder folder;
    std::string path = folder.file("big.bin", std::string(16 * 1024 * 1024, 'z'));
    ScriptedSmtp smtp(
        {"220 ready\r\n", "250 hello\r\n", "250 sender\r\n", "250 to\r\n", "354 go\r\n", "@noread"},
        std::chrono::milliseconds(200));
    CMIMEMessage message;
    message.setFrom("me@x.org");
    message.AddRecipient("a@x.org", "", To);
    message.AddPart(path, AppOctetStream, "", 4, true);
    ASSERT_TRUE(smtp.client().Connect("", "", false));
    EXPECT_FALSE(smtp.client().Send(message));
    EXPECT_EQ(smtp.client().GetErrorText(), "Socket Error: timed out");
}

TEST(SmtpClientTest, AnOverlongReplyIsRefused) {
    ScriptedSmtp smtp({"220 ready\r\n", std::string(CSMTP::kMaxReplyBytes + 1, 'x')});
    EXPECT_FALSE(smtp.client().Connect("", "", false));
    EXPECT_EQ(smtp.client().GetErrorText(),
              "Socket Error: the server's reply is longer than 65536 bytes");
}

TEST(SmtpClientTest, QuotesAtMost1024BytesOfAReply) {
    ScriptedSmtp smtp({"220 ready\r\n", "550 " + std::string(2000, 'y') + "\r\n"});
    EXPECT_FALSE(smtp.client().Connect("", "", false));
    EXPECT_EQ(smtp.client().GetErrorText(),
              "550:SMTP server error, More Information: 550 " + std::string(1020, 'y'));
}

TEST(SmtpClientTest, StuffsEveryLineThatBeginsWithADot) {
    const std::pair<std::string, std::string> cases[] = {
        {".", ".."},
        {".a\r\nb\r\n.\r\n", "..a\r\nb\r\n..\r\n"},
        {"a.b\r\n", "a.b\r\n"},
        {"", ""},
    };
    for (const auto& [body, prepared] : cases) {
        EXPECT_EQ(CSMTP::PrepareBody(body), prepared) << body;
    }
}

// aiosmtpd, a real server: its multi-line EHLO reply, AUTH LOGIN and the content it receives.
class RealSmtpTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.start({"real", m_folder.path()})); }
    void TearDown() override { m_server.stop(); }
    std::string received(const std::string& name) { return readFile(m_folder.path() + "/" + name); }

    TempFolder m_folder;
    SmtpTestServer m_server;
};

TEST_F(RealSmtpTest, DeliversWithAndWithoutAuthentication) {
    for (bool authenticate : {true, false}) {
        auto message = simpleMessage();
        CSMTP client("127.0.0.1", m_server.port());
        ASSERT_TRUE(client.Connect("alice", "secret", authenticate)) << client.GetErrorText();
        ASSERT_TRUE(client.Send(*message)) << client.GetErrorText();
        EXPECT_TRUE(client.Disconnect()) << client.GetErrorText();
        std::string n = authenticate ? "1" : "2";
        EXPECT_EQ(received(n + ".auth"), authenticate ? "alice" : "");
        EXPECT_EQ(received(n + ".from"), "me@example.org");
        EXPECT_EQ(received(n + ".rcpt"), "a@example.org\nb@example.org");
        EXPECT_EQ(received(n + ".eml"), message->header() + message->body() + "\r\n");
    }
}

TEST_F(RealSmtpTest, AWrongPasswordIsAnAuthenticationFailure) {
    CSMTP client("127.0.0.1", m_server.port());
    EXPECT_FALSE(client.Connect("alice", "wrong", true));
    EXPECT_EQ(client.GetErrorText().rfind("535:Authentication failed, More Information: 535", 0),
              0u)
        << client.GetErrorText();
}

}  // namespace
}  // namespace paginor
