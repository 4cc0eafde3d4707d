#include "mail/smtp_client.h"

#include <array>
#include <cstdio>

#include "mail/base64.h"

namespace paginor {
namespace {

struct ExpectedReply {
    int code;
    const char* text;
};

constexpr std::array<ExpectedReply, 6> kExpected = {{
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
    {334, "SMTP server do not require username/password"},
    {235, "Authentication failed"},
}};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The code that every line of a whole reply carries, or 0.
int replyCode(std::string_view reply) {
    int code = 0;
    while (!reply.empty()) {
        std::size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        bool shaped = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) &&
                      isDigit(line[2]) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        int lineCode = shaped ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
        if (lineCode == 0 || (code != 0 && lineCode != code)) {
            return 0;
        }
        code = lineCode;
        reply = end == std::string_view::npos ? std::string_view() : reply.substr(end + 1);
    }
    return code;
}

// A line that a reply goes on after: "ddd-".
bool continues(std::string_view line) {
    return line.size() >= 4 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]) &&
           line[3] == '-';
}

// Only controls and angle brackets matter to the envelope: they would end the path or the
// command, so that the rest of the text became commands of its own.
bool envelopeSafe(std::string_view address) {
    for (char c : address) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '<' || c == '>') {
            return false;
        }
    }
    return true;
}

std::string printable(std::string_view text) {
    std::string shown;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        shown += u < 0x20 || u == 0x7F ? '?' : c;
    }
    return shown;
}

bool validHostName(std::string_view name) {
    if (name.empty() || name.size() > CSMTP::kMaxHostNameBytes || name.front() == '-' ||
        name.front() == '.') {
        return false;
    }
    for (char c : name) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !isDigit(c) && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

}  // namespace

CSMTP::CSMTP(std::string server, int port, TcpConnector* connector)
    : m_port(port), m_server(std::move(server)), m_connector(connector) {
    if (m_connector == nullptr) {
        m_ownConnector = std::make_unique<PosixTcpConnector>();
        m_connector = m_ownConnector.get();
    }
}

CSMTP::~CSMTP() {
    Disconnect();
}

std::string CSMTP::PrepareBody(std::string_view body) {
    std::string prepared;
    prepared.reserve(body.size() + body.size() / 64 + 1);
    bool lineStart = true;
    for (char c : body) {
        if (lineStart && c == '.') {
            prepared += '.';
        }
        prepared += c;
        lineStart = c == '\n';
    }
    return prepared;
}

void CSMTP::closeSocket() {
    m_socket.reset();
    m_pending.clear();
}

bool CSMTP::sendCommand(std::string_view command) {
    std::string reason;
    if (m_socket == nullptr || !m_socket->writeAll(command, reason)) {
        m_errorText = "Socket Error: " + (m_socket == nullptr ? std::string("not open") : reason);
        return false;
    }
    return true;
}

// Reads up to the reply's last line. An end of stream before it leaves the partial text in reply
// and answers true, so that the reply matches no code.
bool CSMTP::readReply(std::string& reply) {
    reply.clear();
    std::array<char, 4096> buffer{};
    for (;;) {
        std::size_t end;
        while ((end = m_pending.find('\n')) != std::string::npos) {
            std::string_view line(m_pending.data(), end);
            bool more = continues(line);
            reply.append(m_pending, 0, end + 1);
            m_pending.erase(0, end + 1);
            if (!more) {
                return true;
            }
        }
        if (reply.size() + m_pending.size() > kMaxReplyBytes) {
            m_errorText = "Socket Error: the server's reply is longer than " +
                          std::to_string(kMaxReplyBytes) + " bytes";
            return false;
        }
        std::string reason;
        std::int64_t got = m_socket->readSome(buffer.data(), buffer.size(), reason);
        if (got < 0) {
            m_errorText = "Socket Error: " + reason;
            return false;
        }
        if (got == 0) {
            reply += m_pending;
            m_pending.clear();
            // A last line without its line end is not a whole reply.
            reply += '\0';
            return true;
        }
        m_pending.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

bool CSMTP::CheckReply(SmtpReplyKind kind) {
    std::string reply;
    if (m_socket == nullptr || !readReply(reply)) {
        if (m_socket == nullptr) {
            m_errorText = "Socket Error: not open";
        }
        return false;
    }
    const ExpectedReply& expected = kExpected[static_cast<std::size_t>(kind)];
    int code = !reply.empty() && reply.back() == '\0' ? 0 : replyCode(reply);
    if (code == expected.code) {
        return true;
    }
    if (!reply.empty() && reply.back() == '\0') {
        reply.pop_back();
    }
    std::size_t last = reply.find_last_not_of(" \t\r\n\v\f");
    reply.resize(last == std::string::npos ? 0 : last + 1);
    if (reply.size() > kMaxQuotedReplyBytes) {
        reply.resize(kMaxQuotedReplyBytes);
    }
    m_lastReplyCode = code;
    m_errorText = std::to_string(code) + ":" + expected.text + ", More Information: " + reply;
    return false;
}

std::string CSMTP::greetingName() const {
    std::string name = localHostName();
    if (validHostName(name)) {
        return name;
    }
    std::string address = m_socket->localAddress();
    return address.find(':') != std::string::npos ? "[IPv6:" + address + "]" : "[" + address + "]";
}

SmtpState CSMTP::onGreeting() {
    if (!CheckReply(Ready)) {
        m_errorText = "Server didn't respond.";
        return SmtpState::Failed;
    }
    m_hostName = greetingName();
    if (!m_authenticate) {
        return SmtpState::Helo;
    }
    if (m_userName.empty()) {
        m_errorText = "Username should not be empty";
        return SmtpState::Failed;
    }
    return SmtpState::Ehlo;
}

SmtpState CSMTP::onEhlo() {
    return sendCommand("EHLO " + m_hostName + "\r\n") && CheckReply(Generic) ? SmtpState::AuthLogin
                                                                             : SmtpState::Failed;
}

SmtpState CSMTP::onAuthLogin() {
    if (!sendCommand("AUTH LOGIN\r\n")) {
        return SmtpState::Failed;
    }
    // A server without AUTH LOGIN still takes the mail after HELO, as without authentication.
    return CheckReply(AuthContinue) ? SmtpState::AuthUser : SmtpState::Helo;
}

SmtpState CSMTP::onAuthUser() {
    return sendCommand(CBase64().Encode(m_userName) + "\r\n") && CheckReply(AuthContinue)
               ? SmtpState::AuthPass
               : SmtpState::Failed;
}

SmtpState CSMTP::onAuthPass() {
    return sendCommand(CBase64().Encode(m_password) + "\r\n") && CheckReply(AuthSuccess)
               ? SmtpState::Connected
               : SmtpState::Failed;
}

SmtpState CSMTP::onHelo() {
    return sendCommand("HELO " + m_hostName + "\r\n") && CheckReply(Generic) ? SmtpState::Connected
                                                                             : SmtpState::Failed;
}

bool CSMTP::Connect(const std::string& userName, const std::string& password, bool authenticate) {
    if (m_connected) {
        return true;
    }
    std::string reason;
    m_socket = m_connector->connect(m_server, m_port, reason);
    if (m_socket == nullptr) {
        m_errorText = "Unable to connect to server " + m_server + ":" + std::to_string(m_port) +
                      " (" + reason + ")";
        return false;
    }
    m_pending.clear();
    m_authenticate = authenticate;
    m_userName = authenticate ? userName : std::string();
    m_password = authenticate ? password : std::string();
    SmtpState state = SmtpState::Greeting;
    while (state != SmtpState::Connected && state != SmtpState::Failed) {
        switch (state) {
            case SmtpState::Greeting:
                state = onGreeting();
                break;
            case SmtpState::Ehlo:
                state = onEhlo();
                break;
            case SmtpState::AuthLogin:
                state = onAuthLogin();
                break;
            case SmtpState::AuthUser:
                state = onAuthUser();
                break;
            case SmtpState::AuthPass:
                state = onAuthPass();
                break;
            case SmtpState::Helo:
                state = onHelo();
                break;
            default:
                state = SmtpState::Failed;
                break;
        }
    }
    m_userName.assign(m_userName.size(), '\0');
    m_password.assign(m_password.size(), '\0');
    m_userName.clear();
    m_password.clear();
    m_connected = state == SmtpState::Connected;
    if (!m_connected) {
        closeSocket();
    }
    return m_connected;
}

bool CSMTP::Send(CMailMessage& message) {
    if (!m_connected) {
        m_errorText = "Must be connected";
        return false;
    }
    return ComposeMessage(message) && DeliverMessage(message);
}

bool CSMTP::ComposeMessage(CMailMessage& message) {
    if (message.GetRecipientCount(To) == 0) {
        m_errorText = "No Recipients";
        return false;
    }
    std::string address = message.from();
    std::string name;
    bool safe = envelopeSafe(address);
    for (int kind = To; safe && kind <= Bcc; ++kind) {
        for (int i = 0; safe && message.GetRecipient(address, name, i, kind); ++i) {
            safe = envelopeSafe(address);
        }
    }
    if (!safe) {
        m_errorText = "Invalid Email Address: " + printable(address);
        return false;
    }
    std::string error;
    if (!message.Compose(error)) {
        m_errorText = error;
        return false;
    }
    return true;
}

SmtpState CSMTP::onMailFrom(const CMailMessage& message) {
    return sendCommand("MAIL FROM:<" + message.from() + ">\r\n") && CheckReply(Generic)
               ? SmtpState::RcptTo
               : SmtpState::Failed;
}

SmtpState CSMTP::onRcptTo(const CMailMessage& message) {
    std::string address;
    std::string name;
    for (int kind = To; kind <= Bcc; ++kind) {
        for (int i = 0; message.GetRecipient(address, name, i, kind); ++i) {
            if (!sendCommand("RCPT TO:<" + address + ">\r\n") || !CheckReply(Generic)) {
                return SmtpState::Failed;
            }
        }
    }
    return SmtpState::Data;
}

SmtpState CSMTP::onData() {
    return sendCommand("DATA\r\n") && CheckReply(StartData) ? SmtpState::Content
                                                            : SmtpState::Failed;
}

SmtpState CSMTP::onContent(const CMailMessage& message) {
    return sendCommand(PrepareBody(message.header())) && sendCommand(PrepareBody(message.body())) &&
                   sendCommand("\r\n.\r\n") && CheckReply(Generic)
               ? SmtpState::Done
               : SmtpState::Failed;
}

bool CSMTP::DeliverMessage(CMailMessage& message) {
    if (!m_connected) {
        m_errorText = "Must be connected";
        return false;
    }
    SmtpState state = SmtpState::MailFrom;
    while (state != SmtpState::Done && state != SmtpState::Failed) {
        switch (state) {
            case SmtpState::MailFrom:
                state = onMailFrom(message);
                break;
            case SmtpState::RcptTo:
                state = onRcptTo(message);
                break;
            case SmtpState::Data:
                state = onData();
                break;
            case SmtpState::Content:
                state = onContent(message);
                break;
            default:
                state = SmtpState::Failed;
                break;
        }
    }
    return state == SmtpState::Done;
}

bool CSMTP::Disconnect() {
    if (!m_connected) {
        return true;
    }
    bool closed = sendCommand("QUIT\r\n") && CheckReply(Closing);
    closeSocket();
    m_connected = false;
    return closed;
}

}  // namespace paginor
