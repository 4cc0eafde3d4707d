#pragma once

// Pieces of a sheet's rows on their way into the workbook package: written as XML (each style as
// the workbook numbers it, each row after deletions) and compressed, on worker threads when the
// workbook has them.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/write/xlsx/model.h"
#include "convert/write/xlsx/sheet_part.h"
#include "convert/write/xlsx/zip_package.h"
#include "platform/program_thread.h"

namespace paginor::xlsx {

// One piece of a sheet's rows on its way into the package: written as XML and compressed (on a
// worker thread when the workbook has them), then joined to the sheet's rows in order.
struct PackJob {
    struct Page {
        std::int32_t first;  // of the rows
        std::int32_t count;
    };
    struct LinkText {
        std::int32_t row;  // of the rows
        std::int32_t column;
        std::string text;
    };

    const SheetRows* rows = nullptr;
    std::shared_ptr<const void> keep;  // the rows, kept until they are packed
    std::vector<Page> pages;
    std::vector<std::int32_t> finalRows;  // each row of the pages in turn; -1 for a deleted row
    // The workbook's number of each of the rows' styles; for the fill's columns, from fillBase on,
    // with the fill's font, and last, an empty place's with that font.
    std::vector<std::uint32_t> styles;
    std::uint32_t fillBase = 0;
    std::int32_t fillFirst = 1;  // 0-based columns
    std::int32_t fillLast = 0;
    std::string linkStyle;                // the attribute of a link's look
    std::vector<LinkText> links;          // by row, then column: these cells show the link's text
    std::vector<Fit>* ownFits = nullptr;  // rows of the sheet's own are measured in one run
    std::size_t cells = 0;

    std::string compressed;
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    std::vector<Fit> fits;  // made rows: the widest of each page's
    std::int32_t firstRow = INT32_MAX;
    std::int32_t lastRow = -1;
    std::int32_t firstColumn = INT32_MAX;
    std::int32_t lastColumn = -1;
    std::exception_ptr failure;
    // Set once the piece is packed, after everything above.
    std::atomic<bool> done = false;
};

struct PackScratch {
    XmlOut xml;
    CellXml cells;
    DeflatePieces deflate;
    std::vector<Fit> pageFits;
};

// Writes the piece's rows and compresses them; a failure stays in the piece.
void runPack(PackJob& job, PackScratch& scratch);

// Threads that pack the pieces of the sheets' rows.
class PackPool {
public:
    explicit PackPool(std::int32_t threads) {
        for (std::int32_t i = 0; i < threads; ++i) {
            m_threads.push_back(StartThread([this] { work(); }));
        }
    }
    ~PackPool() {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }
    PackPool(const PackPool&) = delete;
    PackPool& operator=(const PackPool&) = delete;

    void submit(std::shared_ptr<PackJob> job) {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(job));
        }
        m_wake.notify_one();
    }
    void wait(const PackJob& job) {
        std::unique_lock lock(m_mutex);
        m_done.wait(lock, [&job] { return job.done.load(std::memory_order_acquire); });
    }

private:
    void work() {
        PackScratch scratch;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop) {
                return;
            }
            const std::shared_ptr<PackJob> job = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            runPack(*job, scratch);
            lock.lock();
            job->done.store(true, std::memory_order_release);
            m_done.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<PackJob>> m_queue;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
};

}  // namespace paginor::xlsx
