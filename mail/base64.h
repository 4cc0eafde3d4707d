#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// Base of the content codecs.
class CMIMECode {
public:
    virtual ~CMIMECode() = default;
    // The number of bytes decoded into out, or 0 when the text is empty or not valid.
    virtual int Decode(std::string_view text, std::string& out) = 0;
    // The encoded text in one line; null data gives the empty string.
    virtual std::string Encode(const void* data, std::size_t length) = 0;
};

// RFC 4648 base64 with '=' padding. Decoding skips '=' anywhere, reads each character by its low
// seven bits and refuses any other character, line breaks and blanks included.
class CBase64 final : public CMIMECode {
public:
    int Decode(std::string_view text, std::string& out) override;
    std::string Encode(const void* data, std::size_t length) override;
    std::string Encode(std::string_view bytes) { return Encode(bytes.data(), bytes.size()); }
    // Lines of 76 characters joined by "\r\n"; the text ends with "\r\n" only when its last
    // line is full.
    std::string EncodeWrapped(const void* data, std::size_t length);

    static constexpr std::string_view Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    static constexpr std::size_t kLineLength = 76;

private:
    std::string encode(const void* data, std::size_t length, bool wrapped);
    std::uint32_t ReadBits(int n, int& got, std::size_t& pos);
    void WriteBits(std::uint32_t value, int n, std::string& out);

    std::size_t m_inputLength = 0;
    int m_bitCount = 0;
    std::uint32_t m_bits = 0;
    const std::uint8_t* m_input = nullptr;
};

}  // namespace paginor
