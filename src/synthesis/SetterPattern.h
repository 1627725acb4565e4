// The common pattern of the waveform setters: API lock, session test (-1), range test (-2),
// journal line, store, apply. Nothing is stored or journaled when a test fails.
#pragma once

#include "platform/NoThrow.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/WaveformState.h"

// How an accepted value takes effect.
enum class Apply {
    NextPeriod,  // change request: at once when idle, else at the end of the current period
    AtOnce,      // change at once, also in the middle of a period
    Relays,      // relay configuration at once
    Stored,      // only stored (used at the next change)
};

void ApplySetting(Apply how);

// The frame of every setter: API lock, session test (-1), then the body with its own codes;
// anything thrown becomes -1.
template <typename F>
int RunSetter(F body) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!SessionStarted()) return -1;
        return body();
    });
}

// True when low <= value <= high (bounds inclusive); false for NaN.
bool InSettingRange(double value, double low, double high);

// A double setting without test-specific refusals; the journal format takes the value.
int SetDoubleSetting(double value, double low, double high, const char* journal,
                     CRelaxed<double>& field, Apply how);
// A flag; the journal format takes "true" or "false".
int SetFlagSetting(bool value, const char* journal, CRelaxed<bool>& field, Apply how);

// A field read under the API lock.
template <typename T>
T GetLocked(const CRelaxed<T>& field) {
    CAutoCriticalSection api(g_APICriticalSection);
    return field;
}
