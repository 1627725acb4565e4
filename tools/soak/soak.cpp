// Soak run: plays for MINUTES of wall time against a virtual device that acknowledges at once
// (so stream time runs many times faster than wall time), with pacing and noise on, a change of
// function or parameter every few milliseconds and an unplug/replug every RECONNECT seconds.
// Prints stream time, packets, sequence errors, reconnects, and heap, thread and descriptor
// figures at the start and the end. Exits 1 on any sequence error, a failed reconnect, or a
// thread or descriptor count that grew.
//   tolvan-soak MINUTES [RECONNECT_SECONDS=30]
#include <dirent.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tolvan.h"
#include "vdev/VirtualDevice.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::atomic<int> s_connects{0};
std::atomic<int> s_disconnects{0};
void OnConnect(bool connected) {
    ++(connected ? s_connects : s_disconnects);
}

int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
    return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0);  // the listing's own descriptor
}

struct Figures {
    std::size_t heapInUse;
    int threads;
    int descriptors;
};

Figures Measure() {
    const struct mallinfo2 info = mallinfo2();
    return {info.uordblks, CountEntries("/proc/self/task"), CountEntries("/proc/self/fd")};
}

template <typename Condition>
bool WaitFor(Condition condition, milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int reconnectSeconds = argc > 2 ? std::atoi(argv[2]) : 30;
    char dir[] = "/tmp/tolvan-soak-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 2;
    const std::string pattern = std::string(dir) + "/ttyACM%d";
    setenv("TOLVAN_DEVICE_PATTERN", pattern.c_str(), 1);
    setenv("TOLVAN_LOCK_DIR", dir, 1);
    SetCalibrationDataPath((std::string(dir) + "/").c_str());

    vdev::Options options;
    options.fastAck = true;
    options.logCapacity = 0;
    options.decodedCapacity = 0;
    std::string error;
    auto device = vdev::VirtualDevice::Start(options, &error);
    if (!device) {
        std::fprintf(stderr, "virtual device: %s\n", error.c_str());
        return 2;
    }

    const Figures before = Measure();
    TOLVInit(OnConnect);
    if (!WaitFor([] { return TOLVIsConnected(); }, milliseconds(10000))) {
        std::fprintf(stderr, "no connect\n");
        return 1;
    }
    TOLVSetPacingAmplitude(5.0);
    TOLVSetPacingRate(70);
    TOLVSetECG2_27_Noise(9, 0.05);
    TOLVSetOutputFunction(OUTPUT_ECG);
    std::this_thread::sleep_for(milliseconds(500));
    const Figures playing = Measure();

    std::uint64_t packets = 0, samples = 0, truncated = 0, errors = 0, changes = 0;
    int reconnects = 0, failedReconnects = 0;
    std::string firstError;
    auto harvest = [&] {
        const auto stats = device->Stats();
        packets += stats.packets;
        samples += stats.samples;
        truncated += stats.truncatedPackets;
        errors += stats.errors.size();
        if (firstError.empty() && !stats.errors.empty()) firstError = stats.errors.front();
    };

    const auto start = Clock::now();
    const auto end = start + milliseconds(static_cast<long>(minutes * 60000));
    auto nextReconnect = start + std::chrono::seconds(reconnectSeconds);
    const int functions[] = {OUTPUT_ECG, OUTPUT_SINE, OUTPUT_CUSTOM_ECG, OUTPUT_TRIANGLE};
    while (Clock::now() < end) {
        switch (changes % 4) {
            case 0:
                TOLVSetAmplitude(changes % 8 == 0 ? 1.0 : 1.5);
                break;
            case 1:
                TOLVSetFrequency(changes % 8 == 1 ? 1.0 : 1.25);
                break;
            case 2:
                TOLVSetPacingRate(changes % 8 == 2 ? 70 : 90);
                break;
            case 3:
                TOLVSetOutputFunction(functions[(changes / 4) % 4]);
                break;
        }
        ++changes;
        std::this_thread::sleep_for(milliseconds(20));
        if (reconnectSeconds > 0 && Clock::now() >= nextReconnect) {
            harvest();
            const int connects = s_connects;
            device->Unplug();
            std::this_thread::sleep_for(milliseconds(300));
            device->ClearDecoded();
            device->Replug();
            ++reconnects;
            if (!WaitFor([&] { return s_connects > connects; }, milliseconds(15000))) {
                ++failedReconnects;
            }
            nextReconnect = Clock::now() + std::chrono::seconds(reconnectSeconds);
        }
    }
    harvest();
    const Figures stillPlaying = Measure();
    TOLVSetOutputFunction(OUTPUT_OFF);
    TOLVFree();
    std::this_thread::sleep_for(milliseconds(300));
    const Figures after = Measure();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double streamSeconds = static_cast<double>(samples) / device->SampleRate();
    device->Stop();

    std::printf("wall time          %.1f s\n", wall);
    std::printf("stream time        %.1f s (%.2f h), %.1f x real time\n", streamSeconds,
                streamSeconds / 3600, streamSeconds / wall);
    std::printf("packets            %llu (%llu truncated)\n",
                static_cast<unsigned long long>(packets),
                static_cast<unsigned long long>(truncated));
    std::printf("changes            %llu\n", static_cast<unsigned long long>(changes));
    std::printf("reconnects         %d (%d failed)\n", reconnects, failedReconnects);
    std::printf("sequence errors    %llu%s%s\n", static_cast<unsigned long long>(errors),
                firstError.empty() ? "" : ", first: ", firstError.c_str());
    std::printf("heap in use        before %zu, playing %zu, end of play %zu, after free %zu\n",
                before.heapInUse, playing.heapInUse, stillPlaying.heapInUse, after.heapInUse);
    std::printf("threads            before %d, playing %d, end of play %d, after free %d\n",
                before.threads, playing.threads, stillPlaying.threads, after.threads);
    std::printf("descriptors        before %d, playing %d, end of play %d, after free %d\n",
                before.descriptors, playing.descriptors, stillPlaying.descriptors,
                after.descriptors);
    rmdir(dir);
    const bool ok = errors == 0 && failedReconnects == 0 && truncated == 0 &&
                    stillPlaying.threads <= playing.threads &&
                    stillPlaying.descriptors <= playing.descriptors &&
                    after.threads <= before.threads && after.descriptors <= before.descriptors;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
