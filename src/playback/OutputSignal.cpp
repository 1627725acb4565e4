#include "playback/OutputSignal.h"

#include "protocol/Discipline.h"
#include "session/Session.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

GraphCallback g_GraphCB = nullptr;
GraphCallback g_PacingGraphCB = nullptr;
int s_freqDivider = 1;
std::atomic<int> g_UICounter{0};

extern "C" {

TOLV_API void TOLVRegisterOutputSignalCallback(TOLV_SIGNAL_CALLBACK callback, int divider) {
    CAutoCriticalSection api(g_APICriticalSection);
    // The sample builder reads the callback and the divider under the interrupt lock.
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    g_GraphCB = callback;
    if (divider > 0) {
        s_freqDivider = divider > s_sampleRate ? s_sampleRate : divider;
    } else {
        s_freqDivider = 1;
    }
}

TOLV_API void TOLVRegisterPacingOutputSignalCallback(TOLV_SIGNAL_CALLBACK callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    g_PacingGraphCB = callback;
}

}  // extern "C"
