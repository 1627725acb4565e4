// Playback life cycle: change requests, the play thread, the simulation timer, and the sample
// rate setting that playback refuses to change while it runs.
//
// Threads: API threads call _ChangeRequested/Change under the API lock; the play thread applies
// pending changes itself at period ends (under the interrupt lock); the simulation timer's tick
// builds packets when no device is connected.
#pragma once

#include "platform/Platform.h"

// Called by every setter after it stored a value. While playing a non-zero output function the
// change waits for the end of the current waveform period; otherwise Change() runs at once.
void _ChangeRequested();
// Applies the waveform state: recomputes the derived synthesis values, starts the play thread
// when a function is selected and nothing plays, or stops playback for output function 0.
// A change that finds another change running is dropped. Returns 0.
int Change();
// A change waits for the end of the current period (the packet builder asks before it works out
// the position for _CheckIfChangeRequired).
bool ChangePending();
// Run by the packet builder once per sample with the position p in the current period.
void _CheckIfChangeRequired(double p);

// The output function setter's body (journal, store, start or stop) under the API lock; used
// by every operation that switches the output function. It does not wait for the play thread.
void SetOutputFunction(int function);

// A connection is ready to stream (identified, configured, the application told): from now on
// the simulator paces playback. A playback that the simulation timer drove (or that waited across
// a lost connection) goes on at the next packet without a jump or a repeated sample; the timer is
// stopped. Called by the connect thread, before the poll thread starts, with no lock held;
// atHandover (may be null) runs at the moment of the handover, under the API and interrupt locks.
void HandPlaybackToDevice(void (*atHandover)());
// The connection is gone: packets are no longer written. A playback that runs waits for the next
// connection; one started meanwhile runs on the simulation timer.
void PlaybackDeviceLost();

// Playback is running (a stream packet has been written and no stop came since).
bool IsPlaybackRunning();
