// Session state: the connect thread and the application's connection listener. The API lock
// and the connected flag belong to the access discipline (protocol/Discipline.h), which every
// user of the session needs with it.
//
// Threads: application threads (every exported function, under the API lock), the connect
// thread (search, notify, teardown), the hot-plug monitor (wakes the connect thread).
#pragma once

#include <atomic>

#include "platform/Platform.h"
#include "protocol/Discipline.h"

using ConnectedCallback = void (*)(bool connected);

// Port the next search opens: n of the node pattern; -1 scans every port.
extern std::atomic<int> g_nPortNumber;
// The listener told of every connect and disconnect.
extern std::atomic<ConnectedCallback> g_ConnectedCallback;

// Set when TOLVConnect's own listener is told of a connect.
extern CAutoResetEvent g_hConnectedEvent;

// The first test of every setter: a session exists when a device is open or a listener is
// registered. Setters return -1 otherwise.
bool SessionStarted();

// Stores the listener, then starts the connect thread unless one runs. False when the thread
// could not be created.
bool DoInit(ConnectedCallback callback);
// Loads device-resident data after every connect, under the API lock.
void ConnectedPostProcessing();
// The connect thread's look at the port after it was woken: true while the connection stands.
// A firmware update that restarts the device and finds it again keeps the connection; the
// connect-time steps for the restarted device run inside the update (session/LoaderRestart).
bool ConnectionStands();
// Ends the session: output off, connect and poll threads stopped, settings reset. The wait for
// the connect thread is bounded on Windows (3000 ms) and not elsewhere.
void DoFree();
// Tests: the bound of DoFree's wait for the connect thread (kInfiniteWait: none); 0 restores
// the platform's own.
void SetConnectThreadEndBound(unsigned ms);
// TOLVConnect's body: scan or open port, then wait up to timeoutMs for the connect.
bool ConnectWithTimeout(int port, unsigned timeoutMs);
