// The hot-plug monitor of Linux and macOS: a thread that probes the node of the open port.
#include <atomic>

#include "link/Device.h"
#include "link/Monitor.h"

struct CAutoMonitor::State {
    CManualResetEvent active;  // set = monitoring, clear = paused
    CManualResetEvent stop;    // set by the destructor; cuts every wait short
    std::atomic<int> g_bStopMonitor{0};
    THREAD_HANDLE thread = 0;
};

namespace {

CAutoMonitor::State* s_monitor = nullptr;

// Waits ms milliseconds unless the monitor is being stopped; false when stopped.
bool MonitorSleep(unsigned ms) {
    return s_monitor->stop.WaitTimeout(ms) != 0;
}

void* MonitorThread(void* argument) {
    auto* state = static_cast<CAutoMonitor::State*>(argument);
    while (state->g_bStopMonitor == 0) {
        if (state->active.WaitTimeout(0) != 0) {
            MonitorSleep(100);
            continue;
        }
        // The verdict is on the port open now; a port opened while the probes run is not judged.
        const std::uint64_t connection = DeviceConnection();
        if (ProbeDeviceAlive(DeviceIsAlive, MonitorSleep)) {
            MonitorSleep(1200);
            continue;
        }
        if (state->g_bStopMonitor != 0) break;
        // A firmware update that restarts the device takes the port away on purpose and brings
        // it back itself.
        if (!BeginMonitorClose()) {
            MonitorSleep(100);
            continue;
        }
        // Closing the port also forgets its path, so the connect thread's own check fails too.
        DeviceCloseConnection(connection);
        ReconnectDevice();
        EndMonitorClose();
        MonitorSleep(100);
    }
    return nullptr;
}

}  // namespace

bool ProbeDeviceAlive(bool (*isAlive)(), bool (*sleep)(unsigned ms)) {
    const bool first = isAlive();
    for (int i = 0; i < 3; ++i) {
        if (isAlive()) return true;
        if (!sleep(500)) break;
    }
    return first;
}

CAutoMonitor::CAutoMonitor() : m_state(new State) {
    s_monitor = m_state;
    if (!CreateThread(&m_state->thread, MonitorThread, m_state)) m_state->thread = 0;
}

CAutoMonitor::~CAutoMonitor() {
    m_state->g_bStopMonitor = 1;
    m_state->stop.SetEvent();
    m_state->active.SetEvent();
    JoinThread(m_state->thread);
    // The state stays: a late call of the public members after unload finds it intact.
}

void CAutoMonitor::StartMonitor() {
    m_state->active.SetEvent();
}
void CAutoMonitor::PauseMonitor() {
    m_state->active.ResetEvent();
}
bool CAutoMonitor::IsMonitored() {
    return m_state->active.WaitTimeout(0) == 0;
}

CAutoMonitor g_AutoMonitor;
