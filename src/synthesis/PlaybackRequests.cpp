#include "synthesis/PlaybackRequests.h"

#include "synthesis/WaveformState.h"

namespace playback {

namespace {
// Written once at load, before any thread runs; read by API threads and the play thread.
Handlers s_handlers;
}  // namespace

void Register(const Handlers& handlers) {
    s_handlers = handlers;
}

void RequestChange() {
    if (s_handlers.changeRequested != nullptr) s_handlers.changeRequested();
}

void ApplyChangeNow() {
    if (s_handlers.changeNow != nullptr) s_handlers.changeNow();
}

bool IsRunning() {
    return s_handlers.isRunning != nullptr && s_handlers.isRunning();
}

void UpdateRelays() {
    if (s_handlers.relaysChanged != nullptr) s_handlers.relaysChanged();
}

int SampleRate() {
    return s_handlers.sampleRate != nullptr ? s_handlers.sampleRate() : s_sampleRate.load();
}

unsigned OutputLeads() {
    return s_handlers.outputLeads != nullptr ? s_handlers.outputLeads() : 0u;
}

}  // namespace playback
