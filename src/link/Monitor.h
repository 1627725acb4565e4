// The hot-plug monitor: wakes the connect thread when the connected simulator goes away.
//
// On Linux and macOS a thread started at load probes the port's node about every 1.2 s while a
// device is connected; four failed probes over 1.5 s close the port and wake the connect thread.
// On Windows a hidden message window receives the system's device-change broadcasts instead.
#pragma once

#include "platform/Platform.h"

class CAutoMonitor {
  public:
    CAutoMonitor();
    ~CAutoMonitor();
    CAutoMonitor(const CAutoMonitor&) = delete;
    CAutoMonitor& operator=(const CAutoMonitor&) = delete;

    // Monitoring active (after each connect) or paused (at load and after each teardown).
    void StartMonitor();
    void PauseMonitor();
    bool IsMonitored();

    struct State;

  private:
    State* m_state = nullptr;
};

// The one monitor of the process, constructed at load.
extern CAutoMonitor g_AutoMonitor;

// Auto-reset: wakes the connected phase of the connect thread, which then checks whether the
// device is still there. Set by the monitor (or the Windows device-change message) and by
// TOLVFree.
extern CAutoResetEvent g_hReconnectEvent;
void ReconnectDevice();

// ---- A firmware update's restart -----------------------------------------------------------
// A firmware update restarts the device and connects to it again by itself. From
// BeginLoaderRestart to EndLoaderRestart the port's disappearance is expected: the monitor
// neither closes the port nor wakes the connect thread, and the connect thread keeps the session
// (AwaitLoaderRestart). Called by the loader, which holds the command discipline throughout.
//
// Returns once no monitor probe that began before it can still close the port.
void BeginLoaderRestart();
// The loader has the link back (or gave up): the connect thread is woken to look at the port.
void EndLoaderRestart();
// For the connect thread, after it was woken: waits while a loader restart runs. True when a
// restart ran since the last call (the port may be a new one, or gone); the caller then looks at
// the port again.
bool AwaitLoaderRestart();
// For the monitor: true when it may close the port now (no loader restart runs); it then calls
// EndMonitorClose once the port is closed and the connect thread woken.
bool BeginMonitorClose();
void EndMonitorClose();

// One probe round: a first liveness check, then up to three more, each followed by 500 ms when it
// fails; alive as soon as one of those says alive, else the first check's answer stands. So a
// present device costs two listings and a vanished one four over 1.5 s. isAlive and sleep are
// injected for tests; sleep returns false when the wait was cut short by a stop.
bool ProbeDeviceAlive(bool (*isAlive)(), bool (*sleep)(unsigned ms));
