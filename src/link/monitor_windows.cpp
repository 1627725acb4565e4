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
    THREAD_HANDLE thread = 0;
    HWND window = nullptr;
    wchar_t className[128] = L"";
};

namespace {
void* WindowThread(void* argument) {
    auto* state = static_cast<CAutoMonitor::State*>(argument);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int i = 0; i < 1000; ++i) {
        std::swprintf(state->className, 128,
                      L"MsgMonitorWnd-TOLVAN{CE90C33A-530C-48ED-AD9B-797244F10596}-%03d", i);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = WindowProcedure;
        wc.hInstance = instance;
        wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = state->className;
        if (RegisterClassExW(&wc) == 0) continue;
        state->window = CreateWindowExW(0, state->className, L"title", WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                        nullptr, nullptr, instance, nullptr);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        UnregisterClassW(state->className, instance);
        return nullptr;
    }
    return nullptr;
}
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
    if (m_state->window != nullptr) PostMessageW(m_state->window, WM_QUIT, 0, 0);
    JoinThread(m_state->thread);
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
