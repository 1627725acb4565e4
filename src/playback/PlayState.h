// Playback state that the session's poll thread and the device-command discipline read.
//
// The events are the handshake between the play thread and the poll thread: a packet went out
// (read event), its acknowledgement was consumed (send event), playback stops (stop-receive).
#pragma once

#include <atomic>

#include "platform/Platform.h"

// Playback is running: set when a stream packet has been written, cleared by a stop.
extern std::atomic<bool> s_ECGGoing;
// A connected simulator paces playback: stream packets are written to it and each one waits for
// its acknowledgement. Otherwise the simulation timer paces playback and packets go to nobody.
// Set by the connect thread when it hands playback to a new connection, cleared when the
// connection is lost.
extern std::atomic<bool> g_bDevicePacesPlayback;
// PPG photodiode sampling is running.
extern std::atomic<bool> g_bPPGSamplingRunning;

// Auto-reset: a stream packet went out, its acknowledgement is due.
extern CAutoResetEvent g_hReadEvent;
// Auto-reset: the acknowledgement was consumed, the next packet may go.
extern CAutoResetEvent g_hSendEvent;
// Manual-reset: playback stops.
extern CManualResetEvent g_hStopReceiveEvent;

// Playback or PPG sampling runs (what TOLVIsPlaying reports).
inline bool IsPlayingOrSampling() {
    return s_ECGGoing.load() || g_bPPGSamplingRunning.load();
}
