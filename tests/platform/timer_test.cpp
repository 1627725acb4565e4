#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/TickTimer.h"

namespace {

struct TickLog {
    std::mutex mutex;
    std::vector<std::int64_t> times;
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    unsigned busyMs = 0;
};

void RecordTick(void* p) {
    auto* log = static_cast<TickLog*>(p);
    int now = ++log->concurrent;
    int seen = log->maxConcurrent.load();
    while (now > seen && !log->maxConcurrent.compare_exchange_weak(seen, now)) {
    }
    {
        std::lock_guard<std::mutex> lock(log->mutex);
        log->times.push_back(MonotonicNanos());
    }
    if (log->busyMs > 0) SleepEx(log->busyMs);
    --log->concurrent;
}

std::size_t TickCount(TickLog& log) {
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.times.size();
}

// Polls until the condition holds; false after a bound that only a fault reaches.
template <typename Condition>
bool Within10Seconds(Condition condition) {
    const auto end = MonotonicNanos() + 10000000000LL;
    while (!condition()) {
        if (MonotonicNanos() > end) return false;
        SleepEx(2);
    }
    return true;
}

TEST(TickTimer, RefusesANonPositivePeriodAndIgnoresStopOfNone) {
    TickLog log;
    EXPECT_EQ(StartTickTimer(0, RecordTick, &log), nullptr);
    EXPECT_EQ(StartTickTimer(-35, RecordTick, &log), nullptr);
    EXPECT_EQ(StartTickTimer(35, nullptr, &log), nullptr);
    StopTickTimer(nullptr);
}

TEST(TickTimer, FirstTickComesOnePeriodAfterTheStartThenEveryPeriod) {
    TickLog log;
    const auto start = MonotonicNanos();
    TIMER_HANDLE timer = StartTickTimer(150, RecordTick, &log);
    ASSERT_NE(timer, nullptr);
    const bool ticked = Within10Seconds([&] { return TickCount(log) >= 4; });
    StopTickTimer(timer);
    ASSERT_TRUE(ticked);
    // A busy machine makes ticks late, never early: tick k comes k + 1 periods after the start
    // at the soonest. The exact figures belong to the benchmark.
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_GE((log.times[k] - start) / 1000000, static_cast<std::int64_t>(150 * (k + 1)) - 10)
            << "tick " << k;
    }
}

TEST(TickTimer, NoTickAfterStopReturns) {
    TickLog log;
    TIMER_HANDLE timer = StartTickTimer(5, RecordTick, &log);
    ASSERT_NE(timer, nullptr);
    const bool ticked = Within10Seconds([&] { return TickCount(log) >= 1; });
    StopTickTimer(timer);
    const auto after = TickCount(log);
    EXPECT_TRUE(ticked);
    SleepEx(60);
    EXPECT_EQ(TickCount(log), after);
}

TEST(TickTimer, StopWaitsForTheRunningTickAndTicksNeverOverlap) {
    TickLog log;
    log.busyMs = 60;
    TIMER_HANDLE timer = StartTickTimer(10, RecordTick, &log);
    ASSERT_NE(timer, nullptr);
    while (TickCount(log) < 2) SleepEx(2);
    StopTickTimer(timer);
    EXPECT_EQ(log.concurrent.load(), 0) << "stop returned while a tick was running";
    EXPECT_EQ(log.maxConcurrent.load(), 1);
}

struct SelfStop {
    std::atomic<TIMER_HANDLE> timer{nullptr};
    std::atomic<int> ticks{0};
    std::atomic<bool> done{false};
};

void StopFromInside(void* p) {
    auto* s = static_cast<SelfStop*>(p);
    if (++s->ticks == 1) {
        while (s->timer.load() == nullptr) SleepEx(1);
        StopTickTimer(s->timer.load());
        s->done = true;
    }
}

TEST(TickTimer, ATickMayStopItsOwnTimer) {
    SelfStop s;
    s.timer = StartTickTimer(10, StopFromInside, &s);
    ASSERT_NE(s.timer.load(), nullptr);
    EXPECT_TRUE(Within10Seconds([&] { return s.done.load(); }));
    SleepEx(100);  // ten periods in which no tick may come
    EXPECT_EQ(s.ticks.load(), 1);
}

}  // namespace
