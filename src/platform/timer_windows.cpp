// Tick timer on a periodic multimedia timer with a resolution of 5 ms.
#define WIN32_LEAN_AND_MEAN
// windows.h comes first: mmsystem.h relies on its types.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <cstdint>

#include "platform/TickTimerSystem.h"

namespace {
void CALLBACK Callback(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    TickTimerExpired(static_cast<std::uintptr_t>(user));
}
}  // namespace

void* SystemTimerStart(int periodMs, std::uintptr_t id) {
    MMRESULT timer =
        timeSetEvent(static_cast<UINT>(periodMs), 5, Callback, static_cast<DWORD_PTR>(id),
                     TIME_PERIODIC | TIME_CALLBACK_FUNCTION);
    if (timer == 0) return nullptr;
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(timer));
}

void SystemTimerStop(void* native) {
    if (native == nullptr) return;
    timeKillEvent(static_cast<MMRESULT>(reinterpret_cast<std::uintptr_t>(native)));
}
