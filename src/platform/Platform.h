// Events, critical sections, threads and sleeps with Windows-shaped names and semantics.
//
// Every other module uses these names, never the system calls directly. The POSIX variant
// (Linux and macOS) lives in sync_posix.cpp, the Windows variant in sync_windows.cpp; the
// clock that timed waits are measured on is chosen by the wait-clock module of each platform.
#pragma once

#include <cstdint>

// Identifier of a thread; 0 means that there is no thread.
using THREAD_HANDLE = std::uintptr_t;
using ThreadStartFunction = void* (*)(void*);

// A wait of this many milliseconds has no deadline in WaitForMultipleObjects. For every other
// wait it is an ordinary (very long, about 49.7 days) timeout.
constexpr unsigned kInfiniteWait = 0xFFFFFFFFu;

// The code a timed wait returns when it timed out (ETIMEDOUT on POSIX, WAIT_TIMEOUT on
// Windows). Callers only ever test a wait's result against 0.
unsigned WaitTimeoutCode();

// Abstract event. The slot order of the virtual operations is fixed: set, reset, wait, timed
// wait. Events are never deleted through this base.
class CEvent {
  public:
    virtual void SetEvent() = 0;
    virtual void ResetEvent() = 0;
    virtual void Wait() = 0;
    // 0 when the event was (or became) signalled within ms, the timeout code otherwise.
    virtual unsigned WaitTimeout(unsigned ms) = 0;

  protected:
    CEvent() = default;
    ~CEvent() = default;
};

// Shared implementation of both event kinds; the state lives in the platform file.
class CPlatformEvent : public CEvent {
  public:
    CPlatformEvent(const CPlatformEvent&) = delete;
    CPlatformEvent& operator=(const CPlatformEvent&) = delete;

    void SetEvent() override;
    void ResetEvent() override;
    void Wait() override;
    unsigned WaitTimeout(unsigned ms) override;

    // The system event object behind this event (Windows); nullptr on POSIX.
    void* NativeHandle() const;

    struct State;

  protected:
    CPlatformEvent(bool manualReset, bool signalled);
    ~CPlatformEvent();

  private:
    State* m_state = nullptr;
};

// Signalled state is consumed by the one waiter it releases.
class CAutoResetEvent final : public CPlatformEvent {
  public:
    explicit CAutoResetEvent(bool signalled = false) : CPlatformEvent(false, signalled) {}
};

// Signalled state stays until ResetEvent; every waiter is released.
class CManualResetEvent final : public CPlatformEvent {
  public:
    explicit CManualResetEvent(bool signalled = false) : CPlatformEvent(true, signalled) {}
};

// Recursive lock: the owning thread may lock it again; each Lock needs its Unlock.
class CSimpleCriticalSection {
  public:
    CSimpleCriticalSection();
    ~CSimpleCriticalSection();
    CSimpleCriticalSection(const CSimpleCriticalSection&) = delete;
    CSimpleCriticalSection& operator=(const CSimpleCriticalSection&) = delete;

    void Lock();
    void Unlock();
    bool TryLock();  // true when acquired

    struct State;

  private:
    State* m_state = nullptr;
};

// Scoped guard: locks in the constructor, unlocks in the destructor.
class CAutoCriticalSection {
  public:
    explicit CAutoCriticalSection(CSimpleCriticalSection& cs) : m_cs(cs) { m_cs.Lock(); }
    ~CAutoCriticalSection() { m_cs.Unlock(); }
    CAutoCriticalSection(const CAutoCriticalSection&) = delete;
    CAutoCriticalSection& operator=(const CAutoCriticalSection&) = delete;

  private:
    CSimpleCriticalSection& m_cs;
};

// The event's WaitTimeout(ms).
unsigned WaitForSingleObject(CEvent* event, unsigned ms);

// Index of the first signalled event (lower indices win; an auto-reset event is consumed only
// when its index is returned), or the timeout code when ms passes. waitAll is not supported
// and returns the timeout code at once. ms == kInfiniteWait waits without a deadline.
unsigned WaitForMultipleObjects(unsigned count, CEvent* const* events, int waitAll, unsigned ms);

// Starts a thread with default attributes; true on success (the handle is then non-zero).
bool CreateThread(THREAD_HANDLE* thread, ThreadStartFunction start, void* argument);
// Waits for the thread to end. A handle of 0 is ignored.
void JoinThread(THREAD_HANDLE thread);
// POSIX: does nothing (the thread is neither joined nor detached). Windows: closes the handle.
void CloseThread(THREAD_HANDLE thread);
// Lets the thread release its resources by itself when it ends; it can no longer be joined.
void DetachThread(THREAD_HANDLE thread);
// True when the calling thread is the one the handle names.
bool IsCurrentThread(THREAD_HANDLE thread);
// Windows raises the calling thread to the highest normal priority; POSIX does nothing.
void RaiseThreadPriority();
// Closes a file descriptor; true on success.
bool CloseHandle(int descriptor);
// Sleeps ms milliseconds, resuming after signal interruptions with the time that remains.
void SleepEx(unsigned ms);
