#include "ppg/PpgChannels.h"

#include "session/SessionHooks.h"

std::atomic<bool> g_bPPGOutputEnabled[kPPGChannels] = {};
std::atomic<std::uint8_t> g_PPG_led_sync[kPPGChannels] = {};
std::atomic<std::uint8_t> g_ACCalMode[kPPGChannels] = {};
std::atomic<int> s_PPGSampleRate{10000};

bool AnyPPGOutputEnabled() {
    for (const auto& enabled : g_bPPGOutputEnabled) {
        if (enabled) return true;
    }
    return false;
}

namespace {

// The reset switches every PPG output off.
struct SessionHooksRegistrar {
    SessionHooksRegistrar() {
        RegisterSessionHook(SessionPoint::kReset, [] {
            for (auto& enabled : g_bPPGOutputEnabled) enabled = false;
        });
    }
} s_sessionHooksRegistrar;

}  // namespace
