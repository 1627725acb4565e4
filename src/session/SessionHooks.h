// The turning points of the session at which the parts of the library above it act: playback
// switches the relays on and takes the stream over at a connect and gives it up at a loss; the
// PPG module control switches dynamic LED strength off; TOLVFree switches the output off; the
// reset puts the waveform selections and PPG outputs back. The session declares the points and
// runs them; each of those parts registers its own work at load, from a namespace-scope
// registrar object beside the code it registers. A point with nothing registered does nothing
// (the part that would act is not in the program), except the handover, which then only runs
// atHandover.
//
// A registrar sits in a file that the part's exported functions pull into any program, even one
// linked from the static archive (Play.cpp holds TOLVSetOutputFunction, which the reset calls),
// so whatever links the session links the registrations too.
//
// Registration happens during static initialisation only, before any thread of the library
// runs; afterwards the lists are only read (connect thread, TOLVFree, the reset).
#pragma once

enum class SessionPoint {
    // A port was identified and opened; the API lock is held. (Relays on, forced.)
    kDeviceOpened,
    // The load after a connect found a PPG module with its own microcontroller (0x2112), before
    // its factory settings are read; the command discipline is held. (Default transmission rate.)
    kMcuModuleConnected,
    // The load after a connect is complete; the command discipline is held. (Dynamic LED off.)
    kDeviceLoaded,
    // The connection is lost or closed: first step of the teardown, no lock held.
    kDeviceLost,
    // TOLVFree begins, no lock held. (Output off, which stops playback and waits for it.)
    kSessionEnding,
    // The reset assigns the selections that it does not restore through setters; the API lock
    // is held. (Standard waveform and noise selections, PPG outputs.)
    kReset,
};

using SessionHook = void (*)();
// Adds hook to the point's list; at most four per point. A list runs in registration order,
// which across files is not fixed: the hooks of one point do not depend on each other.
void RegisterSessionHook(SessionPoint point, SessionHook hook);
void RunSessionHooks(SessionPoint point);

// The moment a connection starts to pace playback. The registered handover runs atHandover
// under the API and interrupt locks at the moment of the handover, then lets the simulator pace
// a running playback; it is called by the connect thread before the poll thread starts, with no
// lock held.
using PlaybackHandover = void (*)(void (*atHandover)());
void RegisterPlaybackHandover(PlaybackHandover handover);
void HandOverPlayback(void (*atHandover)());
