// Playback life cycle: change requests, the play thread and its clean-up, the simulation timer,
// the synchronisation signals and the output-signal callbacks.
#include "playback/Play.h"

#include <atomic>

#include "link/Device.h"
#include "platform/TickTimer.h"
#include "playback/OutputSignal.h"
#include "playback/OutputStage.h"
#include "playback/PlayState.h"
#include "playback/Stream.h"
#include "ppg/ModuleControl.h"
#include "session/Journal.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "session/SessionHooks.h"
#include "synthesis/ImpedanceRespiration.h"
#include "synthesis/Pacing.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/SetterPattern.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/TestSignals.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

namespace {

// Play-thread bookkeeping. g_hPlayThread is written by Change (change lock held) and by the
// play thread as its last act, read under the interrupt lock by the output-function setter.
std::atomic<THREAD_HANDLE> g_hPlayThread{0};
std::atomic<bool> g_bChangeOnNextCycle{false};
CSimpleCriticalSection s_ChangeCriticalSection;  // only ever try-locked
CManualResetEvent g_hStopPlayEvent;
// Set by the play thread as its last act; the thread itself is detached.
CManualResetEvent s_hPlayThreadEnded(true);
CManualResetEvent* g_PlaySyncEvent = nullptr;  // start signal, API lock
std::atomic<bool> s_deferOffCommands{false};
// A stop was requested: the rest of the packet being built is not shown to the callbacks.
// The simulation timer. At most one packet source runs at any time: the timer exists only while
// no connected simulator paces playback (g_bDevicePacesPlayback, which changes under this lock).
TIMER_HANDLE s_SimulationTimer = nullptr;
CSimpleCriticalSection s_TimerLock;

void SimulationTimer_Tick(void*) {
    // Ticks are serialised with the play thread and device commands by the interrupt lock. A
    // tick that was already due when a simulator took over playback sends nothing.
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    if (!s_ECGGoing || g_bDevicePacesPlayback) return;
    _SendNextPacket(false);
}

int _CalculateTimerPeriod() {
    const unsigned mode = g_OperateMode;
    int channels = (mode & 0x03) != 0 ? 1 : 0;
    if ((mode & 0x04) != 0) ++channels;
    if ((mode & 0x08) != 0) ++channels;
    if ((mode & 0x10) != 0) ++channels;
    if (channels == 0) channels = 1;
    const int rate = _GetSampleRate();
    return 56 / (4 * channels) * 50000 / (rate > 0 ? rate : 1);
}

// Starts the timer unless one runs or a connected simulator paces playback.
void _StartSimulationTimer() {
    CAutoCriticalSection lock(s_TimerLock);
    if (s_SimulationTimer != nullptr || g_bDevicePacesPlayback) return;
    s_SimulationTimer = StartTickTimer(_CalculateTimerPeriod(), SimulationTimer_Tick, nullptr);
}

void _StopSimulationTimer() {
    TIMER_HANDLE timer = nullptr;
    {
        CAutoCriticalSection lock(s_TimerLock);
        timer = s_SimulationTimer;
        s_SimulationTimer = nullptr;
    }
    StopTickTimer(timer);
}

// Waits for the start synchronisation signal, if one is set. A stop requested meanwhile ends
// the wait too (false): playback must stay stoppable before its first packet.
bool WaitExternalSynchronizationSignal() {
    CManualResetEvent* signal = nullptr;
    {
        CAutoCriticalSection api(g_APICriticalSection);
        signal = g_PlaySyncEvent;
    }
    if (signal == nullptr) return true;
    CEvent* events[] = {&g_hStopPlayEvent, signal};
    return WaitForMultipleObjects(2, events, 0, kInfiniteWait) == 1;
}

// Dynamic LED strength off, under the device-command discipline (the caller may be the play
// thread after its loop, holding no lock).
void SendDynamicLedOff() {
    if (!DeviceIsConnected()) return;
    CDeviceCommand command;
    if (command.Ready()) DoEnableDynamicLEDStrength(0);
}

// The switch-off commands of an output function set to 0: pacing state and dynamic LED off.
void SendOutputOffCommands() {
    SetPacing();
    SendDynamicLedOff();
}

// The tests that end with playback: baseline reset and the frequency scans. The baseline-reset
// test is switched off through the setter's body (journal line, callback with 0) only when it
// is on, and without the setter's 100 ms wait.
void StopTestSignals() {
    {
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_BaseLineOverload != 0) DoSetBaselineResetTest(0);
    }
    ClearFrequencyScans();
}

void PlayPostProcessing() {
    ClearPacingApplyRequest();
    StopTestSignals();
    ClearFixedDcDac();
    SetRelays(false);
    UpdateMCUTransmissionRate(800, 1023, 800, 1023);
    SwitchApneaOffAtStop();
    if (s_deferOffCommands.exchange(false)) SendOutputOffCommands();
}

void* StartPlayThread(void*) {
    RaiseThreadPriority();
    _StartSimulationTimer();
    ResetPacketClockDrift();
    bool started = false;
    if (WaitExternalSynchronizationSignal()) {
        // Under the interrupt lock too, so that a connection taking over playback sees either no
        // first packet or one that already went where the pace of its time said.
        CAutoCriticalSection api(g_APICriticalSection);
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        // A stop that came before the first packet ends playback here.
        if (g_hStopPlayEvent.WaitTimeout(0) != 0) {
            _SendNextPacket(true);
            g_hReadEvent.SetEvent();
            started = true;
        }
    }
    CEvent* events[] = {&g_hStopPlayEvent, &g_hSendEvent};
    while (started) {
        const unsigned which = WaitForMultipleObjects(2, events, 0, kInfiniteWait);
        if (which == 0) {
            g_hProcessRequestEvent.SetEvent();
            break;
        }
        if (which != 1) continue;
        g_hProcessRequestEvent.SetEvent();
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        _SendNextPacket(false);
        g_hReadEvent.SetEvent();
        g_hProcessRequestEvent.ResetEvent();
    }
    g_hStopReceiveEvent.SetEvent();
    _StopSimulationTimer();
    _SendStopPacket();
    PlayPostProcessing();
    g_hPlayThread = 0;
    s_hPlayThreadEnded.SetEvent();
    return nullptr;
}

// The synthesis reaches the play engine through its request hooks: a setter's value travels
// synthesis -> hook -> change request here. Registered while the library loads; this file is
// linked wherever anything can start playback.
struct RegisterWithSynthesis {
    RegisterWithSynthesis() {
        playback::Handlers handlers;
        handlers.changeRequested = _ChangeRequested;
        handlers.changeNow = [] { Change(); };
        handlers.isRunning = IsPlaybackRunning;
        handlers.relaysChanged = [] { SetRelays(false); };
        handlers.sampleRate = _GetSampleRate;
        handlers.outputLeads = [] { return static_cast<unsigned>(g_OutputLead.load()); };
        playback::Register(handlers);
    }
};
const RegisterWithSynthesis s_registerWithSynthesis;

}  // namespace

bool IsPlaybackRunning() {
    return s_ECGGoing;
}

void HandPlaybackToDevice(void (*atHandover)()) {
    TIMER_HANDLE timer = nullptr;
    {
        CAutoCriticalSection api(g_APICriticalSection);
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        CAutoCriticalSection lock(s_TimerLock);
        if (atHandover != nullptr) atHandover();
        if (g_bDevicePacesPlayback) return;
        g_bDevicePacesPlayback = true;
        timer = s_SimulationTimer;
        s_SimulationTimer = nullptr;
        if (s_ECGGoing) {
            // No packet of this playback is in flight to the new connection (the timer's went to
            // nobody; a lost device's acknowledgement never comes): release the next one. The
            // packet clock carries on where the last packet left it.
            g_hReadEvent.ResetEvent();
            g_hSendEvent.SetEvent();
        }
    }
    // A tick that is running now sees the flag and sends nothing.
    StopTickTimer(timer);
}

void PlaybackDeviceLost() {
    CAutoCriticalSection lock(s_TimerLock);
    g_bDevicePacesPlayback = false;
}

void _ChangeRequested() {
    if (s_ECGGoing && g_MainOutput != 0) {
        g_bChangeOnNextCycle = true;
    } else {
        Change();
    }
}

int Change() {
    if (!s_ChangeCriticalSection.TryLock()) return 0;
    if (g_MainOutput == 0) {
        if (s_ECGGoing || g_hPlayThread != 0) {
            s_ECGGoing = false;
            s_stopRequested = true;
            _StopSimulationTimer();
            ResetSynthesisTime();
            g_hStopPlayEvent.SetEvent();
        }
        s_ChangeCriticalSection.Unlock();
        return 0;
    }
    DeriveSynthesisValues();
    if (!s_ECGGoing && g_hPlayThread == 0) {
        g_hReadEvent.ResetEvent();
        g_hSendEvent.ResetEvent();
        g_hStopPlayEvent.ResetEvent();
        g_hStopReceiveEvent.ResetEvent();
        ResetStreamSequence();
        g_bChangeOnNextCycle = false;
        s_stopRequested = false;
        TakeOneShotEnd();  // none of an earlier run is left for this one
        _RefreshOperateMode();
        SetRelays(true);
        s_hPlayThreadEnded.ResetEvent();
        THREAD_HANDLE thread = 0;
        if (CreateThread(&thread, StartPlayThread, nullptr)) {
            g_hPlayThread = thread;
            DetachThread(thread);
        } else {
            s_hPlayThreadEnded.SetEvent();
        }
    }
    s_ChangeCriticalSection.Unlock();
    return 0;
}

bool ChangePending() {
    return g_bChangeOnNextCycle;
}

void _CheckIfChangeRequired(double p) {
    if (!g_bChangeOnNextCycle) return;
    if (s_tp - p < 0.0004 || g_F < 0.15) {
        g_bChangeOnNextCycle = false;
        Change();
        SetRelays(false);
    }
}

void SetOutputFunction(int function) {
    _outputLog("TOLVSetOutputFunction(%d);", function);
    const bool stopping = function == 0 && (s_ECGGoing || g_hPlayThread != 0);
    if (stopping) {
        // The stop and the function change together between two packets: the simulation timer's
        // tick builds its packets under the interrupt lock but without the API lock, and a
        // sample of output 0 must not reach the callbacks.
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        s_stopRequested = true;
        g_MainOutput = function;
    } else {
        g_MainOutput = function;
    }
    if (stopping) {
        s_deferOffCommands = true;
        _ChangeRequested();
        return;
    }
    SetPacing();
    if (function != 0) {
        g_UICounter = 0;
        ResetSynthesisTime();
    } else {
        SendDynamicLedOff();
    }
    if (function == OUTPUT_EXP_ALTERNATING) {
        Change();
    } else {
        _ChangeRequested();
    }
}

// Waits (without the API lock) until the play thread has ended.
static void WaitForPlayThreadEnd() {
    THREAD_HANDLE thread = 0;
    {
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        thread = g_hPlayThread;
    }
    if (thread == 0 || IsCurrentThread(thread)) return;
    s_hPlayThreadEnded.Wait();
}

extern "C" {

TOLV_API int TOLVSetOutputFunction(int function) {
    {
        CAutoCriticalSection api(g_APICriticalSection);
        // Without a device and a connection callback nothing is stored, with one exception: the
        // stop of a playback that outlived its device (the port closed under it and no callback
        // is registered). That playback must still end here, and TOLVFree ends it through here.
        const bool orphanStop = function == 0 && (s_ECGGoing || g_hPlayThread != 0);
        if (!SessionStarted() && !orphanStop) return -1;
        SetOutputFunction(function);
        if (g_MainOutput != 0) return 0;
    }
    WaitForPlayThreadEnd();
    return 0;
}

TOLV_API int TOLVGetOutputFunction(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_MainOutput;
}

TOLV_API bool TOLVIsPlaying(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    // A playback that has started but not yet written its first packet counts as playing.
    return IsPlayingOrSampling() || g_hPlayThread != 0;
}

TOLV_API int TOLVSetSampleRate(int samplesPerSecond) {
    return RunSetter([&] {
        if (samplesPerSecond < 100 || samplesPerSecond > 40000) return -2;
        if (IsPlaybackRunning()) return -3;
        s_sampleRate = samplesPerSecond;
        if (s_freqDivider > samplesPerSecond) s_freqDivider = samplesPerSecond;
        _ChangeRequested();
        return 0;
    });
}

TOLV_API int TOLVGetSampleRate(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return _GetSampleRate();
}

TOLV_API void* TOLVCreateSynchronizationSignal(void) {
    try {
        return new CManualResetEvent(false);
    } catch (...) {
        return nullptr;
    }
}

TOLV_API void TOLVSetSynchronizationSignal(void* signal) {
    CAutoCriticalSection api(g_APICriticalSection);
    g_PlaySyncEvent = static_cast<CManualResetEvent*>(signal);
}

TOLV_API void TOLVSynchronizationSignalSetEvent(void* signal) {
    if (signal != nullptr) static_cast<CManualResetEvent*>(signal)->SetEvent();
}

TOLV_API void TOLVDestroySynchronizationSignal(void* signal) {
    if (signal == nullptr) return;
    {
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_PlaySyncEvent == signal) g_PlaySyncEvent = nullptr;
    }
    delete static_cast<CManualResetEvent*>(signal);
}

TOLV_API void TOLVSynchronizationSignalResetEvent(void* signal) {
    if (signal != nullptr) static_cast<CManualResetEvent*>(signal)->ResetEvent();
}

}  // extern "C"

namespace {

// Playback's part in the session: the relays on at every connect, the default transmission rate
// of a module with its own microcontroller, the stream handed to each new connection and taken
// back at a loss, and the output switched off when the session ends.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kDeviceOpened, [] {
            ForgetOutputConfig();
            SetRelays(true);
        });
        RegisterSessionHook(SessionPoint::kMcuModuleConnected, [] {
            ForgetTransmissionRates();
            UpdateMCUTransmissionRate(800, 1023, 800, 1023);
        });
        RegisterPlaybackHandover(HandPlaybackToDevice);
        RegisterSessionHook(SessionPoint::kDeviceLost, PlaybackDeviceLost);
        RegisterSessionHook(SessionPoint::kSessionEnding,
                            [] { TOLVSetOutputFunction(OUTPUT_OFF); });
    }
} s_sessionHooksRegistrar;

}  // namespace
