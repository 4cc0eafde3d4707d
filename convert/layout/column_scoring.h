#pragma once

#include <algorithm>
#include <cstdint>
#include <map>

namespace paginor {

inline constexpr std::int32_t kScoreRadius = 15;
inline constexpr std::int32_t kBoundsRadius = 7;

// The window of radius r around pos, clamped to [0, limit): lo inclusive, hi exclusive.
inline void GetWindowAround(std::int32_t pos, std::int32_t limit, std::int32_t r, std::int32_t* lo,
                            std::int32_t* hi) {
    *lo = std::max(pos - r, 0);
    *hi = std::min(pos + r + 1, limit);
}

// What a box edge adds to a slot d units away: a steep hill, 12525 on the edge, 0 from 15 on.
inline std::uint32_t ColumnScore(std::uint32_t d) {
    if (d > static_cast<std::uint32_t>(kScoreRadius)) {
        return 0;
    }
    const std::uint32_t e = kScoreRadius - d;
    return ((3 * e + 10) * e + 10) * e;
}

// Adds the hill of an edge at pos to the slots [0, limit) of array.
inline void AddScoreWindow(std::uint64_t* array, std::int32_t pos, std::int32_t limit) {
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    GetWindowAround(pos, limit, kScoreRadius, &lo, &hi);
    for (std::int32_t i = lo; i < hi; ++i) {
        array[i] += ColumnScore(static_cast<std::uint32_t>(i > pos ? i - pos : pos - i));
    }
}

using BoundMap = std::map<std::int32_t, std::int32_t>;

inline void SetMinOrMax(BoundMap& map, std::int32_t key, std::int32_t value, bool wantMax) {
    const auto [it, inserted] = map.emplace(key, value);
    if (!inserted && (wantMax ? value > it->second : value < it->second)) {
        it->second = value;
    }
}

// Widens [lo, hi] by the bounds stored within kBoundsRadius of pos; a null map adds nothing.
inline void GetNeighbourBounds(std::int32_t pos, const BoundMap* minMap, const BoundMap* maxMap,
                               std::int32_t* lo, std::int32_t* hi) {
    if (minMap != nullptr) {
        for (auto it = minMap->lower_bound(pos - kBoundsRadius);
             it != minMap->end() && it->first <= pos + kBoundsRadius; ++it) {
            *lo = std::min(*lo, it->second);
        }
    }
    if (maxMap != nullptr) {
        for (auto it = maxMap->lower_bound(pos - kBoundsRadius);
             it != maxMap->end() && it->first <= pos + kBoundsRadius; ++it) {
            *hi = std::max(*hi, it->second);
        }
    }
}

// What a run of n like cells in one column adds to the score of each of its rows.
inline std::int32_t ColumnPenalty(std::int32_t n) {
    return 10 * n + (n < 3 ? 8 : 13);
}

}  // namespace paginor
