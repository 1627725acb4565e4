// Rendered signals with their ground truth: WFDB records (.hea, .dat in format 16 or 212, .atr)
// and EDF+ with an annotation signal.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

// MIT annotation codes (WFDB ecgcodes.h) and the .atr control words.
constexpr int kNormal = 1;        // N
constexpr int kUnknownBeat = 13;  // Q, a beat whose class is not known
constexpr int kPaced = 12;        // '/', a paced beat
constexpr int kNote = 22;         // '"', a comment in the aux text
constexpr int kPacerSpike = 39;   // '^', a pacemaker pulse that no beat follows
constexpr int kSkip = 59;
constexpr int kAux = 63;
// A beat with a pacing pulse this short a time before its R wave is a paced beat, s.
constexpr double kPacedWindow = 0.3;

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Onset of an EDF+ annotation in seconds, as short as it can be written exactly enough.
std::string Onset(double seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "+%.6f", seconds);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

void Put16(std::string* out, unsigned word) {
    out->push_back(static_cast<char>(word & 0xff));
    out->push_back(static_cast<char>((word >> 8) & 0xff));
}

}  // namespace

std::vector<Annotation> CollectAnnotations(double rate, std::size_t samples) {
    std::vector<TOLV_TRUTH_EVENT> events;
    TOLV_TRUTH_EVENT chunk[512];
    for (int n; (n = TOLVReadGroundTruth(chunk, 512)) > 0;)
        events.insert(events.end(), chunk, chunk + n);
    std::vector<double> pulses;
    for (const TOLV_TRUTH_EVENT& e : events) {
        if (e.Kind == TOLV_TRUTH_PACING_PULSE) pulses.push_back(e.Time);
    }
    std::sort(pulses.begin(), pulses.end());
    std::vector<double> beats;
    for (const TOLV_TRUTH_EVENT& e : events) {
        if (e.Kind == TOLV_TRUTH_R_WAVE) beats.push_back(e.Time);
    }
    std::sort(beats.begin(), beats.end());
    // Whether [from, to] holds a time of the sorted list.
    auto any = [](const std::vector<double>& list, double from, double to) {
        auto at = std::lower_bound(list.begin(), list.end(), from);
        return at != list.end() && *at <= to;
    };

    std::vector<Annotation> out;
    for (const TOLV_TRUTH_EVENT& e : events) {
        Annotation a;
        a.time = e.Time;
        const long sample = std::lround(e.Time * rate);
        if (sample < 0 || sample >= static_cast<long>(samples)) continue;
        a.sample = sample;
        switch (e.Kind) {
            case TOLV_TRUTH_R_WAVE: {
                // A beat found by the detector in a recorded table may be ventricular: Q.
                const bool paced = any(pulses, e.Time - kPacedWindow, e.Time);
                a.code = paced ? kPaced : e.Channel == 1 ? kUnknownBeat : kNormal;
                a.text = paced ? "/" : e.Channel == 1 ? "Q" : "N";
                break;
            }
            case TOLV_TRUTH_PACING_PULSE:
                // A pulse that a beat follows is the paced beat's; a lone one is a spike.
                if (any(beats, e.Time, e.Time + kPacedWindow)) {
                    a.code = 0;
                    a.text = "pacing pulse";
                } else {
                    a.code = kPacerSpike;
                    a.text = "^";
                }
                break;
            case TOLV_TRUTH_APNOEA_START:
                a.code = kNote;
                a.text = "apnoea start";
                break;
            case TOLV_TRUTH_APNOEA_END:
                a.code = kNote;
                a.text = "apnoea end";
                break;
            case TOLV_TRUTH_PPG_FOOT:
                a.code = 0;
                a.text = "PPG" + std::to_string(e.Channel) + " foot";
                break;
            case TOLV_TRUTH_PPG_PEAK: {
                char text[64];
                std::snprintf(text, sizeof text, "PPG%d peak PTT %.3f s", e.Channel, e.Value);
                a.code = 0;
                a.text = text;
                break;
            }
            default:
                continue;
        }
        out.push_back(a);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Annotation& x, const Annotation& y) { return x.time < y.time; });
    return out;
}

bool WriteWfdb(const std::string& path, const Trace& trace, int format,
               const std::vector<Annotation>* annotations, std::string* error) {
    const std::string base = path.substr(0, path.size() - 4);  // without .hea
    const std::string name = FileName(base);
    if (trace.millivolts.empty() || trace.rate <= 0 || name.empty()) {
        *error = "nothing to write";
        return false;
    }
    // Gain in ADC units per mV: 1 µV (format 16) or 5 µV (212) resolution, less when the
    // signal would not fit.
    const double limit = format == 212 ? 2047.0 : 32767.0;
    double peak = 0.0;
    for (double v : trace.millivolts) peak = std::max(peak, std::fabs(v));
    double gain = format == 212 ? 200.0 : 1000.0;
    if (peak * gain > limit) gain = std::floor(limit / peak);
    if (gain < 1.0) {
        *error = "the signal exceeds what format " + std::to_string(format) + " holds";
        return false;
    }
    std::vector<int> adc(trace.millivolts.size());
    int checksum = 0;
    for (std::size_t i = 0; i < adc.size(); ++i) {
        adc[i] = static_cast<int>(std::lround(trace.millivolts[i] * gain));
        checksum = (checksum + adc[i]) & 0xffff;
    }
    if (checksum >= 0x8000) checksum -= 0x10000;

    std::string data;
    if (format == 212) {
        for (std::size_t i = 0; i < adc.size(); i += 2) {
            const unsigned a = static_cast<unsigned>(adc[i]) & 0xfff;
            const unsigned b = i + 1 < adc.size() ? static_cast<unsigned>(adc[i + 1]) & 0xfff : 0;
            data.push_back(static_cast<char>(a & 0xff));
            data.push_back(static_cast<char>(((a >> 8) & 0x0f) | ((b >> 8) << 4)));
            data.push_back(static_cast<char>(b & 0xff));
        }
    } else {
        for (int v : adc) Put16(&data, static_cast<unsigned>(v) & 0xffff);
    }
    std::ofstream dat(base + ".dat", std::ios::binary);
    dat.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!dat) {
        *error = "cannot write " + base + ".dat";
        return false;
    }

    char line[256];
    std::snprintf(line, sizeof line, "%s 1 %.12g %zu\n%s.dat %d %.12g(0)/mV %d 0 %d %d 0 %s\n",
                  name.c_str(), trace.rate, adc.size(), name.c_str(), format, gain,
                  format == 212 ? 12 : 16, adc[0], checksum, trace.label.c_str());
    std::ofstream hea(path);
    hea << line << "# rendered by tolvan " << TOLVGetSDKVersion() << "\n";
    if (!hea) {
        *error = "cannot write " + path;
        return false;
    }
    if (annotations == nullptr) return true;

    // MIT format: per annotation a 16-bit word, code in the top 6 bits and the samples since
    // the previous one in the low 10; a longer interval goes first in a SKIP; aux text follows
    // its annotation. Annotations without a code of their own are not written.
    std::string atr;
    long previous = 0;
    for (const Annotation& a : *annotations) {
        if (a.code == 0) continue;
        long interval = a.sample - previous;
        if (interval < 0) interval = 0;
        if (interval > 1023) {
            Put16(&atr, kSkip << 10);
            const auto skip = static_cast<unsigned long>(interval);
            Put16(&atr, static_cast<unsigned>((skip >> 16) & 0xffff));
            Put16(&atr, static_cast<unsigned>(skip & 0xffff));
            interval = 0;
        }
        Put16(&atr, static_cast<unsigned>(a.code << 10 | interval));
        if (a.code == kNote) {
            std::string aux = a.text;
            Put16(&atr, static_cast<unsigned>(kAux << 10 | aux.size()));
            if (aux.size() % 2 != 0) aux.push_back('\0');
            atr += aux;
        }
        previous = std::max(previous, a.sample);
    }
    Put16(&atr, 0);
    std::ofstream out(base + ".atr", std::ios::binary);
    out.write(atr.data(), static_cast<std::streamsize>(atr.size()));
    if (!out) {
        *error = "cannot write " + base + ".atr";
        return false;
    }
    return true;
}

// EDF+C: the signal in mV, 16-bit, one-second records (the last padded with its last value),
// and an "EDF Annotations" signal with each record's time-keeping TAL and the annotations whose
// sample falls in it.
bool WriteEdfPlus(const std::string& path, const Trace& trace,
                  const std::vector<Annotation>& annotations, std::string* error) {
    const auto rate = static_cast<std::size_t>(std::lround(trace.rate));
    if (rate < 1 || trace.millivolts.empty() ||
        std::fabs(trace.rate - static_cast<double>(rate)) > 1e-9) {
        *error = "nothing to write (EDF wants a whole sample rate)";
        return false;
    }
    const std::size_t records = (trace.millivolts.size() + rate - 1) / rate;
    std::vector<std::string> tals(records);
    for (std::size_t r = 0; r < records; ++r) {
        tals[r] = Onset(static_cast<double>(r)) + "\x14\x14";
        tals[r].push_back('\0');
    }
    for (const Annotation& a : annotations) {
        const auto r = static_cast<std::size_t>(a.sample) / rate;
        if (r >= records) continue;
        tals[r] += Onset(static_cast<double>(a.sample) / trace.rate) + "\x14" + a.text + "\x14";
        tals[r].push_back('\0');
    }
    std::size_t annotationBytes = 0;
    for (const std::string& t : tals) annotationBytes = std::max(annotationBytes, t.size());
    const std::size_t annotationSamples = (annotationBytes + 1) / 2;

    double low = 0, high = 0;
    std::string header = EdfHeaderStart(trace, &low, &high) + Field("768", 8) + Field("EDF+C", 44) +
                         Field(std::to_string(records), 8) + Field("1", 8) + Field("2", 4);
    const std::string label = trace.label.empty() ? "ECG" : trace.label;
    header += Field(label, 16) + Field("EDF Annotations", 16);
    header += Field("", 80) + Field("", 80);
    header += Field("mV", 8) + Field("", 8);
    header += Number(low, 8) + Field("-1", 8);
    header += Number(high, 8) + Field("1", 8);
    header += Field("-32768", 8) + Field("-32768", 8);
    header += Field("32767", 8) + Field("32767", 8);
    header += Field("", 80) + Field("", 80);
    header += Field(std::to_string(rate), 8) + Field(std::to_string(annotationSamples), 8);
    header += Field("", 32) + Field("", 32);
    const double pmin = std::atof(Number(low, 8).c_str());
    const double pmax = std::atof(Number(high, 8).c_str());
    std::ofstream out(path, std::ios::binary);
    out << header;
    for (std::size_t r = 0; r < records; ++r) {
        std::string record;
        for (std::size_t i = r * rate; i < (r + 1) * rate; ++i) {
            const double v = trace.millivolts[std::min(i, trace.millivolts.size() - 1)];
            const double code = std::round((v - pmin) / (pmax - pmin) * 65535.0 - 32768.0);
            Put16(&record, static_cast<unsigned>(
                               static_cast<std::int16_t>(std::clamp(code, -32768.0, 32767.0))) &
                               0xffff);
        }
        std::string tal = tals[r];
        tal.resize(annotationSamples * 2, '\0');
        record += tal;
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WriteAnnotationCsv(const std::string& path, const std::vector<Annotation>& annotations,
                        std::string* error) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    std::fprintf(out, "time_s,sample,annotation\n");
    for (const Annotation& a : annotations)
        std::fprintf(out, "%.6f,%ld,%s\n", a.time, a.sample, a.text.c_str());
    if (std::fclose(out) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace cli
