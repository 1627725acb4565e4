// The commands list, info, play, render and plot.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

const char kConnectionHelp[] =
    "Connection options:\n"
    "  -p, --port N         port n of /dev/ttyACM<n> (TOLVAN_DEVICE_PATTERN); -1 scans every\n"
    "                       port (default)\n"
    "  -t, --timeout MS     how long to look for the simulator (default 5000)\n"
    "      --vdev[=PRESET]  start a virtual simulator (tolvan-vdev) for this run and use it;\n"
    "                       PRESET: current (default), old, ppg2012, ppg2112, resp\n"
    "      --vdev-csv FILE  with --vdev: the virtual simulator writes every sample it outputs\n"
    "                       to FILE (CSV)\n"
    "  -h, --help           show this text\n";

enum LongOnly {
    kVdev = 1000,
    kVdevCsv,
    kBpm,
    kDc,
    kRate,
    kWidth,
    kChannel,
    kPace,
    kPaceRate,
    kPaceWidth,
    kNoLoop,
    kOffline,
    kCsv,
    kWave,
    kAnnotations,
    kFormat
};

// Parses a number; false (with a message) when the text is not one or out of range.
bool Number(const char* option, const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(v >= low && v <= high)) {
        std::fprintf(stderr, "tolvan: --%s: %s is not a number in %g .. %g\n", option, text, low,
                     high);
        return false;
    }
    *value = v;
    return true;
}

// Handles the connection options; -1 when the option is not one, else an exit code (kOk to go
// on).
int ConnectionOption(int opt, Connection* c) {
    double v = 0;
    switch (opt) {
        case 'p':
            if (!Number("port", optarg, -1, 127, &v)) return kUsage;
            c->port = static_cast<int>(v);
            return kOk;
        case 't':
            if (!Number("timeout", optarg, 0, 600000, &v)) return kUsage;
            c->timeoutMs = static_cast<unsigned>(v);
            return kOk;
        case kVdev:
            c->vdevPreset = optarg != nullptr ? optarg : "current";
            return kOk;
        case kVdevCsv:
            c->vdevCsv = optarg;
            return kOk;
        default:
            return -1;
    }
}

#define TOLVAN_CONNECTION_OPTIONS                                                            \
    {"port", required_argument, nullptr, 'p'}, {"timeout", required_argument, nullptr, 't'}, \
        {"vdev", optional_argument, nullptr, kVdev},                                         \
        {"vdev-csv", required_argument, nullptr, kVdevCsv}, {                                \
        "help", no_argument, nullptr, 'h'                                                    \
    }

int Usage(const char* command) {
    std::fprintf(stderr, "tolvan %s: see tolvan %s --help\n", command, command);
    return kUsage;
}

// Samples seen by the output-signal callback. The callback runs inside the library's sample
// builder: arithmetic and a store into room reserved beforehand only.
std::atomic<long> s_count{0};
double s_min = 0, s_max = 0;
std::vector<double> s_kept;
std::atomic<bool> s_stop{false};

void OnSample(double, double millivolts) {
    const long n = s_count.load(std::memory_order_relaxed);
    if (n == 0 || millivolts < s_min) s_min = millivolts;
    if (n == 0 || millivolts > s_max) s_max = millivolts;
    if (s_kept.size() < s_kept.capacity()) s_kept.push_back(millivolts);
    s_count.store(n + 1, std::memory_order_relaxed);
}

void OnInterrupt(int) {
    s_stop = true;
}

// Waveform settings shared by play and render.
struct Settings {
    double amplitude = NAN, frequency = NAN, dc = NAN, width = NAN;
    double pace = NAN, paceRate = NAN, paceWidth = NAN;
    int sampleRate = 0;
    int channel = 0;
    std::vector<int> leads;
    bool loop = true;
};

// Returns kOk or kFailed (with the refused call printed).
int Apply(const Settings& s, const Selection& selection) {
    auto check = [](int rc, const char* call, double value) {
        if (rc == 0) return true;
        std::fprintf(stderr, "tolvan: %s(%g) refused: %d%s\n", call, value, rc,
                     rc == -2 ? " (out of range; see tolvan.h)" : "");
        return false;
    };
    if (s.sampleRate > 0 &&
        !check(TOLVSetSampleRate(s.sampleRate), "TOLVSetSampleRate", s.sampleRate))
        return kFailed;
    if (!std::isnan(s.amplitude) &&
        !check(TOLVSetAmplitude(s.amplitude), "TOLVSetAmplitude", s.amplitude))
        return kFailed;
    if (!std::isnan(s.frequency) &&
        !check(TOLVSetFrequency(s.frequency), "TOLVSetFrequency", s.frequency))
        return kFailed;
    if (!std::isnan(s.dc) &&
        !check(TOLVSetDCOffset(static_cast<int>(std::lround(s.dc))), "TOLVSetDCOffset", s.dc))
        return kFailed;
    if (!std::isnan(s.width) && !check(TOLVSetPulseWidth(s.width), "TOLVSetPulseWidth", s.width))
        return kFailed;
    if (!std::isnan(s.paceWidth) &&
        !check(TOLVSetPacingDuration(s.paceWidth), "TOLVSetPacingDuration", s.paceWidth))
        return kFailed;
    if (!std::isnan(s.paceRate) && !check(TOLVSetPacingRate(static_cast<unsigned>(s.paceRate)),
                                          "TOLVSetPacingRate", s.paceRate))
        return kFailed;
    if (!std::isnan(s.pace) &&
        !check(TOLVSetPacingAmplitude(s.pace), "TOLVSetPacingAmplitude", s.pace))
        return kFailed;
    if (selection.function != OUTPUT_ANE20000) {
        for (int lead : s.leads) {
            if (!check(TOLVSetOutputLead(lead, true), "TOLVSetOutputLead", lead)) return kFailed;
        }
    }
    TOLVSetSpecialWaveformLoop(s.loop);
    TOLVSetFileLoop(s.loop);
    std::string what;
    const int channel =
        selection.function == OUTPUT_ANE20000 && !s.leads.empty() ? s.leads[0] : s.channel;
    const int rc = ApplySelection(selection, channel, &what);
    if (rc == TOLV_TABLE_MISSING && selection.file.empty()) {
        std::fprintf(stderr,
                     "tolvan: %s: the reference data of %s is not built into this library "
                     "(set TOLVAN_DATA_DIR to the records' directory)\n",
                     what.c_str(), selection.label.c_str());
        return kFailed;
    }
    if (rc != 0) {
        std::fprintf(stderr, "tolvan: %s(%s) failed: %d (see tolvan.h)\n", what.c_str(),
                     selection.label.c_str(), rc);
        return selection.file.empty() ? kFailed : kFileError;
    }
    return kOk;
}

// Waveform options of play and render; -1 when the option is not one.
int SettingOption(int opt, Settings* s) {
    double v = 0;
    switch (opt) {
        case 'a':
            return Number("amplitude", optarg, -1e9, 1e9, &s->amplitude) ? kOk : kUsage;
        case 'f':
            return Number("frequency", optarg, 0, 1e9, &s->frequency) ? kOk : kUsage;
        case kBpm:
            if (!Number("bpm", optarg, 0, 1e9, &v)) return kUsage;
            s->frequency = v / 60.0;
            return kOk;
        case kDc:
            return Number("dc", optarg, -1e9, 1e9, &s->dc) ? kOk : kUsage;
        case kRate:
            if (!Number("rate", optarg, 1, 1e9, &v)) return kUsage;
            s->sampleRate = static_cast<int>(v);
            return kOk;
        case kWidth:
            return Number("width", optarg, 0, 1e9, &s->width) ? kOk : kUsage;
        case kChannel:
            if (!Number("channel", optarg, 0, 255, &v)) return kUsage;
            s->channel = static_cast<int>(v);
            return kOk;
        case 'l':
            if (!Number("lead", optarg, 0, 8, &v)) return kUsage;
            s->leads.push_back(static_cast<int>(v));
            return kOk;
        case kPace:
            return Number("pace", optarg, -1e9, 1e9, &s->pace) ? kOk : kUsage;
        case kPaceRate:
            return Number("pace-rate", optarg, 0, 1e9, &s->paceRate) ? kOk : kUsage;
        case kPaceWidth:
            return Number("pace-width", optarg, 0, 1e9, &s->paceWidth) ? kOk : kUsage;
        case kNoLoop:
            s->loop = false;
            return kOk;
        default:
            return -1;
    }
}

#define TOLVAN_SETTING_OPTIONS                                                                     \
    {"amplitude", required_argument, nullptr, 'a'},                                                \
        {"frequency", required_argument, nullptr, 'f'}, {"bpm", required_argument, nullptr, kBpm}, \
        {"dc", required_argument, nullptr, kDc}, {"rate", required_argument, nullptr, kRate},      \
        {"width", required_argument, nullptr, kWidth},                                             \
        {"channel", required_argument, nullptr, kChannel},                                         \
        {"lead", required_argument, nullptr, 'l'}, {"pace", required_argument, nullptr, kPace},    \
        {"pace-rate", required_argument, nullptr, kPaceRate},                                      \
        {"pace-width", required_argument, nullptr, kPaceWidth}, {                                  \
        "no-loop", no_argument, nullptr, kNoLoop                                                   \
    }

const char kSettingHelp[] =
    "Waveform options:\n"
    "  -a, --amplitude MV   amplitude, mV peak-to-peak (R wave of the ECG forms)\n"
    "  -f, --frequency HZ   repetition frequency, Hz\n"
    "      --bpm N          heart rate, beats per minute (frequency N / 60)\n"
    "      --dc MV          DC offset, mV\n"
    "      --rate N         sample rate, samples/s\n"
    "      --width MS       pulse width of pulse and triangle-pulse, ms\n"
    "  -l, --lead N         switch output lead N (0..8) on (repeatable); for ane20000 the lead\n"
    "                       played\n"
    "      --channel N      channel (column, signal) of a recording file (default 0)\n"
    "      --pace MV        pacing pulse amplitude, mV (0 = off), with --pace-rate PPM and\n"
    "                       --pace-width MS\n"
    "      --no-loop        standard waveforms and recordings stop after playing once\n";

}  // namespace

int PlayCommand(int argc, char** argv) {
    static const option options[] = {TOLVAN_CONNECTION_OPTIONS,
                                     TOLVAN_SETTING_OPTIONS,
                                     {"seconds", required_argument, nullptr, 's'},
                                     {"offline", no_argument, nullptr, kOffline},
                                     {"csv", required_argument, nullptr, kCsv},
                                     {nullptr, 0, nullptr, 0}};
    Connection connection;
    Settings settings;
    double seconds = 10;
    bool offline = false;
    std::string csv;
    for (int opt; (opt = getopt_long(argc, argv, "hp:t:a:f:l:s:", options, nullptr)) != -1;) {
        if (opt == 'h') {
            std::printf(
                "Usage: tolvan play FUNCTION [options]\n\n"
                "Plays FUNCTION on the simulator (or, with --offline, on the library's timer\n"
                "without a device) and reports what the output-signal callback saw.\n"
                "FUNCTION is an output function number (0 .. 17, 10000), a recording file (.edf,\n"
                ".hea/.dat, .txt, .bin, .ecg), or one of these names:\n%s\n%s"
                "  -s, --seconds S      how long to play (default 10; 0 = until Ctrl-C)\n"
                "      --offline        no device: play on the library's timer\n"
                "      --csv FILE       write the callback's samples (time_s,mV) to FILE\n\n%s\n"
                "Example: tolvan play ecg --bpm 80 --amplitude 1.5 --seconds 30 --port 0\n",
                FunctionNamesHelp().c_str(), kSettingHelp, kConnectionHelp);
            return kOk;
        }
        int rc = ConnectionOption(opt, &connection);
        if (rc < 0) rc = SettingOption(opt, &settings);
        if (rc < 0) {
            switch (opt) {
                case 's':
                    rc = Number("seconds", optarg, 0, 86400, &seconds) ? kOk : kUsage;
                    break;
                case kOffline:
                    offline = true;
                    rc = kOk;
                    break;
                case kCsv:
                    csv = optarg;
                    rc = kOk;
                    break;
                default:
                    return Usage("play");
            }
        }
        if (rc != kOk) return rc;
    }
    if (optind + 1 != argc) {
        std::fprintf(stderr, "tolvan play: give one FUNCTION (see tolvan play --help)\n");
        return kUsage;
    }
    Selection selection;
    std::string error;
    if (!ParseFunction(argv[optind], &selection, &error)) {
        std::fprintf(stderr, "tolvan play: %s\n", error.c_str());
        return kUsage;
    }
    if (offline) {
        StartOffline();
    } else if (int rc = Connect(connection); rc != kOk) {
        return rc;
    } else {
        std::printf("connected: %s, firmware %s\n", TOLVGetSerialNumber(), TOLVGetFWVersion());
    }
    if (int rc = Apply(settings, selection); rc != kOk) {
        Disconnect();
        return rc;
    }
    if (!csv.empty()) {
        const double rate = TOLVGetSampleRate();
        s_kept.reserve(
            static_cast<std::size_t>(std::min(seconds > 0 ? seconds : 600.0, 3600.0) * rate) + 1);
    }
    signal(SIGINT, OnInterrupt);
    signal(SIGTERM, OnInterrupt);
    TOLVRegisterOutputSignalCallback(OnSample, 1);
    if (int rc = TOLVSetOutputFunction(selection.function); rc != 0) {
        std::fprintf(stderr, "tolvan: TOLVSetOutputFunction(%d) failed: %d\n", selection.function,
                     rc);
        Disconnect();
        return kFailed;
    }
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (!s_stop && (seconds == 0 || elapsed < seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!TOLVIsPlaying()) break;  // a waveform that does not loop has ended
        if (terminal) {
            std::fprintf(
                stderr, "\rplaying %s: %.0f s%s, %ld samples, %.3f .. %.3f mV ",
                selection.label.c_str(), elapsed,
                seconds > 0 ? (" of " + std::to_string(static_cast<int>(seconds))).c_str() : "",
                s_count.load(), s_min, s_max);
        }
    }
    TOLVSetOutputFunction(OUTPUT_OFF);
    TOLVRegisterOutputSignalCallback(nullptr, 1);
    if (terminal) std::fprintf(stderr, "\r\033[K");
    std::printf("played %s for %.1f s: %ld samples, %.3f .. %.3f mV\n", selection.label.c_str(),
                elapsed, s_count.load(), s_min, s_max);
    int status = s_count > 0 ? kOk : kFailed;
    if (!csv.empty()) {
        Trace trace{s_kept, static_cast<double>(TOLVGetSampleRate()), selection.label};
        if (!WriteCsv(csv, trace, &error)) {
            std::fprintf(stderr, "tolvan: %s\n", error.c_str());
            status = kFileError;
        }
    }
    Disconnect();
    return status;
}

int RenderCommand(int argc, char** argv) {
    static const option options[] = {TOLVAN_SETTING_OPTIONS,
                                     {"seconds", required_argument, nullptr, 's'},
                                     {"output", required_argument, nullptr, 'o'},
                                     {"annotations", no_argument, nullptr, kAnnotations},
                                     {"format", required_argument, nullptr, kFormat},
                                     {"help", no_argument, nullptr, 'h'},
                                     {nullptr, 0, nullptr, 0}};
    Settings settings;
    settings.sampleRate = 1000;
    double seconds = 10;
    std::string output;
    bool annotate = false;
    double format = 16;
    for (int opt; (opt = getopt_long(argc, argv, "ha:f:l:s:o:", options, nullptr)) != -1;) {
        if (opt == 'h') {
            std::printf(
                "Usage: tolvan render FUNCTION -o FILE.csv|FILE.edf|FILE.hea [options]\n\n"
                "Computes FUNCTION offline, without a device and without playing (the library's\n"
                "offline renderer), and writes it as CSV (time_s,mV), EDF (one signal, mV) or a\n"
                "WFDB record (FILE.hea and FILE.dat).\n"
                "FUNCTION as for tolvan play:\n%s\n%s"
                "  -s, --seconds S      length, 1 .. 1800 s (default 10)\n"
                "      --rate N         sample rate, 100 .. 40000 samples/s (default 1000)\n"
                "  -o, --output FILE    the file; .edf writes EDF, .hea WFDB, anything else CSV\n"
                "      --annotations    also the ground truth: each R wave (N; / after a pacing\n"
                "                       pulse; Q in the recorded AAMI/CAL/ANE tables, whose beat\n"
                "                       class is not known), lone pacing pulses (^), apnoea;\n"
                "                       WFDB: FILE.atr; EDF: EDF+ with an annotation signal;\n"
                "                       CSV: FILE.annotations.csv\n"
                "      --format N       WFDB sample format, 16 (default) or 212\n"
                "  -h, --help           show this text\n\n"
                "Example: tolvan render aami3a --seconds 60 -o aami3a.edf\n",
                FunctionNamesHelp().c_str(), kSettingHelp);
            return kOk;
        }
        int rc = SettingOption(opt, &settings);
        if (rc < 0) {
            if (opt == 's') {
                rc = Number("seconds", optarg, 1, 1800, &seconds) ? kOk : kUsage;
            } else if (opt == 'o') {
                output = optarg;
                rc = kOk;
            } else if (opt == kAnnotations) {
                annotate = true;
                rc = kOk;
            } else if (opt == kFormat) {
                rc = Number("format", optarg, 16, 212, &format) && (format == 16 || format == 212)
                         ? kOk
                         : kUsage;
                if (rc != kOk) std::fprintf(stderr, "tolvan render: --format is 16 or 212\n");
            } else {
                return Usage("render");
            }
        }
        if (rc != kOk) return rc;
    }
    if (optind + 1 != argc || output.empty()) {
        std::fprintf(stderr, "tolvan render: give one FUNCTION and -o FILE (see --help)\n");
        return kUsage;
    }
    Selection selection;
    std::string error;
    if (!ParseFunction(argv[optind], &selection, &error)) {
        std::fprintf(stderr, "tolvan render: %s\n", error.c_str());
        return kUsage;
    }
    StartOffline();
    const int rate = settings.sampleRate;
    settings.sampleRate = 0;  // the renderer takes its own rate
    if (int rc = Apply(settings, selection); rc != kOk) {
        Disconnect();
        return rc;
    }
    Trace trace;
    trace.rate = rate;
    trace.label = selection.label;
    trace.millivolts.resize(static_cast<std::size_t>(std::lround(seconds * rate)));
    if (annotate && TOLVEnableGroundTruth(1) != 0) {
        Disconnect();
        std::fprintf(stderr, "tolvan: the ground truth could not be switched on\n");
        return kFailed;
    }
    const int written = GetRawDataArrayEx(selection.function, trace.millivolts.data(),
                                          static_cast<int>(trace.millivolts.size()), rate);
    std::vector<Annotation> annotations;
    if (annotate) {
        annotations = CollectAnnotations(rate, trace.millivolts.size());
        TOLVEnableGroundTruth(0);
        if (TOLVGetGroundTruthLost() != 0) {
            std::fprintf(stderr,
                         "tolvan: %u ground-truth events were lost (render fewer seconds)\n",
                         TOLVGetGroundTruthLost());
        }
    }
    Disconnect();
    if (written <= 0) {
        std::fprintf(stderr, "tolvan: GetRawDataArrayEx(%d, ..., %zu, %d) rendered nothing\n",
                     selection.function, trace.millivolts.size(), rate);
        return kFailed;
    }
    bool ok = false;
    if (EndsWith(output, ".hea")) {
        ok = WriteWfdb(output, trace, static_cast<int>(format), annotate ? &annotations : nullptr,
                       &error);
    } else if (EndsWith(output, ".edf")) {
        ok = annotate ? WriteEdfPlus(output, trace, annotations, &error)
                      : WriteEdf(output, trace, &error);
    } else {
        const std::string base =
            EndsWith(output, ".csv") ? output.substr(0, output.size() - 4) : output;
        ok = WriteCsv(output, trace, &error) &&
             (!annotate || WriteAnnotationCsv(base + ".annotations.csv", annotations, &error));
    }
    if (!ok) {
        std::fprintf(stderr, "tolvan: %s\n", error.c_str());
        return kFileError;
    }
    std::printf("rendered %s: %.1f s at %d samples/s to %s\n", selection.label.c_str(), seconds,
                rate, output.c_str());
    if (annotate) {
        std::size_t beats = 0, pulses = 0;
        for (const Annotation& a : annotations) {
            beats += a.code == 1 || a.code == 12 || a.code == 13;
            pulses += a.text == "^" || a.text == "pacing pulse";
        }
        std::printf("annotations: %zu beats, %zu pacing pulses, %zu in all\n", beats, pulses,
                    annotations.size());
    }
    return kOk;
}

int PlotCommand(int argc, char** argv) {
    static const option options[] = {{"output", required_argument, nullptr, 'o'},
                                     {"width", required_argument, nullptr, 'W'},
                                     {"height", required_argument, nullptr, 'H'},
                                     {"rate", required_argument, nullptr, kRate},
                                     {"channel", required_argument, nullptr, kChannel},
                                     {"help", no_argument, nullptr, 'h'},
                                     {nullptr, 0, nullptr, 0}};
    std::string output;
    double width = 1200, height = 400, rate = 20000, channel = 0;
    for (int opt; (opt = getopt_long(argc, argv, "ho:W:H:", options, nullptr)) != -1;) {
        bool ok = true;
        switch (opt) {
            case 'h':
                std::printf(
                    "Usage: tolvan plot FILE -o OUT.svg|OUT.png [options]\n\n"
                    "Draws the samples of FILE: a CSV written by tolvan render or play --csv\n"
                    "(time_s,mV), a CSV written by tolvan-vdev --csv (its ac_mV column), or an "
                    "EDF\n"
                    "file. Each pixel column shows the minimum and maximum of its samples, so "
                    "narrow\n"
                    "peaks stay visible.\n\n"
                    "  -o, --output FILE    the image: .png writes PNG, anything else SVG\n"
                    "  -W, --width PX       image width (default 1200)\n"
                    "  -H, --height PX      image height (default 400)\n"
                    "      --rate N         sample rate of a tolvan-vdev CSV (default 20000)\n"
                    "      --channel N      signal of an EDF file (default 0)\n"
                    "  -h, --help           show this text\n");
                return kOk;
            case 'o':
                output = optarg;
                break;
            case 'W':
                ok = Number("width", optarg, 120, 10000, &width);
                break;
            case 'H':
                ok = Number("height", optarg, 100, 10000, &height);
                break;
            case kRate:
                ok = Number("rate", optarg, 1, 1e6, &rate);
                break;
            case kChannel:
                ok = Number("channel", optarg, 0, 255, &channel);
                break;
            default:
                return Usage("plot");
        }
        if (!ok) return kUsage;
    }
    if (optind + 1 != argc || output.empty()) {
        std::fprintf(stderr, "tolvan plot: give one FILE and -o OUT (see --help)\n");
        return kUsage;
    }
    Trace trace;
    std::string error;
    if (!ReadTrace(argv[optind], rate, static_cast<int>(channel), &trace, &error)) {
        std::fprintf(stderr, "tolvan: %s\n", error.c_str());
        return kFileError;
    }
    const bool png = EndsWith(output, ".png");
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    if (!(png ? WritePng(output, trace, w, h, &error) : WriteSvg(output, trace, w, h, &error))) {
        std::fprintf(stderr, "tolvan: %s\n", error.c_str());
        return kFileError;
    }
    std::printf("plotted %zu samples of %s to %s\n", trace.millivolts.size(), argv[optind],
                output.c_str());
    return kOk;
}

int InfoCommand(int argc, char** argv) {
    static const option options[] = {TOLVAN_CONNECTION_OPTIONS, {nullptr, 0, nullptr, 0}};
    Connection connection;
    for (int opt; (opt = getopt_long(argc, argv, "hp:t:", options, nullptr)) != -1;) {
        if (opt == 'h') {
            std::printf(
                "Usage: tolvan info [options]\n\n"
                "Connects and prints the simulator's serial number, firmware and hardware\n"
                "versions and its PPG or respiration module.\n\n%s",
                kConnectionHelp);
            return kOk;
        }
        const int rc = ConnectionOption(opt, &connection);
        if (rc < 0) return Usage("info");
        if (rc != kOk) return rc;
    }
    if (optind != argc) return Usage("info");
    if (int rc = Connect(connection); rc != kOk) return rc;
    MODEL_INFORMATION model{};
    TOLVGetDeviceInformation(&model);
    std::printf("serial number       %s\n", TOLVGetSerialNumber());
    std::printf("model               %c%c %02x%02x\n", model.Letter1 ? model.Letter1 : '-',
                model.Letter2 ? model.Letter2 : '-', model.ModelHigh, model.ModelLow);
    std::printf("firmware            %s\n", TOLVGetFWVersion());
    std::printf("hardware            %s\n", TOLVGetHWVersion());
    if (TOLVIsPPGConnected()) {
        HW_INFORMATION hw{};
        TOLVGetPPGHWInformation(&hw);
        std::printf("PPG module          %s, firmware %d.%d.%02d.%02d\n", TOLVGetPPGSerialNumber(),
                    hw.FirmwareVersion[0], hw.FirmwareVersion[1], hw.FirmwareVersion[2],
                    hw.FirmwareVersion[3]);
    } else {
        std::printf("PPG module          none\n");
    }
    std::printf("respiration module  %s\n", TOLVRespirationModuleIsConnected() ? "yes" : "none");
    std::printf("libtolvan           %s\n", TOLVGetSDKVersion());
    Disconnect();
    return kOk;
}

int ListCommand(int argc, char** argv) {
    static const option options[] = {TOLVAN_CONNECTION_OPTIONS, {nullptr, 0, nullptr, 0}};
    Connection connection;
    connection.timeoutMs = 3000;
    for (int opt; (opt = getopt_long(argc, argv, "hp:t:", options, nullptr)) != -1;) {
        if (opt == 'h') {
            std::printf(
                "Usage: tolvan list [options]\n\n"
                "Lists the serial nodes (/dev/ttyACM<n>, or TOLVAN_DEVICE_PATTERN) and what\n"
                "answers on each: the simulator with its serial number and firmware, or\n"
                "why it was not taken (not a TOLVAN simulator, permission denied, port\n"
                "locked by process N, ...). Each port is tried for --timeout ms (default\n"
                "3000 here). --port lists one port only.\n\n%s",
                kConnectionHelp);
            return kOk;
        }
        const int rc = ConnectionOption(opt, &connection);
        if (rc < 0) return Usage("list");
        if (rc != kOk) return rc;
    }
    if (optind != argc) return Usage("list");
    Connection one = connection;
    if (!connection.vdevPreset.empty()) {
        // Start the virtual simulator only; each port is then tried below.
        if (int rc = Connect(connection); rc != kOk) return rc;
        TOLVFree();
        one.vdevPreset.clear();
    }
    const char* env = std::getenv("TOLVAN_DEVICE_PATTERN");
    std::string pattern =
        env != nullptr && std::strstr(env, "%d") != nullptr ? env : "/dev/ttyACM%d";
    int found = 0, nodes = 0;
    for (int n = (connection.port >= 0 ? connection.port : 0);
         n <= (connection.port >= 0 ? connection.port : 127); ++n) {
        char node[512];
        std::snprintf(node, sizeof node, pattern.c_str(), n);
        struct stat st;
        if (stat(node, &st) != 0) continue;
        ++nodes;
        if (TOLVConnect(n, connection.timeoutMs)) {
            ++found;
            std::printf("%-24s %s  firmware %s  hardware %s%s\n", node, TOLVGetSerialNumber(),
                        TOLVGetFWVersion(), TOLVGetHWVersion(),
                        TOLVIsPPGConnected() ? "  PPG module" : "");
            TOLVFree();
        } else {
            std::string why = TOLVGetLastErrorText();
            const std::size_t open = why.find(" ("), close = why.rfind(')');
            if (why.rfind("timed out", 0) == 0 && open != std::string::npos && close > open) {
                why = why.substr(open + 2, close - open - 2);  // the reason inside
            }
            const std::string tail = std::string(": ") + node;
            if (why.size() > tail.size() &&
                why.compare(why.size() - tail.size(), tail.size(), tail) == 0) {
                why.resize(why.size() - tail.size());  // the node is in the first column
            }
            std::printf("%-24s %s\n", node, why.c_str());
        }
    }
    Disconnect();
    if (nodes == 0) {
        std::printf("no serial node matches %s (is the simulator plugged in?)\n", pattern.c_str());
    }
    return found > 0 ? kOk : kNoSimulator;
}

}  // namespace cli
