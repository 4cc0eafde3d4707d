#include "app/print/page_setup_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/file_system.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr std::int64_t kBlockStep = 65536;
constexpr std::int32_t kHeaderSize = 120;
constexpr std::int32_t kRecordSize = 40;
constexpr std::int32_t kEntrySize = 32;  // papers and printers
constexpr std::int32_t kNewHeap = 640;

// Header words.
constexpr std::size_t kHeaderSizeAt = 0;
constexpr std::size_t kVersionAt = 4;
constexpr std::size_t kRecordTableAt = 8;
constexpr std::size_t kRecordCountAt = 12;
constexpr std::size_t kRecordCapacityAt = 16;
constexpr std::size_t kPaperTableAt = 20;
constexpr std::size_t kPaperCountAt = 24;
constexpr std::size_t kPaperCapacityAt = 28;
constexpr std::size_t kPrinterTableAt = 32;
constexpr std::size_t kPrinterCountAt = 36;
constexpr std::size_t kPrinterCapacityAt = 40;
constexpr std::size_t kCreatedHeapAt = 44;
constexpr std::size_t kCurrentPrinterAt = 48;
constexpr std::size_t kCurrentPaperAt = 52;
constexpr std::size_t kOrientationAt = 56;

// Fields of records and entries.
constexpr std::size_t kNameOffsetField = 0;
constexpr std::size_t kRecordPrinterField = 8;
constexpr std::size_t kRecordPaperField = 12;
constexpr std::size_t kRecordOrientationField = 16;
constexpr std::size_t kRecordKeyField = 20;
constexpr std::size_t kEntryLinkField = 8;  // a paper's last printer, a printer's last paper
constexpr std::size_t kEntryOrientationField = 12;
constexpr std::size_t kPrinterSpeedField = 16;

struct TableShape {
    std::size_t countAt;
    std::size_t capacityAt;
    std::int32_t entrySize;
    std::int32_t step;
};

constexpr TableShape kRecords{kRecordCountAt, kRecordCapacityAt, kRecordSize, 8};
constexpr TableShape kPapers{kPaperCountAt, kPaperCapacityAt, kEntrySize, 8};
constexpr TableShape kPrinters{kPrinterCountAt, kPrinterCapacityAt, kEntrySize, 4};

std::int64_t roundUpToBlock(std::int64_t size) {
    return (size + kBlockStep - 1) / kBlockStep * kBlockStep;
}

int normalOrientation(int orientation) {
    return orientation == 1 ? 1 : 0;
}

}  // namespace

PageSetupStore::PageSetupStore() {
    startNew();
}

void PageSetupStore::startNew() {
    m_block.assign(kBlockStep, 0);
    setWord(kHeaderSizeAt, kHeaderSize);
    setWord(kVersionAt, 1);
    setWord(kRecordCapacityAt, kRecords.step);
    setWord(kPaperCapacityAt, kPapers.step);
    setWord(kPrinterCapacityAt, kPrinters.step);
    relink();
    setWord(kCreatedHeapAt, static_cast<std::int32_t>(m_heap));
    setWord(kCurrentPrinterAt, -1);
    setWord(kCurrentPaperAt, -1);
    m_used = static_cast<std::int64_t>(m_heap) + kNewHeap;
    m_changed = true;
}

std::int32_t PageSetupStore::word(std::size_t offset) const {
    const std::uint8_t* p = m_block.data() + offset;
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
        static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

void PageSetupStore::setWord(std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    std::uint8_t* p = m_block.data() + offset;
    p[0] = static_cast<std::uint8_t>(bits);
    p[1] = static_cast<std::uint8_t>(bits >> 8);
    p[2] = static_cast<std::uint8_t>(bits >> 16);
    p[3] = static_cast<std::uint8_t>(bits >> 24);
}

void PageSetupStore::relink() {
    const std::int32_t records = word(kHeaderSizeAt);
    const std::int32_t papers = records + word(kRecordCapacityAt) * kRecordSize;
    const std::int32_t printers = papers + word(kPaperCapacityAt) * kEntrySize;
    setWord(kRecordTableAt, records);
    setWord(kPaperTableAt, papers);
    setWord(kPrinterTableAt, printers);
    m_heap = static_cast<std::size_t>(printers + word(kPrinterCapacityAt) * kEntrySize);
}

void PageSetupStore::Load(const std::string& path) {
    m_path = path;
    m_loadProblem.clear();
    startNew();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        const int error = errno;
        if (error != ENOENT)
            m_loadProblem = "Cannot read " + path + ": " + systemErrorText(error);
        return;
    }
    const std::int64_t length = in.tellg();
    if (length == 0)
        return;
    std::string problem;
    if (length < 0 || length > kMaxFileBytes) {
        problem = "it is larger than " + std::to_string(kMaxFileBytes) + " bytes";
    } else {
        m_block.assign(static_cast<std::size_t>(roundUpToBlock(length)), 0);
        in.seekg(0);
        if (!in.read(reinterpret_cast<char*>(m_block.data()), length)) {
            m_loadProblem = "Cannot read " + path;
            startNew();
            return;
        }
        m_used = length;
        if (check(problem)) {
            relink();
            m_changed = false;
            return;
        }
    }
    startNew();
    const std::string aside = path + ".bad";
    if (RenameFile(path, aside)) {
        m_loadProblem = path + " is damaged (" + problem + "); it was kept as " + aside +
                        " and a new one is started";
    } else {
        m_loadProblem = path + " is damaged (" + problem +
                        ") and cannot be kept aside: " + systemErrorText(FileSystemError());
    }
}

bool PageSetupStore::check(std::string& problem) const {
    if (m_used < kHeaderSize) {
        problem = "shorter than its header";
        return false;
    }
    if (word(kHeaderSizeAt) != kHeaderSize) {
        problem = "header size " + std::to_string(word(kHeaderSizeAt));
        return false;
    }
    if (word(kVersionAt) != 1) {
        problem = "version " + std::to_string(word(kVersionAt));
        return false;
    }
    std::int64_t end = kHeaderSize;
    const std::pair<const char*, const TableShape*> tables[] = {
        {"record", &kRecords}, {"paper", &kPapers}, {"printer", &kPrinters}};
    const std::size_t offsetsAt[] = {kRecordTableAt, kPaperTableAt, kPrinterTableAt};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& [name, shape] = tables[i];
        const std::int32_t count = word(shape->countAt);
        const std::int32_t capacity = word(shape->capacityAt);
        if (word(offsetsAt[i]) != end) {
            problem = std::string(name) + " table offset " + std::to_string(word(offsetsAt[i]));
            return false;
        }
        if (capacity <= 0 || capacity % shape->step != 0) {
            problem = std::string(name) + " capacity " + std::to_string(capacity);
            return false;
        }
        if (count < 0 || count > capacity) {
            problem = std::string(name) + " count " + std::to_string(count);
            return false;
        }
        end += static_cast<std::int64_t>(capacity) * shape->entrySize;
        if (end > m_used) {
            problem = std::string(name) + " table past the end";
            return false;
        }
    }
    const auto heap = static_cast<std::size_t>(end);
    const std::int32_t papers = word(kPaperCountAt);
    const std::int32_t printers = word(kPrinterCountAt);
    const auto inRange = [](std::int32_t index, std::int32_t count, bool noneAllowed) {
        return (noneAllowed && index == -1) || (index >= 0 && index < count);
    };
    if (!inRange(word(kCurrentPrinterAt), printers, true)) {
        problem = "current printer " + std::to_string(word(kCurrentPrinterAt));
        return false;
    }
    if (!inRange(word(kCurrentPaperAt), papers, true)) {
        problem = "current paper " + std::to_string(word(kCurrentPaperAt));
        return false;
    }
    if (word(kOrientationAt) != 0 && word(kOrientationAt) != 1) {
        problem = "orientation " + std::to_string(word(kOrientationAt));
        return false;
    }
    const std::int32_t records = word(kRecordCountAt);
    const auto recordTable = static_cast<std::size_t>(kHeaderSize);
    for (std::int32_t i = 0; i < records; ++i) {
        const std::size_t at = recordTable + static_cast<std::size_t>(i) * kRecordSize;
        if (!inRange(word(at + kRecordPrinterField), printers, false) ||
            !inRange(word(at + kRecordPaperField), papers, false)) {
            problem = "record " + std::to_string(i) + " names no paper or printer";
            return false;
        }
    }
    const auto nameFits = [&](std::size_t entry) {
        const std::int32_t offset = word(entry + kNameOffsetField);
        if (offset < 0 ||
            heap + static_cast<std::size_t>(offset) >= static_cast<std::size_t>(m_used))
            return false;
        const std::uint8_t* start = m_block.data() + heap + offset;
        return std::memchr(start, 0, static_cast<std::size_t>(m_used) - heap - offset) != nullptr;
    };
    const auto paperTable = static_cast<std::size_t>(word(kPaperTableAt));
    for (std::int32_t i = 0; i < papers; ++i) {
        const std::size_t at = paperTable + static_cast<std::size_t>(i) * kEntrySize;
        if (!nameFits(at)) {
            problem = "name of paper " + std::to_string(i) + " outside the file";
            return false;
        }
        if (!inRange(word(at + kEntryLinkField), printers, true)) {
            problem = "paper " + std::to_string(i) + " names no printer";
            return false;
        }
    }
    const auto printerTable = static_cast<std::size_t>(word(kPrinterTableAt));
    for (std::int32_t i = 0; i < printers; ++i) {
        const std::size_t at = printerTable + static_cast<std::size_t>(i) * kEntrySize;
        if (!nameFits(at)) {
            problem = "name of printer " + std::to_string(i) + " outside the file";
            return false;
        }
        if (!inRange(word(at + kEntryLinkField), papers, true)) {
            problem = "printer " + std::to_string(i) + " names no paper";
            return false;
        }
    }
    return true;
}

bool PageSetupStore::Save(std::string& error) {
    if (!m_changed)
        return true;
    ReplacingFile file(m_path);
    if (!file.create() || !file.write(bytes()) || !file.commit()) {
        char text[600];
        std::snprintf(text, sizeof text, "Error (%d): %s", file.errorNumber(),
                      file.error().c_str());
        error = text;
        return false;
    }
    m_changed = false;
    return true;
}

std::string PageSetupStore::bytes() const {
    std::string out(reinterpret_cast<const char*>(m_block.data()),
                    static_cast<std::size_t>(m_used));
    // Name pointers are meaningful only in a running program: they are stored as 0.
    const auto clear = [&](std::size_t table, std::int32_t count, std::int32_t size) {
        for (std::int32_t i = 0; i < count; ++i)
            std::memset(out.data() + table + static_cast<std::size_t>(i) * size + 4, 0, 4);
    };
    clear(static_cast<std::size_t>(word(kRecordTableAt)), word(kRecordCountAt), kRecordSize);
    clear(static_cast<std::size_t>(word(kPaperTableAt)), word(kPaperCountAt), kEntrySize);
    clear(static_cast<std::size_t>(word(kPrinterTableAt)), word(kPrinterCountAt), kEntrySize);
    return out;
}

void PageSetupStore::grow(std::int64_t needed) {
    m_block.resize(static_cast<std::size_t>(roundUpToBlock(needed)), 0);
    relink();
}

int PageSetupStore::addEntry(Table table) {
    const TableShape& shape = table == Table::Records  ? kRecords
                              : table == Table::Papers ? kPapers
                                                       : kPrinters;
    while (word(shape.countAt) == word(shape.capacityAt)) {
        const std::int64_t move = static_cast<std::int64_t>(shape.step) * shape.entrySize;
        // Moved up to the block's very end still fits; growing to that same size would not
        // change the block, and the table would stay full for ever.
        if (m_used + move <= static_cast<std::int64_t>(m_block.size())) {
            // Everything after the full table moves up; the freed slots start as zeros.
            const std::size_t from = table == Table::Records  ? word(kPaperTableAt)
                                     : table == Table::Papers ? word(kPrinterTableAt)
                                                              : m_heap;
            std::memmove(m_block.data() + from + move, m_block.data() + from,
                         static_cast<std::size_t>(m_used) - from);
            std::memset(m_block.data() + from, 0, static_cast<std::size_t>(move));
            m_used += move;
            setWord(shape.capacityAt, word(shape.capacityAt) + shape.step);
            relink();
        } else {
            grow(m_used + move);
        }
    }
    const std::int32_t index = word(shape.countAt);
    setWord(shape.countAt, index + 1);
    m_changed = true;
    const std::size_t at = table == Table::Records  ? recordAt(index)
                           : table == Table::Papers ? paperAt(index)
                                                    : printerAt(index);
    std::memset(m_block.data() + at, 0, static_cast<std::size_t>(shape.entrySize));
    return index;
}

std::int32_t PageSetupStore::placeString(const std::string& text) {
    m_changed = true;
    const std::size_t n = std::strlen(text.c_str());
    std::size_t position = 0;
    std::size_t run = 0;
    bool found = false;
    for (std::size_t i = m_heap; i < static_cast<std::size_t>(m_used); ++i) {
        run = m_block[i] == 0 ? run + 1 : 0;
        if (run >= n + 2) {
            position = i + 1 - run + 1;
            found = true;
            break;
        }
    }
    if (!found) {
        position = static_cast<std::size_t>(m_used);
        // The terminator needs its byte too.
        if (m_used + static_cast<std::int64_t>(n) + 1 > static_cast<std::int64_t>(m_block.size()))
            grow(m_used + static_cast<std::int64_t>(n) + 1);
        m_used += static_cast<std::int64_t>(n) + 1;
    }
    std::memcpy(m_block.data() + position, text.c_str(), n + 1);
    return static_cast<std::int32_t>(position - m_heap);
}

std::size_t PageSetupStore::recordAt(int index) const {
    return static_cast<std::size_t>(word(kRecordTableAt)) +
           static_cast<std::size_t>(index) * kRecordSize;
}

std::size_t PageSetupStore::paperAt(int index) const {
    return static_cast<std::size_t>(word(kPaperTableAt)) +
           static_cast<std::size_t>(index) * kEntrySize;
}

std::size_t PageSetupStore::printerAt(int index) const {
    return static_cast<std::size_t>(word(kPrinterTableAt)) +
           static_cast<std::size_t>(index) * kEntrySize;
}

std::string PageSetupStore::nameAt(std::size_t entry) const {
    return reinterpret_cast<const char*>(m_block.data() + m_heap + word(entry + kNameOffsetField));
}

int PageSetupStore::findOrAdd(Table table, const std::string& name) {
    const bool papers = table == Table::Papers;
    const int count = word(papers ? kPaperCountAt : kPrinterCountAt);
    for (int i = 0; i < count; ++i) {
        if (nameAt(papers ? paperAt(i) : printerAt(i)) == name)
            return i;
    }
    const int index = addEntry(table);
    const std::int32_t offset = placeString(name);
    setWord((papers ? paperAt(index) : printerAt(index)) + kNameOffsetField, offset);
    return index;
}

void PageSetupStore::link(int paper, int printer, int orientation) {
    setWord(paperAt(paper) + kEntryLinkField, printer);
    setWord(paperAt(paper) + kEntryOrientationField, orientation);
    if (word(printerAt(printer) + kEntryLinkField) != paper)
        m_changed = true;
    setWord(printerAt(printer) + kEntryLinkField, paper);
    setWord(printerAt(printer) + kEntryOrientationField, orientation);
}

bool PageSetupStore::LookupByKey(int key, std::string& paper, std::string& printer,
                                 int& orientation) const {
    paper.clear();
    printer.clear();
    orientation = 0;
    const int count = word(kRecordCountAt);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = recordAt(i);
        if (word(at + kRecordKeyField) != key)
            continue;
        paper = nameAt(paperAt(word(at + kRecordPaperField)));
        printer = nameAt(printerAt(word(at + kRecordPrinterField)));
        orientation = word(at + kRecordOrientationField);
        return true;
    }
    return false;
}

bool PageSetupStore::LookupByPaper(const std::string& paper, std::string& printer,
                                   int& orientation) const {
    printer.clear();
    orientation = 0;
    const int count = word(kPaperCountAt);
    for (int i = 0; i < count; ++i) {
        const std::size_t at = paperAt(i);
        if (nameAt(at) != paper)
            continue;
        const int last = word(at + kEntryLinkField);
        if (last < 0)
            return false;
        printer = nameAt(printerAt(last));
        orientation = word(at + kEntryOrientationField);
        return true;
    }
    return false;
}

bool PageSetupStore::LookupCurrent(std::string& paper, std::string& printer,
                                   int& orientation) const {
    paper.clear();
    printer.clear();
    orientation = 0;
    const int currentPrinter = word(kCurrentPrinterAt);
    const int currentPaper = word(kCurrentPaperAt);
    if (currentPrinter < 0 || currentPaper < 0)
        return false;
    paper = nameAt(paperAt(currentPaper));
    printer = nameAt(printerAt(currentPrinter));
    orientation = word(kOrientationAt);
    return true;
}

int PageSetupStore::GetCurrentValue() const {
    const int current = word(kCurrentPrinterAt);
    return current < 0 ? kDefaultSpeed : word(printerAt(current) + kPrinterSpeedField);
}

void PageSetupStore::SetCurrentValue(int speed) {
    const int current = word(kCurrentPrinterAt);
    if (current < 0 || word(printerAt(current) + kPrinterSpeedField) == speed)
        return;
    setWord(printerAt(current) + kPrinterSpeedField, speed);
    m_changed = true;
}

void PageSetupStore::SetCurrent(const std::string& paper, const std::string& printer,
                                int orientation) {
    orientation = normalOrientation(orientation);
    const int printerIndex = findOrAdd(Table::Printers, printer);
    const int paperIndex = findOrAdd(Table::Papers, paper);
    if (word(kCurrentPrinterAt) == printerIndex && word(kCurrentPaperAt) == paperIndex &&
        word(kOrientationAt) == orientation)
        return;
    setWord(kCurrentPrinterAt, printerIndex);
    setWord(kCurrentPaperAt, paperIndex);
    setWord(kOrientationAt, orientation);
    m_changed = true;
    link(paperIndex, printerIndex, orientation);
}

void PageSetupStore::Update(int key, const std::string& paper, const std::string& printer,
                            int orientation) {
    orientation = normalOrientation(orientation);
    const int count = word(kRecordCountAt);
    int found = -1;
    for (int i = 0; i < count && found < 0; ++i) {
        if (word(recordAt(i) + kRecordKeyField) == key)
            found = i;
    }
    if (found < 0) {
        const int paperIndex = findOrAdd(Table::Papers, paper);
        const int printerIndex = findOrAdd(Table::Printers, printer);
        const std::size_t at = recordAt(addEntry(Table::Records));
        setWord(at + kRecordPaperField, paperIndex);
        setWord(at + kRecordPrinterField, printerIndex);
        setWord(at + kRecordKeyField, key);
        setWord(at + kRecordOrientationField, orientation);
    } else {
        if (nameAt(paperAt(word(recordAt(found) + kRecordPaperField))) != paper) {
            const int paperIndex = findOrAdd(Table::Papers, paper);
            setWord(recordAt(found) + kRecordPaperField, paperIndex);
            m_changed = true;
        }
        if (nameAt(printerAt(word(recordAt(found) + kRecordPrinterField))) != printer) {
            const int printerIndex = findOrAdd(Table::Printers, printer);
            setWord(recordAt(found) + kRecordPrinterField, printerIndex);
            m_changed = true;
        }
        if (word(recordAt(found) + kRecordOrientationField) != orientation) {
            setWord(recordAt(found) + kRecordOrientationField, orientation);
            m_changed = true;
        }
    }
    SetCurrent(paper, printer, orientation);
}

}  // namespace paginor
