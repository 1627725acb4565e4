// Time as the library measures it: a monotonic clock for budgets and measurements.
#pragma once

#include <cstdint>

// Nanoseconds on a clock that never jumps with the wall clock.
std::int64_t MonotonicNanos();

inline std::int64_t MonotonicMillis() {
    return MonotonicNanos() / 1000000;
}
