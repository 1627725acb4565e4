#include "ppg/PpgChannels.h"

#include "ppg/PpgOutput.h"
#include "ppg/PpgWaveforms.h"
#include "session/SessionHooks.h"

std::atomic<bool> g_bPPGOutputEnabled[kPPGChannels] = {};
std::atomic<std::uint8_t> g_PPG_led_sync[kPPGChannels] = {};
std::atomic<std::uint8_t> g_ACCalMode[kPPGChannels] = {};
std::atomic<int> s_PPGSampleRate{10000};
std::atomic<bool> g_bACAboveDC{false};
std::atomic<TOLV_SIGNAL_CALLBACK> g_PPGGraphCBs[kPPGChannels] = {};

bool AnyPPGOutputEnabled() {
    for (const auto& enabled : g_bPPGOutputEnabled) {
        if (enabled) return true;
    }
    return false;
}

namespace {

// The reset switches every PPG output off, clears every table and record, and puts the
// pulse-transit time and the respiratory modulation depths back.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kReset, [] {
            ResetPPGWaveforms();
            ResetPPGOutputSettings();
        });
    }
} s_sessionHooksRegistrar;

}  // namespace
