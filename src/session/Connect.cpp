// The connect thread: search, connect, notify, wait for a hot-plug change, tear down.
#include <atomic>
#include <mutex>
#include <string>

#include "link/Device.h"
#include "link/Monitor.h"
#include "platform/LastError.h"
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
// Set by the connect thread, under the API lock, as it ends; cleared when one is started.
CManualResetEvent s_ConnectThreadEnded;

// How long TOLVFree waits for the connect thread to end. Windows bounds the wait; a thread
// that outlasts it (a search pass over many ports, a listener that takes its time) finishes by
// itself, and the next TOLVInit, TOLVConnect or TOLVFree takes it up again.
#if defined(_WIN32)
constexpr unsigned kConnectThreadEndBoundMs = 3000;
#else
constexpr unsigned kConnectThreadEndBoundMs = kInfiniteWait;
#endif
std::atomic<unsigned> s_ConnectThreadEndBoundMs{kConnectThreadEndBoundMs};

// True when the stop flag is set; the thread is then marked as ended. The test and the mark
// are one step under the API lock, so DoInit either sees an ended thread or clears the flag in
// time for the thread to go on.
bool ConnectThreadEnds() {
    CAutoCriticalSection api(g_APICriticalSection);
    if (g_bStopConnectDeviceThread == 0) return false;
    s_ConnectThreadEnded.SetEvent();
    return true;
}

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
    while (!ConnectThreadEnds()) {
        if (DeviceConnect(g_nPortNumber, 1) != 1) {
            SearchPause(10);
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
            if (!ConnectionStands()) break;
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
    if (g_hConnectDeviceThread != 0) {
        // Still running (also one that TOLVFree stopped waiting for): it goes on searching.
        if (s_ConnectThreadEnded.WaitTimeout(0) != 0) return true;
        // It ended after TOLVFree stopped waiting for it: release it and start anew.
        JoinThread(g_hConnectDeviceThread);
        CloseThread(g_hConnectDeviceThread);
        g_hConnectDeviceThread = 0;
    }
    s_ConnectThreadEnded.ResetEvent();
    THREAD_HANDLE thread = 0;
    if (!CreateThread(&thread, ConnectDeviceThread, nullptr)) {
        SetLastErrorText("could not start the connect thread");
        return false;
    }
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
    const bool wasConnected = g_bConnected != 0;
    g_nPortNumber = port;
    g_hConnectedEvent.ResetEvent();
    if (!DoInit(ConnectedHandler)) return false;
    if (g_hConnectedEvent.WaitTimeout(timeoutMs) == 0) return true;
    DoFree();
    // The connect thread has ended, so the reason of its last search pass is final.
    std::string text = "timed out after " + std::to_string(timeoutMs) + " ms";
    const std::string reason = SearchPassReason();
    if (wasConnected) {
        text += " (a simulator was already connected: a connect waits for a new connection)";
    } else if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    SetLastErrorText(text);
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
            InterruptDeviceSearch(true);  // a searching thread ends without sleeping on
            ReconnectDevice();
        }
        thread = g_hConnectDeviceThread;
    }
    StopPollingThread();
    const unsigned bound = s_ConnectThreadEndBoundMs;
    if (thread != 0 && (bound == kInfiniteWait || s_ConnectThreadEnded.WaitTimeout(bound) == 0)) {
        JoinThread(thread);
        CloseThread(thread);
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_hConnectDeviceThread == thread) g_hConnectDeviceThread = 0;
        InterruptDeviceSearch(false);  // later searches (firmware update, next session) pause
    }
    TOLVReset();
}

void SetConnectThreadEndBound(unsigned ms) {
    s_ConnectThreadEndBoundMs = ms == 0 ? kConnectThreadEndBoundMs : ms;
}
