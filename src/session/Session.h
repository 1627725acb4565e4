// Session state: the API lock, the connect thread and the application's connection listener.
//
// Threads: application threads (every exported function, under the API lock), the connect
// thread (search, notify, teardown), the hot-plug monitor (wakes the connect thread).
#pragma once

#include <atomic>

#include "platform/Platform.h"

using ConnectedCallback = void (*)(bool connected);

// The API lock: every exported function holds it for its whole body (recursive, so exported
// functions may call each other). Outermost lock of the library.
extern CSimpleCriticalSection g_APICriticalSection;

// Port the next search opens: n of the node pattern; -1 scans every port.
extern std::atomic<int> g_nPortNumber;
// The listener told of every connect and disconnect.
extern std::atomic<ConnectedCallback> g_ConnectedCallback;
// True from the connect notification to the disconnect notification; written by the connect
// thread only.
extern std::atomic<int> g_bConnected;

// Set when TOLVConnect's own listener is told of a connect.
extern CAutoResetEvent g_hConnectedEvent;
// Wakes the connected phase of the connect thread.
extern CAutoResetEvent g_hReconnectEvent;

// The first test of every setter: a session exists when a device is open or a listener is
// registered. Setters return -1 otherwise.
bool SessionStarted();

// Stores the listener, then starts the connect thread unless one runs. False when the thread
// could not be created.
bool DoInit(ConnectedCallback callback);
// Wakes the connect thread (after TOLVFree or a hot-plug change).
void ReconnectDevice();
// Loads device-resident data after every connect, under the API lock.
void ConnectedPostProcessing();
// Ends the session: output off, connect and poll threads stopped, settings reset.
void DoFree();
