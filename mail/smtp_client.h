#pragma once

// SMTP client after RFC 5321 (commands, multi-line replies in 4.2.1, dot-stuffing in 4.5.2) with
// AUTH LOGIN (RFC 4954, the LOGIN mechanism of draft-murchison-sasl-login), without TLS.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mail/mime_message.h"
#include "platform/tcp_socket.h"

namespace paginor {

enum SmtpReplyKind {
    Generic = 0,       // 250
    Ready = 1,         // 220
    StartData = 2,     // 354
    Closing = 3,       // 221
    AuthContinue = 4,  // 334
    AuthSuccess = 5,   // 235
};

enum class SmtpState {
    Greeting,
    Ehlo,
    AuthLogin,
    AuthUser,
    AuthPass,
    Helo,
    Connected,
    MailFrom,
    RcptTo,
    Data,
    Content,
    Done,
    Failed,
};

// One session with one server. Every step answers true or false and leaves its reason in the
// error text ("OK" until a step fails); nothing is thrown.
class CSMTP {
public:
    // A whole reply, all of its lines; a longer one is a protocol error.
    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;
    // How much of a reply an error text quotes.
    static constexpr std::size_t kMaxQuotedReplyBytes = 1024;
    static constexpr std::size_t kMaxHostNameBytes = 80;

    // Without a connector the client connects through POSIX sockets with the default time-outs.
    CSMTP(std::string server, int port, TcpConnector* connector = nullptr);
    virtual ~CSMTP();
    CSMTP(const CSMTP&) = delete;
    CSMTP& operator=(const CSMTP&) = delete;

    bool Connect(const std::string& userName, const std::string& password, bool authenticate);
    bool Send(CMailMessage& message);
    bool Disconnect();

    std::string GetErrorText() const { return m_errorText; }
    std::string GetServerName() const { return m_server; }
    int GetPort() const { return m_port; }
    int lastReplyCode() const { return m_lastReplyCode; }
    bool connected() const { return m_connected; }

    // The body with one more '.' in front of every line that begins with '.'.
    static std::string PrepareBody(std::string_view body);

protected:
    virtual bool ComposeMessage(CMailMessage& message);
    virtual bool DeliverMessage(CMailMessage& message);

private:
    bool CheckReply(SmtpReplyKind kind);
    bool readReply(std::string& reply);
    bool sendCommand(std::string_view command);
    std::string greetingName() const;
    void closeSocket();

    SmtpState onGreeting();
    SmtpState onEhlo();
    SmtpState onAuthLogin();
    SmtpState onAuthUser();
    SmtpState onAuthPass();
    SmtpState onHelo();
    SmtpState onMailFrom(const CMailMessage& message);
    SmtpState onRcptTo(const CMailMessage& message);
    SmtpState onData();
    SmtpState onContent(const CMailMessage& message);

    int m_lastReplyCode = 0;
    std::string m_errorText = "OK";
    bool m_connected = false;
    int m_port;
    std::string m_server;
    std::unique_ptr<TcpConnector> m_ownConnector;
    TcpConnector* m_connector;
    std::unique_ptr<TcpStream> m_socket;
    // Bytes received after the end of the last reply.
    std::string m_pending;
    std::string m_hostName;
    bool m_authenticate = false;
    std::string m_userName;
    std::string m_password;
};

}  // namespace paginor
