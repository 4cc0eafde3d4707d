// The files an export writes, in every kind, through the conversion entry the export dialog
// calls: names up to the folder's limit, modes, links, a full temporary folder, a report cut on
// disk, and the order in which a file is made durable.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/conversion_driver.h"
#include "convert/write/excel_automation.h"
#include "convert/write/xlsx/workbook.h"
#include "core/report_core.h"
#include "platform/detail/replacing_file.h"
#include "tests/convert/convert_harness.h"
#include "tests/convert/report_texts.h"

namespace paginor {
namespace {

namespace fs = std::filesystem;
using testing::readText;

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

unsigned modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

// 報, three bytes in UTF-8, count times.
std::string cjk(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "\xE5\xA0\xB1";
    }
    return text;
}

struct Kind {
    const char* name;
    ExportFileFormat format;
    const char* extension;
};

const Kind kKinds[] = {
    {"delimited", ExportFileFormat::Delimited, ".xls"},
    {"SpreadsheetML", ExportFileFormat::SpreadsheetMl, ".xml"},
    {"web archive", ExportFileFormat::ExcelCompatible, ".mht"},
    {"xlsx", ExportFileFormat::NativeExcel, ".xlsx"},
};

// The umask of the process for the life of one object.
class Umask {
public:
    explicit Umask(mode_t mask) : m_before(::umask(mask)) {}
    ~Umask() { ::umask(m_before); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

private:
    mode_t m_before;
};

class WrittenFiles : public testing::ScratchFolderTest {
protected:
    void load(const std::string& html) {
        writeText(report(), html);
        ASSERT_EQ(m_core.Init(report().string(), nullptr, false, nullptr, nullptr, nullptr), 0);
    }

    fs::path report() const { return m_dir / "report.htm"; }

    ExcelOutputOptions options(const Kind& kind, const fs::path& target) {
        ExcelOutputOptions o;
        o.fileFormat = kind.format;
        o.excel = kind.format == ExportFileFormat::NativeExcel ? ExcelLauncher(StartXlsxApplication)
                                                               : ExcelLauncher();
        o.firstPage = 1;
        o.lastPage = static_cast<std::int32_t>(m_core.pageTable().size());
        o.outputPath = target.string();
        return o;
    }

    // The export's failure text; empty when it succeeded.
    std::string exportFailure(const ExcelOutputOptions& o) {
        try {
            EXPECT_EQ(OutputToExcelFile(m_core, o), 0);
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.code(), -1);
            return error.text();
        }
        return "";
    }

    // What a reader of the kind makes of the file: a row count, or why it could not read it.
    static std::string readBack(const Kind& kind, const fs::path& path) {
        const std::string quoted = "'" + path.string() + "'";
        switch (kind.format) {
            case ExportFileFormat::SpreadsheetMl:
                return testing::runCommand("xmllint --noout " + quoted + " 2>&1 && echo xml");
            case ExportFileFormat::NativeExcel:
                return testing::runCommand(
                    "/usr/bin/python3 -c \"import openpyxl,sys; "
                    "print(openpyxl.load_workbook(sys.argv[1]).active.max_row)\" " +
                    quoted + " 2>&1");
            case ExportFileFormat::ExcelCompatible:
                return testing::runCommand(
                    "/usr/bin/python3 -c \"import email,sys; "
                    "m=email.message_from_binary_file(open(sys.argv[1],'rb')); "
                    "print(len(m.get_payload()))\" " +
                    quoted + " 2>&1");
            default:
                break;
        }
        const std::string text = readText(path);
        return std::to_string(std::count(text.begin(), text.end(), '\n')) + "\n";
    }

    CReportCore m_core;
};

// Every name the folder takes is written, however near the limit of 255 bytes; bytes count, not
// characters.
TEST_F(WrittenFiles, NamesUpToTheFoldersLimitAreWrittenInEveryKind) {
    load(testing::htmlReport(3));
    // Rows of the delimited text and of the workbook; the web archive's frameset, style sheet
    // and one sheet.
    const std::string expected[] = {"24\n", "xml\n", "3\n", "24\n"};
    for (std::size_t k = 0; k < std::size(kKinds); ++k) {
        const Kind& kind = kKinds[k];
        const std::string extension = kind.extension;
        for (const std::string& name :
             {std::string(224 - extension.size(), 'a') + extension,
              std::string(239 - extension.size(), 'b') + extension,
              std::string(240 - extension.size(), 'c') + extension,
              std::string(255 - extension.size(), 'd') + extension, cjk(80) + extension}) {
            SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(name.size()) + " bytes");
            const fs::path target = m_dir / name;
            EXPECT_EQ(exportFailure(options(kind, target)), "");
            EXPECT_EQ(readBack(kind, target), expected[k]);
            std::vector<std::string> expectedFiles = {name, "report.htm"};
            std::sort(expectedFiles.begin(), expectedFiles.end());
            EXPECT_EQ(files(m_dir), expectedFiles);
            fs::remove(target);
        }
    }
}

// A name the folder cannot take is refused before any page is converted, in words.
TEST_F(WrittenFiles, ANameTooLongIsRefusedBeforeAnyPageIsConverted) {
    load(testing::htmlReport(3));
    for (const Kind& kind : kKinds) {
        const std::string extension = kind.extension;
        std::vector<std::string> names = {std::string(256 - extension.size(), 'a') + extension,
                                          cjk(84) + extension};
        if (kind.format == ExportFileFormat::NativeExcel) {
            // 255 bytes as given, 256 once the workbook's "x" is added.
            names.push_back(std::string(251, 'w') + ".xls");
        }
        for (const std::string& name : names) {
            const std::string written =
                name.ends_with(".xls") && kind.format == ExportFileFormat::NativeExcel ? name + "x"
                                                                                       : name;
            SCOPED_TRACE(std::string(kind.name) + ", " + std::to_string(written.size()) + " bytes");
            ExcelOutputOptions o = options(kind, m_dir / name);
            std::vector<int> progress;
            o.mainWindowProgress = [&](int percent) { progress.push_back(percent); };
            EXPECT_EQ(exportFailure(o),
                      "The file " + (m_dir / written).string() +
                          " cannot be written: the name takes " + std::to_string(written.size()) +
                          " bytes, more than the 255 the folder " + m_dir.string() +
                          " takes (File name too long). [OtEFOp1]");
            EXPECT_EQ(progress, std::vector<int>{});
            EXPECT_EQ(files(m_dir), std::vector<std::string>{"report.htm"});
        }
    }
}

// A new file follows the umask, a replaced one keeps its mode: a private report stays private.
TEST_F(WrittenFiles, ModesFollowTheUmaskAndPrivateFilesStayPrivate) {
    load(testing::htmlReport(3));
    struct Case {
        const char* name;
        mode_t umask;
        int before;  // the replaced file's mode; -1: there is none
        unsigned after;
    };
    const Case cases[] = {
        {"new under umask 077", 077, -1, 0600},
        {"new under umask 022", 022, -1, 0644},
        {"private file replaced under umask 022", 022, 0600, 0600},
        {"shared file replaced under umask 077", 077, 0664, 0664},
    };
    for (const Kind& kind : kKinds) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(kind.name) + ", " + c.name);
            const fs::path target = m_dir / (std::string("out") + kind.extension);
            fs::remove(target);
            if (c.before >= 0) {
                writeText(target, "old");
                fs::permissions(target, static_cast<fs::perms>(c.before));
            }
            Umask umask(c.umask);
            EXPECT_EQ(exportFailure(options(kind, target)), "");
            EXPECT_NE(readText(target), "old");
            EXPECT_EQ(modeOf(target), c.after);
        }
    }
}

// Exporting over a symbolic link writes the file the link names and keeps the link.
TEST_F(WrittenFiles, AnExportOverALinkWritesTheFileItNames) {
    load(testing::htmlReport(3));
    fs::create_directory(m_dir / "data");
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const std::string name = std::string("real") + kind.extension;
        writeText(m_dir / "data" / name, "old");
        fs::permissions(m_dir / "data" / name, fs::perms::owner_read | fs::perms::owner_write);
        const fs::path link = m_dir / (std::string("link") + kind.extension);
        fs::create_symlink("data/" + name, link);
        EXPECT_EQ(exportFailure(options(kind, link)), "");
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), "data/" + name);
        EXPECT_NE(readText(m_dir / "data" / name), "old");
        EXPECT_EQ(modeOf(m_dir / "data" / name), 0600u);
        fs::remove(link);
        EXPECT_EQ(files(m_dir), (std::vector<std::string>{"data", "report.htm"}));
    }
    EXPECT_EQ(files(m_dir / "data"),
              (std::vector<std::string>{"real.mht", "real.xls", "real.xlsx", "real.xml"}));
}

// A full temporary folder is a full disk, said so in every kind that uses the folder; no kind
// calls it the program's fault or asks for the report. The folder is a small file system of its
// own when the test may mount one, else every file of the process is held to a small size.
TEST_F(WrittenFiles, AFullTemporaryFolderIsAFullDisk) {
    load(testing::htmlReport(4000));
    const fs::path temporary = m_dir / "tmp";
    fs::create_directory(temporary);
    const bool mounted = ::mount("tmpfs", temporary.c_str(), "tmpfs", 0, "size=64k") == 0;
    const char* before = std::getenv("TMPDIR");
    const std::string saved = before != nullptr ? before : "";
    setenv("TMPDIR", temporary.c_str(), 1);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const fs::path target = m_dir / (std::string("out") + kind.extension);
        writeText(target, "old");
        if (!mounted) {
            rlimit small = limit;
            small.rlim_cur = 64 * 1024;
            ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
            signal(SIGXFSZ, SIG_IGN);
        }
        const std::string failure = exportFailure(options(kind, target));
        if (!mounted) {
            setrlimit(RLIMIT_FSIZE, &limit);
            signal(SIGXFSZ, SIG_DFL);
        }
        if (mounted && kind.format == ExportFileFormat::Delimited) {
            // Delimited text needs no temporary file.
            EXPECT_EQ(failure, "");
            EXPECT_NE(readText(target), "old");
        } else {
            EXPECT_NE(failure.find(mounted ? "the disk is full (No space left on device)"
                                           : "(File too large)"),
                      std::string::npos)
                << failure;
            EXPECT_EQ(failure.find("fatal bug"), std::string::npos) << failure;
            EXPECT_EQ(failure.find("Please send the file"), std::string::npos) << failure;
            EXPECT_EQ(readText(target), "old");
        }
        EXPECT_TRUE(fs::is_empty(temporary));
        fs::remove(target);
    }
    if (mounted) {
        ::umount(temporary.c_str());
    }
    if (saved.empty()) {
        unsetenv("TMPDIR");
    } else {
        setenv("TMPDIR", saved.c_str(), 1);
    }
    EXPECT_EQ(files(m_dir), (std::vector<std::string>{"report.htm", "tmp"}));
}

// A report that another program cut while it was open is named as the cause; nothing is
// written.
TEST_F(WrittenFiles, AReportCutOnDiskIsNamedAsTheCause) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        load(testing::htmlReport(300));
        const std::int64_t size = static_cast<std::int64_t>(fs::file_size(report()));
        fs::resize_file(report(), static_cast<std::uintmax_t>(size / 2));
        const fs::path target = m_dir / (std::string("out") + kind.extension);
        writeText(target, "old");
        EXPECT_EQ(exportFailure(options(kind, target)),
                  "The report file " + report().string() +
                      " was changed or cut on disk after it was opened: it no longer holds the " +
                      std::to_string(size) + " bytes it held then. Open the report again.");
        EXPECT_EQ(readText(target), "old");
        EXPECT_EQ(files(m_dir),
                  (std::vector<std::string>{std::string("out") + kind.extension, "report.htm"}));
        fs::remove(target);
    }
}

// Every kind makes its file durable the one way: the data on the disk, then the name, then the
// folder's record of it, once.
TEST_F(WrittenFiles, EveryKindIsOnTheDiskBeforeItTakesItsName) {
    load(testing::htmlReport(3));
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const fs::path target = m_dir / (std::string("out") + kind.extension);
        std::vector<std::string> steps;
        detail::observeDurableSteps([&](std::string_view step) {
            // The long flush of a large file may come before the commit's own.
            if (steps.empty() || steps.back() != step) {
                steps.emplace_back(step);
            }
        });
        EXPECT_EQ(exportFailure(options(kind, target)), "");
        detail::observeDurableSteps(nullptr);
        EXPECT_EQ(steps,
                  (std::vector<std::string>{"sync " + target.string(), "rename " + target.string(),
                                            "sync folder " + m_dir.string()}));
    }
}

}  // namespace
}  // namespace paginor
