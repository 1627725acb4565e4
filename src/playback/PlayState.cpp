#include "playback/PlayState.h"

#include "synthesis/Synthesizer.h"

std::atomic<bool> g_bDevicePacesPlayback{false};
std::atomic<bool> s_stopRequested{false};

bool PlaybackStopRequested() {
    // Pairs with the release fence of SetOutputFunction: a builder that has synthesised a sample
    // with the output switched off also sees the stop.
    std::atomic_thread_fence(std::memory_order_acquire);
    return s_stopRequested || OneShotEndPending();
}
