#pragma once

// A zip archive written front to back (PKWARE APPNOTE 6.3.x: local headers, data, central
// directory; zip64 records where a size, an offset or the entry count passes the 32- or 16-bit
// fields), with entries compressed as raw deflate (RFC 1951) through zlib.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paginor {

// The compression of every deflated entry: zlib's fastest lazy-matching level, tuned for sheet
// XML, whose repeated runs of tags are long: longer lazy matches and nicer match lengths, fewer
// chains. Measured on the rows of a report's sheet against zlib's default level: 7 % larger, 30 %
// less time.
inline constexpr int kDeflateLevel = 4;
inline constexpr int kDeflateGoodLength = 2;
inline constexpr int kDeflateLazyMatch = 16;
inline constexpr int kDeflateNiceLength = 32;
inline constexpr int kDeflateChain = 8;

std::uint32_t Crc32(std::string_view data, std::uint32_t crc = 0);
// The CRC of a followed by b, from both CRCs and b's length.
std::uint32_t Crc32Combine(std::uint32_t a, std::uint32_t b, std::uint64_t bLength);

// Compresses the pieces of one deflate stream, each on its own: every piece but the last ends on a
// byte boundary without ending the stream (a sync flush) and none points back into another, so
// pieces compressed apart, on other threads too, make one stream when joined in order.
class DeflatePieces {
public:
    DeflatePieces();
    ~DeflatePieces();
    DeflatePieces(const DeflatePieces&) = delete;
    DeflatePieces& operator=(const DeflatePieces&) = delete;

    // Appends the compressed form of data to out; the last piece ends the stream. Throws
    // std::runtime_error with zlib's words when it cannot.
    void compress(std::string_view data, std::string& out, bool last);

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};

class ZipWriter {
public:
    using Sink = std::function<void(std::string_view)>;

    // sink receives the archive front to back and throws when it cannot take it.
    explicit ZipWriter(Sink sink);

    // An entry compressed here.
    void add(std::string_view name, std::string_view data);
    // An entry stored as it is (pictures, compressed already).
    void store(std::string_view name, std::string_view data);
    // An entry compressed already: its deflate stream, compressed bytes long, of an uncompressed
    // text size bytes long with the CRC given, comes from write in pieces to the sink it is given.
    void addDeflated(std::string_view name, std::uint64_t compressed, std::uint64_t size,
                     std::uint32_t crc, const std::function<void(const Sink&)>& write);
    // An entry stored as it is, size bytes with the CRC given, that comes from write in pieces
    // (a picture read from its file block by block).
    void storeWritten(std::string_view name, std::uint64_t size, std::uint32_t crc,
                      const std::function<void(const Sink&)>& write);
    // The central directory; nothing can be added after.
    void finish();

private:
    struct Entry {
        std::string name;
        std::uint64_t offset;
        std::uint64_t compressed;
        std::uint64_t size;
        std::uint32_t crc;
        std::uint16_t method;
    };
    void header(const Entry& entry);
    void put(std::string_view data);
    void addWritten(Entry entry, const std::function<void(const Sink&)>& write);

    Sink m_sink;
    std::uint64_t m_offset = 0;
    std::vector<Entry> m_entries;
    DeflatePieces m_deflate;
    std::string m_buffer;
};

}  // namespace paginor
