// tolvan-vdev: runs a virtual TOLVAN simulator on a pseudo-terminal until interrupted.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "records/RecordFiles.h"
#include "vdev/VirtualDevice.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

void PrintHelp() {
    std::printf(
        "Usage: tolvan-vdev [options]\n"
        "\n"
        "Runs a virtual TOLVAN patient simulator on a pseudo-terminal and publishes it as the\n"
        "serial node of a port, so that libtolvan (and any serial client) finds it as it finds\n"
        "the real device. Runs until SIGINT or SIGTERM, then removes the node.\n"
        "\n"
        "Options:\n"
        "  --port N          port number n of the node (default 0)\n"
        "  --preset NAME     device to simulate (default current):\n"
        "                      old      flash firmware 1.2, DC table at the old location\n"
        "                      current  firmware 1.3.05.12, DC table in channel 18\n"
        "                      ppg2012  current simulator with PPG module 0x2012\n"
        "                      ppg2112  current simulator with PPG module 0x2112 (16-bit DAC)\n"
        "                      resp     current simulator with the external respiration module\n"
        "  --pattern PAT     node path pattern with exactly one %%d (default: the\n"
        "                    TOLVAN_DEVICE_PATTERN environment variable, else /dev/ttyACM%%d)\n"
        "  --csv FILE        write every decoded output sample to FILE (repeatable). FILE.hea\n"
        "                    writes a WFDB record (FILE.hea, FILE.dat in format 16, gain 1600\n"
        "                    units/mV: the AC code itself) and FILE.edf EDF, each holding the\n"
        "                    ECG AC path (ac_mV) at the device's sample rate (that of the first\n"
        "                    sample), sample 0 being the first sample decoded; the .dat is\n"
        "                    written as the samples come, the header when the device ends.\n"
        "                    Any other name writes CSV (columns:\n"
        "                    sample, operate_mode, dc_code, ac_code, dc_mV, ac_mV, pacing,\n"
        "                    ppg0_dc, ppg0_ac, ppg1_dc, ppg1_ac, ppg2_dc, ppg2_ac,\n"
        "                    resp0, resp1, resp2, resp_baseline, resp_ohms, and per PPG\n"
        "                    channel its DC and AC level as the module plays them:\n"
        "                    ch0_dc, ch0_ac, ch1_dc, ch1_ac, ch2_dc, ch2_ac; empty when\n"
        "                    the sample does not carry the channel)\n"
        "  --annotations     with --csv: also the events the device itself sees on the wire,\n"
        "                    each pacing marker at its sample: '^' in FILE.atr, \"pacing pulse\"\n"
        "                    in EDF+ (FILE.edf becomes EDF+C), FILE.annotations.csv beside a\n"
        "                    CSV (time_s,sample,annotation,mit_code). Beats, apnoea and PPG\n"
        "                    pulses are known only to the host: tolvan play --annotations\n"
        "                    merges the library's ground truth in (--merge-annotations)\n"
        "  --merge-annotations FILE\n"
        "                    with --annotations: when the device ends, the annotations of FILE\n"
        "                    (as FILE.annotations.csv above, samples counted from sample 0 of\n"
        "                    the record) join the device's own; a pacing pulse of FILE within\n"
        "                    one sample of a pacing marker is the marker's and not written twice\n"
        "  --fast-ack        acknowledge stream packets at once instead of at playing pace\n"
        "  --gap MS          quiet gap that ends a non-stream request (1..50, default 3)\n"
        "  --serial N        serial sequence number reported by identify and flash (0..65535)\n"
        "  --trace           print every request and reply to standard error\n"
        "  --make-firmware-image FILE\n"
        "                    write a simulator firmware image (122880 bytes, mark \"TOLV\")\n"
        "                    to FILE for trying an update, and exit\n"
        "  --make-mcu-image FILE\n"
        "                    write an image of the PPG module's microcontroller (118780\n"
        "                    bytes, mark \"2TF2\") to FILE, and exit\n"
        "  --image-version A.B.C.D\n"
        "                    version numbers (0..255) of the image written (default 1.4.0.1)\n"
        "  --help            show this text\n"
        "\n"
        "Example:\n"
        "  TOLVAN_DEVICE_PATTERN=/tmp/tolvan/ttyACM%%d tolvan-vdev --port 0 --preset ppg2112\n"
        "  tolvan-vdev --make-firmware-image fw.bin --image-version 1.4.0.1\n");
}

bool ParseInt(const char* text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseVersion(const char* text, std::array<std::uint8_t, 4>* version) {
    unsigned parts[4] = {0, 0, 0, 0};
    char tail = 0;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) !=
        4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) return false;
        (*version)[i] = static_cast<std::uint8_t>(parts[i]);
    }
    return true;
}

int WriteImage(const std::string& path, const vdev::Bytes& image) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size()) {
        std::fprintf(stderr, "tolvan-vdev: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        if (file != nullptr) std::fclose(file);
        return 1;
    }
    if (std::fclose(file) != 0) return 1;
    std::printf("tolvan-vdev: wrote %s (%zu bytes)\n", path.c_str(), image.size());
    return 0;
}

const char* DirectionText(vdev::Direction d) {
    return d == vdev::Direction::kHostToDevice ? "host->dev" : "dev->host";
}

// The files of --csv: CSV rows of every decoded field, or the ECG AC path as a WFDB record or
// EDF, with the pacing markers as annotations. Written on the device thread while it runs and
// completed by Finish after the device has stopped.
class Outputs {
  public:
    explicit Outputs(bool annotate) : m_annotate(annotate) {}
    ~Outputs() {
        for (std::FILE* csv : m_csv) std::fclose(csv);
    }

    bool Add(const std::string& path, std::string* error) {
        if (records::KindOf(path) == records::Kind::kCsv) {
            std::FILE* csv = std::fopen(path.c_str(), "w");
            if (csv == nullptr) {
                *error = "cannot open " + path + ": " + std::strerror(errno);
                return false;
            }
            std::fprintf(csv,
                         "sample,operate_mode,dc_code,ac_code,dc_mV,ac_mV,pacing,ppg0_dc,ppg0_ac,"
                         "ppg1_dc,ppg1_ac,ppg2_dc,ppg2_ac,resp0,resp1,resp2,resp_baseline,"
                         "resp_ohms,ch0_dc,ch0_ac,ch1_dc,ch1_ac,ch2_dc,ch2_ac\n");
            m_csv.push_back(csv);
            if (m_annotate) m_csvPaths.push_back(path);
            return true;
        }
        records::WriterOptions options;
        options.rate = 20000;  // until the first sample tells the device's rate
        options.label = "ECG";
        options.format = 16;
        options.gain = 1600;  // one unit per AC code: the record holds the codes exactly
        options.annotations = m_annotate;
        options.comment = "decoded by tolvan-vdev: ECG AC path (ac_mV), sample 0 the first decoded";
        auto writer = std::make_unique<records::SignalWriter>();
        if (!writer->Open(path, options, error)) return false;
        m_records.push_back(std::move(writer));
        m_recordPaths.push_back(path);
        return true;
    }

    void Write(const vdev::DecodedSample& s) {
        for (std::FILE* csv : m_csv) WriteRow(csv, s);
        if (m_count == 0) {
            m_rate = s.sampleRate;
            std::string error;
            for (auto& writer : m_records) writer->SetRate(m_rate, &error);
        } else if (s.sampleRate != m_rate) {
            ++m_rateChanges;
        }
        if (m_annotate && s.pacing) {
            records::Annotation a;
            a.sample = static_cast<long>(m_count);
            a.time = static_cast<double>(m_count) / m_rate;
            a.code = records::kPacerSpike;
            a.text = "pacing pulse";
            m_markers.push_back(a);
        }
        for (auto& writer : m_records) writer->Append(s.acMillivolts);
        ++m_count;
    }

    // Completes every file; with mergePath the annotations of that file join the markers.
    bool Finish(const std::string& mergePath) {
        bool ok = true;
        for (std::FILE* csv : m_csv) ok = std::fclose(csv) == 0 && ok;
        m_csv.clear();
        std::vector<records::Annotation> all = m_markers;
        std::string error;
        std::size_t merged = 0, pulses = 0, matched = 0;
        if (!mergePath.empty() && access(mergePath.c_str(), F_OK) != 0) {
            std::printf("tolvan-vdev: %s was not written: nothing merged\n", mergePath.c_str());
        } else if (!mergePath.empty()) {
            std::vector<records::Annotation> truth;
            if (!records::ReadAnnotationCsv(mergePath, &truth, &error)) {
                std::fprintf(stderr, "tolvan-vdev: %s\n", error.c_str());
                ok = false;
            }
            for (const records::Annotation& a : truth) {
                if (a.text == "^" || a.text == "pacing pulse") {
                    ++pulses;
                    if (NearMarker(a.sample)) {
                        ++matched;
                        continue;
                    }
                }
                all.push_back(a);
                ++merged;
            }
        }
        for (const std::string& path : m_csvPaths) {
            if (!records::WriteAnnotationCsv(records::AnnotationCsvPath(path), all, &error)) {
                std::fprintf(stderr, "tolvan-vdev: %s\n", error.c_str());
                ok = false;
            }
        }
        for (std::size_t i = 0; i < m_records.size(); ++i) {
            if (!m_records[i]->Finish(all, &error)) {
                std::fprintf(stderr, "tolvan-vdev: %s\n", error.c_str());
                ok = false;
                continue;
            }
            std::printf("tolvan-vdev: wrote %s: %zu samples at %u/s", m_recordPaths[i].c_str(),
                        m_count, m_rate);
            if (m_annotate) std::printf(", %zu pacing markers", m_markers.size());
            if (!mergePath.empty()) {
                std::printf(", %zu annotations merged, %zu of %zu pacing pulses on a marker",
                            merged, matched, pulses);
            }
            std::printf("\n");
            if (m_records[i]->Clipped() > 0) {
                std::printf("tolvan-vdev: %zu samples clipped\n", m_records[i]->Clipped());
            }
        }
        if (m_rateChanges > 0 && !m_records.empty()) {
            std::fprintf(stderr,
                         "tolvan-vdev: %zu samples came at another rate than %u/s; the "
                         "records give every sample that rate\n",
                         m_rateChanges, m_rate);
        }
        return ok;
    }

  private:
    static void WriteRow(std::FILE* csv, const vdev::DecodedSample& s) {
        std::fprintf(csv, "%llu,%u,%u,%d,%.4f,%.5f,%d,%u,%u,%u,%u,%u,%u,%u,%u,%u,%u,%.4f",
                     static_cast<unsigned long long>(s.index), s.operateMode, s.dcCode, s.acCode,
                     s.dcMillivolts, s.acMillivolts, s.pacing ? 1 : 0, s.ppg[0][0], s.ppg[0][1],
                     s.ppg[1][0], s.ppg[1][1], s.ppg[2][0], s.ppg[2][1], s.respirationCodes[0],
                     s.respirationCodes[1], s.respirationCodes[2], s.respirationCodes[3],
                     s.respirationOhms);
        for (int k = 0; k < 3; ++k) {
            if (s.ppgCarried[k]) {
                std::fprintf(csv, ",%.3f,%.4f", s.ppgDcLevel[k], s.ppgAcLevel[k]);
            } else {
                std::fprintf(csv, ",,");
            }
        }
        std::fputc('\n', csv);
    }

    // Whether a pacing marker lies within one sample of sample (markers come in order).
    bool NearMarker(long sample) const {
        auto at =
            std::lower_bound(m_markers.begin(), m_markers.end(), sample - 1,
                             [](const records::Annotation& a, long s) { return a.sample < s; });
        return at != m_markers.end() && at->sample <= sample + 1;
    }

    bool m_annotate;
    std::vector<std::FILE*> m_csv;
    std::vector<std::string> m_csvPaths;  // CSV files whose annotations are wanted
    std::vector<std::unique_ptr<records::SignalWriter>> m_records;
    std::vector<std::string> m_recordPaths;
    std::vector<records::Annotation> m_markers;
    std::size_t m_count = 0;
    unsigned m_rate = 20000;
    std::size_t m_rateChanges = 0;
};

}  // namespace

int main(int argc, char** argv) {
    vdev::Options options;
    vdev::Preset preset = vdev::Preset::kCurrent;
    std::vector<std::string> csvPaths;
    bool annotate = false;
    std::string mergePath;
    bool trace = false;
    long serial = -1;
    std::string firmwareImagePath;
    std::string mcuImagePath;
    std::array<std::uint8_t, 4> imageVersion{{1, 4, 0, 1}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "tolvan-vdev: %s needs a value (see --help)\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        } else if (arg == "--port") {
            if (!ParseInt(value("--port"), 0, 9999, &number)) {
                std::fprintf(stderr, "tolvan-vdev: --port wants a number 0..9999\n");
                return 2;
            }
            options.port = static_cast<int>(number);
        } else if (arg == "--preset") {
            const char* name = value("--preset");
            if (!vdev::ParsePresetName(name, &preset)) {
                std::fprintf(stderr, "tolvan-vdev: unknown preset \"%s\" (see --help)\n", name);
                return 2;
            }
        } else if (arg == "--pattern") {
            options.pattern = value("--pattern");
        } else if (arg == "--csv") {
            csvPaths.push_back(value("--csv"));
        } else if (arg == "--annotations") {
            annotate = true;
        } else if (arg == "--merge-annotations") {
            mergePath = value("--merge-annotations");
        } else if (arg == "--fast-ack") {
            options.fastAck = true;
        } else if (arg == "--gap") {
            if (!ParseInt(value("--gap"), 1, 50, &number)) {
                std::fprintf(stderr, "tolvan-vdev: --gap wants 1..50 ms\n");
                return 2;
            }
            options.quietGapMs = static_cast<unsigned>(number);
        } else if (arg == "--serial") {
            if (!ParseInt(value("--serial"), 0, 65535, &serial)) {
                std::fprintf(stderr, "tolvan-vdev: --serial wants 0..65535\n");
                return 2;
            }
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--make-firmware-image") {
            firmwareImagePath = value("--make-firmware-image");
        } else if (arg == "--make-mcu-image") {
            mcuImagePath = value("--make-mcu-image");
        } else if (arg == "--image-version") {
            if (!ParseVersion(value("--image-version"), &imageVersion)) {
                std::fprintf(stderr, "tolvan-vdev: --image-version wants A.B.C.D, each 0..255\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "tolvan-vdev: unknown option \"%s\" (see --help)\n", arg.c_str());
            return 2;
        }
    }

    if (!firmwareImagePath.empty() || !mcuImagePath.empty()) {
        int rc = 0;
        if (!firmwareImagePath.empty()) {
            rc |= WriteImage(firmwareImagePath, vdev::MakeFirmwareImage(imageVersion));
        }
        if (!mcuImagePath.empty()) rc |= WriteImage(mcuImagePath, vdev::MakeMcuImage(imageVersion));
        return rc;
    }

    options.config = vdev::MakePreset(preset);
    if (serial >= 0) {
        options.config.model.serialSequence = static_cast<std::uint16_t>(serial);
        options.config.identifySerialSequence = static_cast<std::uint16_t>(serial);
    }
    options.decodedCapacity = 0;  // samples go to the CSV file, not to memory
    if (!trace) options.logCapacity = 0;

    Outputs outputs(annotate);
    for (const std::string& path : csvPaths) {
        std::string error;
        if (!outputs.Add(path, &error)) {
            std::fprintf(stderr, "tolvan-vdev: %s\n", error.c_str());
            return 1;
        }
    }
    if (!mergePath.empty() && !annotate) {
        std::fprintf(stderr, "tolvan-vdev: --merge-annotations wants --annotations\n");
        return 2;
    }
    if (!csvPaths.empty()) {
        options.sampleSink = [&outputs](const vdev::DecodedSample& s) { outputs.Write(s); };
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::string error;
    auto device = vdev::VirtualDevice::Start(options, &error);
    if (!device) {
        std::fprintf(stderr, "tolvan-vdev: %s\n", error.c_str());
        return 1;
    }
    std::printf("tolvan-vdev: preset %s on port %d: %s -> %s\n", vdev::PresetName(preset),
                options.port, device->NodePath().c_str(), device->SlavePath().c_str());
    std::fflush(stdout);

    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (trace) {
            const auto entries = device->Log();
            device->ClearLog();
            for (const auto& e : entries) {
                vdev::Bytes head(e.bytes.begin(),
                                 e.bytes.begin() + std::min<std::size_t>(e.bytes.size(), 16));
                std::fprintf(stderr, "%s %-28s %4zu bytes: %s%s\n", DirectionText(e.direction),
                             e.note.c_str(), e.bytes.size(), vdev::Hex(head).c_str(),
                             e.bytes.size() > 16 ? " ..." : "");
            }
        }
    }
    device->Stop();
    const vdev::StreamStats stats = device->Stats();
    std::printf("tolvan-vdev: stopped; %llu stream packets, %llu samples, %zu stream errors\n",
                static_cast<unsigned long long>(stats.packets),
                static_cast<unsigned long long>(stats.samples), stats.errors.size());
    for (std::size_t i = 0; i < stats.errors.size() && i < 10; ++i) {
        std::printf("  %s\n", stats.errors[i].c_str());
    }
    return outputs.Finish(mergePath) ? 0 : 1;
}
