// Plays an SMTP server that answers with arbitrary bytes, cut into arbitrary reads, through a
// whole session with authentication and one mail. The client must fail cleanly with a message or
// deliver.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "mail/mime_message.h"
#include "mail/smtp_client.h"
#include "tests/fuzz/fuzz_support.h"

using namespace paginor;

namespace {

// The first byte of the input sets the most bytes one read gives; the rest is the server's talk.
class ScriptedStream : public TcpStream {
public:
    ScriptedStream(std::string_view replies, std::size_t chunk) : m_rest(replies), m_chunk(chunk) {}
    bool writeAll(std::string_view bytes, std::string&) override {
        m_written += bytes.size();
        return true;
    }
    std::int64_t readSome(char* buffer, std::size_t maxBytes, std::string& error) override {
        if (m_rest.empty()) {
            error = "Connection reset by peer";
            return -1;
        }
        std::size_t n = std::min({maxBytes, m_chunk, static_cast<std::size_t>(m_rest.size())});
        std::memcpy(buffer, m_rest.data(), n);
        m_rest.remove_prefix(n);
        return static_cast<std::int64_t>(n);
    }
    std::string localAddress() const override { return "127.0.0.1"; }

private:
    std::string_view m_rest;
    std::size_t m_chunk;
    std::size_t m_written = 0;
};

class ScriptedConnector : public TcpConnector {
public:
    ScriptedConnector(std::string_view replies, std::size_t chunk)
        : m_replies(replies), m_chunk(chunk) {}
    std::unique_ptr<TcpStream> connect(const std::string&, int, std::string&) override {
        return std::make_unique<ScriptedStream>(m_replies, m_chunk);
    }

private:
    std::string_view m_replies;
    std::size_t m_chunk;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 64 * 97;
    const bool authenticate = (data[0] & 0x80) != 0;
    ScriptedConnector connector(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1),
                                chunk);
    CSMTP smtp("smtp.example.com", 25, &connector);
    if (!smtp.Connect("user", "secret", authenticate)) {
        fuzz::check(smtp.GetErrorText() != "OK" && !smtp.connected(), "a failed connect says why");
        return 0;
    }
    CMIMEMessage message;
    message.setFrom("me@example.org");
    message.setSubject("Report");
    message.setBody("Hello\r\n.\r\n");
    message.AddRecipientList("a@example.org; Bob <b@example.org>", To);
    if (!smtp.Send(message)) {
        fuzz::check(smtp.GetErrorText() != "OK", "a failed send says why");
    }
    smtp.Disconnect();
    return 0;
}
