// The clock that POSIX timed waits run on: monotonic on Linux, real time on macOS.
// Implemented once per platform (wait_clock_linux.cpp, wait_clock_macos.cpp).
#pragma once

#include <pthread.h>
#include <time.h>

// Initialises a condition variable bound to the wait clock. 0 on success.
int WaitClockInitCondition(pthread_cond_t* condition);
// Current time on the wait clock.
void WaitClockNow(timespec* now);

// now + ms, with the nanoseconds carried into seconds.
inline timespec WaitClockDeadline(unsigned ms) {
    timespec t;
    WaitClockNow(&t);
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// True when now is later than the deadline (seconds greater, or equal and nanoseconds greater).
inline bool WaitClockPassed(const timespec& deadline) {
    timespec now;
    WaitClockNow(&now);
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec > deadline.tv_nsec);
}
