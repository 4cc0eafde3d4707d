#include "mail/quoted_printable.h"

#include <algorithm>

namespace paginor {

namespace {

bool isHeld(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

void QuotedPrintableEncoder::Append(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    m_held.append(bytes);
    std::size_t keep = 0;
    while (keep < m_held.size() && isHeld(m_held[m_held.size() - 1 - keep])) {
        ++keep;
    }
    const std::string text = std::move(m_held);
    m_held = text.substr(text.size() - keep);
    encode(std::string_view(text).substr(0, text.size() - keep));
    if (m_out.size() > kFlushBytes) {
        m_sink(m_out);
        m_out.clear();
    }
}

void QuotedPrintableEncoder::Finish() {
    encode(m_held);
    m_held.clear();
    if (!m_out.empty()) {
        m_sink(m_out);
        m_out.clear();
    }
}

// Except at the end of the part, bytes does not end with a blank, tab or CR: each of them has the
// byte that decides its encoding behind it.
void QuotedPrintableEncoder::encode(std::string_view bytes) {
    // A blank or tab that ends a line, or the part, is encoded.
    const auto endsLine = [&](std::size_t i) {
        return i + 1 == bytes.size() ||
               (bytes[i + 1] == '\r' && i + 2 < bytes.size() && bytes[i + 2] == '\n');
    };
    const auto literal = [&](std::size_t i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        return (c >= 0x21 && c <= 0x7E && c != '=') || ((c == ' ' || c == '\t') && !endsLine(i));
    };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (literal(i)) {
            // Most of a sheet: a run of bytes that stand for themselves, cut only by soft breaks.
            std::size_t end = i + 1;
            while (end < bytes.size() && literal(end)) {
                ++end;
            }
            while (i < end) {
                if (m_lineLength == kMaxLineChars) {
                    m_out += "=\r\n";
                    m_lineLength = 0;
                }
                const std::size_t take = std::min(end - i, kMaxLineChars - m_lineLength);
                m_out.append(bytes.data() + i, take);
                m_lineLength += take;
                i += take;
            }
        } else if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            lineBreak();
            i += 2;
        } else {
            putEncoded(c);
            ++i;
        }
    }
}

void QuotedPrintableEncoder::put(std::string_view item) {
    if (m_lineLength + item.size() > kMaxLineChars) {
        m_out += "=\r\n";
        m_lineLength = 0;
    }
    m_out += item;
    m_lineLength += item.size();
}

void QuotedPrintableEncoder::putEncoded(unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const char item[3] = {'=', kHex[byte >> 4], kHex[byte & 0xF]};
    put(std::string_view(item, 3));
}

void QuotedPrintableEncoder::lineBreak() {
    m_out += "\r\n";
    m_lineLength = 0;
}

}  // namespace paginor
