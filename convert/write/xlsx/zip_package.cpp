#include "convert/write/xlsx/zip_package.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace paginor {

namespace {

constexpr std::uint32_t kLocalHeader = 0x04034B50;
constexpr std::uint32_t kCentralHeader = 0x02014B50;
constexpr std::uint32_t kEndOfDirectory = 0x06054B50;
constexpr std::uint32_t kZip64EndOfDirectory = 0x06064B50;
constexpr std::uint32_t kZip64Locator = 0x07064B50;
constexpr std::uint16_t kZip64Extra = 0x0001;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kVersion = 20;                       // deflate
constexpr std::uint16_t kVersionZip64 = 45;                  // zip64 records
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01, the earliest
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::size_t kOutStep = 64 * 1024;

void le16(std::string& out, std::uint64_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void le32(std::string& out, std::uint64_t value) {
    le16(out, value & 0xFFFF);
    le16(out, (value >> 16) & 0xFFFF);
}
void le64(std::string& out, std::uint64_t value) {
    le32(out, value & 0xFFFFFFFF);
    le32(out, value >> 32);
}

}  // namespace

std::uint32_t Crc32(std::string_view data, std::uint32_t crc) {
    // zlib takes at most 4 GiB a call.
    constexpr std::size_t kStep = std::numeric_limits<uInt>::max();
    while (!data.empty()) {
        const std::size_t n = std::min(data.size(), kStep);
        crc = static_cast<std::uint32_t>(
            crc32(crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(n)));
        data.remove_prefix(n);
    }
    return crc;
}

std::uint32_t Crc32Combine(std::uint32_t a, std::uint32_t b, std::uint64_t bLength) {
    return static_cast<std::uint32_t>(crc32_combine64(a, b, static_cast<z_off64_t>(bLength)));
}

struct DeflatePieces::Stream {
    z_stream z{};
    bool open = false;
};

DeflatePieces::DeflatePieces() : m_stream(std::make_unique<Stream>()) {}

DeflatePieces::~DeflatePieces() {
    if (m_stream->open) {
        deflateEnd(&m_stream->z);
    }
}

void DeflatePieces::compress(std::string_view data, std::string& out, bool last) {
    z_stream& z = m_stream->z;
    if (!m_stream->open) {
        // Raw deflate: zip keeps its own CRC and sizes.
        if (deflateInit2(&z, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            throw std::runtime_error("the compressor cannot start: out of memory");
        }
        m_stream->open = true;
    } else {
        // Each piece stands alone: nothing in it may point back into another.
        deflateReset(&z);
    }
    // A reset takes the level's own tuning back.
    deflateTune(&z, kDeflateGoodLength, kDeflateLazyMatch, kDeflateNiceLength, kDeflateChain);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    std::size_t remaining = data.size();
    do {
        // zlib counts its input in 32 bits.
        const auto step = static_cast<uInt>(std::min<std::size_t>(remaining, 1u << 30));
        z.avail_in = step;
        remaining -= step;
        const int mode = remaining > 0 ? Z_NO_FLUSH : (last ? Z_FINISH : Z_SYNC_FLUSH);
        // Room for the whole piece at once; a call that fills it is called again.
        do {
            const std::size_t at = out.size();
            const std::size_t room = std::max<std::size_t>(kOutStep, deflateBound(&z, z.avail_in));
            out.resize(at + room);
            z.next_out = reinterpret_cast<Bytef*>(out.data() + at);
            z.avail_out = static_cast<uInt>(room);
            const int status = deflate(&z, mode);
            out.resize(out.size() - z.avail_out);
            if (status == Z_STREAM_ERROR) {
                throw std::runtime_error(std::string("compression failed: ") +
                                         (z.msg != nullptr ? z.msg : "stream error"));
            }
        } while (z.avail_out == 0);
    } while (remaining > 0);
}

ZipWriter::ZipWriter(Sink sink) : m_sink(std::move(sink)) {}

void ZipWriter::put(std::string_view data) {
    m_sink(data);
    m_offset += data.size();
}

void ZipWriter::header(const Entry& entry) {
    const bool zip64 = entry.compressed >= kMax32 || entry.size >= kMax32;
    std::string out;
    le32(out, kLocalHeader);
    le16(out, zip64 ? kVersionZip64 : kVersion);
    le16(out, 0);
    le16(out, entry.method);
    le16(out, 0);
    le16(out, kDosDate);
    le32(out, entry.crc);
    le32(out, zip64 ? kMax32 : entry.compressed);
    le32(out, zip64 ? kMax32 : entry.size);
    le16(out, entry.name.size());
    le16(out, zip64 ? 20 : 0);
    out += entry.name;
    if (zip64) {
        le16(out, kZip64Extra);
        le16(out, 16);
        le64(out, entry.size);
        le64(out, entry.compressed);
    }
    put(out);
}

void ZipWriter::add(std::string_view name, std::string_view data) {
    m_buffer.clear();
    m_deflate.compress(data, m_buffer, true);
    Entry entry{std::string(name), m_offset, m_buffer.size(), data.size(), Crc32(data), kDeflated};
    header(entry);
    put(m_buffer);
    m_entries.push_back(std::move(entry));
}

void ZipWriter::store(std::string_view name, std::string_view data) {
    Entry entry{std::string(name), m_offset, data.size(), data.size(), Crc32(data), kStored};
    header(entry);
    put(data);
    m_entries.push_back(std::move(entry));
}

void ZipWriter::addDeflated(std::string_view name, std::uint64_t compressed, std::uint64_t size,
                            std::uint32_t crc, const std::function<void(const Sink&)>& write) {
    addWritten({std::string(name), m_offset, compressed, size, crc, kDeflated}, write);
}

void ZipWriter::storeWritten(std::string_view name, std::uint64_t size, std::uint32_t crc,
                             const std::function<void(const Sink&)>& write) {
    addWritten({std::string(name), m_offset, size, size, crc, kStored}, write);
}

void ZipWriter::addWritten(Entry entry, const std::function<void(const Sink&)>& write) {
    header(entry);
    std::uint64_t written = 0;
    write([this, &written](std::string_view piece) {
        put(piece);
        written += piece.size();
    });
    // The header promised this many bytes: any other count breaks every entry after it.
    if (written != entry.compressed) {
        throw std::runtime_error(entry.name + ": " + std::to_string(written) + " of " +
                                 std::to_string(entry.compressed) + " bytes came");
    }
    m_entries.push_back(std::move(entry));
}

void ZipWriter::finish() {
    const std::uint64_t start = m_offset;
    std::string out;
    for (const Entry& entry : m_entries) {
        const bool sizes = entry.compressed >= kMax32 || entry.size >= kMax32;
        const bool offset = entry.offset >= kMax32;
        out.clear();
        le32(out, kCentralHeader);
        le16(out, (3 << 8) | ((sizes || offset) ? kVersionZip64 : kVersion));  // made on Unix
        le16(out, (sizes || offset) ? kVersionZip64 : kVersion);
        le16(out, 0);
        le16(out, entry.method);
        le16(out, 0);
        le16(out, kDosDate);
        le32(out, entry.crc);
        le32(out, sizes ? kMax32 : entry.compressed);
        le32(out, sizes ? kMax32 : entry.size);
        le16(out, entry.name.size());
        le16(out, (sizes ? 16 : 0) + (offset ? 8 : 0) + ((sizes || offset) ? 4 : 0));
        le16(out, 0);
        le16(out, 0);
        le16(out, 0);
        le32(out, 0100644u << 16);  // a plain file, rw-r--r--
        le32(out, offset ? kMax32 : entry.offset);
        out += entry.name;
        if (sizes || offset) {
            le16(out, kZip64Extra);
            le16(out, (sizes ? 16 : 0) + (offset ? 8 : 0));
            if (sizes) {
                le64(out, entry.size);
                le64(out, entry.compressed);
            }
            if (offset) {
                le64(out, entry.offset);
            }
        }
        put(out);
    }
    const std::uint64_t size = m_offset - start;
    const std::uint64_t count = m_entries.size();
    out.clear();
    if (count >= kMax16 || size >= kMax32 || start >= kMax32) {
        const std::uint64_t record = m_offset;
        le32(out, kZip64EndOfDirectory);
        le64(out, 44);
        le16(out, (3 << 8) | kVersionZip64);
        le16(out, kVersionZip64);
        le32(out, 0);
        le32(out, 0);
        le64(out, count);
        le64(out, count);
        le64(out, size);
        le64(out, start);
        le32(out, kZip64Locator);
        le32(out, 0);
        le64(out, record);
        le32(out, 1);
    }
    le32(out, kEndOfDirectory);
    le16(out, 0);
    le16(out, 0);
    le16(out, std::min<std::uint64_t>(count, kMax16));
    le16(out, std::min<std::uint64_t>(count, kMax16));
    le32(out, std::min<std::uint64_t>(size, kMax32));
    le32(out, std::min<std::uint64_t>(start, kMax32));
    le16(out, 0);
    put(out);
}

}  // namespace paginor
