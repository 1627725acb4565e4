// The seam between the shared tick dispatcher and each platform's system timer.
#pragma once

#include <cstdint>

// Arms a periodic system timer that calls TickTimerExpired(id) every period. Returns the
// platform's timer object, or nullptr on failure. Implemented once per platform.
void* SystemTimerStart(int periodMs, std::uintptr_t id);
// Deletes (cancels) a system timer made by SystemTimerStart.
void SystemTimerStop(void* native);

// Called by the platform's timer notification for the timer with this id.
void TickTimerExpired(std::uintptr_t id);
