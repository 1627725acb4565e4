#include "ppg/PpgChannels.h"

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
