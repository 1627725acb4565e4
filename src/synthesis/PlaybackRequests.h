// What the synthesis asks of the playback engine, which sits above it: a setter that stored a
// value asks for it to take effect (at once while idle, at the end of the current waveform period
// while playing, or at once in any case), asks whether playback runs and for the relay
// configuration to follow, and the synthesis needs the effective sample rate. The requests travel
// synthesis -> these hooks -> playback; the synthesis includes nothing of the playback engine.
//
// The playback engine registers its handlers once, while the library loads (static
// initialisation, before any thread runs; playback/Play.cpp), and they never change afterwards,
// so the calls below read them without a lock. Until a handler is registered (a program that
// links the synthesis without the playback engine) its default applies: nothing plays, a change
// request only leaves the stored value for the next change, no relay configuration is sent, and
// the effective sample rate is the ECG sample rate s_sampleRate and no output lead is on.
#pragma once

namespace playback {

struct Handlers {
    void (*changeRequested)() = nullptr;  // _ChangeRequested of the play engine
    void (*changeNow)() = nullptr;        // Change
    bool (*isRunning)() = nullptr;        // a stream packet went out and no stop came since
    void (*relaysChanged)() = nullptr;    // SetRelays(false): send the relays if they changed
    int (*sampleRate)() = nullptr;        // _GetSampleRate
    unsigned (*outputLeads)() = nullptr;  // the output leads switched on, bit n = lead n
};
void Register(const Handlers& handlers);

// A setter stored a value: applied at once while idle, at the end of the current period while
// a function plays.
void RequestChange();
// Applied at once, also in the middle of a period.
void ApplyChangeNow();
// Playback is running.
bool IsRunning();
// The relay configuration follows the stored settings (sent only when it changed).
void UpdateRelays();
// The effective sample rate, samples/s.
int SampleRate();
// The output leads switched on (bit n = lead n); 0 until the playback engine registers.
unsigned OutputLeads();

}  // namespace playback
