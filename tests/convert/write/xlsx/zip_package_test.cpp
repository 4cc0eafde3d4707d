#include "convert/write/xlsx/zip_package.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/convert/convert_harness.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;
using testing::readText;

// Writes the archive to a file; runs of zeros of a block or more become holes, so that an
// archive of more than 4 GiB of zeros takes no room.
class SparseFile {
public:
    explicit SparseFile(const fs::path& path)
        : m_fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)) {}
    ~SparseFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    SparseFile(const SparseFile&) = delete;
    SparseFile& operator=(const SparseFile&) = delete;

    void write(std::string_view data) {
        ASSERT_GE(m_fd, 0);
        const bool zeros = data.size() >= kHole &&
                           std::all_of(data.begin(), data.end(), [](char c) { return c == 0; });
        if (!zeros) {
            ASSERT_EQ(::pwrite(m_fd, data.data(), data.size(), static_cast<off_t>(m_size)),
                      static_cast<ssize_t>(data.size()));
        }
        m_size += data.size();
    }
    void close() {
        ASSERT_EQ(::ftruncate(m_fd, static_cast<off_t>(m_size)), 0);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    static constexpr std::size_t kHole = 4096;
    int m_fd;
    std::uint64_t m_size = 0;
};

class ZipPackage : public testing::ScratchFolderTest {
protected:
    // The names Python's zipfile lists, one a line, after it extracted every entry into out/.
    std::string extracted(const fs::path& archive) const {
        return testing::runCommand(
            "/usr/bin/python3 -c \"import sys, zipfile\n"
            "z = zipfile.ZipFile(sys.argv[1])\n"
            "z.extractall(sys.argv[2])\n"
            "print('\\n'.join(z.namelist()))\" '" +
            archive.string() + "' '" + (m_dir / "out").string() + "' 2>&1");
    }
};

std::string patterned(std::size_t size) {
    std::string text;
    text.reserve(size);
    std::uint32_t seed = 12345;
    while (text.size() < size) {
        seed = seed * 1103515245u + 12345u;
        // Runs that compress, bytes of every value that do not.
        text += (seed >> 28) < 8 ? std::string(1 + (seed >> 20) % 40, 'a' + (seed >> 8) % 26)
                                 : std::string(1, static_cast<char>(seed >> 16));
    }
    text.resize(size);
    return text;
}

// Every kind of entry comes back whole, with its CRC and sizes, and the zip layer agrees with
// itself byte by byte: deflated here, stored, compressed apart in pieces joined into one stream,
// and stored from pieces.
TEST_F(ZipPackage, EntriesReadBackWhole) {
    struct Case {
        const char* name;
        std::string data;
        enum { Add, Store, Pieces, StoreWritten } how;
    };
    const std::vector<Case> cases = {
        {"empty.xml", "", Case::Add},
        {"small.xml", "<a>text</a>", Case::Add},
        {"large.xml", patterned(3 << 20), Case::Add},
        {"media/image1.png", patterned(70000), Case::Store},
        {"media/empty.gif", "", Case::Store},
        {"xl/worksheets/sheet1.xml", patterned(1 << 20), Case::Pieces},
        {"xl/media/image2.jpeg", patterned(300000), Case::StoreWritten},
    };
    const fs::path archive = m_dir / "entries.zip";
    {
        std::ofstream out(archive, std::ios::binary);
        ZipWriter zip([&out](std::string_view data) { out.write(data.data(), data.size()); });
        for (const Case& c : cases) {
            switch (c.how) {
                case Case::Add:
                    zip.add(c.name, c.data);
                    break;
                case Case::Store:
                    zip.store(c.name, c.data);
                    break;
                case Case::Pieces: {
                    // Three pieces compressed on their own, the CRC made from theirs.
                    DeflatePieces deflate;
                    std::string compressed;
                    std::uint32_t crc = 0;
                    const std::size_t third = c.data.size() / 3;
                    for (int i = 0; i < 3; ++i) {
                        const std::string_view piece =
                            std::string_view(c.data).substr(i * third, i < 2 ? third : c.data.npos);
                        deflate.compress(piece, compressed, i == 2);
                        crc = Crc32Combine(crc, Crc32(piece), piece.size());
                    }
                    EXPECT_EQ(crc, Crc32(c.data));
                    zip.addDeflated(c.name, compressed.size(), c.data.size(), crc,
                                    [&](const ZipWriter::Sink& sink) {
                                        for (std::size_t at = 0; at < compressed.size();
                                             at += 1000) {
                                            sink(std::string_view(compressed).substr(at, 1000));
                                        }
                                    });
                    break;
                }
                case Case::StoreWritten:
                    zip.storeWritten(c.name, c.data.size(), Crc32(c.data),
                                     [&](const ZipWriter::Sink& sink) {
                                         for (std::size_t at = 0; at < c.data.size(); at += 1026) {
                                             sink(std::string_view(c.data).substr(at, 1026));
                                         }
                                     });
                    break;
            }
        }
        zip.finish();
    }
    EXPECT_EQ(testing::packageFaults(archive.string(), true), "");
    std::string names;
    for (const Case& c : cases) {
        names += std::string(c.name) + "\n";
    }
    EXPECT_EQ(extracted(archive), names);
    for (const Case& c : cases) {
        EXPECT_TRUE(readText(m_dir / "out" / c.name) == c.data) << c.name;
    }
}

// An entry whose writer gives fewer or more bytes than its header promised fails the archive
// instead of shifting every entry after it.
TEST_F(ZipPackage, WrittenEntryOfAnotherSizeFails) {
    for (const std::size_t given : {99u, 101u}) {
        std::string archive;
        ZipWriter zip([&archive](std::string_view data) { archive += data; });
        const std::string data(given, 'x');
        EXPECT_THROW(zip.storeWritten("picture.png", 100, Crc32(data),
                                      [&](const ZipWriter::Sink& sink) { sink(data); }),
                     std::runtime_error);
    }
}

// 65,534 entries fit the end record's 16-bit count; from 65,535 on the count is the zip64 end
// record's, which the end record points to.
TEST_F(ZipPackage, EntryCountsPastSixteenBitsTakeAZip64EndRecord) {
    for (const std::size_t count : {65534u, 65535u, 70000u}) {
        SCOPED_TRACE(count);
        const fs::path archive = m_dir / "many.zip";
        std::uint64_t size = 0;
        {
            std::ofstream out(archive, std::ios::binary);
            ZipWriter zip([&](std::string_view data) {
                out.write(data.data(), data.size());
                size += data.size();
            });
            for (std::size_t i = 0; i < count; ++i) {
                const std::string n = std::to_string(i);
                if (i % 2 == 0) {
                    zip.add("d/" + n + ".xml", "<v>" + n + "</v>");
                } else {
                    zip.store("s/" + n, n);
                }
            }
            zip.finish();
        }
        EXPECT_EQ(testing::packageFaults(archive.string(), true), "");
        const std::string text = readText(archive);
        const bool zip64 = count >= 65535;
        // The zip64 end record and its locator stand right before the end record.
        EXPECT_EQ(text.substr(text.size() - 22 - 20 - 56, 4) == "PK\x06\x06", zip64);
        EXPECT_EQ(testing::runCommand("/usr/bin/python3 -c \"import sys, zipfile; "
                                      "print(len(zipfile.ZipFile(sys.argv[1]).infolist()))\" '" +
                                      archive.string() + "'"),
                  std::to_string(count) + "\n");
    }
}

// An entry of more than 4 GiB takes zip64 sizes in both its headers; an entry after 4 GiB of
// archive takes a zip64 offset, and a central directory there the zip64 end record. The entries
// hold zeros: the big one is stored from pieces into a sparse file, the other is compressed
// apart in pieces, as sheets are.
TEST_F(ZipPackage, SizesAndOffsetsPastFourGibTakeZip64Fields) {
    constexpr std::uint64_t kPiece = 64u << 20;
    constexpr std::uint64_t kPieces = 65;  // 4160 MiB, past 4 GiB
    const std::string zeros(kPiece, '\0');
    const std::uint32_t pieceCrc = Crc32(zeros);
    std::uint32_t crc = 0;
    for (std::uint64_t i = 0; i < kPieces; ++i) {
        crc = Crc32Combine(crc, pieceCrc, kPiece);
    }
    // One piece of zeros compressed on its own, repeated: one stream of 4160 MiB.
    DeflatePieces deflate;
    std::string piece;
    deflate.compress(zeros, piece, false);
    std::string last;
    deflate.compress({}, last, true);

    const fs::path archive = m_dir / "large.zip";
    SparseFile file(archive);
    {
        ZipWriter zip([&file](std::string_view data) { file.write(data); });
        zip.add("first.xml", "<a/>");
        zip.storeWritten("xl/media/image1.bmp", kPiece * kPieces, crc,
                         [&](const ZipWriter::Sink& sink) {
                             for (std::uint64_t i = 0; i < kPieces; ++i) {
                                 sink(zeros);
                             }
                         });
        zip.addDeflated("xl/worksheets/sheet1.xml", piece.size() * kPieces + last.size(),
                        kPiece * kPieces, crc, [&](const ZipWriter::Sink& sink) {
                            for (std::uint64_t i = 0; i < kPieces; ++i) {
                                sink(piece);
                            }
                            sink(last);
                        });
        zip.add("after.xml", "<b/>");
        zip.finish();
    }
    file.close();
    EXPECT_EQ(testing::packageFaults(archive.string(), true), "");
    EXPECT_EQ(testing::runCommand(
                  "/usr/bin/python3 -c \"import sys, zipfile\n"
                  "z = zipfile.ZipFile(sys.argv[1])\n"
                  "for i in z.infolist(): print(i.filename, i.file_size, i.header_offset > 2**32)\n"
                  "print(z.read('after.xml').decode())\" '" +
                  archive.string() + "' 2>&1"),
              "first.xml 4 False\n"
              "xl/media/image1.bmp 4362076160 False\n"
              "xl/worksheets/sheet1.xml 4362076160 True\n"
              "after.xml 4 True\n"
              "<b/>\n");
}

}  // namespace
}  // namespace paginor
