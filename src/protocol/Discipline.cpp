// The API access discipline: the locks, the activity flags, the stream handshake events, the
// poll thread's gate with its idle read window, and the device command guard.
#include "protocol/Discipline.h"

#include <condition_variable>
#include <mutex>

#include "link/Device.h"

CSimpleCriticalSection g_APICriticalSection;
CSimpleCriticalSection g_InterruptCriticalSection;

std::atomic<int> g_bConnected{0};
std::atomic<bool> s_ECGGoing{false};
std::atomic<bool> g_bPPGSamplingRunning{false};

CAutoResetEvent g_hReadEvent;
CAutoResetEvent g_hSendEvent;
CManualResetEvent g_hStopReceiveEvent;
CManualResetEvent g_hProcessRequestEvent;

CManualResetEvent g_hPollingEvent;

namespace {

// Asks the poll thread to end; written by its start and stop (connect thread, TOLVFree), read by
// the poll thread and by every resume.
std::atomic<int> s_bStopPool{0};

// The idle read window. A pause must not return while the poll thread is inside an idle read,
// or that read could take the reply of the command that paused it; and no idle read may begin
// once a pause returned. The poll thread decides to read and marks the window under this mutex;
// a pause clears the polling event under it, wakes the idle read (which then ends at once unless
// a message is already arriving) and waits for the window to close.
std::mutex s_ReadWindowMutex;
std::condition_variable s_ReadWindowClosed;
bool s_bInIdleRead = false;
bool s_bWakePending = false;  // a wake-up of the idle read that no read has taken yet
thread_local bool t_isPollThread = false;

// Ends the idle read under way, if any. Caller holds s_ReadWindowMutex.
void WakeIdleReadLocked() {
    if (!s_bInIdleRead || s_bWakePending) return;
    s_bWakePending = true;
    WakeIdleRead();
}

// A pause wakes the idle read only while the device sends nothing by itself. While photodiode
// sampling runs, a report comes every few tens of milliseconds: the pause then lets the idle
// read take the next one, and the command has the quiet after it for its exchange (woken at
// once, the read would leave a report that is on its way to the command's reply read).
void WakeIdleReadForCommand() {
    if (g_bPPGSamplingRunning) return;
    WakeIdleReadLocked();
}

}  // namespace

void PausePollingThread() {
    std::unique_lock<std::mutex> lock(s_ReadWindowMutex);
    g_hPollingEvent.ResetEvent();
    if (t_isPollThread) return;
    WakeIdleReadForCommand();
    s_ReadWindowClosed.wait(lock, [] { return !s_bInIdleRead; });
}

void ResumePollingThread() {
    // Resuming a poll thread that is being stopped would let it poll once more.
    if (s_bStopPool == 0) g_hPollingEvent.SetEvent();
}

void EnablePolling() {
    s_bStopPool = 0;
    g_hPollingEvent.SetEvent();
}

void DisablePolling() {
    std::lock_guard<std::mutex> lock(s_ReadWindowMutex);
    s_bStopPool = 1;
    g_hPollingEvent.ResetEvent();
    WakeIdleReadLocked();  // a poll thread being stopped need not finish its idle read
}

bool PollingDisabled() {
    return s_bStopPool != 0;
}

PollTurn BeginPollTurn() {
    std::lock_guard<std::mutex> lock(s_ReadWindowMutex);
    if (g_hPollingEvent.WaitTimeout(0) != 0) return PollTurn::kPaused;
    if (s_ECGGoing) return PollTurn::kStream;
    if (s_bWakePending) {
        ClearIdleReadWake();  // meant for a read that has ended
        s_bWakePending = false;
    }
    s_bInIdleRead = true;
    return PollTurn::kIdleRead;
}

void CloseIdleReadWindow() {
    std::lock_guard<std::mutex> lock(s_ReadWindowMutex);
    s_bInIdleRead = false;
    s_ReadWindowClosed.notify_all();
}

void MarkPollThread() {
    t_isPollThread = true;
}

CDeviceCommand::CDeviceCommand(ApiLock api) : m_api(api == kWithApiLock) {
    if (m_api) g_APICriticalSection.Lock();
    g_InterruptCriticalSection.Lock();
    // Photodiode sampling alone streams nothing: its reports come while the poll thread reads
    // idle, and a pause takes the link from it as at any other time. Waiting for a report to
    // open a gap instead would stall a command whenever the module is silent (the read that
    // starts its reports, a stop after the module ceased sampling).
    if (g_bConnected && s_ECGGoing) {
        // Wait for the stream's gap. The play thread itself holds the gap open while it builds
        // a packet, so its own commands pass at once. A gap comes with every acknowledged
        // packet (at most 40 ms apart); a stream that has stalled for seconds (device lost or
        // silent) fails the command instead of hanging it.
        constexpr int kStalledStreamSlices = 30;  // x 100 ms
        int slices = 0;
        while (g_hProcessRequestEvent.WaitTimeout(100) != 0) {
            if (!s_ECGGoing) {
                PausePollingThread();  // the stream ended: take the link from the poll thread
                SleepEx(1);
                break;
            }
            if (!DeviceIsConnected() || ++slices >= kStalledStreamSlices) {
                m_ready = false;
                break;
            }
        }
    } else {
        PausePollingThread();
        SleepEx(1);
    }
}

CDeviceCommand::~CDeviceCommand() {
    ResumePollingThread();
    g_InterruptCriticalSection.Unlock();
    if (m_api) g_APICriticalSection.Unlock();
}
