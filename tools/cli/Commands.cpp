// The commands list, info, play, render and plot.
#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
    "      --vdev-csv FILE  with --vdev: the virtual simulator writes every sample it decodes\n"
    "                       to FILE (repeatable): FILE.hea a WFDB record and FILE.edf EDF of\n"
    "                       the ECG AC path at the device's rate, anything else CSV (see\n"
    "                       tolvan-vdev --help)\n"
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
    kFormat,
    kResample,
    kGaps,
    kFreeText
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
            c->vdevCsv.push_back(optarg);
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
// builder: arithmetic and a store into a ring reserved beforehand only. The play loop takes the
// samples out of the ring (one producer, one consumer); samples that find it full are counted.
struct Seen {
    double time;
    double millivolts;
};
std::atomic<long> s_count{0};
double s_min = 0, s_max = 0;
std::vector<Seen> s_ring;  // a power of two long, or empty when nothing is kept
std::atomic<std::size_t> s_head{0}, s_tail{0};
std::atomic<long> s_overrun{0};
std::atomic<bool> s_stop{false};

void OnSample(double time, double millivolts) {
    const long n = s_count.load(std::memory_order_relaxed);
    if (n == 0 || millivolts < s_min) s_min = millivolts;
    if (n == 0 || millivolts > s_max) s_max = millivolts;
    if (!s_ring.empty()) {
        const std::size_t head = s_head.load(std::memory_order_relaxed);
        if (head - s_tail.load(std::memory_order_acquire) < s_ring.size()) {
            s_ring[head & (s_ring.size() - 1)] = Seen{time, millivolts};
            s_head.store(head + 1, std::memory_order_release);
        } else {
            s_overrun.fetch_add(1, std::memory_order_relaxed);
        }
    }
    s_count.store(n + 1, std::memory_order_relaxed);
}

// The play time of each sample the callback saw, kept as the samples where the time does not
// follow on from the one before (the first; a sample the packet builder repeats to keep its
// clock in step with the simulator's, one in about 33,334, where the time stands still), so
// that an event's play time gives the sample it shows at. The sample rate is measured too: it
// is the rate of the stream (the PPG or respiration module's rate when they play), which
// TOLVGetSampleRate does not give.
class Timeline {
  public:
    void Add(double time) {
        if (m_count == 1 && time > m_last) {
            m_rate = std::round(1.0 / (time - m_last));
        } else if (m_count == 0 ||
                   (m_rate > 0 && std::fabs(time - (m_last + 1.0 / m_rate)) > 0.25 / m_rate)) {
            m_anchors.push_back({m_count, time});
        }
        m_last = time;
        ++m_count;
    }
    long Count() const { return m_count; }
    double Rate() const { return m_rate; }
    long Repeats() const { return static_cast<long>(m_anchors.size()) - 1; }
    // The sample at which an event at this play time shows: the nearest sample (the first of
    // two with one time); -1 outside the samples seen.
    long SampleOf(double time) const {
        if (m_anchors.empty() || m_rate <= 0) return -1;
        const double dt = 1.0 / m_rate;
        std::size_t a = 0;
        while (a + 1 < m_anchors.size() && m_anchors[a + 1].time <= time + 0.5 * dt) ++a;
        const Anchor& at = m_anchors[a];
        const long end = a + 1 < m_anchors.size() ? m_anchors[a + 1].sample : m_count;
        long sample = at.sample + std::lround((time - at.time) * m_rate);
        sample = std::clamp(sample, at.sample, end - 1);
        if (sample == at.sample && a > 0) {
            // The sample before the anchor may be as near (a repeated time): take the first.
            const Anchor& before = m_anchors[a - 1];
            const double previous = before.time + (at.sample - 1 - before.sample) * dt;
            if (std::fabs(time - previous) <= std::fabs(time - at.time)) --sample;
        }
        if (time < -0.5 * dt || sample >= m_count) return -1;
        return sample;
    }

  private:
    struct Anchor {
        long sample;
        double time;
    };
    std::vector<Anchor> m_anchors;
    long m_count = 0;
    double m_last = 0;
    double m_rate = 0;
};

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
    int edfFlags = 0;   // extension loaders: TOLV_EDF_*
    int wfdbFlags = 0;  // TOLV_WFDB_*
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
        case kResample:
            s->edfFlags |= TOLV_EDF_RESAMPLE;
            s->wfdbFlags |= TOLV_WFDB_RESAMPLE;
            return kOk;
        case kGaps:
            s->edfFlags |= TOLV_EDF_GAPS;
            return kOk;
        case kFreeText:
            s->edfFlags |= TOLV_EDF_FREE_TEXT;
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
        {"pace-width", required_argument, nullptr, kPaceWidth},                                    \
        {"no-loop", no_argument, nullptr, kNoLoop}, {"resample", no_argument, nullptr, kResample}, \
        {"gaps", no_argument, nullptr, kGaps}, {                                                   \
        "free-text", no_argument, nullptr, kFreeText                                               \
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
    "      --no-loop        standard waveforms and recordings stop after playing once\n"
    "Recordings: a .edf or .hea file that TOLVLoadECGedf / TOLVLoadECGdat refuses is loaded\n"
    "again with TOLVLoadECGedfEx / TOLVLoadECGWfdbRecord (a line says so), which read further\n"
    "variants: WFDB formats 8, 16, 61, 80, 160, 212, 310, 311, several signal files and\n"
    "multi-segment records; EDF with fractional record durations or unknown record counts.\n"
    "These options load the file with that second loader directly:\n"
    "      --resample       a sample rate that is not a whole number is resampled to the\n"
    "                       nearest whole rate (TOLV_EDF_RESAMPLE, TOLV_WFDB_RESAMPLE)\n"
    "      --gaps           an EDF+D file plays its gaps as 0 mV (TOLV_EDF_GAPS)\n"
    "      --free-text      EDF patient and recording fields may be free text\n"
    "                       (TOLV_EDF_FREE_TEXT)\n";

}  // namespace

namespace {

void PrintAnnotationCounts(const std::vector<Annotation>& annotations) {
    std::size_t beats = 0, pulses = 0;
    for (const Annotation& a : annotations) {
        beats += a.code == records::kNormal || a.code == records::kPaced ||
                 a.code == records::kUnknownBeat;
        pulses += a.text == "^" || a.text == "pacing pulse";
    }
    std::printf("annotations: %zu beats, %zu pacing pulses, %zu in all\n", beats, pulses,
                annotations.size());
}

// The rate and sample count of a WFDB record's header; false when it cannot be read.
bool ReadRecordLine(const std::string& path, double* rate, long* count) {
    std::FILE* in = std::fopen(path.c_str(), "r");
    if (in == nullptr) return false;
    char name[256];
    int signals = 0;
    const bool ok = std::fscanf(in, "%255s %d %lf %ld", name, &signals, rate, count) == 4;
    std::fclose(in);
    return ok;
}

// The files a play writes: the callback's samples, as they come out of the ring, with the
// library's ground truth placed on them when finished.
class PlayFiles {
  public:
    bool Open(const std::vector<std::string>& paths, const std::string& label, bool annotate) {
        for (const std::string& path : paths) {
            records::WriterOptions options;
            options.rate = TOLVGetSampleRate();  // until the samples tell the stream's rate
            options.label = label;
            options.annotations = annotate;
            options.comment = std::string("played by tolvan ") + TOLVGetSDKVersion() +
                              ": the output-signal callback's samples";
            auto writer = std::make_unique<records::SignalWriter>();
            std::string error;
            if (!writer->Open(path, options, &error)) {
                std::fprintf(stderr, "tolvan: %s\n", error.c_str());
                return false;
            }
            m_writers.push_back(std::move(writer));
            m_paths.push_back(path);
        }
        return true;
    }

    // Takes what the ring holds.
    void Drain() {
        const std::size_t head = s_head.load(std::memory_order_acquire);
        std::size_t tail = s_tail.load(std::memory_order_relaxed);
        for (; tail != head; ++tail) Take(s_ring[tail & (s_ring.size() - 1)]);
        s_tail.store(tail, std::memory_order_release);
    }

    const Timeline& Samples() const { return m_timeline; }

    // Completes the files; false (with the reason printed) when one could not be written.
    bool Finish(const std::vector<Annotation>& annotations) {
        if (m_timeline.Count() == 1) {
            for (auto& writer : m_writers) {
                std::string error;
                writer->SetRate(TOLVGetSampleRate(), &error);
                writer->Append(m_first);
            }
        }
        bool ok = true;
        for (std::size_t i = 0; i < m_writers.size(); ++i) {
            std::string error;
            if (!m_writers[i]->Finish(annotations, &error)) {
                std::fprintf(stderr, "tolvan: %s\n", error.c_str());
                ok = false;
                continue;
            }
            std::printf("wrote %s: %zu samples at %g samples/s\n", m_paths[i].c_str(),
                        m_writers[i]->Count(), m_timeline.Rate());
            if (m_writers[i]->Clipped() > 0) {
                std::printf("%s: %zu samples beyond +-32.767 mV clipped\n", m_paths[i].c_str(),
                            m_writers[i]->Clipped());
            }
        }
        return ok;
    }

  private:
    void Take(const Seen& seen) {
        m_timeline.Add(seen.time);
        if (m_timeline.Count() == 1) {
            m_first = seen.millivolts;  // written once the second sample gives the rate
            return;
        }
        for (auto& writer : m_writers) {
            if (m_timeline.Count() == 2) {
                std::string error;
                writer->SetRate(m_timeline.Rate(), &error);
                writer->Append(m_first);
            }
            writer->Append(seen.millivolts);
        }
    }

    std::vector<std::unique_ptr<records::SignalWriter>> m_writers;
    std::vector<std::string> m_paths;
    Timeline m_timeline;
    double m_first = 0;
};

}  // namespace

int PlayCommand(int argc, char** argv) {
    static const option options[] = {TOLVAN_CONNECTION_OPTIONS,
                                     TOLVAN_SETTING_OPTIONS,
                                     {"seconds", required_argument, nullptr, 's'},
                                     {"offline", no_argument, nullptr, kOffline},
                                     {"csv", required_argument, nullptr, kCsv},
                                     {"output", required_argument, nullptr, 'o'},
                                     {"annotations", no_argument, nullptr, kAnnotations},
                                     {nullptr, 0, nullptr, 0}};
    Connection connection;
    Settings settings;
    double seconds = 10;
    bool offline = false;
    bool annotate = false;
    std::vector<std::string> files;
    for (int opt; (opt = getopt_long(argc, argv, "hp:t:a:f:l:s:o:", options, nullptr)) != -1;) {
        if (opt == 'h') {
            std::printf(
                "Usage: tolvan play FUNCTION [options]\n\n"
                "Plays FUNCTION on the simulator (or, with --offline, on the library's timer\n"
                "without a device) and reports what the output-signal callback saw.\n"
                "FUNCTION is an output function number (0 .. 17, 10000), a recording file (.edf,\n"
                ".hea/.dat, .txt, .bin, .ecg), or one of these names:\n%s\n%s"
                "  -s, --seconds S      how long to play (default 10; 0 = until Ctrl-C)\n"
                "      --offline        no device: play on the library's timer\n"
                "  -o, --output FILE    write the callback's samples, every sample at the "
                "stream's\n"
                "                       rate (measured from the callback's times): .hea a WFDB\n"
                "                       record (format 16, 1 uV), .edf EDF, anything else CSV\n"
                "                       (time_s,mV); repeatable; written as the samples come\n"
                "      --csv FILE       the same as -o\n"
                "      --annotations    also the library's ground truth, as render writes it\n"
                "                       (see tolvan render --help): FILE.atr, EDF+ or\n"
                "                       FILE.annotations.csv. With --vdev and --vdev-csv the\n"
                "                       virtual simulator's own files get it too, merged with\n"
                "                       the pacing markers it decoded. Sample 0 is play time 0\n"
                "                       and sample n the nth sample streamed: the times follow\n"
                "                       the stream, including the samples the packet builder\n"
                "                       repeats to keep in step with the simulator's clock\n\n%s\n"
                "Example: tolvan play ecg --bpm 80 --amplitude 1.5 --seconds 30 --port 0\n"
                "         tolvan play ecg --pace 2 --vdev --vdev-csv dev.hea --annotations\n",
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
                case 'o':
                    files.push_back(optarg);
                    rc = kOk;
                    break;
                case kAnnotations:
                    annotate = true;
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
    const bool vdevFiles = !connection.vdevPreset.empty() && !connection.vdevCsv.empty();
    if (annotate && files.empty() && !vdevFiles) {
        std::fprintf(stderr,
                     "tolvan play: --annotations wants -o FILE or --vdev with --vdev-csv FILE\n");
        return kUsage;
    }
    Selection selection;
    std::string error;
    if (!ParseFunction(argv[optind], &selection, &error)) {
        std::fprintf(stderr, "tolvan play: %s\n", error.c_str());
        return kUsage;
    }
    selection.edfFlags = settings.edfFlags;
    selection.wfdbFlags = settings.wfdbFlags;
    if (annotate && vdevFiles) {
        // The virtual simulator reads the truth from this file when it stops.
        char merge[] = "/tmp/tolvan-truth-XXXXXX";
        const int fd = mkstemp(merge);
        if (fd < 0) {
            std::fprintf(stderr, "tolvan: cannot create a temporary file\n");
            return kFileError;
        }
        close(fd);
        unlink(merge);  // written again before the simulator stops
        connection.vdevAnnotations = true;
        connection.vdevMerge = merge;
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
    PlayFiles out;
    if (!out.Open(files, selection.label, annotate)) {
        Disconnect();
        return kFileError;
    }
    if (!files.empty() || annotate) s_ring.assign(std::size_t{1} << 19, Seen{0, 0});
    if (annotate && TOLVEnableGroundTruth(1) != 0) {
        Disconnect();
        std::fprintf(stderr, "tolvan: the ground truth could not be switched on\n");
        return kFailed;
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
    // The ground truth's queue holds 16384 events: taken at every turn of the loop.
    std::vector<TOLV_TRUTH_EVENT> events;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    double elapsed = 0;
    while (!s_stop && (seconds == 0 || elapsed < seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        out.Drain();
        if (annotate) DrainTruth(&events);
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
    out.Drain();
    if (terminal) std::fprintf(stderr, "\r\033[K");
    std::printf("played %s for %.1f s: %ld samples, %.3f .. %.3f mV\n", selection.label.c_str(),
                elapsed, s_count.load(), s_min, s_max);
    int status = s_count > 0 ? kOk : kFailed;
    if (s_overrun > 0) {
        std::fprintf(stderr,
                     "tolvan: %ld samples came faster than they were written: the files "
                     "miss them\n",
                     s_overrun.load());
        status = kFileError;
    }
    std::vector<Annotation> annotations;
    if (annotate) {
        TOLVEnableGroundTruth(0);
        DrainTruth(&events);
        if (TOLVGetGroundTruthLost() != 0) {
            std::fprintf(stderr, "tolvan: %u ground-truth events were lost\n",
                         TOLVGetGroundTruthLost());
        }
        const Timeline& samples = out.Samples();
        annotations = LabelTruth(events, [&samples](double t) { return samples.SampleOf(t); });
        std::printf("stream: %g samples/s from play time 0, %ld samples repeated by the clock\n",
                    samples.Rate(), std::max(0L, samples.Repeats()));
        PrintAnnotationCounts(annotations);
        if (!connection.vdevMerge.empty() &&
            !records::WriteAnnotationCsv(connection.vdevMerge, annotations, &error)) {
            std::fprintf(stderr, "tolvan: %s\n", error.c_str());
            status = kFileError;
        }
    }
    if (!out.Finish(annotations)) status = kFileError;
    Disconnect();
    if (!connection.vdevMerge.empty()) unlink(connection.vdevMerge.c_str());
    for (const std::string& path : connection.vdevCsv) {
        // The virtual simulator's record is counted in the samples it decoded: the same as the
        // callback's (and the stop packet's after them) at the same rate.
        double rate = 0;
        long count = 0;
        if (!vdevFiles || records::KindOf(path) != records::Kind::kWfdb ||
            !ReadRecordLine(path, &rate, &count) || out.Samples().Count() == 0) {
            continue;
        }
        if (rate != out.Samples().Rate() || count < out.Samples().Count()) {
            std::fprintf(stderr,
                         "tolvan: %s holds %ld samples at %g/s, the callback saw %ld at %g/s: "
                         "its annotations are not aligned\n",
                         path.c_str(), count, rate, out.Samples().Count(), out.Samples().Rate());
            status = kFailed;
        }
    }
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
    selection.edfFlags = settings.edfFlags;
    selection.wfdbFlags = settings.wfdbFlags;
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
        std::vector<TOLV_TRUTH_EVENT> events;
        DrainTruth(&events);
        const auto count = static_cast<long>(trace.millivolts.size());
        annotations = LabelTruth(events, [rate, count](double t) {
            const long sample = std::lround(t * rate);
            return sample < count ? sample : -1;
        });
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
    const bool ok = WriteTrace(output, trace, static_cast<int>(format),
                               annotate ? &annotations : nullptr, &error);
    if (!ok) {
        std::fprintf(stderr, "tolvan: %s\n", error.c_str());
        return kFileError;
    }
    std::printf("rendered %s: %.1f s at %d samples/s to %s\n", selection.label.c_str(), seconds,
                rate, output.c_str());
    if (annotate) PrintAnnotationCounts(annotations);
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
