#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Platform.h"

namespace {

std::int64_t ElapsedMs(std::int64_t startNs) {
    return (MonotonicNanos() - startNs) / 1000000;
}

// Upper bounds on waits: far above any delay of a busy machine, far below the waits a fault
// makes (a wait that ignores its event or its zero timeout runs into the long timeouts below).
// A wait is never shorter than its timeout, so lower bounds stay tight.
constexpr std::int64_t kLateMs = 10000;
constexpr unsigned kLongTimeoutMs = 60000;

TEST(Event, LookWithZeroTimeoutDoesNotBlockAndReportsTimeout) {
    CAutoResetEvent autoEvent;
    CManualResetEvent manualEvent;
    const auto start = MonotonicNanos();
    EXPECT_EQ(autoEvent.WaitTimeout(0), WaitTimeoutCode());
    EXPECT_EQ(manualEvent.WaitTimeout(0), WaitTimeoutCode());
    EXPECT_LT(ElapsedMs(start), kLateMs);
    EXPECT_NE(WaitTimeoutCode(), 0u);
}

TEST(Event, ConstructorArgumentGivesInitialState) {
    CAutoResetEvent autoEvent(true);
    CManualResetEvent manualEvent(true);
    EXPECT_EQ(autoEvent.WaitTimeout(0), 0u);
    EXPECT_EQ(autoEvent.WaitTimeout(0), WaitTimeoutCode()) << "the look consumed the signal";
    EXPECT_EQ(manualEvent.WaitTimeout(0), 0u);
    EXPECT_EQ(manualEvent.WaitTimeout(0), 0u) << "a manual-reset event stays set";
    manualEvent.ResetEvent();
    EXPECT_EQ(manualEvent.WaitTimeout(0), WaitTimeoutCode());
}

TEST(Event, TimedWaitLastsItsTimeoutOnTheMonotonicClock) {
    CAutoResetEvent event;
    const auto start = MonotonicNanos();
    EXPECT_EQ(event.WaitTimeout(120), WaitTimeoutCode());
    const auto ms = ElapsedMs(start);
    EXPECT_GE(ms, 119);
    EXPECT_LT(ms, kLateMs);
    EXPECT_EQ(WaitForSingleObject(&event, 30), WaitTimeoutCode());
}

TEST(Event, TimedWaitReturnsWhenSetByAnotherThread) {
    CManualResetEvent event;
    std::thread setter([&] {
        SleepEx(50);
        event.SetEvent();
    });
    const auto start = MonotonicNanos();
    EXPECT_EQ(WaitForSingleObject(&event, kLongTimeoutMs), 0u);
    EXPECT_LT(ElapsedMs(start), kLateMs);
    setter.join();
}

TEST(Event, AutoResetSetTwiceReleasesOneWaiterOnly) {
    CAutoResetEvent event;
    event.SetEvent();
    event.SetEvent();
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (event.WaitTimeout(300) == 0) ++released;
        });
    }
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(Event, ManualResetReleasesEveryCurrentAndLaterWaiter) {
    CManualResetEvent event;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            ++released;
        });
    }
    SleepEx(30);
    event.SetEvent();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(released.load(), 4);
    EXPECT_EQ(event.WaitTimeout(10), 0u);
    event.Wait();  // later waiters pass too
}

TEST(MultiWait, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    CAutoResetEvent first, second;
    first.SetEvent();
    second.SetEvent();
    CEvent* events[] = {&first, &second};
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 0), 0u);
    EXPECT_EQ(first.WaitTimeout(0), WaitTimeoutCode()) << "index 0 was consumed";
    EXPECT_EQ(second.WaitTimeout(0), 0u) << "index 1 was left signalled";
}

TEST(MultiWait, ManualResetEventStaysSetWhenReturned) {
    CManualResetEvent stop;
    CAutoResetEvent work;
    stop.SetEvent();
    work.SetEvent();
    CEvent* events[] = {&stop, &work};
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 100), 0u);
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 100), 0u);
    EXPECT_EQ(work.WaitTimeout(0), 0u);
}

#if !defined(_WIN32)
// The POSIX multi-wait refuses waiting for all; Windows waits as the system does.
TEST(MultiWait, WaitAllIsRefusedAtOnce) {
    CManualResetEvent a(true), b(true);
    CEvent* events[] = {&a, &b};
    const auto start = MonotonicNanos();
    EXPECT_EQ(WaitForMultipleObjects(2, events, 1, kLongTimeoutMs), WaitTimeoutCode());
    EXPECT_LT(ElapsedMs(start), kLateMs);
}
#endif

TEST(MultiWait, TimesOutAfterItsDeadline) {
    CAutoResetEvent a, b;
    CEvent* events[] = {&a, &b};
    const auto start = MonotonicNanos();
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, 80), WaitTimeoutCode());
    const auto ms = ElapsedMs(start);
    EXPECT_GE(ms, 79);
    EXPECT_LT(ms, kLateMs);
}

TEST(MultiWait, WakesForAnEventSetLaterByAnotherThread) {
    CAutoResetEvent a, b;
    CEvent* events[] = {&a, &b};
    std::thread setter([&] {
        SleepEx(40);
        b.SetEvent();
    });
    const auto start = MonotonicNanos();
    EXPECT_EQ(WaitForMultipleObjects(2, events, 0, kInfiniteWait), 1u);
    EXPECT_LT(ElapsedMs(start), kLateMs);
    EXPECT_EQ(b.WaitTimeout(0), WaitTimeoutCode()) << "the returned auto-reset event is consumed";
    setter.join();
}

TEST(CriticalSection, IsRecursiveForItsOwnerAndExclusiveForOthers) {
    CSimpleCriticalSection cs;
    cs.Lock();
    EXPECT_TRUE(cs.TryLock());
    bool otherGotIt = true;
    std::thread other([&] { otherGotIt = cs.TryLock(); });
    other.join();
    EXPECT_FALSE(otherGotIt);
    cs.Unlock();
    cs.Unlock();
    std::thread after([&] {
        otherGotIt = cs.TryLock();
        if (otherGotIt) cs.Unlock();
    });
    after.join();
    EXPECT_TRUE(otherGotIt);
}

TEST(CriticalSection, ScopedGuardSerialisesIncrements) {
    CSimpleCriticalSection cs;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CAutoCriticalSection guard(cs);
            CAutoCriticalSection again(cs);  // recursive entry from the same thread
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

void* StoreArgument(void* p) {
    auto* value = static_cast<std::atomic<int>*>(p);
    value->store(42);
    return nullptr;
}

TEST(Thread, CreateRunsTheFunctionWithItsArgumentAndJoinWaits) {
    std::atomic<int> value{0};
    THREAD_HANDLE thread = 0;
    ASSERT_TRUE(CreateThread(&thread, StoreArgument, &value));
    EXPECT_NE(thread, 0u);
    EXPECT_FALSE(IsCurrentThread(thread));
    JoinThread(thread);
    CloseThread(thread);
    EXPECT_EQ(value.load(), 42);
    EXPECT_FALSE(CreateThread(nullptr, StoreArgument, &value));
    JoinThread(0);  // no thread: nothing happens
}

struct Identity {
    std::atomic<THREAD_HANDLE> handle{0};
    std::atomic<bool> recognised{false};
};

void* RecordIdentity(void* p) {
    auto* self = static_cast<Identity*>(p);
    while (self->handle.load() == 0) SleepEx(1);  // CreateThread's caller publishes it
    self->recognised = IsCurrentThread(self->handle.load());
    return nullptr;
}

TEST(Thread, ThreadRecognisesItsOwnHandle) {
    Identity identity;
    THREAD_HANDLE thread = 0;
    ASSERT_TRUE(CreateThread(&thread, RecordIdentity, &identity));
    identity.handle = thread;
    JoinThread(thread);
    EXPECT_TRUE(identity.recognised.load());
}

TEST(Sleep, SleepsAtLeastTheRequestedTime) {
    for (unsigned ms : {0u, 20u, 100u}) {
        const auto start = MonotonicNanos();
        SleepEx(ms);
        const auto elapsed = ElapsedMs(start);
        EXPECT_GE(elapsed, static_cast<std::int64_t>(ms)) << ms;
        EXPECT_LT(elapsed, static_cast<std::int64_t>(ms) + kLateMs) << ms;
    }
}

#if !defined(_WIN32)
// Signals and file descriptors: POSIX builds.
void IgnoreSignal(int) {}

TEST(Sleep, ResumesWithTheRemainingTimeWhenASignalInterruptsIt) {
    struct sigaction action {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGUSR2, &action, &previous), 0);
    pthread_t sleeper = pthread_self();
    std::thread interrupter([&] {
        SleepEx(40);
        pthread_kill(sleeper, SIGUSR2);
    });
    const auto start = MonotonicNanos();
    SleepEx(200);
    const auto elapsed = ElapsedMs(start);
    interrupter.join();
    sigaction(SIGUSR2, &previous, nullptr);
    EXPECT_GE(elapsed, 199);
}

TEST(Handle, CloseHandleClosesADescriptorOnce) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(CloseHandle(fds[0]));
    EXPECT_FALSE(CloseHandle(fds[0]));
    EXPECT_TRUE(CloseHandle(fds[1]));
    EXPECT_FALSE(CloseHandle(-1));
}
#endif

}  // namespace
