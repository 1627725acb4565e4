#include "playback/OutputStage.h"

#include "link/Device.h"
#include "playback/OutputSignal.h"
#include "playback/PlayState.h"
#include "ppg/PpgChannels.h"
#include "ppg/PpgWaveforms.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "protocol/commands/OutputCommands.h"
#include "protocol/commands/SettingCommands.h"
#include "recordings/Recording.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/ConverterCodes.h"
#include "synthesis/Noise.h"
#include "synthesis/Pacing.h"
#include "synthesis/Respiration.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

std::atomic<std::int32_t> g_nRelayControl{0};
std::atomic<std::uint8_t> g_OperateMode{3};
std::atomic<std::uint32_t> g_OutputLead{0x1};
std::atomic<int> s_DcDacValue{-1};

namespace {

// The full OutputConfig last sent (de-duplication); guarded by the interrupt lock that every
// sender holds.
OutputConfigFilter s_outputConfigFilter;

// Relay bits.
constexpr std::uint32_t kRelayCommonMode = 1u << 0;
constexpr std::uint32_t kRelayPlus300 = 1u << 1;
constexpr std::uint32_t kRelayVariableDc = 1u << 2;
constexpr std::uint32_t kRelayRespiration = 1u << 3;
constexpr std::uint32_t kRelayExternalRespiration = 1u << 4;
constexpr std::uint32_t kRelayImpedanceOff = 1u << 5;
constexpr std::uint32_t kRelayFixedDc = 1u << 6;
constexpr std::uint32_t kRelayRld = 1u << 10;
constexpr std::uint32_t kRelayLeadOff3 = 1u << 11;
constexpr std::uint32_t kRelayDcOffset = 1u << 12;
constexpr std::uint32_t kRelayLeadOff12 = 1u << 13;
constexpr std::uint32_t kRelayLeadOff1 = 1u << 14;

std::uint32_t LeadBits(std::uint32_t leads) {
    std::uint32_t bits = 0;
    for (int i = 0; i <= 6; ++i) {
        if ((leads & (1u << i)) != 0) bits |= 1u << (16 + i);
    }
    if ((leads & (1u << 7)) != 0) bits |= 1u << 8;
    if ((leads & (1u << 8)) != 0) bits |= 1u << 9;
    return bits;
}

// Sends the short OutputConfig with the current relay word; true when 64 bytes came back.
bool SendShortOutputConfig() {
    const auto request = BuildOutputConfigShort(static_cast<std::uint32_t>(_GetSampleRate()),
                                                static_cast<std::uint32_t>(g_nRelayControl.load()));
    return Transact(request).complete();
}

// The play thread sends its own commands while it builds a packet: it holds the interrupt
// lock and the link is idle, and it must not wait for the API lock (an API thread holding it
// may be waiting for this very packet).
thread_local bool t_inPacketBuilder = false;

}  // namespace

int _GetSampleRate() {
    if (ExtRespIsAvailable()) return 5000;
    if (AnyPPGOutputEnabled()) return s_PPGSampleRate;
    return s_sampleRate;
}

void _GetECGVoltageData(double t, std::uint16_t* dc, std::uint16_t* ac, bool notify, bool record) {
    double acV = 0.0;
    double dcV = 0.0;
    double shown = 0.0;
    if (g_bECGOutputEnabled) {
        const double p = PeriodPosition(t, s_tp);
        acV = _GetMainFunctionVoltage(p);
        double pacing = 0.0;
        dcV = _GetPacingV5(&pacing, p);
        if (g_BaseLineOverload != 0 && g_MainOutput == OUTPUT_SINE) dcV = _GetBaselineOverload(p);
        acV += pacing;
        acV += GetNstNoise();
        shown = acV;
        if (g_RespirationEnabled) acV /= GetAttenuation();
    }
    if (g_BaseLineOverload == 0 && g_PA != 0.0) dcV = g_DCSetting;
    const int fixed = s_DcDacValue;
    if (dc != nullptr) *dc = fixed >= 0 ? static_cast<std::uint16_t>(fixed) : GetPacketDCValue(dcV);
    if (ac != nullptr) *ac = static_cast<std::uint16_t>(GetAcDac(acV));
    // The stop is looked at after the sample was synthesised.
    if (notify && !PlaybackStopRequested()) {
        const GraphCallback graph = g_GraphCB;
        if (graph != nullptr && g_UICounter == 0) graph(s_tg, shown);
        const GraphCallback pacing = g_PacingGraphCB;
        if (pacing != nullptr && s_PacingIndicationNeeded) {
            const double pa = g_PA;
            const double d = g_PacingDuration / 1000.0;
            const double tg = s_tg;
            pacing(tg, 0.0);
            pacing(tg, pa);
            pacing(tg + d, pa);
            pacing(tg + d, 0.0);
            s_PacingIndicationNeeded = false;
        }
        if (g_UICounter < s_freqDivider / 4 - 1) {
            g_UICounter = g_UICounter + 1;
        } else {
            g_UICounter = 0;
        }
    }
    if (record) RecordOutputSample(acV, dcV);
}

RelayConfiguration ComputeRelayConfiguration(bool active) {
    RelayConfiguration config;
    std::uint32_t word = 0;
    const int offset = g_DCSetting;
    const bool externalResp = ExtRespIsAvailable();
    const bool respiration = g_RespirationEnabled;
    if (active) {
        if (offset != 0) word |= kRelayDcOffset;
        if (respiration && !externalResp) word |= kRelayRespiration;
    }
    if ((g_DCVariable && offset != 0) ||
        (active && (s_PulsesRequired > 0 || g_BaseLineOverload != 0)) || s_DcDacValue >= 0) {
        word |= kRelayVariableDc;
        word &= ~kRelayFixedDc;
    } else if (offset == 300 || offset == -300) {
        word |= kRelayFixedDc;
        if (offset == 300) word |= kRelayPlus300;
    }
    if (g_DCVariable) word &= ~kRelayFixedDc;
    if (g_PacingPulse == 0 && respiration) word &= ~kRelayVariableDc;
    if (!g_InputImpedance) word |= kRelayImpedanceOff;
    if (g_DCCommon) word |= kRelayCommonMode;
    if (externalResp) {
        if (respiration) {
            word |= kRelayRespiration | kRelayExternalRespiration;
        } else {
            word &= ~(kRelayRespiration | kRelayExternalRespiration);
        }
    }
    word |= LeadBits(g_OutputLead);
    config.relayWord = word;

    for (int k = 0; k < kPPGChannels; ++k) {
        config.ledSync[k] = g_bPPGOutputEnabled[k] ? g_PPG_led_sync[k].load() : 0;
    }
    if ((GetPPGFullModelNumber() & 0x1000) != 0) config.ledSync[1] = config.ledSync[0];

    if (g_MainOutput == OUTPUT_OFF) {
        config.operateMode = 8;
    } else {
        std::uint8_t mode = 3;
        if (externalResp) {
            if (respiration) mode |= 0x20;
        } else if (_IsPPGConnected()) {
            for (int slot = 0; slot < 3; ++slot) {
                const int e = PPGOutputChannel(slot);
                if (e < 0 || e > 2 || !g_bPPGOutputEnabled[e]) continue;
                mode |= e <= 1 ? 0x04 : 0x08;
            }
        } else {
            if (g_bPPGOutputEnabled[0] || g_bPPGOutputEnabled[1]) mode |= 0x04;
            if (g_bPPGOutputEnabled[2]) mode |= 0x08;
            if (g_bPPGOutputEnabled[0] && g_bPPGOutputEnabled[1]) mode |= 0x10;
        }
        config.operateMode = mode;
    }
    return config;
}

void RefreshACCalModes() {
    if (GetPPGFullModelNumber() != kPPGModel2112) return;
    // The tables change only under the interrupt lock; a caller may hold no lock at all (the
    // play thread after its loop).
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    for (int k = 0; k < kPPGChannels; ++k) {
        if (!g_bPPGOutputEnabled[k]) continue;
        const PPG_TABLE* table = PPGTable(k);
        const double acMax = table != nullptr ? table->acMax / 1000.0 : 0.0;
        g_ACCalMode[k] = static_cast<std::uint8_t>(GetACCalMode(acMax));
    }
}

bool SetRelays(bool force) {
    const RelayConfiguration config = ComputeRelayConfiguration(s_ECGGoing || force);
    RefreshACCalModes();
    g_nRelayControl = static_cast<std::int32_t>(config.relayWord);
    g_OperateMode = config.operateMode;
    if (!DeviceIsConnected()) return true;
    OutputConfigFields fields;
    fields.operateMode = config.operateMode;
    fields.sampleRate = static_cast<std::uint32_t>(_GetSampleRate());
    fields.relayWord = config.relayWord;
    for (int k = 0; k < kPPGChannels; ++k) {
        fields.ledSyncCode[k] = config.ledSync[k];
        fields.acCalibrationMode[k] = g_ACCalMode[k];
    }
    const OutputConfigRequest request = BuildOutputConfig(fields);
    const auto api = t_inPacketBuilder ? CDeviceCommand::kNoApiLock : CDeviceCommand::kWithApiLock;
    // The filter is consulted and updated under the command's own locks, so two threads never
    // both send the same configuration.
    if (api == CDeviceCommand::kWithApiLock) g_APICriticalSection.Lock();
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    bool sent = true;
    if (s_outputConfigFilter.MustSend(request, force)) {
        CDeviceCommand command(api);
        if (!command.Ready() || !Transact(request).written) {
            sent = false;
        } else {
            s_outputConfigFilter.RecordWritten(request);
        }
    }
    if (api == CDeviceCommand::kWithApiLock) g_APICriticalSection.Unlock();
    return sent;
}

void _RefreshOperateMode() {
    SetRelays(true);
}

void ForgetOutputConfig() {
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    s_outputConfigFilter.Forget();
}

void ClearFixedDcDac() {
    s_DcDacValue = -1;
}

void SetPacketBuilderThread(bool inside) {
    t_inPacketBuilder = inside;
}

bool SetDcDac(int code) {
    if (code < 0 || code > 65535) return false;
    s_DcDacValue = code;
    g_DCVariable = true;
    return SetRelays(false);
}

extern "C" {

TOLV_SERVICE_API bool PlayFixedDCByDAC(unsigned code) {
    if (code > 65535) return false;
    TOLVSetOutputFunction(OUTPUT_OFF);
    SleepEx(20);
    CAutoCriticalSection api(g_APICriticalSection);
    if (!SetDcDac(static_cast<int>(code))) return false;
    return TOLVSetAmplitude(0.0) == 0 && TOLVSetOutputFunction(OUTPUT_SQUARE) == 0;
}

TOLV_API int TOLVSetOutputLead(int lead, bool on) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!SessionStarted()) return -1;
    if (lead < 0 || lead > 8) return -2;
    _outputLog("SetOutputLead(%d, %s);", lead, JournalBool(on));
    const std::uint32_t bit = 1u << lead;
    const std::uint32_t leads = g_OutputLead;
    if (((leads & bit) != 0) == on) return 0;
    g_OutputLead = on ? (leads | bit) : (leads & ~bit);
    SetRelays(false);
    if (ExtRespIsAvailable() && DeviceIsConnected()) {
        CDeviceCommand command;
        if (command.Ready()) {
            auto baseline = Transact(BuildRespBaselineRead(), ParseRespBaselineReadReply);
            if (baseline.ok()) {
                RespBaseline next = baseline.value;
                next.leadCode = RespBaselineLeadCode(g_OutputLead, g_RespirationEnabled);
                Transact(BuildRespBaselineWrite(next));
            }
        }
    }
    return 0;
}

TOLV_SERVICE_API int SetAllOutputLead(unsigned mask) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!SessionStarted()) return -1;
    mask &= 0x1FF;
    if (mask != g_OutputLead) {
        g_OutputLead = mask;
        SetRelays(false);
    }
    return 0;
}

TOLV_API bool TOLVGetOutputLead(int lead) {
    if (lead < 0 || lead > 8) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    return (g_OutputLead & (1u << lead)) != 0;
}

TOLV_SERVICE_API unsigned GetAllOutputLead(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return g_OutputLead;
}

TOLV_API int TOLVEnableECGOutput(bool enable) {
    CAutoCriticalSection api(g_APICriticalSection);
    _outputLog("%s(%s);", "TOLVEnableECGOutput", JournalBool(enable));
    g_bECGOutputEnabled = enable;
    return 0;
}

TOLV_API void TOLVEnableACAboveDC(bool enable) {
    CAutoCriticalSection api(g_APICriticalSection);
    g_bACAboveDC = enable;
}

TOLV_API bool TOLVSetLeadOff(int mode) {
    if (mode < 0 || mode > 3) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    if (!DeviceIsConnected()) return false;
    CDeviceCommand command;
    if (!command.Ready()) return false;
    _outputLog("TOLVSetLeadOff(%d);", mode);
    std::uint32_t word =
        static_cast<std::uint32_t>(g_nRelayControl.load()) | LeadBits(g_OutputLead);
    if (mode == 3) {
        word |= kRelayLeadOff3;
    } else {
        word &= ~kRelayLeadOff3;
        if (mode == 0) word &= ~kRelayLeadOff12;
        if (mode == 1) word |= kRelayLeadOff12 | kRelayLeadOff1;
        if (mode == 2) {
            word |= kRelayLeadOff12;
            word &= ~kRelayLeadOff1;
        }
    }
    g_nRelayControl = static_cast<std::int32_t>(word);
    return SendShortOutputConfig();
}

TOLV_API bool TOLVMeasureRLD(bool on) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (!DeviceIsConnected()) return false;
    CDeviceCommand command;
    if (!command.Ready()) return false;
    _outputLog("TOLVMeasureRLD(%s);", JournalBool(on));
    if (!TransactOk(BuildConverterSelect(on ? 0x10 : 0x00), CheckConverterSelectReply, 5)) {
        return false;
    }
    std::uint32_t word = static_cast<std::uint32_t>(g_nRelayControl.load());
    word = on ? (word | kRelayRld) : (word & ~kRelayRld);
    g_nRelayControl = static_cast<std::int32_t>(word);
    return SendShortOutputConfig();
}

TOLV_API bool TOLVReadRLD(double* first, double* second) {
    if (first == nullptr || second == nullptr) return false;
    CAutoCriticalSection api(g_APICriticalSection);
    if (!DeviceIsConnected()) return false;
    CDeviceCommand command;
    if (!command.Ready()) return false;
    auto reading = Transact(BuildRLDRead(), ParseRLDReadReply);
    if (!reading.ok()) return false;
    *first = reading.value.firstVolts;
    *second = reading.value.secondVolts;
    return true;
}

}  // extern "C"
