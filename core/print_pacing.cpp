#include <algorithm>

#include "core/report_core.h"

namespace paginor {

namespace {

constexpr std::int64_t kTaskBytes = 262144;  // a print task fills about 256 KiB
constexpr std::int32_t kMaxPagesPerTask = 80;
constexpr std::int32_t kMaxSpeed = 120;

}  // namespace

std::int32_t CReportCore::GetPagesPerTask(bool store) {
    if (m_state != 1 || m_pageCount <= 0) {
        return 0;
    }
    const std::int64_t average = m_fileSize / m_pageCount;
    // Pages smaller than a byte each cannot be measured: they fill a task at the cap.
    const std::int64_t pages =
        average > 0 ? std::min<std::int64_t>((average + kTaskBytes - 1) / average, kMaxPagesPerTask)
                    : kMaxPagesPerTask;
    const auto result = static_cast<std::int32_t>(pages);
    if (store) {
        m_pagesPerPrintChunk = result;
    }
    return result;
}

std::int32_t CReportCore::EstimatePrintWait(bool, std::int32_t speed) const {
    speed = std::clamp(speed, 0, kMaxSpeed);
    const std::int32_t divisor = speed * 11 / 7 + 25;
    const float v = static_cast<float>(m_textCharCount) / static_cast<float>(divisor);
    float wait = v;
    if (v < 10) {
        wait = v + 25;
    } else if (v < 25) {
        wait = v + 20;
    } else if (v < 50) {
        wait = v + 15;
    } else if (v < 80) {
        wait = v + 5;
    }
    return static_cast<std::int32_t>(wait);
}

}  // namespace paginor
