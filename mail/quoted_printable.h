#pragma once

// Quoted-printable body encoding of RFC 2045, section 6.7.

#include <functional>
#include <string>
#include <string_view>

namespace paginor {

// Encodes one MIME part's body given in pieces of any size. The line length carries over from
// piece to piece, so no encoded line exceeds 76 characters. CR LF pairs are the part's line
// breaks; a lone CR or LF is encoded, as is a blank or tab that would end a line.
class QuotedPrintableEncoder {
public:
    static constexpr std::size_t kMaxLineChars = 75;  // before the '=' of a soft break
    static constexpr std::size_t kFlushBytes = 2048;

    explicit QuotedPrintableEncoder(std::function<void(std::string_view)> sink)
        : m_sink(std::move(sink)) {}

    void Append(std::string_view bytes);
    // Encodes what was held back for the next piece and hands everything to the sink.
    void Finish();

private:
    void encode(std::string_view bytes);
    void put(std::string_view item);
    void putEncoded(unsigned char byte);
    void lineBreak();

    std::function<void(std::string_view)> m_sink;
    std::string m_held;  // trailing blanks, tabs and CRs whose encoding the next byte decides
    std::string m_out;
    std::size_t m_lineLength = 0;
};

}  // namespace paginor
