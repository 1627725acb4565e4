// Tick timer on a timer file descriptor of the real-time clock, served by one thread per timer.
//
// The thread is the timer's notification thread: it waits for each expiry and calls the
// dispatcher. (glibc's thread-notified POSIX timers start threads behind the thread library's
// back, which the sanitizers cannot follow, and start a new thread for every expiry.) Expiries
// that pile up while a tick runs are merged into one tick.
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/TickTimerSystem.h"

namespace {

struct LinuxTimer {
    int timerFd = -1;
    int stopFd = -1;
    pthread_t thread{};
    std::uintptr_t id = 0;
    bool stoppedFromTick = false;  // written and read by the timer's own thread only

    ~LinuxTimer() {
        if (timerFd >= 0) close(timerFd);
        if (stopFd >= 0) close(stopFd);
    }
};

void* Serve(void* p) {
    auto* timer = static_cast<LinuxTimer*>(p);
    pollfd fds[2] = {{timer->timerFd, POLLIN, 0}, {timer->stopFd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents != 0) break;
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t expirations = 0;
            if (read(timer->timerFd, &expirations, sizeof expirations) == sizeof expirations) {
                TickTimerExpired(timer->id);
                if (timer->stoppedFromTick) break;
            }
        }
    }
    if (timer->stoppedFromTick) delete timer;  // nobody joins a thread that stopped itself
    return nullptr;
}

}  // namespace

void* SystemTimerStart(int periodMs, std::uintptr_t id) {
    auto* timer = new LinuxTimer;
    timer->id = id;
    timer->timerFd = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC);
    timer->stopFd = eventfd(0, EFD_CLOEXEC);
    if (timer->timerFd < 0 || timer->stopFd < 0) {
        delete timer;
        return nullptr;
    }
    itimerspec spec{};
    spec.it_value.tv_sec = periodMs / 1000;
    spec.it_value.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    spec.it_interval = spec.it_value;
    if (timerfd_settime(timer->timerFd, 0, &spec, nullptr) != 0 ||
        pthread_create(&timer->thread, nullptr, Serve, timer) != 0) {
        delete timer;
        return nullptr;
    }
    return timer;
}

void SystemTimerStop(void* native) {
    if (native == nullptr) return;
    auto* timer = static_cast<LinuxTimer*>(native);
    if (pthread_equal(timer->thread, pthread_self()) != 0) {
        // Called from inside a tick: the thread ends after the tick and frees the timer.
        timer->stoppedFromTick = true;
        pthread_detach(timer->thread);
        return;
    }
    const std::uint64_t one = 1;
    ssize_t written;
    do {
        written = write(timer->stopFd, &one, sizeof one);
    } while (written < 0 && errno == EINTR);
    pthread_join(timer->thread, nullptr);
    delete timer;
}
