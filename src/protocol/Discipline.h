// The API access discipline: the library's locks, and the rules by which device commands share
// the serial link with the poll thread and the stream of sample packets. Every folder that
// talks to the device, and every exported function, takes its locks from here.
//
// Lock order. Always taken in this order, never in another:
//   1. g_APICriticalSection - every exported function, for its whole body (recursive, so that
//      exported functions may call each other); the connect thread for its relay step and the
//      load after each connect; the play thread for its first packet.
//   2. g_InterruptCriticalSection - a device command for its whole exchange; the play thread
//      (or the simulation timer's tick) around each packet; the poll thread around each
//      unsolicited report it handles.
//   3. g_AccessCriticalSection (link/Device.h) - one read or one write on the port.
// The playback change lock is only ever tried, never waited for. Private leaf locks (the poll
// window below, the port's path lock, the poll thread's start/stop lock) hold no other lock.
//
// Thread-safety contract:
// - Application threads call exported functions; each holds the API lock for its whole body,
//   so API calls never interleave. Any API call may run during playback: a device command then
//   waits for the gap that the play thread opens between two packets.
// - A device command holds CDeviceCommand for its whole exchange: API lock (unless it runs on
//   the play thread while that builds a packet), interrupt lock, then either the stream's gap
//   (connected and streaming) or a paused poll thread whose idle read has finished.
// - The poll thread reads whenever no command holds the link; it takes only the interrupt lock
//   (idle reports) and the access lock (inside reads).
// - Callbacks run on library threads: the connection callback on the connect thread with no
//   library lock held; the output-signal, pacing, PPG and synchronisation callbacks inside the
//   packet builder. They must return quickly and must not call TOLVFree.
#pragma once

#include <atomic>

#include "link/Device.h"
#include "platform/NoThrow.h"
#include "platform/Platform.h"

// ---- Locks -----------------------------------------------------------------------------------
extern CSimpleCriticalSection g_APICriticalSection;
extern CSimpleCriticalSection g_InterruptCriticalSection;

// ---- Activity of the session and the stream ------------------------------------------------
// True from the connect notification to the disconnect notification. Written by the connect
// thread only; read anywhere.
extern std::atomic<int> g_bConnected;
// Playback is running: set by the packet builder when a stream packet has been written,
// cleared by a stop (playback).
extern std::atomic<bool> s_ECGGoing;
// PPG photodiode sampling is running (PPG sampling).
extern std::atomic<bool> g_bPPGSamplingRunning;

// Playback or PPG sampling runs (what TOLVIsPlaying reports).
inline bool IsPlayingOrSampling() {
    return s_ECGGoing.load() || g_bPPGSamplingRunning.load();
}

// ---- Stream handshake between the play thread and the poll thread ---------------------------
// Auto-reset: a stream packet went out, its acknowledgement is due (set by the play thread).
extern CAutoResetEvent g_hReadEvent;
// Auto-reset: the acknowledgement was consumed, the next packet may go (set by the poll thread).
extern CAutoResetEvent g_hSendEvent;
// Manual-reset: playback stops (set by the play thread as it leaves its loop).
extern CManualResetEvent g_hStopReceiveEvent;
// Manual-reset: set = a command may use the link now (a gap in the streaming traffic). Set by
// the play thread before it asks for the interrupt lock, and by the poll thread at a stop and
// around each unsolicited report.
extern CManualResetEvent g_hProcessRequestEvent;

// ---- The poll thread's gate ----------------------------------------------------------------
// Manual-reset: set = polling allowed; clear = paused.
extern CManualResetEvent g_hPollingEvent;

// Stops idle polling; returns once no idle read is under way (at most one read budget), so the
// reply of the command that paused cannot be taken by the poll thread. From the poll thread
// itself it only clears the gate.
void PausePollingThread();
// Allows polling again, unless the poll thread is being stopped.
void ResumePollingThread();

// The poll thread's start and stop (session/Poll): EnablePolling clears the stop and opens the
// gate; DisablePolling asks the poll thread to end and closes the gate, which resumes no longer
// open until the next EnablePolling.
void EnablePolling();
void DisablePolling();
bool PollingDisabled();

// What the poll thread does next, decided under the window lock so that a pause cannot slip in
// between the decision and an idle read.
enum class PollTurn {
    kPaused,    // the gate is closed: sleep and look again
    kStream,    // playback runs: read acknowledgements
    kIdleRead,  // read whatever the device sends by itself; the idle read window is now open
};
PollTurn BeginPollTurn();
// Closes the idle read window as soon as the idle read returned.
void CloseIdleReadWindow();
// Marks the calling thread as the poll thread.
void MarkPollThread();

// Resumes polling when it goes out of scope.
class CAutoResumePolling {
  public:
    CAutoResumePolling() = default;
    ~CAutoResumePolling() { ResumePollingThread(); }
    CAutoResumePolling(const CAutoResumePolling&) = delete;
    CAutoResumePolling& operator=(const CAutoResumePolling&) = delete;
};

// The access discipline of one device command, for the scope of the object: API lock (unless
// the caller is the play thread or otherwise must not take it), interrupt lock, resume guard;
// then either the stream's gap (when connected and playing) or a paused poll thread. Ready()
// is false when the link can't be had: the device went away while the command waited for a
// gap. Then the command must not touch the link.
class CDeviceCommand {
  public:
    enum ApiLock { kWithApiLock, kNoApiLock };

    explicit CDeviceCommand(ApiLock api = kWithApiLock);
    ~CDeviceCommand();
    CDeviceCommand(const CDeviceCommand&) = delete;
    CDeviceCommand& operator=(const CDeviceCommand&) = delete;

    bool Ready() const { return m_ready; }

  private:
    bool m_api;
    bool m_ready = true;
};

// The frame of an exported device operation: command() runs under the access discipline of one
// device command; fallback when no port is open, when the link cannot be had, or when anything
// is thrown.
template <typename R, typename F>
R RunDeviceCommand(R fallback, F command) noexcept {
    return NoThrow(fallback, [&]() -> R {
        if (!DeviceIsConnected()) return fallback;
        CDeviceCommand discipline;
        if (!discipline.Ready()) return fallback;
        return command();
    });
}
