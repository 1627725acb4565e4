// TOLVLoadECGedfEx: EDF files that TOLVLoadECGedf refuses or reads differently, on request:
// plain EDF with free-text identification fields, EDF+D with its gaps, record durations and
// rates that are not whole numbers (resampled). TOLVLoadECGedf itself is unchanged.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "recordings/EdfFile.h"
#include "recordings/FileReading.h"
#include "recordings/Recording.h"
#include "recordings/RecordingApi.h"
#include "recordings/RecordingCodecs.h"
#include "session/Session.h"
#include "tolvan.h"

namespace {

constexpr int kMinRate = 100;
constexpr int kMaxRate = 40000;
constexpr double kClamp = 20.0;  // mV, as TOLVLoadECGedf
constexpr int kMaxSignals = 256;
constexpr long long kMaxRecordBytes = 64LL << 20;
// A gap longer than this, or a signal longer than kMaxSamples with its gaps, is refused rather
// than filled (a broken onset could ask for terabytes).
constexpr double kMaxGapSeconds = 24.0 * 3600.0;
constexpr double kMaxSamples = 50000000.0;

std::string Text(const char* at, int length) {
    std::string s(at, static_cast<std::size_t>(length));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    return s;
}

bool Number(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

// The onset (s) of a data record's time-keeping annotation: its first TAL, "+onset\x14\x14".
bool RecordOnset(const unsigned char* tal, std::size_t size, double* onset) {
    std::size_t end = 0;
    while (end < size && tal[end] != 0x14 && tal[end] != 0x15 && tal[end] != 0) ++end;
    if (end == 0 || end == size) return false;
    return Number(std::string(reinterpret_cast<const char*>(tal), end), onset);
}

int DoLoadEdfEx(const char* path, int channel, int flags) {
    if ((flags & ~(TOLV_EDF_RESAMPLE | TOLV_EDF_GAPS | TOLV_EDF_FREE_TEXT)) != 0) return -6;
    long long size = 0;
    FileHandle file = OpenRegularFileForReading(path, &size);
    if (!file) return -1;
    char fixed[256];
    if (std::fread(fixed, 1, sizeof fixed, file.get()) != sizeof fixed) return -2;
    const std::string patient = Text(fixed + 8, 80), recording = Text(fixed + 88, 80);
    if ((flags & TOLV_EDF_FREE_TEXT) == 0) {
        EdfLocalPatientIdentification p;
        EdfLocalRecordingIdentification r;
        if (!p.Parse(std::string(fixed + 8, 80)) || !r.Parse(std::string(fixed + 88, 80)))
            return -2;
    }
    double headerBytes = 0, records = 0, duration = 0, signals = 0;
    if (!Number(Text(fixed + 184, 8), &headerBytes) || !Number(Text(fixed + 236, 8), &records) ||
        !Number(Text(fixed + 244, 8), &duration) || !Number(Text(fixed + 252, 4), &signals))
        return -2;
    const std::string reserved = Text(fixed + 192, 44);
    const int ns = static_cast<int>(signals);
    if (ns < 1 || ns > kMaxSignals || signals != ns || headerBytes != 256.0 * (ns + 1) ||
        !(duration > 0.0))
        return -2;
    std::vector<char> block(static_cast<std::size_t>(ns) * 256);
    if (std::fread(block.data(), 1, block.size(), file.get()) != block.size()) return -2;
    auto field = [&](int offset, int width, int s) {
        return Text(block.data() + offset * ns + width * s, width);
    };
    std::vector<int> perRecord(static_cast<std::size_t>(ns));
    long long recordBytes = 0;
    int annotation = -1;
    for (int s = 0; s < ns; ++s) {
        double spr = 0;
        if (!Number(field(216, 8, s), &spr) || spr < 1 || spr > kMaxRecordBytes) return -2;
        perRecord[static_cast<std::size_t>(s)] = static_cast<int>(spr);
        recordBytes += 2LL * static_cast<int>(spr);
        if (field(0, 16, s) == "EDF Annotations" && annotation < 0) annotation = s;
    }
    if (recordBytes > kMaxRecordBytes) return -2;
    if (channel < 0 || channel >= ns || channel == annotation) return -3;
    double pmin = 0, pmax = 0, dmin = 0, dmax = 0;
    if (!Number(field(104, 8, channel), &pmin) || !Number(field(112, 8, channel), &pmax) ||
        !Number(field(120, 8, channel), &dmin) || !Number(field(128, 8, channel), &dmax) ||
        dmax == dmin)
        return -2;
    // The same single-precision limits and arithmetic as TOLVLoadECGedf, so that a file both
    // read gives the same samples.
    auto single = [](double v) {
        return std::isfinite(v) && std::fabs(v) <= 3.4e38 ? static_cast<float>(v) : 0.0f;
    };
    EdfSignal limits;
    limits.physicalMinimum = single(pmin);
    limits.physicalMaximum = single(pmax);
    limits.digitalMinimum = single(dmin);
    limits.digitalMaximum = single(dmax);
    const double gain = limits.AmplifierGain();
    const double shift = limits.PhysicalShift();
    const double unit = EdfMillivoltsPerUnit(field(96, 8, channel));
    // A record count of -1 (still being written) or more than the file holds: what is there.
    const long long present = (size - static_cast<long long>(headerBytes)) / recordBytes;
    const long long count =
        records >= 1 ? std::min(present, static_cast<long long>(records)) : present;
    const int spr = perRecord[static_cast<std::size_t>(channel)];
    const double rate = spr / duration;
    const bool gaps =
        (flags & TOLV_EDF_GAPS) != 0 && reserved.rfind("EDF+D", 0) == 0 && annotation >= 0;
    // Byte offsets within a data record of the signal and of the annotation signal.
    long long at = 0, annotationOffset = 0;
    for (int s = 0; s < ns; ++s) {
        const long long bytes = 2LL * perRecord[static_cast<std::size_t>(s)];
        if (s < channel) at += bytes;
        if (s < annotation) annotationOffset += bytes;
    }

    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(std::max(0LL, count)) * static_cast<std::size_t>(spr));
    std::vector<unsigned char> record(static_cast<std::size_t>(recordBytes));
    for (long long r = 0; r < count; ++r) {
        if (std::fread(record.data(), 1, record.size(), file.get()) != record.size()) break;
        if (gaps) {
            double onset = 0;
            if (RecordOnset(
                    record.data() + annotationOffset,
                    2U * static_cast<std::size_t>(perRecord[static_cast<std::size_t>(annotation)]),
                    &onset)) {
                const double first = std::round(onset * rate);
                if (first - static_cast<double>(values.size()) > kMaxGapSeconds * rate ||
                    first > kMaxSamples)
                    return -2;
                if (first > static_cast<double>(values.size()))
                    values.resize(static_cast<std::size_t>(first), 0.0);
            }
        }
        const unsigned char* b = record.data() + at;
        for (int i = 0; i < spr; ++i) {
            const int digital = decodeLittleEndianI16(b + 2 * i);
            const float physical = static_cast<float>(digital * gain + shift);
            const double mv = physical * unit;
            values.push_back(std::clamp(mv, -kClamp, kClamp));
        }
    }
    if (values.empty()) return -4;
    double played = rate;
    if (rate != std::floor(rate)) {
        if ((flags & TOLV_EDF_RESAMPLE) == 0) return -5;
        played = std::max(1.0, std::round(rate));
        values = Resample(values, rate, played);
    }
    InstallEcgSamples(std::move(values), played);
    const int loaded = CurrentEcgRecording()->Count();
    if (played < kMinRate || played > kMaxRate) return -5;
    return loaded;
}

}  // namespace

extern "C" {

TOLV_API int TOLVLoadECGedfEx(const char* path, int channel, int flags) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadEdfEx(path, channel, flags);
    } catch (const std::bad_alloc&) {
        return -4;
    } catch (...) {
        return -4;
    }
}

}  // extern "C"
