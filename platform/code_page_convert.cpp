#include "platform/code_page_convert.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/code_page_names.h"

namespace paginor {

namespace {

constexpr int kFallbackCodePage = 1252;
constexpr int kUtf8CodePage = 65001;
constexpr char32_t kReplacement = 0xFFFD;

class IconvHandle {
public:
    explicit IconvHandle(const std::string& from, const char* to = "UTF-32LE")
        : m_handle(iconv_open(to, from.c_str())) {}
    ~IconvHandle() {
        if (valid()) {
            iconv_close(m_handle);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_handle; }

private:
    iconv_t m_handle;
};

void appendUtf32(const char* first, const char* last, std::u32string& result) {
    for (const char* p = first; p + 4 <= last; p += 4) {
        const auto* u = reinterpret_cast<const unsigned char*>(p);
        result.push_back(static_cast<char32_t>(u[0] | (u[1] << 8) | (u[2] << 16) |
                                               (static_cast<std::uint32_t>(u[3]) << 24)));
    }
}

bool isPlainAscii(std::string_view bytes) {
    for (const unsigned char c : bytes) {
        if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\r' && c != '\n') {
            return false;
        }
    }
    return true;
}

std::u32string decodeWithIconv(std::string_view bytes, int codePage, std::string* diagnostic);

// Whether printable ASCII decodes to itself in the code page (not so in EBCDIC or UTF-7), so
// that such texts, most of a report, need no converter. Known per thread after the first ask.
bool keepsPlainAscii(int codePage) {
    thread_local std::unordered_map<int, bool> known;
    const auto found = known.find(codePage);
    if (found != known.end()) {
        return found->second;
    }
    std::string sample = "\t\r\n";
    for (char c = 0x20; c <= 0x7E; ++c) {
        sample.push_back(c);
    }
    std::string diagnostic;
    const std::u32string decoded = decodeWithIconv(sample, codePage, &diagnostic);
    const bool same = diagnostic.empty() && decoded == std::u32string(sample.begin(), sample.end());
    known.emplace(codePage, same);
    return same;
}

// Decodes to code points; one bad byte becomes one U+FFFD and decoding resumes after it.
std::u32string decode(std::string_view bytes, int codePage, std::string* diagnostic) {
    if (isPlainAscii(bytes) && keepsPlainAscii(codePage)) {
        if (diagnostic != nullptr) {
            diagnostic->clear();
        }
        return std::u32string(bytes.begin(), bytes.end());
    }
    return decodeWithIconv(bytes, codePage, diagnostic);
}

std::u32string decodeWithIconv(std::string_view bytes, int codePage, std::string* diagnostic) {
    if (diagnostic != nullptr) {
        diagnostic->clear();
    }
    std::string charset = charsetNameOfCodePage(codePage);
    auto handle = charset.empty() ? nullptr : std::make_unique<IconvHandle>(charset);
    if (handle == nullptr || !handle->valid()) {
        if (diagnostic != nullptr) {
            *diagnostic = "code page " + std::to_string(codePage) +
                          " is not supported; read as code page 1252";
        }
        handle = std::make_unique<IconvHandle>(charsetNameOfCodePage(kFallbackCodePage));
    }
    std::u32string result;
    if (!handle->valid()) {
        for (unsigned char c : bytes) {
            result.push_back(c < 0x80 ? c : kReplacement);
        }
        return result;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(handle->get(), &in, &inLeft, &out, &outLeft);
        const int error = errno;
        appendUtf32(buffer, out, result);
        if (rc == static_cast<std::size_t>(-1) && error != E2BIG) {
            result.push_back(kReplacement);
            ++in;
            --inLeft;
            iconv(handle->get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    // Stateful charsets hold back a character until the flush.
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    iconv(handle->get(), nullptr, nullptr, &out, &outLeft);
    appendUtf32(buffer, out, result);
    return result;
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void appendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        appendUtf8(out, nextCodePoint(text, i));
    }
    return out;
}

std::string codePageToUtf8(std::string_view bytes, int codePage, std::string* diagnostic) {
    std::string result;
    for (char32_t c : decode(bytes, codePage, diagnostic)) {
        appendUtf8(result, c);
    }
    return result;
}

std::u16string codePageToUtf16(std::string_view bytes, int codePage, std::string* diagnostic) {
    std::u16string result;
    for (char32_t c : decode(bytes, codePage, diagnostic)) {
        appendUtf16(result, c);
    }
    return result;
}

bool isPlainAsciiIn(std::string_view bytes, int codePage) {
    return isPlainAscii(bytes) && keepsPlainAscii(codePage);
}

std::string utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes;
    // The first byte left out continues a character: that character is left out whole.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string codePointToCodePage(char32_t c, int codePage) {
    // UTF-8 needs no converter, which would be opened for every character.
    if (codePage == kUtf8CodePage) {
        std::string bytes;
        if (c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF)) {
            appendUtf8(bytes, c);
        }
        return bytes;
    }
    std::string charset = charsetNameOfCodePage(codePage);
    auto handle =
        charset.empty() ? nullptr : std::make_unique<IconvHandle>("UTF-32LE", charset.c_str());
    if (handle == nullptr || !handle->valid()) {
        handle = std::make_unique<IconvHandle>("UTF-32LE",
                                               charsetNameOfCodePage(kFallbackCodePage).c_str());
    }
    if (!handle->valid() || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return {};
    }
    char input[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                     static_cast<char>((c >> 16) & 0xFF), static_cast<char>(c >> 24)};
    char* in = input;
    std::size_t inLeft = sizeof input;
    char buffer[32];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(handle->get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(handle->get(), nullptr, nullptr, &out, &outLeft) == static_cast<std::size_t>(-1)) {
        return {};
    }
    return std::string(buffer, out);
}

}  // namespace paginor
