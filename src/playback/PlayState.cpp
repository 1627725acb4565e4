#include "playback/PlayState.h"

std::atomic<bool> s_ECGGoing{false};
std::atomic<bool> g_bDevicePacesPlayback{false};
std::atomic<bool> g_bPPGSamplingRunning{false};

CAutoResetEvent g_hReadEvent;
CAutoResetEvent g_hSendEvent;
CManualResetEvent g_hStopReceiveEvent;
