// The poll thread, and the discipline by which a device command takes the link from it or, while
// a stream runs, fits in between two stream packets.
//
// Lock order of the library: g_APICriticalSection, then g_InterruptCriticalSection, then
// g_AccessCriticalSection. Exactly one poll thread runs at a time: stopping joins it (unless the
// poll thread itself asks), so no poll read can reach a port that a new search has opened.
#pragma once

#include "platform/Platform.h"

// Held by a command for its whole exchange, and by the streaming side around each packet and
// each unsolicited reply it handles.
extern CSimpleCriticalSection g_InterruptCriticalSection;
// Manual-reset: set = polling allowed; clear = paused.
extern CManualResetEvent g_hPollingEvent;
// Manual-reset: set = a command may use the link now (a gap in the streaming traffic).
extern CManualResetEvent g_hProcessRequestEvent;

void StartPollingThread();
// Asks the poll thread to end and waits for it (unless called by the poll thread itself).
void StopPollingThread();
// Stops idle polling; returns once no idle read is under way (at most one read budget).
void PausePollingThread();
void ResumePollingThread();
bool IsPollingThreadRunning();

// Handler of unsolicited PPG sampling reports (bytes, count), called by the poll thread under
// the interrupt lock while sampling runs. nullptr = none.
using SamplingReportHandler = void (*)(const unsigned char* data, int count);
void SetSamplingReportHandler(SamplingReportHandler handler);

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
