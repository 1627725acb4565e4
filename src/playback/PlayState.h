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
