// Load throughput of the recording readers beside their peers, in one run: a 100 MB EDF file of
// four signals (ours, EDFlib, biosig; one channel and all channels), a WFDB record of two
// signals in format 212 and in format 16 (ours, a plain one-pass decoder written here, biosig),
// and a column text recording of two signals (ours, and a plain reader of the same lines written
// here with strtod).
// The files are generated into /tmp when the benchmark starts and are in the page cache when
// timed. The loaders of a table run in turn, round after round (so that they share the
// machine's load); each figure is the median of its rounds; "ours / peer speed" is the peer's
// time over ours.
//
//   recordings_bench [runs]     (default 7)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "recordings/Recording.h"
#include "tolvan.h"

#if defined(TOLVAN_BENCH_EDFLIB)
#include <edflib.h>
#endif
#if defined(TOLVAN_BENCH_BIOSIG)
#include <biosig.h>
#endif

namespace {

int g_runs = 7;

struct Loader {
    const char* name;
    std::function<bool()> load;
    double megabytes;
    int ours;  // index of our loader that this one is compared with (its own index: none)
};

// Runs the loaders in turn, round after round, so that each sees the same machine load; prints
// the median of each, and the speed ratio against ours.
void RunInTurn(const std::vector<Loader>& loaders) {
    std::vector<std::vector<double>> times(loaders.size());
    std::vector<bool> failed(loaders.size(), false);
    for (int round = 0; round < g_runs; ++round) {
        for (std::size_t i = 0; i < loaders.size(); ++i) {
            if (failed[i]) continue;
            const auto start = std::chrono::steady_clock::now();
            failed[i] = !loaders[i].load();
            times[i].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    std::vector<double> medians(loaders.size(), -1.0);
    for (std::size_t i = 0; i < loaders.size(); ++i) {
        if (failed[i]) continue;
        std::sort(times[i].begin(), times[i].end());
        medians[i] = times[i][times[i].size() / 2];
    }
    for (std::size_t i = 0; i < loaders.size(); ++i) {
        const Loader& l = loaders[i];
        if (medians[i] < 0) {
            std::printf("  %-34s failed\n", l.name);
            continue;
        }
        std::printf("  %-34s %9.1f ms %8.0f MB/s", l.name, medians[i],
                    l.megabytes / (medians[i] / 1000.0));
        const double ours = medians[static_cast<std::size_t>(l.ours)];
        if (static_cast<std::size_t>(l.ours) != i && ours > 0) {
            std::printf("   ours / peer speed %.2f", medians[i] / ours);
        }
        std::printf("\n");
    }
}

long long FileBytes(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    std::fseek(f, 0, SEEK_END);
    const long long n = std::ftell(f);
    std::fclose(f);
    return n;
}

std::string Fixed(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::int16_t Wave(long long i) {
    return static_cast<std::int16_t>(3000 * std::sin(static_cast<double>(i) * 0.0126) +
                                     static_cast<double>(i % 17) * 10);
}

constexpr int kEdfSignals = 4;
constexpr int kEdfSamplesPerRecord = 500;

// Four signals of 500 samples per one-second record: 4000 bytes per record.
std::string MakeEdf(long long bytes, long long* records) {
    std::string path = "/tmp/tolvan-bench-" + std::to_string(getpid()) + ".edf";
    const int ns = kEdfSignals, spr = kEdfSamplesPerRecord;
    *records = bytes / (2LL * ns * spr);
    std::string h = Fixed("0", 8) + Fixed("X M 01-JAN-1970 Bench", 80) +
                    Fixed("Startdate 02-MAR-2002 X X X", 80) + Fixed("02.03.02", 8) +
                    Fixed("14.30.00", 8) + Fixed(std::to_string((ns + 1) * 256), 8) +
                    Fixed("", 44) + Fixed(std::to_string(*records), 8) + Fixed("1", 8) +
                    Fixed(std::to_string(ns), 4);
    const char* labels[] = {"ECG I", "ECG II", "ECG III", "ECG aVR"};
    const char* fields[] = {nullptr,  "",      "uV", "-3276.8", "3276.7",
                            "-32768", "32767", "",   "500",     ""};
    const std::size_t widths[] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
    for (int f = 0; f < 10; ++f) {
        for (int s = 0; s < ns; ++s) h += Fixed(f == 0 ? labels[s] : fields[f], widths[f]);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return "";
    std::fwrite(h.data(), 1, h.size(), out);
    std::vector<std::int16_t> record(static_cast<std::size_t>(ns * spr));
    for (long long r = 0; r < *records; ++r) {
        for (int i = 0; i < ns * spr; ++i) {
            record[static_cast<std::size_t>(i)] = Wave(r * spr + i + 1000 * (i / spr));
        }
        std::fwrite(record.data(), sizeof(std::int16_t), record.size(), out);
    }
    std::fclose(out);
    return path;
}

// Two signals at 360 Hz in format 212 or 16.
bool MakeWfdb(const std::string& base, int format, long long frames) {
    std::FILE* hea = std::fopen((base + ".hea").c_str(), "w");
    if (hea == nullptr) return false;
    const char* name = base.c_str() + base.rfind('/') + 1;
    std::fprintf(hea, "%s 2 360 %lld\n", name, frames);
    for (const char* lead : {"I", "II"}) {
        std::fprintf(hea, "%s.dat %d 200 12 0 0 0 0 %s\n", name, format, lead);
    }
    std::fclose(hea);
    std::FILE* dat = std::fopen((base + ".dat").c_str(), "wb");
    if (dat == nullptr) return false;
    std::vector<unsigned char> chunk;
    for (long long f = 0; f < frames; ++f) {
        const unsigned a = static_cast<unsigned>(Wave(f) / 4) & 0xFFF;
        const unsigned b = static_cast<unsigned>(Wave(f + 99) / 4) & 0xFFF;
        if (format == 212) {
            chunk.push_back(static_cast<unsigned char>(a & 0xFF));
            chunk.push_back(static_cast<unsigned char>(((a >> 8) & 0x0F) | ((b >> 4) & 0xF0)));
            chunk.push_back(static_cast<unsigned char>(b & 0xFF));
        } else {
            const unsigned wa = static_cast<std::uint16_t>(Wave(f)),
                           wb = static_cast<std::uint16_t>(Wave(f + 99));
            chunk.push_back(static_cast<unsigned char>(wa & 0xFF));
            chunk.push_back(static_cast<unsigned char>(wa >> 8));
            chunk.push_back(static_cast<unsigned char>(wb & 0xFF));
            chunk.push_back(static_cast<unsigned char>(wb >> 8));
        }
        if (chunk.size() >= (1 << 20)) {
            std::fwrite(chunk.data(), 1, chunk.size(), dat);
            chunk.clear();
        }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), dat);
    std::fclose(dat);
    return true;
}

// The plain one-pass decoder: large sequential reads, one signal of a two-signal record decoded
// straight into a fresh array of physical values (baseline 0, gain 200).
bool OnePassDecode(const std::string& path, int format, int channel, long long frames) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::unique_ptr<double[]> out(new double[static_cast<std::size_t>(frames)]);
    const std::size_t frameBytes = format == 212 ? 3 : 4;
    std::vector<unsigned char> buf(frameBytes * 65536);
    long long frame = 0;
    std::size_t got = 0;
    while (frame < frames && (got = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
        const std::size_t n = got / frameBytes;
        const unsigned char* b = buf.data();
        for (std::size_t i = 0; i < n && frame < frames; ++i, b += frameBytes, ++frame) {
            int code;
            if (format == 212) {
                code = channel == 0 ? ((b[1] & 0x0F) << 8) | b[0] : ((b[1] & 0xF0) << 4) | b[2];
                if (code > 2047) code -= 4096;
            } else {
                code = static_cast<std::int16_t>(b[2 * channel] | (b[2 * channel + 1] << 8));
            }
            out[static_cast<std::size_t>(frame)] = code / 200.0;
        }
    }
    std::fclose(f);
    volatile double sink = frames > 0 ? out[static_cast<std::size_t>(frames - 1)] : 0.0;
    (void)sink;
    return frame == frames;
}

// A column text recording of two signals in millivolts with three decimals, as exported by
// common tools: the four header lines, then "a,b" per line.
bool MakeText(const std::string& path, long long lines) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return false;
    std::fprintf(out, "500\n%lld\n2\nI,II\n", lines);
    for (long long i = 0; i < lines; ++i) {
        std::fprintf(out, "%.3f,%.3f\n", Wave(i) / 1000.0, Wave(i + 99) / 1000.0);
    }
    return std::fclose(out) == 0;
}

// The plain reader: getline and strtod on the second column, every line, into a fresh array.
bool PlainTextRead(const std::string& path, long long lines) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return false;
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(lines));
    char* line = nullptr;
    std::size_t capacity = 0;
    int header = 4;
    while (getline(&line, &capacity, f) > 0) {
        if (header > 0) {
            --header;
            continue;
        }
        const char* comma = std::strchr(line, ',');
        out.push_back(comma != nullptr ? std::strtod(comma + 1, nullptr) : 0.0);
    }
    std::free(line);
    std::fclose(f);
    return static_cast<long long>(out.size()) == lines;
}

#if defined(TOLVAN_BENCH_EDFLIB)
bool EdflibLoad(const std::string& path, int first, int last) {
    edf_hdr_struct hdr;
    if (edfopen_file_readonly(path.c_str(), &hdr, EDFLIB_DO_NOT_READ_ANNOTATIONS) != 0) {
        return false;
    }
    bool ok = true;
    for (int s = first; s <= last && ok; ++s) {
        const long long n = hdr.signalparam[s].smp_in_file;
        std::unique_ptr<double[]> buf(new double[static_cast<std::size_t>(n)]);
        ok = edfread_physical_samples(hdr.handle, s, static_cast<int>(n), buf.get()) == n;
    }
    edfclose_file(hdr.handle);
    return ok;
}
#endif

#if defined(TOLVAN_BENCH_BIOSIG)
// channel -1: every channel.
bool BiosigLoad(const std::string& path, int channel) {
    HDRTYPE* hdr = sopen(path.c_str(), "r", nullptr);
    if (hdr == nullptr) return false;
    bool ok = serror2(hdr) == 0;
    if (ok) {
        for (int k = 0; k < static_cast<int>(hdr->NS); ++k) {
            hdr->CHANNEL[k].OnOff = channel < 0 || k == channel ? 1 : 0;
        }
        ok = sread(nullptr, 0, static_cast<size_t>(hdr->NRec), hdr) ==
             static_cast<size_t>(hdr->NRec);
    }
    sclose(hdr);
    destructHDR(hdr);
    return ok;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_runs = std::max(1, std::atoi(argv[1]));
    std::printf("median of %d runs; files in the page cache\n", g_runs);

    // ---- EDF --------------------------------------------------------------------------------
    long long records = 0;
    const std::string edf = MakeEdf(100LL << 20, &records);
    if (edf.empty()) return 1;
    const double edfMb =
        static_cast<double>(records) * 2.0 * kEdfSignals * kEdfSamplesPerRecord / (1 << 20);
    const double oneMb = edfMb / kEdfSignals;  // the bytes of one signal
    std::printf("EDF, %.0f MB, %d signals x %lld samples\n", edfMb, kEdfSignals,
                records * kEdfSamplesPerRecord);
    std::vector<Loader> edfLoaders = {
        {"ours, one channel", [&] { return TOLVLoadECGedf(edf.c_str(), 1) > 0; }, oneMb, 0},
        {"ours, all channels",
         [&] {
             bool ok = true;
             for (int s = 0; s < kEdfSignals; ++s) ok = ok && TOLVLoadECGedf(edf.c_str(), s) > 0;
             return ok;
         },
         edfMb, 1},
    };
#if defined(TOLVAN_BENCH_EDFLIB)
    edfLoaders.push_back({"EDFlib, one channel", [&] { return EdflibLoad(edf, 1, 1); }, oneMb, 0});
    edfLoaders.push_back(
        {"EDFlib, all channels", [&] { return EdflibLoad(edf, 0, kEdfSignals - 1); }, edfMb, 1});
#else
    std::printf("  EDFlib not built in (libedf-dev)\n");
#endif
#if defined(TOLVAN_BENCH_BIOSIG)
    edfLoaders.push_back({"biosig, one channel", [&] { return BiosigLoad(edf, 1); }, oneMb, 0});
    edfLoaders.push_back({"biosig, all channels", [&] { return BiosigLoad(edf, -1); }, edfMb, 1});
#else
    std::printf("  biosig not built in (libbiosig-dev)\n");
#endif
    RunInTurn(edfLoaders);
    ClearRawArray();
    std::remove(edf.c_str());

    // ---- WFDB -------------------------------------------------------------------------------
    const long long frames = 20000000;
    for (int format : {212, 16}) {
        const std::string base =
            "/tmp/tolvan-bench-" + std::to_string(getpid()) + "-" + std::to_string(format);
        if (!MakeWfdb(base, format, frames)) return 1;
        const std::string hea = base + ".hea", dat = base + ".dat";
        const double mb = static_cast<double>(frames) * (format == 212 ? 3 : 4) / (1 << 20);
        std::printf("WFDB format %d, %.0f MB, 2 signals x %lld samples (one signal loaded)\n",
                    format, mb, frames);
        std::vector<Loader> loaders = {
            {"ours",
             [&] {
                 return TOLVLoadECGdat(hea.c_str(), dat.c_str(), 1) == static_cast<int>(frames);
             },
             mb, 0},
            {"one-pass decoder", [&] { return OnePassDecode(dat, format, 1, frames); }, mb, 0},
        };
#if defined(TOLVAN_BENCH_BIOSIG)
        loaders.push_back({"biosig", [&] { return BiosigLoad(hea, 1); }, mb, 0});
#endif
        RunInTurn(loaders);
        ClearRawArray();
        std::remove(hea.c_str());
        std::remove(dat.c_str());
    }

    // ---- Column text ------------------------------------------------------------------------
    const long long lines = 2000000;
    const std::string txt = "/tmp/tolvan-bench-" + std::to_string(getpid()) + ".txt";
    if (!MakeText(txt, lines)) return 1;
    const double txtMb = static_cast<double>(FileBytes(txt)) / (1 << 20);
    std::printf("Column text, %.0f MB, 2 signals x %lld samples (one signal loaded)\n", txtMb,
                lines);
    RunInTurn({
        {"ours", [&] { return TOLVLoadECGtxt(txt.c_str(), 1) == static_cast<int>(lines); }, txtMb,
         0},
        {"plain getline + strtod", [&] { return PlainTextRead(txt, lines); }, txtMb, 0},
    });
    ClearRawArray();
    std::remove(txt.c_str());
    return 0;
}
