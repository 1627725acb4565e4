#include "platform/WaitClock.h"

int WaitClockInitCondition(pthread_cond_t* condition) {
    pthread_condattr_t attr;
    int rc = pthread_condattr_init(&attr);
    if (rc != 0) return rc;
    rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (rc == 0) rc = pthread_cond_init(condition, &attr);
    pthread_condattr_destroy(&attr);
    return rc;
}

void WaitClockNow(timespec* now) {
    clock_gettime(CLOCK_MONOTONIC, now);
}
