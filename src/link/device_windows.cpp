// The serial port on Windows: the simulator is found in the USB device list, opened without
// sharing (no lock files), and read and written with overlapped transfers bounded by the
// read and write budgets.
#define WIN32_LEAN_AND_MEAN
// windows.h comes first: the other system headers rely on its types.
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <setupapi.h>
#include <usbiodef.h>
// clang-format on

#include <cstdint>
#include <cwchar>
#include <mutex>
#include <string>

#include "link/Device.h"

std::atomic<std::int64_t> g_hDevice{-1};
unsigned g_nDeviceReadTimeout = 100;
unsigned g_nDeviceWriteTimeout = 200;
CSimpleCriticalSection g_AccessCriticalSection;

namespace {

// Ports opened by the search; written under g_AccessCriticalSection.
std::atomic<std::uint64_t> s_connection{0};
std::mutex s_PathMutex;       // guards s_szDevicePath (leaf lock)
std::wstring s_szDevicePath;  // interface path of the identified device

HANDLE Handle() {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(g_hDevice.load()));
}

// The COM number in a friendly name such as "USB Serial Device (COM7)"; -1 when none.
int ComNumber(const wchar_t* friendlyName) {
    const wchar_t* com = std::wcsstr(friendlyName, L"COM");
    if (com == nullptr) return -1;
    int n = 0;
    bool any = false;
    for (const wchar_t* p = com + 3; *p >= L'0' && *p <= L'9'; ++p) {
        n = n * 10 + (*p - L'0');
        any = true;
    }
    return any ? n : -1;
}

bool PathMatchesSimulator(const std::wstring& path) {
    std::wstring lower = path;
    for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
    return lower.find(L"vid_04d8&pid_000a") != std::wstring::npos;
}

// Visits the present USB device interfaces (path, COM number); stops when visit returns true.
template <typename Visit>
bool ForEachUsbInterface(Visit visit) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool stop = false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; !stop && SetupDiEnumDeviceInterfaces(set, nullptr,
                                                           &GUID_DEVINTERFACE_USB_DEVICE, i, &data);
         ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        if (size == 0) continue;
        std::string storage(size, '\0');
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(&storage[0]);
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &info)) continue;
        wchar_t name[256] = L"";
        SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                          reinterpret_cast<BYTE*>(name), sizeof name - 2, nullptr);
        stop = visit(std::wstring(detail->DevicePath), ComNumber(name));
    }
    SetupDiDestroyDeviceInfoList(set);
    return stop;
}

bool OpenAndIdentify(const std::wstring& path) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = 100;
    timeouts.WriteTotalTimeoutConstant = 200;
    SetupComm(h, 4096, 4096);
    SetCommTimeouts(h, &timeouts);
    {
        CAutoCriticalSection access(g_AccessCriticalSection);
        g_hDevice = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(h));
        ++s_connection;
    }
    if (IdentifyPort()) {
        std::lock_guard<std::mutex> lock(s_PathMutex);
        s_szDevicePath = path.substr(0, 512);
        return true;
    }
    DeviceClose();
    return false;
}

// One overlapped transfer bounded by budgetMs; returns the bytes transferred.
template <typename Start>
int Transfer(Start start, unsigned budgetMs) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return 0;
    DWORD done = 0;
    if (!start(&overlapped, &done)) {
        if (GetLastError() == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, budgetMs) != WAIT_OBJECT_0) {
                CancelIo(Handle());
            }
            GetOverlappedResult(Handle(), &overlapped, &done, TRUE);
        } else {
            done = 0;
        }
    }
    CloseHandle(overlapped.hEvent);
    return static_cast<int>(done);
}

}  // namespace

int DeviceConnect(int port, int tries) {
    for (int i = 0; i < tries; ++i) {
        if (FindDevice(port) == 1) return 1;
        if (SearchPause(1000)) return 0;
    }
    return 0;
}

int FindDevice(int port) {
    return ForEachUsbInterface([port](const std::wstring& path, int com) {
        if (!PathMatchesSimulator(path)) return false;
        if (port != -1 && port != com) return false;
        return OpenAndIdentify(path);
    })
               ? 1
               : 0;
}

int DoFindDevice(int n) {
    return FindDevice(n);
}

void DeviceClose() {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1) return;
    {
        std::lock_guard<std::mutex> lock(s_PathMutex);
        s_szDevicePath.clear();
    }
    ::CloseHandle(Handle());
    g_hDevice = -1;
}

bool DeviceIsConnected() {
    return g_hDevice != -1;
}

std::uint64_t DeviceConnection() {
    return s_connection;
}

void DeviceCloseConnection(std::uint64_t connection) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (s_connection == connection) DeviceClose();
}

bool DeviceCheckPath(const char*) {
    return false;
}

std::string DevicePath() {
    std::lock_guard<std::mutex> lock(s_PathMutex);
    std::string narrow;
    for (wchar_t c : s_szDevicePath) narrow += static_cast<char>(c < 128 ? c : '?');
    return narrow;
}

std::string DeviceLockFilePath() {
    return std::string();
}

bool DeviceIsAlive() {
    std::wstring path;
    {
        std::lock_guard<std::mutex> lock(s_PathMutex);
        path = s_szDevicePath;
    }
    if (path.empty() || g_hDevice == -1) return false;
    return ForEachUsbInterface(
        [&path](const std::wstring& candidate, int) { return candidate == path; });
}

int DeviceReadData(void* buffer, int length) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    return Transfer(
        [&](OVERLAPPED* o, DWORD* done) {
            return ReadFile(Handle(), buffer, static_cast<DWORD>(length), done, o) != 0;
        },
        g_nDeviceReadTimeout);
}

namespace {

// Set by WakeIdleRead: the idle read under way is cancelled. Manual reset, never closed.
HANDLE IdleWakeEvent() {
    static HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return wake;
}

}  // namespace

int DeviceReadIdle(void* buffer, int length) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    HANDLE wake = IdleWakeEvent();
    if (wake == nullptr) return DeviceReadData(buffer, length);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return 0;
    DWORD done = 0;
    bool cancelled = false;
    if (!ReadFile(Handle(), buffer, static_cast<DWORD>(length), &done, &overlapped)) {
        if (GetLastError() == ERROR_IO_PENDING) {
            HANDLE handles[] = {overlapped.hEvent, wake};
            const DWORD which = WaitForMultipleObjects(2, handles, FALSE, g_nDeviceReadTimeout);
            if (which != WAIT_OBJECT_0) {
                cancelled = which == WAIT_OBJECT_0 + 1;  // woken, not timed out
                CancelIoEx(Handle(), &overlapped);
            }
            GetOverlappedResult(Handle(), &overlapped, &done, TRUE);
        } else {
            done = 0;
        }
    }
    CloseHandle(overlapped.hEvent);
    // A read woken after part of a message came reads the rest, so that no part of it is
    // left on the port for the next reader.
    if (cancelled && done > 0 && done < static_cast<DWORD>(length)) {
        done += static_cast<DWORD>(
            DeviceReadData(static_cast<char*>(buffer) + done, length - static_cast<int>(done)));
    }
    return static_cast<int>(done);
}

void WakeIdleRead() {
    if (HANDLE wake = IdleWakeEvent()) SetEvent(wake);
}

void ClearIdleReadWake() {
    if (HANDLE wake = IdleWakeEvent()) ResetEvent(wake);
}

int DeviceWriteData(const void* buffer, int length, int) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice == -1 || buffer == nullptr || length <= 0) return 0;
    return Transfer(
        [&](OVERLAPPED* o, DWORD* done) {
            return WriteFile(Handle(), buffer, static_cast<DWORD>(length), done, o) != 0;
        },
        g_nDeviceWriteTimeout);
}

void DeviceCancelIO() {
    CAutoCriticalSection access(g_AccessCriticalSection);
    if (g_hDevice != -1) CancelIo(Handle());
}

int LockDeviceFile(int) {
    return 1;
}
void UnlockDeviceFile() {}
void UnlockDevice() {}

void SetDeviceTimeoutSetting(unsigned readMs, unsigned writeMs) {
    CAutoCriticalSection access(g_AccessCriticalSection);
    g_nDeviceReadTimeout = readMs;
    g_nDeviceWriteTimeout = writeMs;
}
