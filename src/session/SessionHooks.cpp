// The session's turning points and the work registered at them by the parts above it.
#include "session/SessionHooks.h"

#include "protocol/Discipline.h"

namespace {

constexpr int kPoints = static_cast<int>(SessionPoint::kReset) + 1;
constexpr int kHooksPerPoint = 4;

// Filled during static initialisation only; plain arrays, so they are zero before any
// registrar runs, whatever the order of initialisation.
SessionHook s_Hooks[kPoints][kHooksPerPoint];
int s_HookCount[kPoints];
PlaybackHandover s_PlaybackHandover;

}  // namespace

void RegisterSessionHook(SessionPoint point, SessionHook hook) {
    const int p = static_cast<int>(point);
    if (hook == nullptr || s_HookCount[p] >= kHooksPerPoint) return;
    s_Hooks[p][s_HookCount[p]++] = hook;
}

void RunSessionHooks(SessionPoint point) {
    const int p = static_cast<int>(point);
    for (int i = 0; i < s_HookCount[p]; ++i) s_Hooks[p][i]();
}

void RegisterPlaybackHandover(PlaybackHandover handover) {
    s_PlaybackHandover = handover;
}

void HandOverPlayback(void (*atHandover)()) {
    if (s_PlaybackHandover != nullptr) {
        s_PlaybackHandover(atHandover);
        return;
    }
    CAutoCriticalSection api(g_APICriticalSection);
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    if (atHandover != nullptr) atHandover();
}
