#include "app/print/page_setup_store.h"

#include <sys/stat.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace paginor {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t wordAt(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[offset + i]);
    return static_cast<std::int32_t>(value);
}

void putWord(std::string& bytes, std::size_t offset, std::int32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
}

bool exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

TEST(PageSetupStoreTest, FirstSaveWithoutFileWritesTheNewLayout) {
    TempDir dir;
    const std::string path = dir.path() + "/pagesetup.dat";
    PageSetupStore store;
    store.Load(path);
    EXPECT_EQ(store.loadProblem(), "");
    std::string error;
    ASSERT_TRUE(store.Save(error)) << error;

    const std::string bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 1464u);
    const std::int32_t header[] = {120, 1, 120, 0, 8, 440, 0, 8, 696, 0, 4, 824, -1, -1, 0};
    for (std::size_t i = 0; i < std::size(header); ++i)
        EXPECT_EQ(wordAt(bytes, i * 4), header[i]) << "word " << i;
    EXPECT_EQ(bytes.find_first_not_of('\0', 60), std::string::npos);
    EXPECT_FALSE(store.changed());
}

TEST(PageSetupStoreTest, ChoicesComeBackFromTheFile) {
    TempDir dir;
    const std::string path = dir.path() + "/pagesetup.dat";
    {
        PageSetupStore store;
        store.Load(path);
        store.Update(1056, "A4", "Office", 1);
        store.Update(792, "Letter", "Hall", 0);
        store.SetCurrent("Legal", "Office", 0);
        store.SetCurrentValue(40);
        std::string error;
        ASSERT_TRUE(store.Save(error)) << error;
    }
    PageSetupStore store;
    store.Load(path);
    ASSERT_EQ(store.loadProblem(), "");
    EXPECT_FALSE(store.changed());
    std::string paper, printer;
    int orientation = -1;
    ASSERT_TRUE(store.LookupByKey(1056, paper, printer, orientation));
    EXPECT_EQ(paper + "|" + printer + "|" + std::to_string(orientation), "A4|Office|1");
    ASSERT_TRUE(store.LookupByKey(792, paper, printer, orientation));
    EXPECT_EQ(paper + "|" + printer + "|" + std::to_string(orientation), "Letter|Hall|0");
    EXPECT_FALSE(store.LookupByKey(500, paper, printer, orientation));
    EXPECT_EQ(paper + printer, "");
    ASSERT_TRUE(store.LookupByPaper("A4", printer, orientation));
    EXPECT_EQ(printer, "Office");
    ASSERT_TRUE(store.LookupCurrent(paper, printer, orientation));
    EXPECT_EQ(paper + "|" + printer + "|" + std::to_string(orientation), "Legal|Office|0");
    EXPECT_EQ(store.GetCurrentValue(), 40);
    // A file read back and saved unchanged keeps its bytes.
    EXPECT_EQ(store.bytes(), readFile(path));
}

TEST(PageSetupStoreTest, SpeedIsDefaultUntilAPrinterIsCurrent) {
    PageSetupStore store;
    EXPECT_EQ(store.GetCurrentValue(), 25);
    store.SetCurrentValue(30);
    EXPECT_EQ(store.GetCurrentValue(), 25);
    store.SetCurrent("A4", "Office", 0);
    EXPECT_EQ(store.GetCurrentValue(), 0);
    store.SetCurrentValue(30);
    EXPECT_EQ(store.GetCurrentValue(), 30);
}

TEST(PageSetupStoreTest, NamesDifferingInCaseAreTwoPapers) {
    PageSetupStore store;
    store.SetCurrent("A4", "Office", 0);
    store.SetCurrent("a4", "Office", 0);
    const std::string bytes = store.bytes();
    EXPECT_EQ(wordAt(bytes, 24), 2);
    EXPECT_EQ(wordAt(bytes, 36), 1);
}

TEST(PageSetupStoreTest, NinthPaperMovesPrintersAndNamesUp) {
    PageSetupStore store;
    for (int i = 0; i < 8; ++i)
        store.SetCurrent("Paper" + std::to_string(i), "Office", 0);
    std::string before = store.bytes();
    ASSERT_EQ(wordAt(before, 28), 8);
    ASSERT_EQ(wordAt(before, 32), 696);

    store.SetCurrent("Paper8", "Office", 0);
    const std::string after = store.bytes();
    EXPECT_EQ(wordAt(after, 24), 9);
    EXPECT_EQ(wordAt(after, 28), 16);
    EXPECT_EQ(wordAt(after, 32), 696 + 256);
    // The printer table and the heap moved up by 256 bytes; the new name went into the free
    // part of the heap.
    const std::string oldNames = before.substr(824, before.find_last_not_of('\0') + 1 - 824);
    EXPECT_EQ(after.substr(824 + 256, oldNames.size()), oldNames);
    EXPECT_EQ(after.size(), before.size() + 256);
    std::string printer;
    int orientation;
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(store.LookupByPaper("Paper" + std::to_string(i), printer, orientation)) << i;
        EXPECT_EQ(printer, "Office");
    }
}

TEST(PageSetupStoreTest, NameFillingTheBlockExactlyGrowsIt) {
    TempDir dir;
    const std::string path = dir.path() + "/pagesetup.dat";
    PageSetupStore store;
    store.Load(path);
    store.SetCurrent("A4", "Office", 0);
    // A name whose characters end exactly at the block's end still needs a byte for its NUL.
    const std::size_t used = store.bytes().size();
    const std::string name(65536 - used, 'x');
    store.SetCurrent(name, "Office", 1);
    EXPECT_EQ(store.bytes().size(), 65536u + 1);
    std::string error;
    ASSERT_TRUE(store.Save(error)) << error;

    PageSetupStore again;
    again.Load(path);
    ASSERT_EQ(again.loadProblem(), "");
    std::string paper, printer;
    int orientation;
    ASSERT_TRUE(again.LookupCurrent(paper, printer, orientation));
    EXPECT_EQ(paper, name);
    EXPECT_EQ(printer, "Office");
    again.SetCurrent("Letter", "Hall", 0);
    ASSERT_TRUE(again.LookupByPaper(name, printer, orientation));
    EXPECT_EQ(printer, "Office");
}

// Makes the used part of the store exactly target bytes long with one long paper name.
void fillTo(PageSetupStore& store, std::size_t target, const std::string& printer) {
    const std::size_t used = store.bytes().size();
    ASSERT_GT(target, used + 1);
    store.SetCurrent(std::string(target - used - 1, 'x'), printer, 0);
    ASSERT_EQ(store.bytes().size(), target);
}

// A full table whose entries, moved up, end exactly at the block's end: the block holds them
// without growing, and the next entry still goes in.
TEST(PageSetupStoreTest, TablesThatGrowToTheBlocksEndExactly) {
    struct Case {
        const char* table;
        std::size_t moved;  // bytes that move up when the table grows
        std::size_t countAt;
        std::int32_t count;  // after the addition
    };
    const Case cases[] = {
        {"records", 320, 12, 9},
        {"papers", 256, 24, 9},
        {"printers", 128, 36, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        PageSetupStore store;
        const std::string table = c.table;
        // Fill the table to its capacity; the long name is the eighth paper.
        if (table == "records") {
            for (int key = 1; key <= 8; ++key)
                store.Update(key, "A4", "Office", 0);
        } else if (table == "papers") {
            for (int i = 0; i < 7; ++i)
                store.SetCurrent("Paper" + std::to_string(i), "Office", 0);
        } else {
            for (int i = 0; i < 4; ++i)
                store.SetCurrent("A4", "Printer" + std::to_string(i), 0);
        }
        fillTo(store, 65536 - c.moved, table == "printers" ? "Printer0" : "Office");
        if (table == "records")
            store.Update(9, "A4", "Office", 1);
        else if (table == "papers")
            store.SetCurrent("Paper7", "Office", 1);
        else
            store.SetCurrent("A4", "Printer4", 1);
        const std::string bytes = store.bytes();
        EXPECT_EQ(bytes.size(), 65536u);
        EXPECT_EQ(wordAt(bytes, c.countAt), c.count);
        std::string paper, printer;
        int orientation = 0;
        ASSERT_TRUE(store.LookupCurrent(paper, printer, orientation));
        EXPECT_EQ(orientation, 1);
        // One entry more does not fit in place: the block grows.
        if (table == "records")
            store.Update(10, "Letter", "Office", 0);
        else if (table == "papers")
            store.SetCurrent("Paper8", "Office", 0);
        else
            store.SetCurrent("A4", "Printer5", 0);
        ASSERT_TRUE(store.LookupCurrent(paper, printer, orientation));
        EXPECT_EQ(orientation, 0);
    }
}

TEST(PageSetupStoreTest, ALoadedFileThatGrowsToTheBlocksEndExactly) {
    TempDir dir;
    const std::string path = dir.path() + "/pagesetup.dat";
    std::string error;
    {
        PageSetupStore store;
        store.Load(path);
        for (int i = 0; i < 4; ++i)
            store.SetCurrent("A4", "Printer" + std::to_string(i), 0);
        fillTo(store, 65408, "Printer0");
        ASSERT_TRUE(store.Save(error)) << error;
    }
    ASSERT_EQ(readFile(path).size(), 65408u);
    PageSetupStore store;
    store.Load(path);
    ASSERT_EQ(store.loadProblem(), "");
    store.SetCurrent("Letter", "Printer4", 1);
    ASSERT_TRUE(store.Save(error)) << error;
    // The new names fit in the heap's free bytes.
    EXPECT_EQ(readFile(path).size(), 65536u);

    PageSetupStore again;
    again.Load(path);
    ASSERT_EQ(again.loadProblem(), "");
    std::string paper, printer;
    int orientation = 0;
    ASSERT_TRUE(again.LookupCurrent(paper, printer, orientation));
    EXPECT_EQ(paper + "|" + printer + "|" + std::to_string(orientation), "Letter|Printer4|1");
    ASSERT_TRUE(again.LookupByPaper("A4", printer, orientation));
    EXPECT_EQ(printer, "Printer3");
}

TEST(PageSetupStoreTest, KnownKeyTakesANewPaperEvenWhenCurrentIsUnchanged) {
    TempDir dir;
    const std::string path = dir.path() + "/pagesetup.dat";
    std::string error;
    {
        PageSetupStore store;
        store.Load(path);
        store.Update(1056, "A4", "Office", 0);
        store.SetCurrent("Letter", "Office", 0);
        ASSERT_TRUE(store.Save(error)) << error;
    }
    PageSetupStore store;
    store.Load(path);
    store.Update(1056, "Letter", "Office", 0);
    EXPECT_TRUE(store.changed());
    ASSERT_TRUE(store.Save(error)) << error;

    PageSetupStore again;
    again.Load(path);
    std::string paper, printer;
    int orientation;
    ASSERT_TRUE(again.LookupByKey(1056, paper, printer, orientation));
    EXPECT_EQ(paper, "Letter");
}

TEST(PageSetupStoreTest, FailedSaveIsReportedAndKeepsTheChange) {
    TempDir dir;
    PageSetupStore store;
    store.Load(dir.path() + "/missing/pagesetup.dat");
    store.SetCurrent("A4", "Office", 0);
    std::string error;
    EXPECT_FALSE(store.Save(error));
    EXPECT_EQ(error.rfind("Error (2): " + dir.path() + "/missing/pagesetup.dat: ", 0), 0u) << error;
    EXPECT_TRUE(store.changed());
}

// A store with one record, two papers and one printer, saved.
std::string goodFile() {
    PageSetupStore store;
    store.Update(1056, "A4", "Office", 1);
    store.SetCurrent("Letter", "Office", 0);
    return store.bytes();
}

TEST(PageSetupStoreTest, DamagedFilesAreKeptAsideAndANewStoreStarts) {
    struct Case {
        const char* what;
        std::size_t offset;  // a word to change; SIZE_MAX: cut the file to value bytes
        std::int32_t value;
        const char* problem;
    };
    const std::size_t cut = SIZE_MAX;
    const std::size_t paper0 = 440, printer0 = 696, record0 = 120;
    const Case cases[] = {
        {"short file", cut, 100, "shorter than its header"},
        {"tables past the end", cut, 600, "paper table past the end"},
        {"header size", 0, 121, "header size 121"},
        {"version", 4, 2, "version 2"},
        {"record table offset", 8, 0, "record table offset 0"},
        {"record count above capacity", 12, 9, "record count 9"},
        {"negative record count", 12, -1, "record count -1"},
        {"record capacity", 16, 0, "record capacity 0"},
        {"paper table offset", 20, 441, "paper table offset 441"},
        {"paper capacity not a step", 28, 7, "paper capacity 7"},
        {"paper count", 24, 100, "paper count 100"},
        {"printer capacity past the end", 40, 400000, "printer table past the end"},
        {"printer count", 36, 5, "printer count 5"},
        {"current printer", 48, 1, "current printer 1"},
        {"current paper", 52, -2, "current paper -2"},
        {"orientation", 56, 7, "orientation 7"},
        {"record printer", record0 + 8, 3, "record 0 names no paper or printer"},
        {"record paper", record0 + 12, -1, "record 0 names no paper or printer"},
        {"paper name offset past the end", paper0, 5000, "name of paper 0 outside the file"},
        {"printer name offset negative", printer0, -1, "name of printer 0 outside the file"},
        {"paper's printer", paper0 + 8, 4, "paper 0 names no printer"},
        {"printer's paper", printer0 + 8, 2, "printer 0 names no paper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string bytes = goodFile();
        if (c.offset == cut)
            bytes.resize(static_cast<std::size_t>(c.value));
        else
            putWord(bytes, c.offset, c.value);
        const std::string path = dir.write("pagesetup.dat", bytes);

        PageSetupStore store;
        store.Load(path);
        EXPECT_EQ(store.loadProblem(), path + " is damaged (" + c.problem + "); it was kept as " +
                                           path + ".bad and a new one is started");
        EXPECT_EQ(readFile(path + ".bad"), bytes);
        EXPECT_FALSE(exists(path));
        EXPECT_EQ(store.bytes(), PageSetupStore().bytes());
        std::string error;
        ASSERT_TRUE(store.Save(error)) << error;
        EXPECT_EQ(readFile(path).size(), 1464u);
    }
}

TEST(PageSetupStoreTest, UnterminatedLastNameIsDamage) {
    TempDir dir;
    PageSetupStore store;
    store.SetCurrent("A4", "Office", 0);
    std::string bytes = store.bytes();
    // Cut the heap right after the last name's characters.
    bytes.resize(bytes.rfind("A4") + 2);
    const std::string path = dir.write("pagesetup.dat", bytes);
    PageSetupStore loaded;
    loaded.Load(path);
    EXPECT_NE(loaded.loadProblem().find("outside the file"), std::string::npos)
        << loaded.loadProblem();
    EXPECT_TRUE(exists(path + ".bad"));
}

}  // namespace
}  // namespace paginor
