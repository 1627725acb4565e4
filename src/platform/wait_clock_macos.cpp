#include "platform/WaitClock.h"

// macOS has no monotonic condition-variable clock: waits run on the real-time clock.
int WaitClockInitCondition(pthread_cond_t* condition) {
    return pthread_cond_init(condition, nullptr);
}

void WaitClockNow(timespec* now) {
    clock_gettime(CLOCK_REALTIME, now);
}
