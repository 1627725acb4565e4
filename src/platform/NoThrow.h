// The boundary of the exported interface: nothing may be thrown to the caller.
#pragma once

// Runs f and returns its result, or fallback when anything escapes it (an allocation failure,
// for example).
template <typename R, typename F>
R NoThrow(R fallback, F f) noexcept {
    try {
        return f();
    } catch (...) {
        return fallback;
    }
}
