#include "synthesis/GroundTruth.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/NoThrow.h"
#include "protocol/Discipline.h"
#include "synthesis/EcgComplex.h"
#include "synthesis/MathConstants.h"
#include "synthesis/PlayClock.h"
#include "synthesis/ReferenceData.h"
#include "synthesis/StandardWaveforms.h"

std::atomic<bool> g_TruthOn{false};

namespace {

// R peak of outputs 7 and 14 as a fraction of the amplitude.
constexpr double kRPeakFraction = 0.875;
// Sample of the R peak within the reference beat of the 2-47 patterns, and the apex of the
// triangle of pattern 1 (ms).
constexpr int kReferenceBeatR = 53;
constexpr int kTriangleApex = 50;
// Detector: slope threshold as a fraction of the steepest slope, search half-width around the
// slope, the median window and the refractory time (s).
constexpr double kSlopeFraction = 0.3;
constexpr double kSearchHalfWidth = 0.08;
constexpr double kMedianHalfWidth = 0.25;
constexpr double kRefractory = 0.25;

// The ring: written by the sample path, read under the API lock.
TOLV_TRUTH_EVENT s_events[kTruthCapacity];
std::atomic<std::uint32_t> s_head{0};
std::atomic<std::uint32_t> s_tail{0};
std::atomic<std::uint32_t> s_lost{0};

// The R waves of every standard table, built when the recording is first switched on and never
// changed afterwards; a rebuild (only when a table that was missing can be had now) publishes
// a new set and keeps the old one for the rest of the process, since a sample may still read
// it.
struct TABLE_MARKS {
    std::vector<R_MARK> iec227[kIEC227Count];
    std::vector<R_MARK> iec251[kIEC251Count];
    std::vector<R_MARK> ane20000[kANE20000Channels];
    std::vector<R_MARK> iec247[kIEC247Count];
    bool present[3] = {false, false, false};  // IEC227, IEC251, ANE20000 tables were there
};
std::atomic<const TABLE_MARKS*> s_marks{nullptr};
std::vector<std::unique_ptr<TABLE_MARKS>> s_markSets;  // API lock

// Sample-path state: one writer at a time.
CRelaxed<double> s_lastP{-1.0};
CRelaxed<int> s_lastKey{-1};
CRelaxed<const std::vector<R_MARK>*> s_lastList{nullptr};
CRelaxed<std::size_t> s_cursor{0};
CRelaxed<double> s_lastR{-1.0};
CRelaxed<bool> s_apnoea[2] = {CRelaxed<bool>{false}, CRelaxed<bool>{false}};
CRelaxed<double> s_ppgPhase[3] = {CRelaxed<double>{-1.0}, CRelaxed<double>{-1.0},
                                  CRelaxed<double>{-1.0}};

void ResetTruthState() {
    s_lastP = -1.0;
    s_lastKey = -1;
    s_lastList = nullptr;
    s_cursor = 0;
    s_lastR = -1.0;
    for (auto& a : s_apnoea) a = false;
    for (auto& p : s_ppgPhase) p = -1.0;
}

void SlotMarks(std::vector<R_MARK>* lists, int slots, ReferenceTable id, int stride,
               int (*length)(int), int rate, bool* present) {
    const TableView table = AcquireTable(id);
    *present = static_cast<bool>(table);
    if (!table) return;
    for (int n = 0; n < slots; ++n) {
        const int count = std::min(length(n), table.count - n * stride);
        if (count > 0) lists[n] = DetectRWaves(table.samples + n * stride, count, rate);
    }
}

int IEC227Length(int n) {
    return IEC227SampleCount(n);
}
int CTSLength(int) {
    return kCTSLength;
}

const TABLE_MARKS* BuildMarks() {
    auto marks = std::make_unique<TABLE_MARKS>();
    SlotMarks(marks->iec227, kIEC227Count, ReferenceTable::IEC227, kIEC227Slot, IEC227Length,
              kIEC227Rate, &marks->present[0]);
    SlotMarks(marks->iec251, kIEC251Count, ReferenceTable::IEC251, kCTSLength, CTSLength, kCTSRate,
              &marks->present[1]);
    SlotMarks(marks->ane20000, kANE20000Channels, ReferenceTable::ANE20000, kCTSLength, CTSLength,
              kCTSRate, &marks->present[2]);
    for (int n = 0; n < kIEC247Count; ++n) marks->iec247[n] = IEC247RWaves(n);
    s_markSets.push_back(std::move(marks));
    return s_markSets.back().get();
}

// True when a table that was missing when the marks were made can be had now.
bool MissingTableArrived(const TABLE_MARKS& marks) {
    const ReferenceTable ids[3] = {ReferenceTable::IEC227, ReferenceTable::IEC251,
                                   ReferenceTable::ANE20000};
    for (int k = 0; k < 3; ++k) {
        if (!marks.present[k] && AcquireTable(ids[k])) return true;
    }
    return false;
}

const std::vector<R_MARK>* TableList(int output) {
    const TABLE_MARKS* marks = s_marks.load(std::memory_order_acquire);
    if (marks == nullptr) return nullptr;
    const int index = output == OUTPUT_ANE20000 ? ANE20000ChannelNo : SpecialWaveFormNo;
    switch (output) {
        case OUTPUT_IEC227:
            return index >= 0 && index < kIEC227Count ? &marks->iec227[index] : nullptr;
        case OUTPUT_IEC251:
            return index >= 0 && index < kIEC251Count ? &marks->iec251[index] : nullptr;
        case OUTPUT_IEC247:
            return index >= 0 && index < kIEC247Count ? &marks->iec247[index] : nullptr;
        case OUTPUT_ANE20000:
            return index >= 0 && index < kANE20000Channels ? &marks->ane20000[index] : nullptr;
        default:
            return nullptr;
    }
}

// channel 0: an exact beat; 1: a beat the detector found in a recorded table.
void RecordR(double time, double value, int channel = 0) {
    s_lastR = time;
    RecordTruth(TOLV_TRUTH_R_WAVE, channel, time, value);
}

}  // namespace

void RecordTruth(int kind, int channel, double time, double value) {
    const std::uint32_t head = s_head.load(std::memory_order_relaxed);
    const std::uint32_t tail = s_tail.load(std::memory_order_acquire);
    if (head - tail >= static_cast<std::uint32_t>(kTruthCapacity)) {
        s_lost.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TOLV_TRUTH_EVENT& e = s_events[head % kTruthCapacity];
    e.Time = time;
    e.Kind = kind;
    e.Channel = channel;
    e.Value = value;
    s_head.store(head + 1, std::memory_order_release);
}

void NoteBeatTruth(int output, double p, double a) {
    if (!GroundTruthOn()) return;
    const double t = s_t;
    if (t <= 0.0) s_lastR = -1.0;
    double last = s_lastP;
    s_lastP = p;
    const int index = output == OUTPUT_ANE20000 ? ANE20000ChannelNo : SpecialWaveFormNo;
    const int key = output * 256 + (index & 0xff);
    const bool fresh = key != s_lastKey;
    s_lastKey = key;

    double r = 0.0;
    double value = 0.0;
    switch (output) {
        case OUTPUT_ECG:
            r = s_t1;
            value = kRPeakFraction * a;
            break;
        case OUTPUT_CUSTOM_ECG:
            r = s_Cus_t3;
            value = kRPeakFraction * a;
            break;
        case OUTPUT_JJG1041_DOUBLE_R:
        case OUTPUT_JJG1041_SINGLE_R:
            r = s_tR1_Crest;
            value = s_aR1_Crest;
            break;
        default: {
            // A standard table: walk its R list with a cursor, from the start after a wrap.
            const std::vector<R_MARK>* list = TableList(output);
            if (list == nullptr) return;
            std::size_t cursor = s_cursor;
            if (fresh || list != s_lastList) {
                s_lastList = list;
                const auto before = [](const R_MARK& m, double x) { return m.position < x; };
                const auto at = t <= 0.0 ? std::lower_bound(list->begin(), list->end(), p, before)
                                         : std::upper_bound(list->begin(), list->end(), p,
                                                            [](double x, const R_MARK& m) {
                                                                return x < m.position;
                                                            });
                cursor = static_cast<std::size_t>(at - list->begin());
            } else if (p < last) {
                cursor = 0;
            }
            while (cursor < list->size() && (*list)[cursor].position <= p) {
                RecordR(t - (p - (*list)[cursor].position), (*list)[cursor].value,
                        output == OUTPUT_IEC247 ? 0 : 1);
                ++cursor;
            }
            s_cursor = cursor;
            return;
        }
    }
    if (fresh) last = t <= 0.0 ? -1.0 : p;
    if (p >= r && (last < r || p < last)) RecordR(t - (p - r), value);
}

void NoteApnoeaTruth(int channel, bool on, double t) {
    if (!GroundTruthOn() || channel < 0 || channel > 1) return;
    if (s_apnoea[channel] == on) return;
    s_apnoea[channel] = on;
    RecordTruth(on ? TOLV_TRUTH_APNOEA_START : TOLV_TRUTH_APNOEA_END, channel, t, 0.0);
}

void NotePacingTruth(double t, double amplitude) {
    if (!GroundTruthOn()) return;
    RecordTruth(TOLV_TRUTH_PACING_PULSE, 0, t, amplitude);
}

void NotePpgTruth(int channel, double phase, double period, double peakPhase, double t) {
    if (!GroundTruthOn() || channel < 0 || channel > 2) return;
    double last = s_ppgPhase[channel];
    s_ppgPhase[channel] = phase;
    if (t <= 0.0) last = -1.0;
    if (last < 0.0) {
        // The first sample of a run: a foot only when the beat starts here.
        if (phase > 0.0) return;
        last = 1.0;
    }
    if (phase < last) RecordTruth(TOLV_TRUTH_PPG_FOOT, channel, t - phase * period, 0.0);
    if (peakPhase >= 0.0 && phase >= peakPhase && (last < peakPhase || phase < last)) {
        const double peak = t - (phase - peakPhase) * period;
        const double r = s_lastR;
        RecordTruth(TOLV_TRUTH_PPG_PEAK, channel, peak, r >= 0.0 && r <= peak ? peak - r : -1.0);
    }
}

std::vector<R_MARK> DetectRWaves(const std::int32_t* microvolts, int count, int rate) {
    std::vector<R_MARK> marks;
    if (microvolts == nullptr || count < 3 || rate <= 0) return marks;
    auto slope = [&](int n) {
        return std::fabs(static_cast<double>(microvolts[n + 1]) - microvolts[n - 1]);
    };
    double steepest = 0.0;
    for (int n = 1; n < count - 1; ++n) steepest = std::max(steepest, slope(n));
    if (!(steepest > 0.0)) return marks;
    const double threshold = kSlopeFraction * steepest;
    const int half = std::max(1, static_cast<int>(kSearchHalfWidth * rate));
    const int medianHalf = std::max(1, static_cast<int>(kMedianHalfWidth * rate));
    const int refractory = std::max(1, static_cast<int>(kRefractory * rate));
    std::vector<std::int32_t> window;
    for (int n = 1; n < count - 1;) {
        if (slope(n) < threshold) {
            ++n;
            continue;
        }
        const int lo = std::max(0, n - medianHalf);
        const int hi = std::min(count, n + medianHalf);
        window.assign(microvolts + lo, microvolts + hi);
        auto middle = window.begin() + static_cast<std::ptrdiff_t>(window.size() / 2);
        std::nth_element(window.begin(), middle, window.end());
        const double base = *middle;
        int best = n;
        for (int k = std::max(0, n - half); k < std::min(count, n + half); ++k) {
            if (std::fabs(microvolts[k] - base) > std::fabs(microvolts[best] - base)) best = k;
        }
        marks.push_back({static_cast<double>(best) / rate, microvolts[best] / 1000.0});
        n = std::max(n + 1, best + refractory);
    }
    return marks;
}

std::vector<R_MARK> IEC247RWaves(int n) {
    std::vector<R_MARK> marks;
    if (n < 0 || n >= kIEC247Count) return marks;
    const long long length = hrvperiod[n];
    if (n == 0) {
        for (long long s = 0; s + kTriangleApex < length; s += 1000) {
            marks.push_back({static_cast<double>(s + kTriangleApex) / 1000.0, 1.0});
        }
        return marks;
    }
    // The beat starts as the pattern generator places them.
    const double r = getECG227Array()[kReferenceBeatR];
    long long start = 0;
    while (start < length) {
        if (start + kReferenceBeatR < length) {
            marks.push_back({static_cast<double>(start + kReferenceBeatR) / 1000.0, r});
        }
        const double b = static_cast<double>(start);
        const double next = std::trunc(
            b + std::sin(b * hrvfreq[n] * kTwoPi / 1000.0) * rrdev[n] * 1000.0 + rravg[n] * 1000.0);
        if (next < b + kReferenceBeatLength) break;
        start = static_cast<long long>(next);
    }
    return marks;
}

extern "C" {

TOLV_SERVICE_API int TOLVEnableGroundTruth(int enable) {
    return NoThrow(-4, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (enable != 0 && enable != 1) return -2;
        if (enable == 0) {
            g_TruthOn = false;
            return 0;
        }
        const TABLE_MARKS* marks = s_marks.load(std::memory_order_acquire);
        if (marks == nullptr || MissingTableArrived(*marks)) {
            s_marks.store(BuildMarks(), std::memory_order_release);
        }
        g_TruthOn = false;
        ResetTruthState();
        s_tail.store(s_head.load(std::memory_order_acquire), std::memory_order_release);
        s_lost = 0;
        g_TruthOn = true;
        return 0;
    });
}

TOLV_SERVICE_API int TOLVIsGroundTruthEnabled(void) {
    return GroundTruthOn() ? 1 : 0;
}

TOLV_SERVICE_API int TOLVReadGroundTruth(TOLV_TRUTH_EVENT* events, int capacity) {
    return NoThrow(-2, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (events == nullptr || capacity < 1) return -2;
        const std::uint32_t head = s_head.load(std::memory_order_acquire);
        const std::uint32_t tail = s_tail.load(std::memory_order_relaxed);
        const std::uint32_t n = std::min(head - tail, static_cast<std::uint32_t>(capacity));
        for (std::uint32_t i = 0; i < n; ++i) events[i] = s_events[(tail + i) % kTruthCapacity];
        s_tail.store(tail + n, std::memory_order_release);
        return static_cast<int>(n);
    });
}

TOLV_SERVICE_API unsigned TOLVGetGroundTruthLost(void) {
    return s_lost.load(std::memory_order_relaxed);
}

}  // extern "C"
