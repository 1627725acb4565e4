// Playback state beside the access discipline's stream flags and handshake events
// (protocol/Discipline.h), which the poll thread and device commands share with playback.
#pragma once

#include <atomic>

#include "protocol/Discipline.h"

// A connected simulator paces playback: stream packets are written to it and each one waits for
// its acknowledgement. Otherwise the simulation timer paces playback and packets go to nobody.
// Set by the connect thread when it hands playback to a new connection, cleared when the
// connection is lost.
extern std::atomic<bool> g_bDevicePacesPlayback;

// A stop was requested and the play thread has not ended yet (or a table or recording that does
// not loop has reached its end): the rest of the packet being built is not shown to the
// callbacks. Written by the output-function setter and Change, read by the packet builder.
extern std::atomic<bool> s_stopRequested;
bool PlaybackStopRequested();
