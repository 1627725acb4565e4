// The poll thread: reads the port whenever no command owns it; while a stream runs it reads the
// acknowledgement of each stream packet.
#include "session/Poll.h"

#include "link/Device.h"

namespace {

// Poll thread bookkeeping, touched by the connect thread and TOLVFree (start, stop) and the
// poll thread itself. s_PollControl serialises starts and stops.
CSimpleCriticalSection s_PollControl;
THREAD_HANDLE s_pPollingThread = 0;
// Ends the streaming loop of a poll thread that is being stopped.
CManualResetEvent s_hStopPollEvent;

constexpr int kReplyLength = 64;

// Written during static initialisation only; read by the poll thread.
SamplingReportHandler s_samplingReportHandler = nullptr;

bool IsSamplingReport(const unsigned char* data, int n) {
    return n >= 8 && data[0] == 0xAD && data[1] == 0xFF;
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
    // A command that pauses polling wakes this read, so it waits for no more than its own
    // exchange.
    int n = DeviceReadIdle(data, kReplyLength);
    CloseIdleReadWindow();
    if (n <= 0) {
        s_hStopPollEvent.WaitTimeout(10);  // 10 ms, cut short when the poll thread is stopped
        return;
    }
    if (s_ECGGoing) {
        // The stream started while this read was under way: what came is the acknowledgement
        // of the first packet. Hand it over as the streaming poll would.
        if (g_hReadEvent.WaitTimeout(200) == 0) g_hSendEvent.SetEvent();
        return;
    }
    // A sampling report goes to its handler while sampling runs; anything else the device sent
    // by itself is dropped. A command waiting for the link is let through meanwhile.
    g_hProcessRequestEvent.SetEvent();
    {
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        if (g_bPPGSamplingRunning && IsSamplingReport(data, n) && s_samplingReportHandler) {
            s_samplingReportHandler(data, n);
        }
        g_hProcessRequestEvent.ResetEvent();
    }
}

void* USBDataPollThread(void*) {
    RaiseThreadPriority();
    MarkPollThread();
    while (!PollingDisabled()) {
        switch (BeginPollTurn()) {
            case PollTurn::kPaused:
                s_hStopPollEvent.WaitTimeout(10);
                break;
            case PollTurn::kStream:
                PollStream();
                break;
            case PollTurn::kIdleRead:
                PollIdle();
                break;
        }
    }
    return nullptr;
}

}  // namespace

void RegisterSamplingReportHandler(SamplingReportHandler handler) {
    s_samplingReportHandler = handler;
}

void StartPollingThread() {
    // A command may be in the middle of its exchange (the application runs commands as soon as
    // it is told of the connect): the poll thread starts only once that exchange is over.
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    CAutoCriticalSection control(s_PollControl);
    if (s_pPollingThread != 0) return;
    EnablePolling();
    s_hStopPollEvent.ResetEvent();
    THREAD_HANDLE thread = 0;
    if (CreateThread(&thread, USBDataPollThread, nullptr)) s_pPollingThread = thread;
}

void StopPollingThread() {
    THREAD_HANDLE thread = 0;
    {
        CAutoCriticalSection control(s_PollControl);
        DisablePolling();
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
