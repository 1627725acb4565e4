// The connect thread: search, connect, notify, wait for a hot-plug change, tear down.
#include <atomic>
#include <mutex>

#include "link/Device.h"
#include "link/Monitor.h"
#include "protocol/Calibration.h"
#include "protocol/DeviceInformation.h"
#include "protocol/ModuleTables.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "session/SessionHooks.h"

std::atomic<int> g_nPortNumber{-1};
std::atomic<ConnectedCallback> g_ConnectedCallback{nullptr};
CAutoResetEvent g_hConnectedEvent;

namespace {

// Serialises the starts and ends of sessions; taken before the API lock.
std::mutex s_SessionLifecycle;

// Connect thread bookkeeping, guarded by the API lock (the thread handle) or atomic.
std::atomic<int> g_bStopConnectDeviceThread{0};
THREAD_HANDLE g_hConnectDeviceThread = 0;

void NotifyListener(bool state) {
    g_bConnected = state ? 1 : 0;
    ConnectedCallback callback = g_ConnectedCallback.load();
    if (callback != nullptr) callback(state);
}

void Teardown() {
    RunSessionHooks(SessionPoint::kDeviceLost);
    StopPollingThread();
    DeviceClose();
    ClearDeviceInformation();
    g_AutoMonitor.PauseMonitor();
    NotifyListener(false);
}

void* ConnectDeviceThread(void*) {
    RaiseThreadPriority();
    while (g_bStopConnectDeviceThread == 0) {
        if (DeviceConnect(g_nPortNumber, 1) != 1) {
            SleepEx(10);
            continue;
        }
        {
            CAutoCriticalSection api(g_APICriticalSection);
            // A new connection starts from an unknown output configuration: the relays are
            // switched on with a forced configuration.
            RunSessionHooks(SessionPoint::kDeviceOpened);
        }
        g_AutoMonitor.StartMonitor();
        {
            CAutoCriticalSection api(g_APICriticalSection);
            ConnectedPostProcessing();
        }
        // The simulator paces playback from here on, and the session counts as connected from the
        // same moment, so that commands wait for the stream's gaps and a playback started by the
        // application's callback goes to the device from its first packet.
        HandOverPlayback([] { g_bConnected = 1; });
        NotifyListener(true);
        StartPollingThread();
        for (;;) {
            if (g_bStopConnectDeviceThread != 0) break;
            g_hReconnectEvent.Wait();
            if (g_bStopConnectDeviceThread != 0) break;
            if (!DeviceIsAlive()) break;
        }
        Teardown();
    }
    return nullptr;
}

void ConnectedHandler(bool connected) {
    if (connected) g_hConnectedEvent.SetEvent();
}

}  // namespace

bool SessionStarted() {
    return g_hDevice != -1 || g_ConnectedCallback.load() != nullptr;
}

bool DoInit(ConnectedCallback callback) {
    g_ConnectedCallback = callback;
    {
        // From the connection callback: the session runs (or is being freed); only the callback
        // changes.
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_hConnectDeviceThread != 0 && IsCurrentThread(g_hConnectDeviceThread)) return true;
    }
    // A start waits for a free in progress to end: otherwise it could clear the stop request of
    // the connect thread that the free is waiting for, and both would wait for ever.
    std::lock_guard<std::mutex> lifecycle(s_SessionLifecycle);
    CAutoCriticalSection api(g_APICriticalSection);
    g_hReconnectEvent.ResetEvent();
    g_bStopConnectDeviceThread = 0;
    if (g_hConnectDeviceThread != 0) return true;
    THREAD_HANDLE thread = 0;
    if (!CreateThread(&thread, ConnectDeviceThread, nullptr)) return false;
    g_hConnectDeviceThread = thread;
    return true;
}

void ConnectedPostProcessing() {
    // Device-resident data is loaded here after every connect, in this order. Results are not
    // checked: a step that fails leaves its defaults in force and the connect goes on.
    CDeviceCommand command;
    if (!command.Ready()) return;
    // 1. ECG DC calibration table: cache file, old flash location, channel 18 or the default.
    SetECGDCVariableCalibrationData();
    // Nothing loaded from an earlier module outlives it.
    ResetModuleTables();
    // 2. PPG DC tables (module 0x2112 only).
    LoadPPGDCTable();
    // 3. Photodiode sampling calibration and ratios (PPG module only).
    LoadPPGPDSamplingCalibrationData();
    // 4. Respiration DAC calibration (external respiration module only).
    LoadRespirationDACCalibrationData();
    // 5. Module 0x2112: the default MCU transmission rate, then its factory settings.
    if (GetPPGFullModelNumber() == 0x2112) {
        RunSessionHooks(SessionPoint::kMcuModuleConnected);
        LoadFactorySettingMCU();
    }
    // 6. Dynamic LED strength off.
    RunSessionHooks(SessionPoint::kDeviceLoaded);
}

bool ConnectWithTimeout(int port, unsigned timeoutMs) {
    g_nPortNumber = port;
    g_hConnectedEvent.ResetEvent();
    if (!DoInit(ConnectedHandler)) return false;
    if (g_hConnectedEvent.WaitTimeout(timeoutMs) == 0) return true;
    DoFree();
    return false;
}

void DoFree() {
    // One start or free at a time (several threads may free at once).
    std::lock_guard<std::mutex> lifecycle(s_SessionLifecycle);
    // Output off first: this stops playback and waits for the play thread.
    RunSessionHooks(SessionPoint::kSessionEnding);
    THREAD_HANDLE thread = 0;
    {
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_hConnectDeviceThread != 0) {
            g_bStopConnectDeviceThread = 1;
            ReconnectDevice();
        }
        thread = g_hConnectDeviceThread;
    }
    StopPollingThread();
    if (thread != 0) {
        JoinThread(thread);
        CloseThread(thread);
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_hConnectDeviceThread == thread) g_hConnectDeviceThread = 0;
    }
    TOLVReset();
}
