#include "ppg/PdSampling.h"

#include <atomic>

#include "link/Device.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/Exchange.h"
#include "protocol/commands/ModuleCommands.h"
#include "session/Poll.h"
#include "session/SessionHooks.h"
#include "tolvan.h"

namespace {

// One callback per photodiode input; null = not subscribed.
std::atomic<TOLV_PPG_SAMPLING_CALLBACK> g_PPGSamplingCBs[kPDSamplingInputs] = {};
// At least one subscription was made since the last disable.
bool g_PPG_PDSamplingEnabled = false;

// The module settles for this long after its inputs are selected.
constexpr unsigned kSelectSettleMs = 80;

int CurrentMask() {
    bool subscribed[kPDSamplingInputs];
    for (int i = 0; i < kPDSamplingInputs; ++i) subscribed[i] = g_PPGSamplingCBs[i] != nullptr;
    return PDSamplingInputMask(subscribed);
}

// -1 not connected, -2 no PPG module, -3 playing or sampling, else 0.
int SamplingPrecondition() {
    if (g_bConnected == 0 || !DeviceIsConnected()) return -1;
    if (!_IsPPGConnected()) return -2;
    if (IsPlayingOrSampling()) return -3;
    return 0;
}

}  // namespace

int PDSamplingInputMask(const bool* subscribed) {
    int mask = 0;
    int count = 0;
    for (int i = 0; i < kPDSamplingInputs; ++i) {
        if (subscribed[i]) {
            mask |= 1 << i;
            ++count;
        }
    }
    return count >= 3 ? 0x0F : mask;
}

int _SetPPGAD(int mask) {
    return RunDeviceCommand(-1, [&] {
        const auto reply = Transact(BuildConverterSelect(static_cast<std::uint8_t>(mask)));
        const ReplyStatus status = CheckConverterSelectReply(reply.bytes.data(), reply.received);
        if (status == ReplyStatus::kOk) return 0;
        return status == ReplyStatus::kNotAcknowledged ? -2 : -1;
    });
}

int _ReadPPGAD(int mask) {
    return RunDeviceCommand(-1, [&] {
        return Transact(BuildConverterRead(static_cast<std::uint8_t>(mask))).written ? 0 : -1;
    });
}

int _StopPPGAD() {
    return RunDeviceCommand(
        -1, [] { return Transact(BuildConverterSelect(kConverterStop)).written ? 0 : -1; });
}

void _CallbackPPGSampling(const unsigned char* report, int length) {
    if (report == nullptr || length < static_cast<int>(kSamplingReportHeader)) return;
    ForEachPDSample(report, static_cast<std::size_t>(length), [](int input, int value, int status) {
        const TOLV_PPG_SAMPLING_CALLBACK callback = g_PPGSamplingCBs[input];
        if (callback != nullptr) callback(input, value, status);
    });
}

extern "C" {

TOLV_API int TOLVEnablePPGSampling(int input, TOLV_PPG_SAMPLING_CALLBACK callback) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        const int refused = SamplingPrecondition();
        if (refused != 0) return refused;
        if (input < 0 || input >= kPDSamplingInputs) return -4;
        g_PPGSamplingCBs[input] = callback;
        g_PPG_PDSamplingEnabled = true;
        return 0;
    });
}

TOLV_API int TOLVDisablePPGSampling(void) {
    return NoThrow(-1, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (g_PPG_PDSamplingEnabled && _StopPPGAD() != 0) return -1;
        g_PPG_PDSamplingEnabled = false;
        {
            // No report is being delivered while the subscriptions go.
            CAutoCriticalSection interrupt(g_InterruptCriticalSection);
            g_bPPGSamplingRunning = false;
            for (auto& callback : g_PPGSamplingCBs) callback = nullptr;
        }
        return 0;
    });
}

TOLV_API int TOLVStartPPGSampling(void) {
    return NoThrow(-1, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        const int refused = SamplingPrecondition();
        if (refused != 0) return refused;
        if (!g_PPG_PDSamplingEnabled) return -4;
        const int mask = CurrentMask();
        if (!g_bPPGSamplingRunning && _SetPPGAD(mask) != 0) return -4;
        g_bPPGSamplingRunning = true;
        SleepEx(kSelectSettleMs);
        _ReadPPGAD(mask);
        return 0;
    });
}

TOLV_API void TOLVStopPPGSampling(void) {
    NoThrow(0, [] {
        CAutoCriticalSection api(g_APICriticalSection);
        _StopPPGAD();
        g_bPPGSamplingRunning = false;
        return 0;
    });
}

}  // extern "C"

namespace {

// The session's end forgets the subscriptions: their callbacks belong to the application that
// ends it.
void ForgetSubscriptions() {
    CAutoCriticalSection api(g_APICriticalSection);
    CAutoCriticalSection interrupt(g_InterruptCriticalSection);
    g_PPG_PDSamplingEnabled = false;
    g_bPPGSamplingRunning = false;
    for (auto& callback : g_PPGSamplingCBs) callback = nullptr;
}

// The poll thread hands sampling reports over; a lost connection ends sampling (the module
// falls silent with it, and a new connection stops its converter at identification).
struct SamplingRegistrar {
    SamplingRegistrar() {
        RegisterSamplingReportHandler(_CallbackPPGSampling);
        RegisterSessionHook(SessionPoint::kDeviceLost, [] { g_bPPGSamplingRunning = false; });
        RegisterSessionHook(SessionPoint::kSessionEnding, ForgetSubscriptions);
    }
} s_samplingRegistrar;

}  // namespace
