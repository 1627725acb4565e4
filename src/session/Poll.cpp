// The poll thread: reads the port whenever no command owns it; while a stream runs it reads the
// acknowledgement of each stream packet.
#include "session/Poll.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "link/Device.h"
#include "playback/PlayState.h"
#include "session/Session.h"

CSimpleCriticalSection g_InterruptCriticalSection;
CManualResetEvent g_hPollingEvent;
CManualResetEvent g_hProcessRequestEvent;

namespace {

// Poll thread bookkeeping, touched by the connect thread and TOLVFree (start, stop) and the
// poll thread itself. s_PollControl serialises starts and stops.
CSimpleCriticalSection s_PollControl;
THREAD_HANDLE s_pPollingThread = 0;
std::atomic<int> s_bStopPool{0};
// Ends the streaming loop of a poll thread that is being stopped.
CManualResetEvent s_hStopPollEvent;
std::atomic<SamplingReportHandler> s_SamplingHandler{nullptr};

constexpr int kReplyLength = 64;

// The idle read window. A pause must not return while the poll thread is inside an idle read,
// or that read could take the reply of the command that paused it; and no idle read may begin
// once a pause returned. The poll thread decides to read and marks the window under this mutex;
// a pause clears the polling event under it and waits for the window to close.
std::mutex s_ReadWindowMutex;
std::condition_variable s_ReadWindowClosed;
bool s_bInIdleRead = false;
thread_local bool t_isPollThread = false;

void CloseIdleReadWindow() {
    std::lock_guard<std::mutex> lock(s_ReadWindowMutex);
    s_bInIdleRead = false;
    s_ReadWindowClosed.notify_all();
}

// One poll while a stream runs: acknowledgements, until playback stops.
void PollStream() {
    // The stop of the poll thread comes first: a read that keeps failing re-arms the read event
    // at once, and the lowest signalled index wins.
    CEvent* events[] = {&s_hStopPollEvent, &g_hStopReceiveEvent, &g_hReadEvent};
    for (;;) {
        const unsigned which = WaitForMultipleObjects(3, events, 0, kInfiniteWait);
        if (which == 0) return;  // the poll thread is being stopped
        if (which == 1) {
            g_hProcessRequestEvent.SetEvent();  // let a waiting command through
            return;
        }
        if (which != 2) continue;
        unsigned char reply[kReplyLength];
        if (DeviceReadData(reply, kReplyLength) < 1) {
            SleepEx(10);
            g_hReadEvent.SetEvent();  // retry the read
        } else {
            g_hSendEvent.SetEvent();
        }
    }
}

// One poll while idle: whatever the device sends by itself. Entered with the read window open.
void PollIdle() {
    unsigned char data[kReplyLength];
    int n = DeviceReadData(data, kReplyLength);
    CloseIdleReadWindow();
    if (n <= 0) {
        SleepEx(10);
        return;
    }
    if (s_ECGGoing) {
        // The stream started while this read was under way: what came is the acknowledgement
        // of the first packet. Hand it over as the streaming poll would.
        if (g_hReadEvent.WaitTimeout(200) == 0) g_hSendEvent.SetEvent();
        return;
    }
    g_hProcessRequestEvent.SetEvent();
    {
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        SamplingReportHandler handler = s_SamplingHandler.load();
        if (g_bPPGSamplingRunning && handler != nullptr && n >= 8 && data[0] == 0xAD &&
            data[1] == 0xFF) {
            handler(data, n);
        }
        g_hProcessRequestEvent.ResetEvent();
    }
}

void* USBDataPollThread(void*) {
    RaiseThreadPriority();
    t_isPollThread = true;
    while (s_bStopPool == 0) {
        bool paused = false;
        bool streaming = false;
        {
            std::lock_guard<std::mutex> lock(s_ReadWindowMutex);
            if (g_hPollingEvent.WaitTimeout(0) != 0) {
                paused = true;
            } else if (s_ECGGoing) {
                streaming = true;
            } else {
                s_bInIdleRead = true;
            }
        }
        if (paused) {
            SleepEx(10);
        } else if (streaming) {
            PollStream();
        } else {
            PollIdle();
        }
    }
    return nullptr;
}

}  // namespace

void StartPollingThread() {
    // A command may be in the middle of its exchange (the application runs commands as soon as
    // it is told of the connect): the poll thread starts only once that exchange is over.
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    CAutoCriticalSection control(s_PollControl);
    if (s_pPollingThread != 0) return;
    s_bStopPool = 0;
    s_hStopPollEvent.ResetEvent();
    g_hPollingEvent.SetEvent();
    THREAD_HANDLE thread = 0;
    if (CreateThread(&thread, USBDataPollThread, nullptr)) s_pPollingThread = thread;
}

void StopPollingThread() {
    THREAD_HANDLE thread = 0;
    {
        CAutoCriticalSection control(s_PollControl);
        s_bStopPool = 1;
        g_hPollingEvent.ResetEvent();
        s_hStopPollEvent.SetEvent();
        thread = s_pPollingThread;
        s_pPollingThread = 0;
    }
    if (thread == 0) return;
    if (IsCurrentThread(thread)) {
        CloseThread(thread);  // the poll thread ends by itself after this cycle
        return;
    }
    JoinThread(thread);
    CloseThread(thread);
}

void PausePollingThread() {
    std::unique_lock<std::mutex> lock(s_ReadWindowMutex);
    g_hPollingEvent.ResetEvent();
    if (t_isPollThread) return;
    s_ReadWindowClosed.wait(lock, [] { return !s_bInIdleRead; });
}

void ResumePollingThread() {
    // Resuming a poll thread that is being stopped would let it poll once more.
    if (s_bStopPool == 0) g_hPollingEvent.SetEvent();
}

bool IsPollingThreadRunning() {
    CAutoCriticalSection control(s_PollControl);
    return s_pPollingThread != 0;
}

void SetSamplingReportHandler(SamplingReportHandler handler) {
    s_SamplingHandler = handler;
}

CDeviceCommand::CDeviceCommand(ApiLock api) : m_api(api == kWithApiLock) {
    if (m_api) g_APICriticalSection.Lock();
    g_InterruptCriticalSection.Lock();
    if (g_bConnected && IsPlayingOrSampling()) {
        // Wait for the stream's gap. The play thread itself holds the gap open while it builds
        // a packet, so its own commands pass at once. A gap comes with every acknowledged
        // packet (at most 40 ms apart); a stream that has stalled for seconds (device lost or
        // silent) fails the command instead of hanging it.
        constexpr int kStalledStreamSlices = 30;  // x 100 ms
        int slices = 0;
        while (g_hProcessRequestEvent.WaitTimeout(100) != 0) {
            if (!IsPlayingOrSampling()) {
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
