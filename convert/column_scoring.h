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

}  // namespace paginor
