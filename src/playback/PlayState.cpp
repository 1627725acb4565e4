#include "playback/PlayState.h"

#include "synthesis/Synthesizer.h"

std::atomic<bool> g_bDevicePacesPlayback{false};
std::atomic<bool> s_stopRequested{false};

bool PlaybackStopRequested() {
    return s_stopRequested || OneShotEndPending();
}
