// Per-channel PPG output state that the output stage and the stream read.
//
// Written by API threads under the API lock; read by the play thread per packet.
#pragma once

#include <atomic>
#include <cstdint>

#include "tolvan.h"

constexpr int kPPGChannels = 3;

// The channel takes part in playback.
extern std::atomic<bool> g_bPPGOutputEnabled[kPPGChannels];
// LED synchronisation code sent in the output configuration (0 while the channel has no table).
extern std::atomic<std::uint8_t> g_PPG_led_sync[kPPGChannels];
// AC range of the channel (module 0x2112 only; set when the output configuration is built).
extern std::atomic<std::uint8_t> g_ACCalMode[kPPGChannels];
// Rate of the PPG tables; also the output sample rate while any PPG channel is enabled.
extern std::atomic<int> s_PPGSampleRate;
// Receives the channel's reported value (graph time, value) from the packet builder.
extern std::atomic<TOLV_SIGNAL_CALLBACK> g_PPGGraphCBs[kPPGChannels];

// The AC pulse rides above the DC level (true) or the DC level is the pulse top (false);
// TOLVEnableACAboveDC. Read when a table is installed.
extern std::atomic<bool> g_bACAboveDC;

bool AnyPPGOutputEnabled();
