#include "synthesis/StandardWaveforms.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

#include "platform/NoThrow.h"
#include "platform/Text.h"
#include "session/Journal.h"
#include "session/Session.h"
#include "synthesis/MathConstants.h"
#include "synthesis/PlaybackRequests.h"
#include "synthesis/ReferenceData.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

const char* const s227NameArray[kIEC227Count] = {
    "AAMI 3A / IEC A1",    "AAMI 3B / IEC A2",    "AAMI 3C / IEC A3",    "AAMI 3D / IEC A4",
    "AAMI 4A / IEC B1",    "AAMI 4A / IEC B1 x2", "AAMI 4A / IEC B1 /2", "AAMI 4B / IEC B2",
    "AAMI 4B / IEC B2 x2", "AAMI 4B / IEC B2 /2",
};

const char* const s225NameArray[kIEC251Count] = {
    "CAL05000", "CAL10000", "CAL15000", "CAL20000", "CAL30000", "CAL50000", "CAL20002", "CAL20100",
    "CAL20110", "CAL20160", "CAL20200", "CAL20210", "CAL20260", "CAL20500", "CAL20502", "CAL40000",
};

const char* const s247NameArray[kIEC247Count] = {
    "Test pattern 1", "Test pattern 2", "Test pattern 3", "Test pattern 4", "Test pattern 5",
};

const double IEC227WL[kIEC227Count] = {
    59.834722222222226, 59.919444444444444, 59.922222222222224,
    47.93194444444445,  90.57083333333334,  90.575,
    90.56527777777778,  90.60833333333333,  90.60972222222222,
    90.60694444444445,
};

const int hrvperiod[kIEC247Count] = {60000, 3996, 9972, 29874, 3599521};
const double rravg[kIEC247Count] = {1.0, 0.8, 1.0, 3.0, 1.5};
const double rrdev[kIEC247Count] = {0.0, 0.035, 0.07, 0.28, 0.14};
const double hrvfreq[kIEC247Count] = {0.0, 0.25, 0.1, 0.033333, 0.000278};

namespace {

// The reference beat's T wave uses this eight-digit value of 2 pi.
constexpr double kBeatTwoPi = 6.2831853;
constexpr int kANE20000Length = kCTSLength;

// Generated 2-47 patterns: published once (release) after they are filled, never released.
std::atomic<const double*> s_patterns[kIEC247Count] = {};
// Samples of each generated pattern; 0 until generated.
std::atomic<int> arrayLengths[kIEC247Count] = {};
// Serialises pattern generation.
std::mutex s_patternMutex;

bool InRange(int n, int count) {
    return n >= 0 && n < count;
}

// Sample index trunc(rate * p) when it lies in 0 .. length - 1, else -1.
long long SampleIndex(double p, double rate, long long length) {
    const double x = std::trunc(rate * p);
    if (!(x >= 0.0) || x >= static_cast<double>(length)) return -1;
    return static_cast<long long>(x);
}

// Value in mV of slot `slot` of a table of slots of slotLength samples at rate, at p.
double SlotValue(const TableView& table, int slot, int slotLength, double rate, double p) {
    if (!table) return 0.0;
    const long long k = SampleIndex(p, rate, slotLength);
    if (k < 0) return 0.0;
    const long long index = static_cast<long long>(slot) * slotLength + k;
    if (index >= table.count) return 0.0;
    return table.samples[index] / 1000.0;
}

std::array<double, kReferenceBeatLength> MakeReferenceBeat() {
    std::array<double, kReferenceBeatLength> beat{};
    for (int n = 0; n < kReferenceBeatLength; ++n) {
        double v = 0.0;
        if (n < 10) {
            v = 0.0;
        } else if (n <= 52) {
            v = 0.875 * (n - 10) / 43.0;
        } else if (n <= 102) {
            v = 0.875 - (n - 53) / 50.0;
        } else if (n <= 109) {
            v = 0.125 * (n - 103) / 7.0 - 0.125;
        } else if (n < 180) {
            v = 0.0;
        } else {
            v = 0.2 * std::sin(kBeatTwoPi * (n - 180) / 360.0);
        }
        beat[static_cast<std::size_t>(n)] = v;
    }
    return beat;
}

// The common body of the three selectors of SpecialWaveFormNo.
int SelectStandardWaveform(int index, int count, const char* journal, bool (*available)(int)) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!InRange(index, count)) return -2;
        if (!available(index)) return kTableMissing;
        _outputLog(journal, index);
        SpecialWaveFormNo = index;
        playback::ApplyChangeNow();
        return 0;
    });
}

bool IEC227Available(int) {
    return static_cast<bool>(AcquireTable(ReferenceTable::IEC227));
}
bool IEC251Available(int) {
    return static_cast<bool>(AcquireTable(ReferenceTable::IEC251));
}
bool IEC247Available(int n) {
    return getIEC47RawArray(n) != nullptr;
}

// Pointer to slot n of a table, with count and rate, or nullptr.
const std::int32_t* SlotOf(ReferenceTable id, int n, int slots, int slotLength, unsigned samples,
                           unsigned rate, unsigned* count, unsigned* rateOut) {
    if (count != nullptr) *count = 0;
    if (rateOut != nullptr) *rateOut = 0;
    if (!InRange(n, slots)) return nullptr;
    const TableView table = AcquireTable(id);
    if (!table) return nullptr;
    if (count != nullptr) *count = samples;
    if (rateOut != nullptr) *rateOut = rate;
    return table.samples + static_cast<std::ptrdiff_t>(n) * slotLength;
}

// Accessor of a waveform of a table family: samples (uV), with count and rate, or nullptr.
using TableArray = const std::int32_t* (*)(int n, unsigned* count, unsigned* rate);

// The common body of the dumps of the table families: -2 for n outside the family, the table's
// absence, or the dump's result.
int DumpTableWaveform(unsigned n, int family, TableArray array, const char* const* names,
                      const char* path) {
    return NoThrow(-6, [&] {
        if (n >= static_cast<unsigned>(family)) return -2;
        unsigned count = 0;
        unsigned rate = 0;
        const std::int32_t* samples = array(static_cast<int>(n), &count, &rate);
        if (samples == nullptr) return kTableMissing;
        return DumpStandardWaveform(path, static_cast<int>(rate), static_cast<int>(count), names[n],
                                    samples);
    });
}

}  // namespace

int IEC227SampleCount(int n) {
    if (!InRange(n, kIEC227Count)) return 0;
    return static_cast<int>(std::floor(0.5 + kIEC227Rate * IEC227WL[n]));
}

// --- Periods and lookup -----------------------------------------------------------------------

double StandardWaveformPeriod(int outputFunction) {
    const int index = SpecialWaveFormNo;
    switch (outputFunction) {
        case OUTPUT_IEC227:
            if (!InRange(index, kIEC227Count)) return 0.0;
            AcquireTable(ReferenceTable::IEC227);
            return IEC227WL[index];
        case OUTPUT_IEC247:
            if (!InRange(index, kIEC247Count)) return 0.0;
            getIEC47RawArray(index);
            return hrvperiod[index] / 1000.0;
        case OUTPUT_IEC251:
            AcquireTable(ReferenceTable::IEC251);
            return 1.0;
        case OUTPUT_ANE20000:
            AcquireTable(ReferenceTable::ANE20000);
            return 1.0;
        default:
            return 0.0;
    }
}

double StandardWaveformVoltage(int outputFunction, double p) {
    switch (outputFunction) {
        case OUTPUT_IEC227: {
            const int index = SpecialWaveFormNo;
            if (!InRange(index, kIEC227Count)) return 0.0;
            return SlotValue(PeekTable(ReferenceTable::IEC227), index, kIEC227Slot, kIEC227Rate, p);
        }
        case OUTPUT_IEC251: {
            const int index = SpecialWaveFormNo;
            if (!InRange(index, kIEC251Count)) return 0.0;
            return SlotValue(PeekTable(ReferenceTable::IEC251), index, kCTSLength, kCTSRate, p);
        }
        case OUTPUT_IEC247:
            return GetIEC47RawPoint(SpecialWaveFormNo, p);
        case OUTPUT_ANE20000: {
            const int channel = ANE20000ChannelNo;
            if (!InRange(channel, kANE20000Channels)) return 0.0;
            return SlotValue(PeekTable(ReferenceTable::ANE20000), channel, kANE20000Length,
                             kCTSRate, p);
        }
        default:
            return 0.0;
    }
}

// --- 2-47 patterns ----------------------------------------------------------------------------

const double* getECG227Array() {
    static const std::array<double, kReferenceBeatLength> beat = MakeReferenceBeat();
    return beat.data();
}

int makeIEC247Array(int n, double* buffer, int length) {
    if (!InRange(n, kIEC247Count) || buffer == nullptr || length < 0) return 0;
    if (n == 0) {
        // A triangle of 1 mV and 100 ms at the start of every second.
        for (int i = 0; i < length; ++i) {
            const int k = i % 1000;
            double v = 0.0;
            if (k < 50) {
                v = k / 50.0;
            } else if (k < 100) {
                v = 1.0 + (50 - k) / 50.0;
            }
            buffer[i] = v;
        }
        return length;
    }
    // Reference beats whose RR interval swings as rravg + rrdev sin(2 pi hrvfreq t), t being
    // the start of the previous beat.
    const double* beat = getECG227Array();
    long long start = 0;
    int i = 0;
    while (i < length) {
        if (i != start) {
            buffer[i++] = 0.0;
            continue;
        }
        const double b = static_cast<double>(start);
        const double next = std::trunc(
            b + std::sin(b * hrvfreq[n] * kTwoPi / 1000.0) * rrdev[n] * 1000.0 + rravg[n] * 1000.0);
        for (int k = 0; k < kReferenceBeatLength && i < length; ++k) buffer[i++] = beat[k];
        start = static_cast<long long>(next);
    }
    return length;
}

const double* getIEC47RawArray(int n) {
    if (!InRange(n, kIEC247Count)) return nullptr;
    if (const double* pattern = s_patterns[n].load(std::memory_order_acquire)) return pattern;
    std::lock_guard<std::mutex> lock(s_patternMutex);
    if (const double* pattern = s_patterns[n].load(std::memory_order_acquire)) return pattern;
    const int length = hrvperiod[n];
    double* buffer = new (std::nothrow) double[static_cast<std::size_t>(length)];
    if (buffer == nullptr) return nullptr;
    makeIEC247Array(n, buffer, length);
    arrayLengths[n].store(length, std::memory_order_relaxed);
    s_patterns[n].store(buffer, std::memory_order_release);
    return buffer;
}

double GetIEC47RawPoint(int n, double p) {
    if (!InRange(n, kIEC247Count)) return 0.0;
    const double* pattern = s_patterns[n].load(std::memory_order_acquire);
    if (pattern == nullptr) return 0.0;
    const int length = arrayLengths[n].load(std::memory_order_relaxed);
    const double x = std::trunc(1000.0 * p);
    if (!(x >= 0.0) || length <= 0) return 0.0;
    return pattern[static_cast<long long>(std::fmod(x, static_cast<double>(length)))];
}

int ToInt16(int v) {
    return v >= 32768 ? v - 65536 : v;
}

int DumpStandardWaveform(const char* path, int rate, int count, const char* name,
                         const std::int32_t* microvolts) {
    std::FILE* file = OpenFileUtf8(path, "w+b");
    if (file == nullptr) return -3;
    bool ok = std::fprintf(file, "%d\n%d\n1\n%s\n", rate, count, name) >= 0;
    for (int i = 0; ok && i < count; ++i) {
        ok = std::fprintf(file, "%.3f\n", microvolts[i] / 1000.0) >= 0;
    }
    if (std::fclose(file) != 0) ok = false;
    return ok ? 0 : -6;
}

// --- Exported selectors -------------------------------------------------------------------------

TOLV_API int TOLVSetSpecialWave227(int index) {
    return SelectStandardWaveform(index, kIEC227Count, "SetSpecialWave227(%d);", IEC227Available);
}

TOLV_API int TOLVSetSpecialWave251(int index) {
    return SelectStandardWaveform(index, kIEC251Count, "SetSpecialWave251(%d);", IEC251Available);
}

TOLV_API int TOLVSetSpecialWave247(int index) {
    return SelectStandardWaveform(index, kIEC247Count, "SetSpecialWave247(%d);", IEC247Available);
}

TOLV_API int TOLVGetSpecialWave227(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return SpecialWaveFormNo;
}

TOLV_API int TOLVGetSpecialWave251(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return SpecialWaveFormNo;
}

TOLV_API int TOLVGetSpecialWave247(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return SpecialWaveFormNo;
}

TOLV_API int TOLVSetANE20000Lead(int channel) {
    return NoThrow(-1, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (!InRange(channel, kANE20000Channels)) return -1;
        if (!AcquireTable(ReferenceTable::ANE20000)) return kTableMissing;
        ANE20000ChannelNo = channel;
        playback::ApplyChangeNow();
        return 0;
    });
}

TOLV_API int TOLVGetANE20000Lead(void) {
    CAutoCriticalSection api(g_APICriticalSection);
    return ANE20000ChannelNo;
}

// --- Exported table access and dumps (Linux builds) ----------------------------------------------

TOLV_SERVICE_API const int32_t* GetSpecialWave227Array(int n, unsigned* count, unsigned* rate) {
    return NoThrow<const int32_t*>(nullptr, [&] {
        return SlotOf(ReferenceTable::IEC227, n, kIEC227Count, kIEC227Slot,
                      static_cast<unsigned>(IEC227SampleCount(n)), kIEC227Rate, count, rate);
    });
}

TOLV_SERVICE_API const int32_t* GetSpecialWave251Array(int n, unsigned* count, unsigned* rate) {
    return NoThrow<const int32_t*>(nullptr, [&] {
        return SlotOf(ReferenceTable::IEC251, n, kIEC251Count, kCTSLength, kCTSLength, kCTSRate,
                      count, rate);
    });
}

TOLV_SERVICE_API const double* GetSpecialWave247Array(unsigned n, unsigned* count, unsigned* rate) {
    if (count != nullptr) *count = 0;
    if (rate != nullptr) *rate = 0;
    if (n >= static_cast<unsigned>(kIEC247Count)) return nullptr;
    const double* pattern = getIEC47RawArray(static_cast<int>(n));
    if (pattern == nullptr) return nullptr;
    if (count != nullptr) *count = static_cast<unsigned>(hrvperiod[n]);
    if (rate != nullptr) *rate = kIEC247Rate;
    return pattern;
}

TOLV_SERVICE_API double GetRRAvg(int n) {
    return InRange(n, kIEC247Count) ? rravg[n] : 0.0;
}

TOLV_SERVICE_API double GetRRDev(int n) {
    return InRange(n, kIEC247Count) ? rrdev[n] : 0.0;
}

TOLV_SERVICE_API double GetHRVFreq(int n) {
    return InRange(n, kIEC247Count) ? hrvfreq[n] : 0.0;
}

TOLV_SERVICE_API int DumpIEC227Waveform(unsigned n, const char* path) {
    return DumpTableWaveform(n, kIEC227Count, GetSpecialWave227Array, s227NameArray, path);
}

TOLV_SERVICE_API int DumpIEC251Waveform(unsigned n, const char* path) {
    return DumpTableWaveform(n, kIEC251Count, GetSpecialWave251Array, s225NameArray, path);
}

TOLV_SERVICE_API int DumpIEC247Waveform(unsigned n, const char* path) {
    return NoThrow(-6, [&] {
        if (n >= static_cast<unsigned>(kIEC247Count)) return -2;
        unsigned count = 0;
        unsigned rate = 0;
        const double* pattern = GetSpecialWave247Array(n, &count, &rate);
        if (pattern == nullptr) return kTableMissing;
        std::vector<std::int32_t> microvolts(count);
        for (unsigned i = 0; i < count; ++i) {
            microvolts[i] = static_cast<std::int32_t>(std::trunc(1000.0 * pattern[i]));
        }
        return DumpStandardWaveform(path, static_cast<int>(rate), static_cast<int>(count),
                                    s247NameArray[n], microvolts.data());
    });
}
