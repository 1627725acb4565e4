// The library's ground truth as annotations, and whole traces written with them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

// A beat with a pacing pulse this short a time before its R wave is a paced beat, s.
constexpr double kPacedWindow = 0.3;

}  // namespace

void DrainTruth(std::vector<TOLV_TRUTH_EVENT>* events) {
    TOLV_TRUTH_EVENT chunk[512];
    for (int n; (n = TOLVReadGroundTruth(chunk, 512)) > 0;)
        events->insert(events->end(), chunk, chunk + n);
}

std::vector<Annotation> LabelTruth(const std::vector<TOLV_TRUTH_EVENT>& events,
                                   const std::function<long(double)>& sampleOf) {
    std::vector<double> pulses;
    std::vector<double> beats;
    for (const TOLV_TRUTH_EVENT& e : events) {
        if (e.Kind == TOLV_TRUTH_PACING_PULSE) pulses.push_back(e.Time);
        if (e.Kind == TOLV_TRUTH_R_WAVE) beats.push_back(e.Time);
    }
    std::sort(pulses.begin(), pulses.end());
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
        a.sample = sampleOf(e.Time);
        if (a.sample < 0) continue;
        switch (e.Kind) {
            case TOLV_TRUTH_R_WAVE: {
                // A beat found by the detector in a recorded table may be ventricular: Q.
                const bool paced = any(pulses, e.Time - kPacedWindow, e.Time);
                a.code = paced            ? records::kPaced
                         : e.Channel == 1 ? records::kUnknownBeat
                                          : records::kNormal;
                a.text = paced ? "/" : e.Channel == 1 ? "Q" : "N";
                break;
            }
            case TOLV_TRUTH_PACING_PULSE:
                // A pulse that a beat follows is the paced beat's; a lone one is a spike.
                if (any(beats, e.Time, e.Time + kPacedWindow)) {
                    a.code = 0;
                    a.text = "pacing pulse";
                } else {
                    a.code = records::kPacerSpike;
                    a.text = "^";
                }
                break;
            case TOLV_TRUTH_APNOEA_START:
                a.code = records::kNote;
                a.text = "apnoea start";
                break;
            case TOLV_TRUTH_APNOEA_END:
                a.code = records::kNote;
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

bool WriteTrace(const std::string& path, const Trace& trace, int format,
                const std::vector<Annotation>* annotations, std::string* error) {
    records::WriterOptions options;
    options.rate = trace.rate;
    options.label = trace.label;
    options.format = format;
    options.annotations = annotations != nullptr;
    options.comment = std::string("rendered by tolvan ") + TOLVGetSDKVersion();
    if (records::KindOf(path) == records::Kind::kWfdb) {
        double peak = 0.0;
        for (double v : trace.millivolts) peak = std::max(peak, std::fabs(v));
        options.gain = records::WfdbGain(peak, format);
        if (options.gain < 1.0) {
            *error = "the signal exceeds what format " + std::to_string(format) + " holds";
            return false;
        }
    }
    records::SignalWriter writer;
    if (!writer.Open(path, options, error)) return false;
    for (double v : trace.millivolts) writer.Append(v);
    return writer.Finish(annotations != nullptr ? *annotations : std::vector<Annotation>{}, error);
}

}  // namespace cli
