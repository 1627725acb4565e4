// The serial port of the simulator: discovery, the lock file that claims a port against other
// processes, terminal set-up, identification, and blocking reads and writes with time budgets.
//
// One port per process. Reads and writes hold g_AccessCriticalSection (the innermost lock of the
// library) for their whole transfer; closing the port takes it too, so a port is never closed
// under a transfer in flight. The path and lock-file state is guarded by a private leaf lock, so
// the liveness check (hot-plug monitor) may run beside the connect thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Platform.h"

// The open port: a descriptor on Linux and macOS, a handle on Windows; -1 = none. Changed
// only under g_AccessCriticalSection; read anywhere.
extern std::atomic<std::int64_t> g_hDevice;
// Time budgets of one read and one write, in milliseconds.
extern unsigned g_nDeviceReadTimeout;
extern unsigned g_nDeviceWriteTimeout;
// Held for the whole of each read or write, and while the port is closed.
extern CSimpleCriticalSection g_AccessCriticalSection;

constexpr int kMaxScannedPort = 127;

// Up to `tries` passes of FindDevice(port); sleeps 1 s after each failed pass (also the last).
// 1 when the simulator was found and identified, else 0 (at once when the search is
// interrupted).
int DeviceConnect(int port, int tries);
// port -1: DoFindDevice(0 .. 127) in order, first success wins; else DoFindDevice(port).
int FindDevice(int port);
// Opens, locks, configures and identifies the node of port n. 1 when it holds the simulator.
int DoFindDevice(int n);
// Unlocks, forgets the path, closes the port. Safe against a transfer in flight.
void DeviceClose();
bool DeviceIsConnected();
// The number of ports opened so far by the search: names the connection that a liveness verdict
// was made on.
std::uint64_t DeviceConnection();
// DeviceClose, but only while the open port is still the one of `connection` (the hot-plug
// monitor's verdict on an earlier port must not close a port opened since).
void DeviceCloseConnection(std::uint64_t connection);
// Whether the node of the open port is still listed and the port has not hung up.
bool DeviceIsAlive();
// A read or write found the port hung up (end of file or an I/O error: the device went away,
// even if a node of the same name is back by now). Wakes the connect thread through the
// reconnect event; DeviceIsAlive is false until the next port is opened.
void NoteDeviceHangUp();
bool DeviceHungUp();
// True when the stored device path is not empty and equals path exactly.
bool DeviceCheckPath(const char* path);
// The node path of the identified port ("" when none).
std::string DevicePath();
// Path of the lock file this process holds ("" when none).
std::string DeviceLockFilePath();

// Reads exactly length bytes within the read budget; returns length, or 0 on a timeout (bytes
// already read are discarded), or the count so far on a read error or end of file.
int DeviceReadData(void* buffer, int length);
// The poll thread's idle read: as DeviceReadData, except that WakeIdleRead ends it at once while
// none of its bytes has arrived and nothing waits on the port (it then returns 0). Once a byte
// has come it reads on as DeviceReadData does, so a message is never cut in two.
int DeviceReadIdle(void* buffer, int length);
// Ends the idle read under way; an idle read that begins later returns at once, until
// ClearIdleReadWake.
void WakeIdleRead();
void ClearIdleReadWake();
// Writes length bytes within the write budget; returns length, 0 on a timeout, or the count so
// far on a write error. drain: wait until the bytes have been transmitted (macOS only).
int DeviceWriteData(const void* buffer, int length, int drain);
// Cancels outstanding asynchronous I/O on the port.
void DeviceCancelIO();

// Claims port n with its lock file. 1 when this process holds it.
int LockDeviceFile(int n);
void UnlockDeviceFile();
void UnlockDevice();

// Why the search did not take a port, the most telling kind last. A search pass keeps the most
// telling reason it met (the first of equals); a pass that finds no simulator publishes it as the
// last error text (TOLVGetLastErrorText), a pass that finds one clears that text.
enum class PortRefusal {
    kNone,
    kNoNode,
    kOther,
    kPermission,
    kLockDirectory,
    kLocked,
    kNotSimulator
};
void NotePortRefusal(PortRefusal kind, const std::string& text);
// Forgets the reasons of the previous pass.
void BeginSearchPass();
// The reason the pass in progress (or the last one) would publish; "" when none.
std::string SearchPassReason();

// Stores both budgets, then waits once for readability and once for writability.
void SetDeviceTimeoutSetting(unsigned readMs, unsigned writeMs);

// While interrupted (TOLVFree ends the session), the pauses of a port search end at once and
// DeviceConnect gives up after its current pass. SearchPause(ms) waits ms milliseconds, or less
// when the search is interrupted: true then.
void InterruptDeviceSearch(bool interrupt);
bool SearchPause(unsigned ms);

// Identification of the device on the open port, which DoFindDevice runs on every port it opens:
// true when it is the simulator (then its information records have been loaded). The protocol
// layer registers it at load (IsTargetDevice); with none registered no port is the simulator.
using PortIdentification = bool (*)();
void SetPortIdentification(PortIdentification identify);
bool IdentifyPort();
