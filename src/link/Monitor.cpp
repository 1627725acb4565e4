// What every variant of the hot-plug monitor shares: the event that wakes the connect thread,
// and the hold that a firmware update's restart puts on the monitor and the connect thread.
#include "link/Monitor.h"

#include <condition_variable>
#include <mutex>

CAutoResetEvent g_hReconnectEvent;

void ReconnectDevice() {
    g_hReconnectEvent.SetEvent();
}

namespace {

// The loader's restart. A private leaf lock: nothing else is taken under it. Touched by the
// loader (an application thread inside a firmware burn), the monitor thread and the connect
// thread.
struct LoaderRestartState {
    std::mutex mutex;
    std::condition_variable changed;
    bool loaderHolds = false;    // between BeginLoaderRestart and EndLoaderRestart
    bool restarted = false;      // a restart ended since the connect thread last looked
    bool monitorCloses = false;  // the monitor is closing the port
};

// Never destroyed: the monitor thread may look at it until the library is unloaded.
LoaderRestartState& Restart() {
    static LoaderRestartState* state = new LoaderRestartState;
    return *state;
}

}  // namespace

void BeginLoaderRestart() {
    LoaderRestartState& s = Restart();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.loaderHolds = true;
    s.changed.wait(lock, [&] { return !s.monitorCloses; });
}

void EndLoaderRestart() {
    LoaderRestartState& s = Restart();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.loaderHolds = false;
        s.restarted = true;
        s.changed.notify_all();
    }
    ReconnectDevice();
}

bool AwaitLoaderRestart() {
    LoaderRestartState& s = Restart();
    std::unique_lock<std::mutex> lock(s.mutex);
    const bool ran = s.loaderHolds || s.restarted;
    s.changed.wait(lock, [&] { return !s.loaderHolds; });
    s.restarted = false;
    return ran;
}

bool BeginMonitorClose() {
    LoaderRestartState& s = Restart();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.loaderHolds) return false;
    s.monitorCloses = true;
    return true;
}

void EndMonitorClose() {
    LoaderRestartState& s = Restart();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.monitorCloses = false;
    s.changed.notify_all();
}
