// Events, critical sections and threads on the Windows system objects.
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <process.h>
#include <windows.h>

#include "platform/Platform.h"

unsigned WaitTimeoutCode() {
    return WAIT_TIMEOUT;
}

struct CPlatformEvent::State {
    HANDLE event;
};

CPlatformEvent::CPlatformEvent(bool manualReset, bool signalled) : m_state(new State) {
    m_state->event =
        ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, signalled ? TRUE : FALSE, nullptr);
}

CPlatformEvent::~CPlatformEvent() {
    if (m_state->event != nullptr) ::CloseHandle(m_state->event);
    delete m_state;
}

void CPlatformEvent::SetEvent() {
    ::SetEvent(m_state->event);
}
void CPlatformEvent::ResetEvent() {
    ::ResetEvent(m_state->event);
}
void CPlatformEvent::Wait() {
    ::WaitForSingleObject(m_state->event, INFINITE);
}

unsigned CPlatformEvent::WaitTimeout(unsigned ms) {
    DWORD rc = ::WaitForSingleObject(m_state->event, ms);
    return rc == WAIT_OBJECT_0 ? 0 : WAIT_TIMEOUT;
}

struct CSimpleCriticalSection::State {
    CRITICAL_SECTION section;
};

CSimpleCriticalSection::CSimpleCriticalSection() : m_state(new State) {
    ::InitializeCriticalSection(&m_state->section);
}

CSimpleCriticalSection::~CSimpleCriticalSection() {
    ::DeleteCriticalSection(&m_state->section);
    delete m_state;
}

void CSimpleCriticalSection::Lock() {
    ::EnterCriticalSection(&m_state->section);
}
void CSimpleCriticalSection::Unlock() {
    ::LeaveCriticalSection(&m_state->section);
}
bool CSimpleCriticalSection::TryLock() {
    return ::TryEnterCriticalSection(&m_state->section) != 0;
}

unsigned WaitForSingleObject(CEvent* event, unsigned ms) {
    if (event == nullptr) return WAIT_TIMEOUT;
    return event->WaitTimeout(ms);
}

// The system's own multi-wait, over the handles of the library's events.
unsigned WaitForMultipleObjects(unsigned count, CEvent* const* events, int waitAll, unsigned ms) {
    if (events == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS) return WAIT_TIMEOUT;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (unsigned i = 0; i < count; ++i) {
        auto* platformEvent = static_cast<CPlatformEvent*>(events[i]);
        handles[i] = platformEvent->NativeHandle();
    }
    DWORD rc = ::WaitForMultipleObjects(count, handles, waitAll ? TRUE : FALSE, ms);
    if (rc >= WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + count) return rc - WAIT_OBJECT_0;
    return WAIT_TIMEOUT;
}

void* CPlatformEvent::NativeHandle() const {
    return m_state->event;
}

namespace {
struct ThreadStart {
    ThreadStartFunction start;
    void* argument;
};

unsigned __stdcall ThreadTrampoline(void* p) {
    ThreadStart s = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    s.start(s.argument);
    return 0;
}
}  // namespace

bool CreateThread(THREAD_HANDLE* thread, ThreadStartFunction start, void* argument) {
    if (thread == nullptr || start == nullptr) return false;
    auto* s = new ThreadStart{start, argument};
    uintptr_t h = _beginthreadex(nullptr, 0, ThreadTrampoline, s, 0, nullptr);
    if (h == 0) {
        delete s;
        *thread = 0;
        return false;
    }
    *thread = static_cast<THREAD_HANDLE>(h);
    return true;
}

void JoinThread(THREAD_HANDLE thread) {
    if (thread == 0) return;
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(thread), INFINITE);
}

void CloseThread(THREAD_HANDLE thread) {
    if (thread != 0) ::CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void DetachThread(THREAD_HANDLE thread) { CloseThread(thread); }

bool IsCurrentThread(THREAD_HANDLE thread) {
    return thread != 0 && ::GetThreadId(reinterpret_cast<HANDLE>(thread)) == ::GetCurrentThreadId();
}

void RaiseThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

bool CloseHandle(int descriptor) {
    return descriptor >= 0 && _close(descriptor) == 0;
}

void SleepEx(unsigned ms) {
    ::SleepEx(ms, FALSE);
}
