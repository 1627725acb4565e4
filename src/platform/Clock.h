// Time as the library measures it: a monotonic clock for budgets and measurements.
#pragma once

#include <cstdint>

// Nanoseconds on a clock that never jumps with the wall clock.
std::int64_t MonotonicNanos();

// Whole milliseconds left until a monotonic deadline, rounded up; 0 once it has passed.
inline int MillisecondsUntil(std::int64_t deadlineNs) {
    const std::int64_t left = deadlineNs - MonotonicNanos();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999999) / 1000000);
}
