// Dispatch of system timer expiries to tick functions, safe against late notifications.
//
// The system timer carries only an id; expiries look the id up here, so a notification that
// arrives after StopTickTimer finds nothing and touches no freed memory.
#include "platform/TickTimer.h"

#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/TickTimerSystem.h"

struct CTickTimer {
    std::uintptr_t id = 0;
    TickFunction tick = nullptr;
    void* argument = nullptr;
    void* native = nullptr;
    int running = 0;       // ticks in progress (0 or 1), guarded by the registry mutex
    bool stopped = false;  // stopped from inside its own tick: freed when that tick returns
};

namespace {

// Guards the registry and every timer's running/stopped fields. Touched by the thread that
// starts and stops timers and by the system's timer threads. Never destroyed: a timer thread
// that stopped itself may still be finishing its tick while the process exits.
std::mutex& RegistryMutex() {
    static auto* m = new std::mutex;
    return *m;
}
std::condition_variable& RegistryChanged() {
    static auto* cv = new std::condition_variable;
    return *cv;
}
std::map<std::uintptr_t, CTickTimer*>& Registry() {
    static auto* timers = new std::map<std::uintptr_t, CTickTimer*>;
    return *timers;
}
std::uintptr_t s_nextTimerId = 1;
thread_local CTickTimer* t_currentTick = nullptr;

}  // namespace

void TickTimerExpired(std::uintptr_t id) {
    CTickTimer* timer = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(id);
        if (it == Registry().end()) return;
        timer = it->second;
        if (timer->running > 0) return;  // the previous tick is still busy: skip this one
        timer->running = 1;
    }
    t_currentTick = timer;
    timer->tick(timer->argument);
    t_currentTick = nullptr;
    bool release = false;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        timer->running = 0;
        release = timer->stopped;
        RegistryChanged().notify_all();
    }
    if (release) delete timer;
}

TIMER_HANDLE StartTickTimer(int periodMs, TickFunction tick, void* argument) {
    if (periodMs <= 0 || tick == nullptr) return nullptr;
    auto* timer = new CTickTimer;
    timer->tick = tick;
    timer->argument = argument;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        timer->id = s_nextTimerId++;
        Registry()[timer->id] = timer;
    }
    // The timer is registered before it is armed, so the first expiry (at once on macOS)
    // already finds it.
    void* native = SystemTimerStart(periodMs, timer->id);
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (native == nullptr) {
        Registry().erase(timer->id);
        delete timer;
        return nullptr;
    }
    timer->native = native;
    return timer;
}

void StopTickTimer(TIMER_HANDLE timer) {
    if (timer == nullptr) return;
    void* native = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        Registry().erase(timer->id);
        native = timer->native;
        timer->native = nullptr;
    }
    SystemTimerStop(native);
    std::unique_lock<std::mutex> lock(RegistryMutex());
    if (t_currentTick == timer) {
        timer->stopped = true;  // freed by TickTimerExpired when this tick returns
        return;
    }
    RegistryChanged().wait(lock, [timer] { return timer->running == 0; });
    lock.unlock();
    delete timer;
}
