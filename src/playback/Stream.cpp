#include "playback/Stream.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "link/Device.h"
#include "playback/OutputSignal.h"
#include "playback/OutputStage.h"
#include "playback/Play.h"
#include "playback/PlayState.h"
#include "ppg/PpgChannels.h"
#include "ppg/PpgOutput.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/ModuleTables.h"
#include "protocol/commands/Bytes.h"
#include "protocol/commands/OutputCommands.h"
#include "protocol/commands/QueryCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "recordings/Recording.h"
#include "session/Defaults.h"
#include "session/Poll.h"
#include "session/Session.h"
#include "synthesis/ConverterCodes.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/ImpedanceRespiration.h"
#include "synthesis/Pacing.h"
#include "synthesis/Respiration.h"
#include "synthesis/SynthesisHooks.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/TestSignals.h"
#include "tolvan.h"

namespace {

// Stream clock state: written by the packet builder only (play thread or timer tick, which the
// interrupt lock serialises), reset by Change before a play thread starts.
std::atomic<std::uint16_t> s_SeqCheck{0};
double g_fDelayAccumulated = 0.0;

// Transmission rates last written to the 0x2112 module (settings 1, 2, 25, 26); API lock or
// play thread after its loop.
struct RateCache {
    unsigned short value[4] = {0, 0, 0, 0};
};
RateCache s_rateCache;
CSimpleCriticalSection s_rateLock;

// One sample's clock step after its codes were stored.
inline void AdvanceClock(double dt, double rate, std::uint8_t* subPacket, int group,
                         bool markPacing) {
    FrequencyScanSampleStep();
    if (ChangePending()) _CheckIfChangeRequired(GetPeriodPosition());
    AdvanceSynthesisTime(dt);
    g_fDelayAccumulated += 0.00003 / rate;
    if (markPacing && s_PacingPulseRaised) {
        s_PacingPulseRaised = false;
        subPacket[4] = static_cast<std::uint8_t>(group + 1);
    }
    if (g_fDelayAccumulated >= 1.0 / rate) {
        g_fDelayAccumulated -= 1.0 / rate;
        AdvanceSynthesisTime(-dt);
    }
}

// Resistance held during apnoea with the external respiration module (packet builder only);
// the resting 50 ohms until a breath has been computed.
double s_lastRespirationOhms = 50.0;

// Operate mode 0x23: ECG DC and AC codes, the three potentiometer codes of the resistance and
// the baseline DAC code per group. Only the period-end change check and the clock step run
// between samples: no frequency scan, no drift compensation, no pacing marker.
void FillRespirationSubPacket(std::uint8_t* sub, int groups, double dt,
                              const EXT_RESPIRATION_DATA& resp) {
    const std::uint16_t baseline = g_nECGExtRespirationBaselineDAC;
    for (int k = 0; k < groups; ++k) {
        std::uint16_t dc = 0;
        std::uint16_t ac = 0;
        _GetECGVoltageData(s_t, &dc, &ac, true, true);
        double ohms = CalculateECGExtRespiration(s_t, resp);
        if (ApneaWantedAt(static_cast<int>(std::trunc(s_tg.load())))) {
            ohms = s_lastRespirationOhms;
        } else {
            s_lastRespirationOhms = ohms;
        }
        std::uint16_t codes[3];
        ExtRespGetAmplitudeDAC(ohms, resp, codes);
        std::uint8_t* group = sub + kStreamGroupsOffset + 12 * k;
        PutBigEndian16(group, dc);
        PutBigEndian16(group + 2, ac);
        for (int r = 0; r < 3; ++r) PutBigEndian16(group + 4 + 2 * r, codes[r]);
        PutBigEndian16(group + 10, baseline);
        if (ChangePending()) _CheckIfChangeRequired(GetPeriodPosition());
        AdvanceSynthesisTime(dt);
    }
}

// The PPG slots of an operate mode, in stream order (the tables change only under the interrupt
// lock that the packet builder holds): bit 0x04 carries the channel of entry 0 of
// the module's output channel map, 0x08 channel 2, 0x10 channel 0.
struct PpgSlots {
    int count = 0;
    int channel[3] = {3, 3, 3};
    bool enabled[kPPGChannels] = {false, false, false};
    bool any = false;
    // Per enabled channel, for the whole packet: its table and the full scales of its codes.
    const PPG_TABLE* table[kPPGChannels] = {nullptr, nullptr, nullptr};
    PPG_SCALE scale[kPPGChannels];
    // The pulse-transit-time offsets follow the ECG's time points, which change only with a
    // change: worked out at the packet's start and again around each pending change.
    double offset[kPPGChannels] = {0.0, 0.0, 0.0};
    bool refreshOffsets = true;
};

PpgSlots ListPpgSlots(std::uint8_t mode) {
    PpgSlots slots;
    if ((mode & 0x04) != 0) slots.channel[slots.count++] = PPGOutputChannel(0);
    if ((mode & 0x08) != 0) slots.channel[slots.count++] = 2;
    if ((mode & 0x10) != 0) slots.channel[slots.count++] = 0;
    for (int k = 0; k < kPPGChannels; ++k) {
        slots.enabled[k] = g_bPPGOutputEnabled[k];
        slots.any = slots.any || slots.enabled[k];
        if (slots.enabled[k]) {
            slots.table[k] = PPGTable(k);
            slots.scale[k] = PPGChannelScale(k);
        }
    }
    return slots;
}

// The codes of every enabled PPG channel at the current sample, their callbacks, and the codes
// of the listed slots after the ECG's 4 bytes of the group. A slot whose channel is not 0..2
// writes nothing, and the next slot moves up.
inline void FillPpgSlots(PpgSlots& slots, double dt, std::uint8_t* group) {
    if (!slots.any) return;
    const double t = s_t;
    const double r = PPGBeginSample(t, dt);
    const bool pending = ChangePending();
    if (pending || slots.refreshOffsets) {
        for (int k = 0; k < kPPGChannels; ++k) slots.offset[k] = _GetPPGTimeOffset(k);
    }
    slots.refreshOffsets = pending;
    unsigned short codes[kPPGChannels][2] = {};
    const bool show = g_UICounter == 0 && !PlaybackStopRequested();
    for (int k = 0; k < kPPGChannels; ++k) {
        if (!slots.enabled[k]) continue;
        double value = 0.0;
        double phase = -1.0;
        PPGVoltageData(slots.table[k], slots.scale[k], t, slots.offset[k], r, &codes[k][0],
                       &codes[k][1], &value, GroundTruthOn() ? &phase : nullptr);
        if (phase >= 0.0) NotePpgTableTruth(k, slots.table[k], phase, t);
        if (show) {
            const TOLV_SIGNAL_CALLBACK callback = g_PPGGraphCBs[k].load(std::memory_order_relaxed);
            if (callback != nullptr) callback(s_tg, value);
        }
    }
    std::uint8_t* at = group + 4;
    for (int s = 0; s < slots.count; ++s) {
        const int channel = slots.channel[s];
        if (channel < 0 || channel >= kPPGChannels) continue;
        PutBigEndian16(at, codes[channel][0]);
        PutBigEndian16(at + 2, codes[channel][1]);
        at += 4;
    }
}

}  // namespace

void ResetStreamSequence() {
    s_SeqCheck = 0;
}
void ResetPacketClockDrift() {
    g_fDelayAccumulated = 0.0;
}

void DoSendNextPacket(std::uint8_t* buffer) {
    const int rateValue = _GetSampleRate();
    const double rate = rateValue > 0 ? rateValue : defaults::kSampleRate;
    const double dt = 1.0 / rate;
    if (s_t <= 0.0) g_UICounter = 0;
    const std::uint8_t mode = g_OperateMode;
    const int groups = StreamGroupsPerSubPacket(mode);
    const int groupBytes = StreamGroupBytes(mode);
    const bool ecgOnly = mode == kOperateModeEcg;
    const bool respirationLayout = mode == kOperateModeExternalRespiration;
    const ExtRespirationSnapshot resp = respirationLayout ? CurrentExtRespiration() : nullptr;
    PpgSlots ppg = ecgOnly || respirationLayout ? PpgSlots{} : ListPpgSlots(mode);
    for (std::size_t j = 0; j < kStreamSubPackets; ++j) {
        std::uint8_t* sub = buffer + j * kStreamSubPacketLength;
        WriteStreamSubPacketHeader(sub, mode, static_cast<std::uint8_t>(groups), s_SeqCheck);
        if (respirationLayout) {
            FillRespirationSubPacket(sub, groups, dt, *resp);
            s_SeqCheck = static_cast<std::uint16_t>(s_SeqCheck + 1);
            continue;
        }
        for (int k = 0; k < groups; ++k) {
            std::uint16_t dc = 0;
            std::uint16_t ac = 0;
            _GetECGVoltageData(s_t, &dc, &ac, true, true);
            std::uint8_t* group = sub + kStreamGroupsOffset + groupBytes * k;
            PutBigEndian16(group, dc);
            PutBigEndian16(group + 2, ac);
            FillPpgSlots(ppg, dt, group);
            AdvanceClock(dt, rate, sub, k, ecgOnly);
        }
        s_SeqCheck = static_cast<std::uint16_t>(s_SeqCheck + 1);
    }
    if (g_PacingApplyRequested) {
        g_PacingApplyRequested = false;
        SetPacing();
    }
    // Without the module the device breathes by itself; the host only switches apnoea.
    if (g_RespirationEnabled && !ExtRespIsAvailable()) {
        _CheckApnea(static_cast<int>(std::trunc(s_tg.load())), true);
    }
}

void _SendNextPacket(bool /*first*/) {
    std::uint8_t buffer[kStreamPacketLength];
    std::memset(buffer, 0, sizeof buffer);
    const EcgRecordingPtr recording = CurrentEcgRecording();
    SetPacketRecording(recording.get());
    SetPacketBuilderThread(true);
    DoSendNextPacket(buffer);
    SetPacketBuilderThread(false);
    SetPacketRecording(nullptr);
    // A table or recording that does not loop ended in this packet: now that the packet is
    // complete, the output function goes off as through its setter (journal line, stop).
    if (TakeOneShotEnd()) SetOutputFunction(OUTPUT_OFF);
    s_ECGGoing = true;
    if (g_bDevicePacesPlayback) DeviceWriteData(buffer, static_cast<int>(sizeof buffer), 0);
    _UpdateFreqScanIfRequired();
}

void _SendStopPacket() {
    const std::uint16_t zero = GetPacketDCValue(0.0);
    // With the external module the stop packet keeps that mode's 12-byte groups and carries
    // the codes of the resting resistance (no variation) and the baseline code.
    StopRespirationCodes respiration;
    if (g_OperateMode == kOperateModeExternalRespiration) {
        std::uint16_t codes[3];
        ExtRespGetAmplitudeDAC(50.0, *CurrentExtRespiration(), codes);
        for (int r = 0; r < 3; ++r) respiration.dac[r] = codes[r];
        respiration.baseline = g_nECGExtRespirationBaselineDAC;
    }
    s_lastRespirationOhms = 50.0;
    const StreamPacket packet = BuildStreamStopPacket(g_OperateMode, zero, s_SeqCheck, respiration);
    s_SeqCheck = 0;
    CDeviceCommand command;
    PausePollingThread();
    s_ECGGoing = false;
    // Without a connection that paces playback the stream went to nobody, and so does its stop
    // (a port that is still being identified must not see it).
    if (!command.Ready() || !g_bDevicePacesPlayback) return;
    std::uint8_t reply[kCommandReplyLength];
    // The stop may have ended the poll thread's streaming loop before it read the last
    // packet's acknowledgement; read it here, or it would pass as the reply of the next command.
    if (g_hReadEvent.WaitTimeout(0) == 0) DeviceReadData(reply, sizeof reply);
    DeviceWriteData(packet.data(), static_cast<int>(packet.size()), 1);
    DeviceReadData(reply, sizeof reply);
}

bool UpdateMCUTransmissionRate(unsigned short channel1First, unsigned short channel1Second,
                               unsigned short channel2First, unsigned short channel2Second) {
    {
        // The connect thread clears the module record under the API lock when the device goes.
        CAutoCriticalSection api(g_APICriticalSection);
        if (GetPPGFullModelNumber() != kPpgModelWithMcu) return true;
    }
    const std::uint8_t ids[4] = {kSettingRateA1, kSettingRateA2, kSettingRateB1, kSettingRateB2};
    const unsigned short values[4] = {channel1First, channel2First, channel1Second, channel2Second};
    CDeviceCommand command;
    if (!command.Ready()) return false;
    CAutoCriticalSection lock(s_rateLock);
    for (int i = 0; i < 4; ++i) {
        if (s_rateCache.value[i] == values[i]) continue;
        SleepEx(kSettingWriteLeadMs);
        if (!TransactOk(BuildSettingWrite16(ids[i], values[i]), CheckSettingWriteReply)) {
            return false;
        }
        SleepEx(kSettingWritePauseMs);
        s_rateCache.value[i] = values[i];
    }
    return true;
}

void ForgetTransmissionRates() {
    CAutoCriticalSection lock(s_rateLock);
    s_rateCache = RateCache{};
}

namespace {
// Selected transmission-rate mode 0..5 (API lock).
int g_nTransmissionRateMode = 0;

// First and second rate value of PPG channel c (0..2) for mode m (0..5), from the
// microcontroller factory settings.
unsigned short FirstRate(int c, int m) {
    return GetFactorySettingMCUWord(18 + 6 * c + m);
}
unsigned short SecondRate(int c, int m) {
    return GetFactorySettingMCUWord(36 + 6 * c + m);
}
}  // namespace

extern "C" {

TOLV_SERVICE_API int TOLVConfigureTransmissionRate(int mode) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (mode < 0) mode = 0;
    if (mode > 5) mode = 5;
    g_nTransmissionRateMode = mode;
    return UpdateMCUTransmissionRate(FirstRate(0, mode), SecondRate(0, mode), FirstRate(1, mode),
                                     SecondRate(1, mode))
               ? 1
               : 0;
}

TOLV_SERVICE_API bool TOLVGetTransmissionRate(int channel, unsigned* first, unsigned* second) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (channel < 1 || channel > 3 || first == nullptr || second == nullptr) return false;
    if (GetPPGFullModelNumber() != kPpgModelWithMcu) return false;
    const int c = channel - 1;
    *first = SecondRate(c, g_nTransmissionRateMode) + 1u;
    *second = FirstRate(c, g_nTransmissionRateMode) + 1u;
    return true;
}

}  // extern "C"
