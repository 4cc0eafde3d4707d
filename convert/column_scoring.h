#pragma once

#include <algorithm>
#include <cstdint>

namespace paginor {

// The window of radius r around pos, clamped to [0, limit): lo inclusive, hi exclusive.
inline void GetWindowAround(std::int32_t pos, std::int32_t limit, std::int32_t r, std::int32_t* lo,
                            std::int32_t* hi) {
    *lo = std::max(pos - r, 0);
    *hi = std::min(pos + r + 1, limit);
}

// What a run of n like cells in one column adds to the score of each of its rows.
inline std::int32_t ColumnPenalty(std::int32_t n) {
    return 10 * n + (n < 3 ? 8 : 13);
}

}  // namespace paginor
