// Composes a mail from arbitrary sender, subject, recipients and body, and runs base64 both ways.
// The composed body must hold exactly its parts, whatever the texts hold, and base64 must give
// back what it encoded.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "mail/base64.h"
#include "mail/mime_message.h"
#include "tests/fuzz/fuzz_support.h"

using namespace paginor;

namespace {

class FixedClock : public Clock {
public:
    std::tm localNow() const override {
        std::tm time{};
        time.tm_year = 124;
        time.tm_mday = 1;
        return time;
    }
};

std::size_t countLines(const std::string& body, const std::string& line) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = body.find(line, at)) != std::string::npos; at += line.size()) {
        count += at == 0 || body[at - 1] == '\n';
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);

    CBase64 codec;
    const std::string encoded = codec.Encode(rest.data(), rest.size());
    std::string decoded;
    codec.Decode(encoded, decoded);
    fuzz::check(decoded == rest, "base64 gives back what it encoded");
    const std::string wrapped = codec.EncodeWrapped(rest.data(), rest.size());
    fuzz::check(wrapped.size() >= encoded.size(), "wrapped base64 holds the whole text");
    std::string loose;
    codec.Decode(rest, loose);

    static const std::string attachment = fuzz::writeScratchFile("sales.xls", "attached bytes");
    static const FixedClock clock;
    CMIMEMessage message(clock);
    message.setFrom(std::string(fuzz::nextPiece(rest)));
    message.setSubject(std::string(fuzz::nextPiece(rest)));
    std::string badEntry;
    message.AddRecipientList(fuzz::nextPiece(rest), To, &badEntry);
    message.AddRecipientList(fuzz::nextPiece(rest), Cc, &badEntry);
    const std::string_view extraText = fuzz::nextPiece(rest);
    const bool withAttachment = !extraText.empty() && extraText.front() == 'a';
    if (!extraText.empty()) {
        message.AddPart(extraText, TextPlain, "", 0, false);
    }
    if (withAttachment) {
        message.AddPart(attachment, AppOctetStream, "", 4, true);
    }
    message.setBody(std::string(rest));

    std::string error;
    fuzz::check(message.Compose(error), "a mail with a readable attachment composes", error);
    const std::string& header = message.header();
    fuzz::check(header.find("; boundary=" + message.boundary() + "\r\n") != std::string::npos,
                "the header names the boundary");
    // Header lines never come from user text: each one starts a known field, or goes on with
    // an encoded word where a field holding text outside ASCII is folded.
    static constexpr std::string_view kFields[] = {
        "From: ",    "To: ",       "Cc: ",           "Date: ",
        "Subject: ", "X-Mailer: ", "MIME-Version: ", "Content-Type: "};
    std::size_t fields = 0;
    for (std::size_t at = 0; at + 2 < header.size(); at = header.find("\r\n", at) + 2) {
        const std::string_view line = std::string_view(header).substr(at);
        if (line.starts_with(" =?UTF-8?B?")) {
            continue;
        }
        fuzz::check(fields < std::size(kFields) && line.starts_with(kFields[fields]),
                    "each header line starts its field in turn", header);
        ++fields;
    }
    fuzz::check(fields == std::size(kFields), "the header has its eight fields", header);

    const std::string& body = message.body();
    const std::string opening = "--" + message.boundary() + "\r\n";
    const std::string closing = "--" + message.boundary() + "--\r\n";
    const std::size_t parts = !rest.empty() + !extraText.empty() + withAttachment;
    fuzz::check(countLines(body, opening) == parts, "every part opens once", body);
    fuzz::check(countLines(body, closing) == 1 && body.ends_with(closing),
                "the closing boundary ends the body once");
    return 0;
}
