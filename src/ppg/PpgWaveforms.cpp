#include "ppg/PpgWaveforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "platform/NoThrow.h"
#include "protocol/DeviceInformation.h"
#include "protocol/Discipline.h"
#include "protocol/ModuleTables.h"
#include "session/Journal.h"
#include "synthesis/MathConstants.h"

namespace {

// Per channel: the description of the generated waveform (all zero = none) and the table.
// API lock; the table pointers change under the interrupt lock as well (see the header).
PPG_WAVEFORM g_PPG_waveforms[kPPGChannels] = {};
std::unique_ptr<PPG_TABLE> s_tables[kPPGChannels];

// Apply the finger-model conversion on modules that have one.
bool g_PPGAmplitudeConversion = true;

// The finger model of module 0x2012, supplied by the application (API lock): the DC table
// indexed by whole DC levels, the factors indexed by hundreds of the DC table's value, and the
// AC table indexed by tenths of the AC level.
constexpr int kFingerDcEntries = 3001;
constexpr int kFingerFactorEntries = 31;
constexpr int kFingerAcEntries = 301;
struct FingerModel2012 {
    double dc[kFingerDcEntries];
    double factor[kFingerFactorEntries];
    double ac[kFingerAcEntries];
};
std::unique_ptr<FingerModel2012> s_fingerModel2012;

bool ValidChannel(int channel) {
    return channel >= 0 && channel < kPPGChannels;
}

// A level in thousandths as a table entry: truncated toward zero, limited to the entry's range
// (a value that is not a number becomes 0).
std::int32_t ToEntry(double thousandths) {
    if (!(thousandths == thousandths)) return 0;
    constexpr double kLow = std::numeric_limits<std::int32_t>::min();
    constexpr double kHigh = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::trunc(std::clamp(thousandths, kLow, kHigh)));
}

// Installs a table: swapped under the interrupt lock, the old one released afterwards.
void InstallTable(int channel, std::unique_ptr<PPG_TABLE> table) {
    const std::uint8_t sync = table ? g_PPG_led_sync[channel].load() : 0;
    if (table) table->acMaxUnits = table->acMax / 1000.0;
    {
        CAutoCriticalSection interrupt(g_InterruptCriticalSection);
        s_tables[channel].swap(table);
        g_PPG_led_sync[channel] = sync;
    }
    table.reset();
}

// Whole-number index into a table of `entries`, limited to its ends.
int TableIndex(double x, int entries) {
    if (!(x > 0.0)) return 0;
    if (x >= entries - 1) return entries - 1;
    return static_cast<int>(x);
}

bool AllFinite(const double* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

// Standard record of one channel (the same for both halves of the Ex call).
PPG_WAVEFORM StandardRecord(int type, int sync, int invert, double frequency, double dc,
                            double ac) {
    PPG_WAVEFORM w{};
    w.Type = type;
    w.Sync = sync;
    w.Invert = invert;
    w.Frequency = frequency;
    w.DC = dc;
    w.AC = ac;
    w.NotchLevel = 7.0 * ac / 12.5;
    w.DicroticLevel = 8.0 * ac / 12.5;
    const double period = frequency != 0.0 ? 1.0 / frequency : 0.0;
    auto ms = [period](double perSecond) {
        const double v = std::round(perSecond * period);
        return std::isfinite(v) && std::fabs(v) < 1e9 ? static_cast<std::int32_t>(v) : 0;
    };
    w.RiseTime = ms(150.0);
    w.NotchTime = ms(360.0);
    w.DicroticTime = ms(460.0);
    w.AuxiliaryWordA = 1000;
    w.AuxiliaryWordB = 20;
    w.AuxiliaryFactor = 1;
    return w;
}

bool IsEmptyWaveform(const PPG_WAVEFORM* w) {
    static const PPG_WAVEFORM kZero{};
    return std::memcmp(w, &kZero, sizeof kZero) == 0;
}

// Table length of one beat at rate for frequency f (valid frequencies only).
std::uint64_t BeatLength(double rate, double frequency) {
    return static_cast<std::uint64_t>(std::trunc(0.5 + rate / frequency));
}

bool ValidFrequency(double frequency) {
    return frequency >= 0.16 && frequency <= 5.0;
}

// Range equalisation of two standard channels on module 0x2112: both AC levels fall in the same
// AC range, each channel's AC to DC ratio and the ratio between the channels stay.
void EqualiseRanges(double* ac1, double* dc1, double* ac2, double* dc2) {
    const int m1 = GetACCalMode(*ac1);
    const int m2 = GetACCalMode(*ac2);
    if (m1 == m2) return;
    const int m = std::min(m1, m2);
    const double lower[2] = {15.0, 1.5};
    const double upper[2] = {300.0, 15.0};
    const double k = std::min({lower[m] / std::min(*ac1, *ac2), upper[m] / std::max(*ac1, *ac2),
                               3000.0 / std::max(*dc1, *dc2)});
    *ac1 *= k;
    *dc1 *= k;
    *ac2 *= k;
    *dc2 *= k;
}

int SetStandardWaveform(int channel, int type, int sync, int invert, double frequency, double dc,
                        double ac) {
    const PPG_WAVEFORM w = StandardRecord(type, sync, invert, frequency, dc, ac);
    return SetPPGWaveform(channel, &w);
}

}  // namespace

const PPG_TABLE* PPGTable(int channel) {
    return ValidChannel(channel) ? s_tables[channel].get() : nullptr;
}

PPG_LIMITS PPGLimits() {
    DEVICE_FEATURE feature = g_DeviceFeature;
    if (!(feature.Limits[3] > 0.0) || !(feature.Limits[1] > 0.0)) {
        feature = DeviceFeatureForModel(0);
    }
    return PPG_LIMITS{feature.Limits[0], feature.Limits[1], feature.Limits[2], feature.Limits[3]};
}

bool PPGConversionActive() {
    if (!g_PPGAmplitudeConversion) return false;
    const std::uint16_t model = GetPPGFullModelNumber();
    return model == kPPGModel2112 || (model == kPPGModel2012 && s_fingerModel2012 != nullptr);
}

int PPGTableSlot(int channel) {
    static const int kSlot[kPPGChannels] = {2, 0, 1};
    return ValidChannel(channel) ? kSlot[channel] : 0;
}

void _ClearPPGData(int channel) {
    if (!ValidChannel(channel)) return;
    InstallTable(channel, nullptr);
}

void ResetPPGWaveforms() {
    for (int k = 0; k < kPPGChannels; ++k) {
        g_bPPGOutputEnabled[k] = false;
        _ClearPPGData(k);
        g_PPG_waveforms[k] = PPG_WAVEFORM{};
    }
}

extern "C" {

TOLV_SERVICE_API int GetACCalMode(double ac) {
    if (ac + 0.00005 >= 15.0) return 0;
    if (ac + 0.00005 >= 1.5) return 1;
    return 2;
}

TOLV_SERVICE_API double FingerDCValueConvert(int channel, double dc) {
    CAutoCriticalSection api(g_APICriticalSection);
    const std::uint16_t model = GetPPGFullModelNumber();
    if (model == kPPGModel2112) {
        const int slot = PPGTableSlot(channel);
        return GetPPGDCTableEntry(slot, TableIndex(std::trunc(dc), kFingerDcEntries));
    }
    if (model == kPPGModel2012 && s_fingerModel2012 != nullptr) {
        const FingerModel2012& f = *s_fingerModel2012;
        const double v = f.dc[TableIndex(std::trunc(dc), kFingerDcEntries)];
        return v * f.factor[TableIndex(v / 100.0, kFingerFactorEntries)] / 0.113;
    }
    return dc;
}

TOLV_SERVICE_API double FingerACValueConvert(double ac) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (GetPPGFullModelNumber() == kPPGModel2012 && s_fingerModel2012 != nullptr) {
        return s_fingerModel2012->ac[TableIndex(std::trunc(10.0 * ac), kFingerAcEntries)] / 10.0;
    }
    return ac;
}

TOLV_SERVICE_API int GenPPGWaveform(const PPG_WAVEFORM* waveform, int count, int* ac, int* acMax,
                                    double sampleRate) {
    return NoThrow(0, [&] {
        if (acMax != nullptr) *acMax = 0;
        if (waveform == nullptr || IsEmptyWaveform(waveform)) return 0;
        if (!ValidFrequency(waveform->Frequency) || !(sampleRate > 0.0) || !(sampleRate <= 1.0e6)) {
            return 0;
        }
        const std::uint64_t length = BeatLength(sampleRate, waveform->Frequency);
        if (length == 0 || length > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
            return 0;
        }
        const int n = static_cast<int>(length);
        // Only as many entries as the caller has room for are written.
        const int room = ac == nullptr ? 0 : std::clamp(count, 0, n);
        auto put = [&](int i, double value) {
            if (i < room) ac[i] = ToEntry(value);
        };
        std::int32_t max = 0;
        const int type = waveform->Type;
        if (type >= 0 && type <= 2) {
            const std::int64_t h = static_cast<std::int64_t>(ToEntry(1000.0 * waveform->AC)) / 2;
            const double s = 4.0 * static_cast<double>(h) / n;
            for (int i = 0; i < n; ++i) {
                double v = 0.0;
                if (type == 0) {
                    v = static_cast<double>(h) + std::trunc(h * std::sin(2.0 * kPi * i / n));
                } else if (type == 1) {
                    if (i < n / 4.0) {
                        v = h + std::trunc(i * s);
                    } else if (i < 3.0 * n / 4.0) {
                        v = h + std::trunc(-i * s) + 2.0 * h;
                    } else {
                        v = h + std::trunc(i * s) - 4.0 * h;
                    }
                } else {
                    v = i < n / 2 ? 2.0 * h : 0.0;
                }
                put(i, v);
            }
            max = ToEntry(2.0 * h);
        } else if (type == 3) {
            const double a = 1000.0 * waveform->AC;
            const double notch = 1000.0 * waveform->NotchLevel;
            const double dicrotic = 1000.0 * waveform->DicroticLevel;
            const double t1 = waveform->RiseTime * sampleRate / 1000.0;
            const double t2 = waveform->NotchTime * sampleRate / 1000.0;
            const double t3 = waveform->DicroticTime * sampleRate / 1000.0;
            const double top = std::max({a, notch, dicrotic});
            for (int i = 0; i < n; ++i) {
                double v = 0.0;
                if (i < t1) {
                    v = a / 2 + a / 2 * std::sin(kPi * i / t1 - kPi / 2);
                } else if (i < t2) {
                    v = notch + (a - notch) / 2 +
                        (a - notch) / 2 * std::cos(kPi * (i - t1) / (t2 - t1));
                } else if (i < t3) {
                    v = notch + (dicrotic - notch) / 2 +
                        (dicrotic - notch) / 2 * std::sin(kPi * (i - t2) / (t3 - t2) - kPi / 2);
                } else {
                    v = dicrotic / 2 + dicrotic / 2 * std::cos(kPi * (i - t3) / (n - t3));
                }
                if (waveform->Invert != 0) v = top - v;
                put(i, std::round(v));
            }
            max = ToEntry(top);
        } else {
            return 0;
        }
        if (acMax != nullptr) *acMax = max;
        return n;
    });
}

TOLV_SERVICE_API int AdjustPPGWaveform(int channel, PPG_WAVEFORM* waveform) {
    (void)channel;
    if (waveform == nullptr) return -2;
    CAutoCriticalSection api(g_APICriticalSection);
    PPG_WAVEFORM& w = *waveform;
    const double acMaximum = PPGLimits().acMax;
    if (!g_bACAboveDC) w.DC = w.DC - w.AC;
    w.Sync = w.Sync == 2 ? 2 : 1;
    w.Invert = w.Invert != 0 ? 1 : 0;
    w.AuxiliaryOffset = w.AuxiliaryCount != 0 ? std::clamp(w.AuxiliaryOffset, 0.0, 2.0) : 0.0;
    w.AuxiliaryLevel = std::min(w.AuxiliaryLevel, acMaximum - w.AC - w.AuxiliaryOffset);
    if (!(w.AuxiliaryLevel > 0.0)) w.AuxiliaryLevel = 0.0;
    w.AuxiliaryCount = w.AuxiliaryCount < 1 ? 0 : std::min(w.AuxiliaryCount, 7);
    if (w.AuxiliarySelector != 3) {
        w.AuxiliaryPercent =
            std::min(w.AuxiliaryPercent, std::trunc(100.0 * (acMaximum - w.AC) / w.AC));
        if (!(w.AuxiliaryPercent > -16.0)) w.AuxiliaryPercent = -16.0;
    }
    w.AuxiliaryFactor = w.AuxiliaryFactor < 2 ? 1 : std::min(w.AuxiliaryFactor, 5);
    return 0;
}

TOLV_SERVICE_API int SetPPGWaveform(int channel, const PPG_WAVEFORM* waveform) {
    return NoThrow(-7, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (IsPlayingOrSampling()) return -1;
        if (!ValidChannel(channel)) return -2;
        if (waveform == nullptr || IsEmptyWaveform(waveform)) {
            g_PPG_waveforms[channel] = PPG_WAVEFORM{};
            _ClearPPGData(channel);
            return 0;
        }
        const PPG_LIMITS limits = PPGLimits();
        if (waveform->Type < 0 || waveform->Type > 3) return -3;
        if (!ValidFrequency(waveform->Frequency)) return -4;
        if (!(waveform->DC >= limits.dcMin && waveform->DC <= limits.dcMax)) return -5;
        if (!(waveform->AC >= limits.acMin && waveform->AC <= limits.acMax)) return -6;

        PPG_WAVEFORM w = *waveform;
        AdjustPPGWaveform(channel, &w);
        if (w.Type == 0 || w.Type == 1) {
            w.RiseTime = static_cast<std::int32_t>(std::round(1000.0 / w.Frequency / 4.0));
        } else if (w.Type == 2) {
            w.RiseTime = 0;
        }
        const double rate = s_PPGSampleRate;
        const int n = static_cast<int>(BeatLength(rate, w.Frequency));
        auto table = std::unique_ptr<PPG_TABLE>(new (std::nothrow) PPG_TABLE);
        if (!table) return -7;
        table->ac.reset(new (std::nothrow) std::int32_t[n]);
        table->dc.reset(new (std::nothrow) std::int32_t[n]);
        if (!table->ac || !table->dc) return -7;
        int acMax = 0;
        if (GenPPGWaveform(&w, n, table->ac.get(), &acMax, rate) != n) return -7;
        if (PPGConversionActive()) {
            const std::int32_t dc = ToEntry(1000.0 * FingerDCValueConvert(channel, w.DC));
            for (int i = 0; i < n; ++i) {
                table->dc[i] = dc;
                table->ac[i] = ToEntry(1000.0 * FingerACValueConvert(table->ac[i] / 1000.0));
            }
        } else {
            const std::int32_t dc = ToEntry(std::round(1000.0 * w.DC));
            for (int i = 0; i < n; ++i) table->dc[i] = dc;
        }
        table->useFile = false;
        table->sampleRate = rate;
        table->length = static_cast<std::uint64_t>(n);
        table->acMax = acMax;
        table->invert = w.Invert != 0;
        table->frequency = w.Frequency;
        table->period = 1.0 / w.Frequency;
        table->riseTime = w.RiseTime;
        g_PPG_waveforms[channel] = w;
        g_PPG_led_sync[channel] = static_cast<std::uint8_t>(w.Sync);
        InstallTable(channel, std::move(table));
        return n;
    });
}

TOLV_API int TOLVSetPPGStandardWaveform(int channel, int type, int sync, int invert,
                                        double frequency, double dc, double ac) {
    return NoThrow(-7, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        _outputLog("TOLVSetPPGStandardWaveform(%d, %d, %d, %d, %.2f, %.0f, %.2f);", channel, type,
                   sync, invert, frequency, dc, ac);
        return SetStandardWaveform(channel, type, sync, invert, frequency, dc, ac);
    });
}

TOLV_API int TOLVSetPPGStandardWaveformEx(int channel1, int type1, int sync1, int invert1,
                                          double frequency1, double dc1, double ac1, int channel2,
                                          int type2, int sync2, int invert2, double frequency2,
                                          double dc2, double ac2) {
    return NoThrow(-7, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        // Equalisation needs levels it can divide by; others go to the range checks unchanged.
        if (GetPPGFullModelNumber() == kPPGModel2112 && ac1 > 0.0 && ac2 > 0.0 && dc1 > 0.0 &&
            dc2 > 0.0 && std::isfinite(ac1 + ac2 + dc1 + dc2)) {
            EqualiseRanges(&ac1, &dc1, &ac2, &dc2);
        }
        const int first =
            SetStandardWaveform(channel1, type1, sync1, invert1, frequency1, dc1, ac1);
        if (first < 0) return first;
        return SetStandardWaveform(channel2, type2, sync2, invert2, frequency2, dc2, ac2);
    });
}

TOLV_API int TOLVSetPPGRawData(int channel, int sync, int invert, int count, const double* dc,
                               const double* ac, double sampleRate) {
    return NoThrow(-7, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (IsPlayingOrSampling()) return -1;
        if (!ValidChannel(channel)) return -2;
        if (count < 1) return -3;
        if (dc == nullptr) return -4;
        if (ac == nullptr) return -5;
        if (!(sampleRate > 0.0) || !std::isfinite(sampleRate)) return -6;
        auto table = std::unique_ptr<PPG_TABLE>(new (std::nothrow) PPG_TABLE);
        if (!table) return -7;
        table->ac.reset(new (std::nothrow) std::int32_t[count]);
        table->dc.reset(new (std::nothrow) std::int32_t[count]);
        if (!table->ac || !table->dc) return -7;
        const double acMaximum = PPGLimits().acMax;
        const bool convert = PPGConversionActive();
        std::int32_t acMax = 0;
        for (int i = 0; i < count; ++i) {
            double a = std::min(ac[i], acMaximum);
            if (!(a > 0.0)) a = 0.0;
            if (convert) {
                table->ac[i] = ToEntry(1000.0 * FingerACValueConvert(a));
                table->dc[i] = ToEntry(1000.0 * FingerDCValueConvert(channel, dc[i]));
            } else {
                table->ac[i] = ToEntry(std::round(1000.0 * a));
                table->dc[i] = ToEntry(std::round(1000.0 * dc[i]));
            }
            acMax = std::max(acMax, table->ac[i]);
        }
        if (invert != 0) {
            for (int i = 0; i < count; ++i) table->ac[i] = acMax - table->ac[i];
        }
        table->useFile = true;
        table->sampleRate = sampleRate;
        table->length = static_cast<std::uint64_t>(count);
        table->acMax = acMax;
        table->invert = invert == 1;
        table->period = count / sampleRate;
        g_PPG_led_sync[channel] = static_cast<std::uint8_t>(sync);
        InstallTable(channel, std::move(table));
        return 0;
    });
}

TOLV_API void TOLVClearPPGWaveform(int channel) {
    NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        _ClearPPGData(channel);
        return 0;
    });
}

TOLV_API int TOLVEnablePPGOutput(int channel, bool enable) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (IsPlayingOrSampling()) return -1;
    if (!ValidChannel(channel)) return -2;
    _outputLog("%s(%d, %s);", "TOLVEnablePPGOutput", channel, JournalBool(enable));
    g_bPPGOutputEnabled[channel] = enable;
    return 0;
}

TOLV_API void TOLVRegisterOutputPPGCallback(int channel, TOLV_SIGNAL_CALLBACK callback) {
    CAutoCriticalSection api(g_APICriticalSection);
    if (ValidChannel(channel)) g_PPGGraphCBs[channel] = callback;
}

TOLV_API int TOLVSetPPGFingerModel(const double* dcTable, const double* factors,
                                   const double* acTable) {
    return NoThrow(-7, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (dcTable == nullptr && factors == nullptr && acTable == nullptr) {
            s_fingerModel2012.reset();
            return 0;
        }
        if (dcTable == nullptr || factors == nullptr || acTable == nullptr) return -4;
        if (!AllFinite(dcTable, kFingerDcEntries) || !AllFinite(factors, kFingerFactorEntries) ||
            !AllFinite(acTable, kFingerAcEntries)) {
            return -2;
        }
        for (int i = 0; i < kFingerDcEntries; ++i) {
            if (dcTable[i] < 0.0 || dcTable[i] >= 100.0 * kFingerFactorEntries) return -2;
            if (i > 0 && dcTable[i] < dcTable[i - 1]) return -2;
        }
        for (int i = 0; i < kFingerFactorEntries; ++i) {
            if (factors[i] < 0.0) return -2;
        }
        for (int i = 0; i < kFingerAcEntries; ++i) {
            if (acTable[i] < 0.0) return -2;
        }
        auto model = std::unique_ptr<FingerModel2012>(new (std::nothrow) FingerModel2012);
        if (!model) return -7;
        std::copy(dcTable, dcTable + kFingerDcEntries, model->dc);
        std::copy(factors, factors + kFingerFactorEntries, model->factor);
        std::copy(acTable, acTable + kFingerAcEntries, model->ac);
        s_fingerModel2012 = std::move(model);
        return 0;
    });
}

TOLV_API bool TOLVIsPPGFingerModelActive(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return PPGConversionActive();
}

}  // extern "C"
