#include "mail/base64.h"

#include <array>
#include <climits>

namespace paginor {
namespace {

constexpr std::array<std::uint32_t, 9> kMasks = {0, 1, 3, 7, 15, 31, 63, 127, 255};
constexpr int kSkip = -1;
constexpr int kInvalid = -2;

constexpr std::array<int, 128> decodeTable() {
    std::array<int, 128> table{};
    table.fill(kInvalid);
    for (std::size_t i = 0; i < CBase64::Alphabet.size(); ++i) {
        table[static_cast<unsigned char>(CBase64::Alphabet[i])] = static_cast<int>(i);
    }
    table['='] = kSkip;
    return table;
}

constexpr std::array<int, 128> kDecode = decodeTable();

}  // namespace

std::uint32_t CBase64::ReadBits(int n, int& got, std::size_t& pos) {
    while (m_bitCount < n && pos < m_inputLength) {
        m_bits = (m_bits << 8) | m_input[pos];
        m_bitCount += 8;
        ++pos;
    }
    if (m_bitCount >= n) {
        got = n;
        m_bitCount -= n;
        return (m_bits >> m_bitCount) & kMasks[static_cast<std::size_t>(n)];
    }
    got = m_bitCount;
    std::uint32_t value = (m_bits << (n - m_bitCount)) & kMasks[static_cast<std::size_t>(n)];
    m_bitCount = 0;
    return value;
}

void CBase64::WriteBits(std::uint32_t value, int n, std::string& out) {
    m_bits = (m_bits << n) | value;
    m_bitCount += n;
    while (m_bitCount > 7) {
        out += static_cast<char>((m_bits >> (m_bitCount - 8)) & 0xFF);
        m_bitCount -= 8;
    }
}

std::string CBase64::encode(const void* data, std::size_t length, bool wrapped) {
    std::string text;
    if (data == nullptr) {
        return text;
    }
    m_input = static_cast<const std::uint8_t*>(data);
    m_inputLength = length;
    m_bitCount = 0;
    m_bits = 0;
    std::size_t groups = (length + 2) / 3;
    text.reserve(groups * 4 + (wrapped ? groups * 4 / kLineLength * 2 + 2 : 0));
    std::size_t pos = 0;
    std::size_t column = 0;
    int got = 0;
    for (std::uint32_t value = ReadBits(6, got, pos); got > 0; value = ReadBits(6, got, pos)) {
        if (wrapped && column == kLineLength) {
            text += "\r\n";
            column = 0;
        }
        text += Alphabet[value];
        ++column;
    }
    // Without wrapping the column is the text's length.
    while (column % 4 != 0) {
        text += '=';
        ++column;
    }
    if (wrapped && column >= kLineLength) {
        text += "\r\n";
    }
    m_input = nullptr;
    return text;
}

std::string CBase64::Encode(const void* data, std::size_t length) {
    return encode(data, length, false);
}

std::string CBase64::EncodeWrapped(const void* data, std::size_t length) {
    return encode(data, length, true);
}

int CBase64::Decode(std::string_view text, std::string& out) {
    out.clear();
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return 0;
    }
    m_bitCount = 0;
    m_bits = 0;
    out.reserve(text.size() * 3 / 4 + 1);
    for (char c : text) {
        int value = kDecode[static_cast<unsigned char>(c) & 0x7F];
        if (value == kInvalid) {
            out.clear();
            return 0;
        }
        if (value != kSkip) {
            WriteBits(static_cast<std::uint32_t>(value), 6, out);
        }
    }
    return static_cast<int>(out.size());
}

}  // namespace paginor
