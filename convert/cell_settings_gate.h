#pragma once

#include <condition_variable>
#include <mutex>

#include "convert/write/cell_value.h"
#include "convert/write/spreadsheet_ml.h"

namespace paginor {

// The settings batches are made with on the workers. The first batch learns the export's number
// and date conventions; the others wait for them. Closed when they will not come: the writer then
// makes each batch itself.
template <typename Settings>
class SettingsGate {
public:
    void open(const Settings& settings) {
        const std::lock_guard lock(m_mutex);
        if (m_state == State::Waiting) {
            m_settings = settings;
            m_state = State::Open;
        }
        m_changed.notify_all();
    }
    void close() {
        const std::lock_guard lock(m_mutex);
        if (m_state == State::Waiting) {
            m_state = State::Closed;
        }
        m_changed.notify_all();
    }
    // The settings, or null once closed.
    const Settings* wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state != State::Waiting; });
        return m_state == State::Open ? &m_settings : nullptr;
    }

private:
    enum class State { Waiting, Open, Closed };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Waiting;
    Settings m_settings;
};

using CellSettingsGate = SettingsGate<SpreadsheetMLCellSettings>;
// The workbook writer's number and date conventions after the first batch.
using ExcelConventionsGate = SettingsGate<tagCellDetectOptions>;

}  // namespace paginor
