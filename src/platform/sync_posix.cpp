// Events, critical sections and threads on POSIX threads (Linux and macOS).
#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "platform/Platform.h"
#include "platform/WaitClock.h"

namespace {

// Every SetEvent bumps one process-wide generation, so that a multi-wait sleeps until some
// event changes instead of polling every millisecond. Lock order: an event's own mutex is
// always released before this one is taken.
struct SetNotifier {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    std::uint64_t generation = 0;

    SetNotifier() {
        pthread_mutex_init(&mutex, nullptr);
        WaitClockInitCondition(&condition);
    }
};

SetNotifier& Notifier() {
    static SetNotifier notifier;
    return notifier;
}

std::uint64_t NotifierGeneration() {
    SetNotifier& n = Notifier();
    pthread_mutex_lock(&n.mutex);
    std::uint64_t g = n.generation;
    pthread_mutex_unlock(&n.mutex);
    return g;
}

void NotifyEventSet() {
    SetNotifier& n = Notifier();
    pthread_mutex_lock(&n.mutex);
    ++n.generation;
    pthread_cond_broadcast(&n.condition);
    pthread_mutex_unlock(&n.mutex);
}

void InitRecursiveMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

THREAD_HANDLE ToHandle(pthread_t thread) {
    static_assert(sizeof(pthread_t) <= sizeof(THREAD_HANDLE), "thread id must fit a handle");
    THREAD_HANDLE handle = 0;
    std::memcpy(&handle, &thread, sizeof(thread));
    return handle;
}

pthread_t FromHandle(THREAD_HANDLE handle) {
    pthread_t thread;
    std::memcpy(&thread, &handle, sizeof(thread));
    return thread;
}

}  // namespace

unsigned WaitTimeoutCode() {
    return ETIMEDOUT;
}

struct CPlatformEvent::State {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    bool signalled;
    bool manualReset;
};

CPlatformEvent::CPlatformEvent(bool manualReset, bool signalled) : m_state(new State) {
    InitRecursiveMutex(&m_state->mutex);
    WaitClockInitCondition(&m_state->condition);
    m_state->signalled = signalled;
    m_state->manualReset = manualReset;
}

CPlatformEvent::~CPlatformEvent() {
    pthread_cond_destroy(&m_state->condition);
    pthread_mutex_destroy(&m_state->mutex);
    delete m_state;
}

void CPlatformEvent::SetEvent() {
    pthread_mutex_lock(&m_state->mutex);
    m_state->signalled = true;
    if (m_state->manualReset) {
        pthread_cond_broadcast(&m_state->condition);
    } else {
        pthread_cond_signal(&m_state->condition);
    }
    pthread_mutex_unlock(&m_state->mutex);
    NotifyEventSet();
}

void CPlatformEvent::ResetEvent() {
    pthread_mutex_lock(&m_state->mutex);
    m_state->signalled = false;
    pthread_mutex_unlock(&m_state->mutex);
}

void CPlatformEvent::Wait() {
    pthread_mutex_lock(&m_state->mutex);
    while (!m_state->signalled) pthread_cond_wait(&m_state->condition, &m_state->mutex);
    if (!m_state->manualReset) m_state->signalled = false;
    pthread_mutex_unlock(&m_state->mutex);
}

unsigned CPlatformEvent::WaitTimeout(unsigned ms) {
    if (ms == 0) {
        pthread_mutex_lock(&m_state->mutex);
        bool was = m_state->signalled;
        if (was && !m_state->manualReset) m_state->signalled = false;
        pthread_mutex_unlock(&m_state->mutex);
        return was ? 0 : WaitTimeoutCode();
    }
    const timespec deadline = WaitClockDeadline(ms);
    pthread_mutex_lock(&m_state->mutex);
    for (;;) {
        if (m_state->signalled) {
            if (!m_state->manualReset) m_state->signalled = false;
            pthread_mutex_unlock(&m_state->mutex);
            return 0;
        }
        int rc = pthread_cond_timedwait(&m_state->condition, &m_state->mutex, &deadline);
        if (rc == ETIMEDOUT) {
            pthread_mutex_unlock(&m_state->mutex);
            return WaitTimeoutCode();
        }
    }
}

void* CPlatformEvent::NativeHandle() const {
    return nullptr;
}

struct CSimpleCriticalSection::State {
    pthread_mutex_t mutex;
};

CSimpleCriticalSection::CSimpleCriticalSection() : m_state(new State) {
    InitRecursiveMutex(&m_state->mutex);
}

CSimpleCriticalSection::~CSimpleCriticalSection() {
    pthread_mutex_destroy(&m_state->mutex);
    delete m_state;
}

void CSimpleCriticalSection::Lock() {
    pthread_mutex_lock(&m_state->mutex);
}
void CSimpleCriticalSection::Unlock() {
    pthread_mutex_unlock(&m_state->mutex);
}
bool CSimpleCriticalSection::TryLock() {
    return pthread_mutex_trylock(&m_state->mutex) == 0;
}

unsigned WaitForSingleObject(CEvent* event, unsigned ms) {
    if (event == nullptr) return WaitTimeoutCode();
    return event->WaitTimeout(ms);
}

unsigned WaitForMultipleObjects(unsigned count, CEvent* const* events, int waitAll, unsigned ms) {
    if (waitAll != 0 || events == nullptr) return WaitTimeoutCode();
    const bool hasDeadline = ms != kInfiniteWait;
    const timespec deadline = hasDeadline ? WaitClockDeadline(ms) : timespec{};
    SetNotifier& n = Notifier();
    for (;;) {
        const std::uint64_t seen = NotifierGeneration();
        for (unsigned i = 0; i < count; ++i) {
            if (events[i] != nullptr && events[i]->WaitTimeout(0) == 0) return i;
        }
        if (hasDeadline && WaitClockPassed(deadline)) return WaitTimeoutCode();
        // Sleep until some event is set or the deadline passes; never longer than 10 ms so
        // that an event set behind the notifier's back is still seen.
        timespec wake = WaitClockDeadline(10);
        if (hasDeadline && (deadline.tv_sec < wake.tv_sec ||
                            (deadline.tv_sec == wake.tv_sec && deadline.tv_nsec < wake.tv_nsec))) {
            wake = deadline;
        }
        pthread_mutex_lock(&n.mutex);
        while (n.generation == seen) {
            if (pthread_cond_timedwait(&n.condition, &n.mutex, &wake) == ETIMEDOUT) break;
        }
        pthread_mutex_unlock(&n.mutex);
    }
}

bool CreateThread(THREAD_HANDLE* thread, ThreadStartFunction start, void* argument) {
    if (thread == nullptr || start == nullptr) return false;
    pthread_t id;
    if (pthread_create(&id, nullptr, start, argument) != 0) {
        *thread = 0;
        return false;
    }
    *thread = ToHandle(id);
    return true;
}

void JoinThread(THREAD_HANDLE thread) {
    if (thread == 0) return;
    pthread_join(FromHandle(thread), nullptr);
}

void CloseThread(THREAD_HANDLE) {}

void DetachThread(THREAD_HANDLE thread) {
    if (thread != 0) pthread_detach(FromHandle(thread));
}

bool IsCurrentThread(THREAD_HANDLE thread) {
    return thread != 0 && pthread_equal(FromHandle(thread), pthread_self()) != 0;
}

void RaiseThreadPriority() {}

bool CloseHandle(int descriptor) {
    return descriptor >= 0 && close(descriptor) == 0;
}

void SleepEx(unsigned ms) {
    timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) request = remaining;
}
