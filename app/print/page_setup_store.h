#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace paginor {

// Remembers, across runs, the printer, paper and orientation printed with: per report layout
// (a record keyed by the report's page height), per paper (the printer last used with it), per
// printer (the paper last used with it and its learned speed), and the current choice. Kept in
// one binary file of little-endian 32-bit words, "pagesetup.dat", read whole and written whole:
//
//   header (120 bytes) | records (40 each) | papers (32 each) | printers (32 each) | name heap
//
// Names are compared case-sensitively and handed out as copies. Orientation: 0 portrait,
// 1 landscape.
class PageSetupStore {
public:
    static constexpr const char* kFileName = "pagesetup.dat";
    static constexpr int kDefaultSpeed = 25;
    // A larger file is taken for damaged.
    static constexpr std::int64_t kMaxFileBytes = 64 * 1024 * 1024;

    // A new store, not tied to a file until Load.
    PageSetupStore();

    // Reads the file at path (a missing or empty file gives a new store). A file that fails the
    // checks is kept aside under its name followed by ".bad" and a new store starts; loadProblem()
    // then says why. A file that cannot be read at all also gives a new store and a problem.
    void Load(const std::string& path);
    const std::string& loadProblem() const { return m_loadProblem; }
    const std::string& path() const { return m_path; }

    // When changed, replaces the file with the used part of the block; false with
    // "Error (%d): %s" when that fails (the store stays changed).
    bool Save(std::string& error);
    bool changed() const { return m_changed; }

    // Each clears its outputs and answers false when nothing is found.
    bool LookupByKey(int key, std::string& paper, std::string& printer, int& orientation) const;
    bool LookupByPaper(const std::string& paper, std::string& printer, int& orientation) const;
    bool LookupCurrent(std::string& paper, std::string& printer, int& orientation) const;

    // The current printer's learned speed; kDefaultSpeed without a current printer.
    int GetCurrentValue() const;
    void SetCurrentValue(int speed);
    void SetCurrent(const std::string& paper, const std::string& printer, int orientation);
    void Update(int key, const std::string& paper, const std::string& printer, int orientation);

    // The used part of the block, as Save writes it.
    std::string bytes() const;

private:
    enum class Table { Records, Papers, Printers };

    void startNew();
    bool check(std::string& problem) const;
    std::int32_t word(std::size_t offset) const;
    void setWord(std::size_t offset, std::int32_t value);
    void relink();
    void grow(std::int64_t needed);
    int addEntry(Table table);
    std::int32_t placeString(const std::string& text);
    std::size_t recordAt(int index) const;
    std::size_t paperAt(int index) const;
    std::size_t printerAt(int index) const;
    std::string nameAt(std::size_t entry) const;
    int findOrAdd(Table table, const std::string& name);
    void link(int paper, int printer, int orientation);

    std::vector<std::uint8_t> m_block;  // its size is the capacity, a multiple of 65,536
    std::int64_t m_used = 0;
    std::size_t m_heap = 0;  // offset of the name heap
    bool m_changed = false;
    std::string m_path;
    std::string m_loadProblem;
};

}  // namespace paginor
