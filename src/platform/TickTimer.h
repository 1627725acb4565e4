// Periodic tick timer: calls a function once every period on a thread of the system's timer
// service (never on a library thread).
#pragma once

using TickFunction = void (*)(void* argument);

struct CTickTimer;
// 0 (nullptr) means no timer.
using TIMER_HANDLE = CTickTimer*;

// Starts a periodic timer of periodMs whole milliseconds. On Linux and Windows the first tick
// comes one period after the start, on macOS at once. Returns nullptr when the period is not
// positive or the system timer cannot be created or armed.
//
// A tick that is still running when the next one falls due makes that next one be skipped, so
// ticks of one timer never overlap.
TIMER_HANDLE StartTickTimer(int periodMs, TickFunction tick, void* argument);

// Deletes the timer. No tick starts after this returns; a tick already running finishes first
// (unless the tick itself is the caller). nullptr is ignored.
void StopTickTimer(TIMER_HANDLE timer);
