// Load throughput of the recording readers: a 100 MB EDF file and a large WFDB format-212
// record, both generated into /tmp when the benchmark starts. Prints MB/s of file read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "recordings/Recording.h"
#include "tolvan.h"

namespace {

std::string Fixed(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

std::int16_t Wave(long long i) {
    return static_cast<std::int16_t>(3000 * std::sin(i * 0.0126) + (i % 17) * 10);
}

// Two signals of 500 samples per one-second record: 2000 bytes per record.
std::string MakeEdf(long long bytes) {
    std::string path = "/tmp/tolvan-bench-" + std::to_string(getpid()) + ".edf";
    const int ns = 2, spr = 500;
    const long long records = bytes / (2LL * ns * spr);
    std::string h = Fixed("0", 8) + Fixed("X M 01-JAN-1970 Bench", 80) +
                    Fixed("Startdate 02-MAR-2002 X X X", 80) + Fixed("02.03.02", 8) +
                    Fixed("14.30.00", 8) + Fixed(std::to_string((ns + 1) * 256), 8) +
                    Fixed("EDF+C", 44) + Fixed(std::to_string(records), 8) + Fixed("1", 8) +
                    Fixed(std::to_string(ns), 4);
    const char* fields[][2] = {{"ECG I", "ECG II"},  {"", ""},
                               {"uV", "uV"},         {"-3276.8", "-3276.8"},
                               {"3276.7", "3276.7"}, {"-32768", "-32768"},
                               {"32767", "32767"},   {"", ""},
                               {"500", "500"},       {"", ""}};
    const std::size_t widths[] = {16, 80, 8, 8, 8, 8, 8, 80, 8, 32};
    for (int f = 0; f < 10; ++f) {
        for (int s = 0; s < ns; ++s) h += Fixed(fields[f][s], widths[f]);
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return "";
    std::fwrite(h.data(), 1, h.size(), out);
    std::vector<std::int16_t> record(static_cast<std::size_t>(ns * spr));
    for (long long r = 0; r < records; ++r) {
        for (int i = 0; i < ns * spr; ++i) record[static_cast<std::size_t>(i)] = Wave(r * spr + i);
        std::fwrite(record.data(), sizeof(std::int16_t), record.size(), out);
    }
    std::fclose(out);
    return path;
}

// Two signals in format 212 at 360 Hz.
std::pair<std::string, std::string> MakeWfdb(long long frames) {
    std::string base = "/tmp/tolvan-bench-" + std::to_string(getpid());
    std::FILE* hea = std::fopen((base + ".hea").c_str(), "w");
    if (hea == nullptr) return {"", ""};
    std::fprintf(
        hea, "bench 2 360 %lld\nbench.dat 212 200 12 0 0 0 0 I\nbench.dat 212 200 12 0 0 0 0 II\n",
        frames);
    std::fclose(hea);
    std::FILE* dat = std::fopen((base + ".dat").c_str(), "wb");
    if (dat == nullptr) return {"", ""};
    std::vector<unsigned char> chunk;
    for (long long f = 0; f < frames; ++f) {
        unsigned a = static_cast<unsigned>(Wave(f) / 4) & 0xFFF,
                 b = static_cast<unsigned>(Wave(f + 99) / 4) & 0xFFF;
        chunk.push_back(static_cast<unsigned char>(a & 0xFF));
        chunk.push_back(static_cast<unsigned char>(((a >> 8) & 0x0F) | ((b >> 4) & 0xF0)));
        chunk.push_back(static_cast<unsigned char>(b & 0xFF));
        if (chunk.size() >= (1 << 20)) {
            std::fwrite(chunk.data(), 1, chunk.size(), dat);
            chunk.clear();
        }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), dat);
    std::fclose(dat);
    return {base + ".hea", base + ".dat"};
}

void BM_LoadEdf100MB(benchmark::State& state) {
    const long long bytes = 100LL << 20;
    std::string path = MakeEdf(bytes);
    if (path.empty()) {
        state.SkipWithError("cannot write the EDF file");
        return;
    }
    int loaded = 0;
    for (auto _ : state) {
        loaded = TOLVLoadECGedf(path.c_str(), 0);
        benchmark::DoNotOptimize(loaded);
    }
    ClearRawArray();
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
    state.counters["samples"] = loaded;
}
BENCHMARK(BM_LoadEdf100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadWfdb212(benchmark::State& state) {
    const long long frames = 20000000;  // 60 MB of format 212
    auto [hea, dat] = MakeWfdb(frames);
    if (hea.empty()) {
        state.SkipWithError("cannot write the WFDB record");
        return;
    }
    int loaded = 0;
    for (auto _ : state) {
        loaded = TOLVLoadECGdat(hea.c_str(), dat.c_str(), 1);
        benchmark::DoNotOptimize(loaded);
    }
    ClearRawArray();
    std::remove(hea.c_str());
    std::remove(dat.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * frames * 3);
    state.counters["samples"] = loaded;
}
BENCHMARK(BM_LoadWfdb212)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
