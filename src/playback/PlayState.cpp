#include "playback/PlayState.h"

std::atomic<bool> g_bDevicePacesPlayback{false};
