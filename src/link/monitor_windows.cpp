// The hot-plug monitor of Windows: a hidden message window that receives the system's
// device-change broadcasts and wakes the connect thread; the connect thread's liveness check
// (device enumeration) decides whether the simulator is gone.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>
#include <map>
#include <mutex>

#include "link/Monitor.h"

namespace {

using NotifyFunction = void (*)(unsigned message, unsigned wParam, unsigned long lParam);
std::mutex s_mapMutex;
std::map<unsigned, NotifyFunction> g_mapNotifyEvent;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    NotifyFunction function = nullptr;
    {
        std::lock_guard<std::mutex> lock(s_mapMutex);
        auto it = g_mapNotifyEvent.find(message);
        if (it != g_mapNotifyEvent.end()) function = it->second;
    }
    if (function != nullptr) {
        function(message, static_cast<unsigned>(wParam), static_cast<unsigned long>(lParam));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

struct CAutoMonitor::State {
    CManualResetEvent active;
    CManualResetEvent stop;   // set at unload: the window thread closes its window and ends
    CManualResetEvent ended;  // set by the window thread as the last thing it does
    THREAD_HANDLE thread = 0;
};

namespace {

// Runs the window's messages until the stop event is set. The stop is an event rather than a
// WM_QUIT so that it also reaches a thread whose window does not exist yet (or could not be
// made, as on a system without a window station).
void PumpMessagesUntilStopped(HANDLE stop) {
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const DWORD rc = MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT);
        if (rc != WAIT_OBJECT_0 + 1) return;  // the stop, or a failed wait
    }
}

void* WindowThread(void* argument) {
    auto* state = static_cast<CAutoMonitor::State*>(argument);
    auto* stop = static_cast<HANDLE>(state->stop.NativeHandle());
    HINSTANCE instance = GetModuleHandleW(nullptr);
    wchar_t className[128] = L"";
    for (int i = 0; i < 1000 && state->stop.WaitTimeout(0) != 0; ++i) {
        std::swprintf(className, 128,
                      L"MsgMonitorWnd-TOLVAN{CE90C33A-530C-48ED-AD9B-797244F10596}-%03d", i);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = WindowProcedure;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = className;
        if (RegisterClassExW(&wc) == 0) continue;  // the name is taken: the next index
        HWND window = CreateWindowExW(0, className, L"title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                      instance, nullptr);
        // Without a window no device-change broadcast arrives; the thread still waits for the
        // stop, so that unloading finds it as always.
        PumpMessagesUntilStopped(stop);
        if (window != nullptr) DestroyWindow(window);
        UnregisterClassW(className, instance);
        break;
    }
    state->ended.SetEvent();
    return nullptr;
}

// How long unloading waits for the window thread. Inside the loader's lock (FreeLibrary) the
// thread cannot finish ending, so the wait is for its last step (the ended event), and bounded.
constexpr unsigned kWindowThreadStopMs = 2000;

}  // namespace

void RegisterNotifyEvent(unsigned message, NotifyFunction function) {
    std::lock_guard<std::mutex> lock(s_mapMutex);
    g_mapNotifyEvent[message] = function;
}

void WinEventCb(unsigned message, unsigned, unsigned long) {
    if (message == 537) ReconnectDevice();  // WM_DEVICECHANGE
}

bool ProbeDeviceAlive(bool (*isAlive)(), bool (*)(unsigned)) {
    return isAlive();
}

CAutoMonitor::CAutoMonitor() : m_state(new State) {
    if (!CreateThread(&m_state->thread, WindowThread, m_state)) m_state->thread = 0;
}

CAutoMonitor::~CAutoMonitor() {
    if (m_state->thread == 0) return;
    m_state->stop.SetEvent();
    // The thread's handle is signalled when the thread is already gone (at process exit the
    // system ends every other thread before the library's destructors run).
    HANDLE handles[2] = {static_cast<HANDLE>(m_state->ended.NativeHandle()),
                         reinterpret_cast<HANDLE>(m_state->thread)};
    ::WaitForMultipleObjects(2, handles, FALSE, kWindowThreadStopMs);
    CloseThread(m_state->thread);
    // The state stays: a late call of the public members after unload finds it intact.
}

// While connected, every device-change broadcast wakes the connect thread.
void CAutoMonitor::StartMonitor() {
    m_state->active.SetEvent();
    RegisterNotifyEvent(537, WinEventCb);
}

void CAutoMonitor::PauseMonitor() {
    m_state->active.ResetEvent();
    RegisterNotifyEvent(537, nullptr);
}

bool CAutoMonitor::IsMonitored() {
    return m_state->active.WaitTimeout(0) == 0;
}

CAutoMonitor g_AutoMonitor;
