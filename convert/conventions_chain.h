#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "convert/write/cell_value.h"

namespace paginor {

// The export's number and date conventions as its batches decide them, in batch order, while the
// batches are converted at once: each batch tells what its own cells decide as soon as its engine
// is done, and is then read with what the batches before it decided. So a batch waits only for
// the engines of the batches ahead of it, never for their writing, and reads exactly as it would
// one batch after the other.
class ConventionsChain {
public:
    // The conventions before the first batch; call before any batch tells.
    void start(const tagCellDetectOptions& starting) {
        const std::lock_guard lock(m_mutex);
        m_starting = starting;
    }
    // What batch (0 the first of the export) decides on its own, from the starting conventions.
    void tell(std::int32_t batch, const tagCellDetectOptions& decided) {
        record(batch, Told::Yes, decided);
    }
    // The batch will never tell: it failed or was cancelled.
    void untold(std::int32_t batch) { record(batch, Told::Never, {}); }
    // No batch tells any more; the waiting ones are let go.
    void close() {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }
    // What the batches before batch decided; none when one of them will not tell.
    std::optional<tagCellDetectOptions> before(std::int32_t batch) {
        std::unique_lock lock(m_mutex);
        const auto wanted = static_cast<std::size_t>(batch);
        for (;;) {
            const std::size_t told = m_after.size();
            const tagCellDetectOptions& last = told == 0 ? m_starting : m_after.back();
            if (told >= wanted) {
                return wanted == 0 ? m_starting : m_after[wanted - 1];
            }
            // Once everything is decided no later batch can change it.
            if (last.IsSet()) {
                return last;
            }
            if (m_closed || (told < m_told.size() && m_told[told] == Told::Never)) {
                return std::nullopt;
            }
            m_changed.wait(lock);
        }
    }

private:
    enum class Told : std::uint8_t { Not, Yes, Never };

    void record(std::int32_t batch, Told told, const tagCellDetectOptions& decided) {
        const std::lock_guard lock(m_mutex);
        const auto at = static_cast<std::size_t>(batch);
        if (m_told.size() <= at) {
            m_told.resize(at + 1, Told::Not);
            m_decided.resize(at + 1);
        }
        m_told[at] = told;
        m_decided[at] = decided;
        // The conventions after each batch of the unbroken run of batches that told.
        while (m_after.size() < m_told.size() && m_told[m_after.size()] == Told::Yes) {
            const tagCellDetectOptions& previous = m_after.empty() ? m_starting : m_after.back();
            m_after.push_back(FoldConventions(previous, m_decided[m_after.size()]));
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    tagCellDetectOptions m_starting;
    std::vector<Told> m_told;
    std::vector<tagCellDetectOptions> m_decided;
    std::vector<tagCellDetectOptions> m_after;
    bool m_closed = false;
};

}  // namespace paginor
