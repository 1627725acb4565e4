// Per-channel PPG output state that the output stage and the stream read.
//
// Written by API threads under the API lock; read by the play thread per packet.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kPPGChannels = 3;

// The channel takes part in playback.
extern std::atomic<bool> g_bPPGOutputEnabled[kPPGChannels];
// LED synchronisation code sent in the output configuration.
extern std::atomic<std::uint8_t> g_PPG_led_sync[kPPGChannels];
// AC range of the channel (module 0x2112 only; set when the output configuration is built).
extern std::atomic<std::uint8_t> g_ACCalMode[kPPGChannels];
// Rate of the PPG tables; also the output sample rate while any PPG channel is enabled.
extern std::atomic<int> s_PPGSampleRate;

bool AnyPPGOutputEnabled();
