// The common tasks from C++: a session object that frees the library when it goes out of scope,
// and the C callbacks bridged to lambdas.
//
//   cpp_tasks TASK [FILE] [--port N]
//     standard  play the AAMI EC13 waveform aami3a
//     edf FILE  play channel 0 of an EDF recording once
//     pacing    synthetic ECG with pacing pulses synchronised to the beat
//     record    record the output stage's AC and DC values while a square wave plays
//   Without --port the library plays on its timer, without a device.
// Exit status: 0 done, 1 failed, 2 usage, 3 no simulator or no reference data, 4 file error.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tolvan.h"

namespace {

// One session for the life of the object.
class Session {
  public:
    explicit Session(int port) {
        if (port == kNoDevice) {
            TOLVInit([](bool) {});
        } else if (!TOLVConnect(port, 10000)) {
            throw std::runtime_error(std::string("no simulator: ") + TOLVGetLastErrorText());
        }
    }
    ~Session() {
        TOLVRegisterOutputSignalCallback(nullptr, 1);
        TOLVFree();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Output-signal samples to a C++ callable (runs on a library thread: keep it short).
    void OnSample(std::function<void(double, double)> callback, int divider = 1) {
        s_onSample = std::move(callback);
        TOLVRegisterOutputSignalCallback(s_onSample ? Trampoline : nullptr, divider);
    }
    void Play(int function, std::chrono::milliseconds duration) {
        Check(TOLVSetOutputFunction(function), "TOLVSetOutputFunction");
        std::this_thread::sleep_for(duration);
        TOLVSetOutputFunction(OUTPUT_OFF);
    }
    static void Check(int rc, const char* call) {
        if (rc != 0) throw std::runtime_error(std::string(call) + " failed: " + std::to_string(rc));
    }

    static constexpr int kNoDevice = -2;

  private:
    static void Trampoline(double t, double mv) { s_onSample(t, mv); }
    static inline std::function<void(double, double)> s_onSample;
};

int Run(const std::string& task, const std::string& file, int port) {
    Session session(port);
    std::atomic<long> samples{0};
    double peak = 0;
    session.OnSample([&](double, double mv) {
        peak = std::max(peak, mv);
        ++samples;
    });
    if (task == "standard") {
        if (TOLVSetSpecialWave227(0) == TOLV_TABLE_MISSING) {
            std::puts("the AAMI EC13 waveforms are not built into this library");
            return 3;
        }
        session.Play(OUTPUT_IEC227, std::chrono::seconds(2));
        std::printf("aami3a: %ld samples, peak %.3f mV\n", samples.load(), peak);
    } else if (task == "edf") {
        const int count = TOLVLoadECGedf(file.c_str(), 0);
        if (count < 0) {
            std::fprintf(stderr, "TOLVLoadECGedf(%s): %d\n", file.c_str(), count);
            return 4;
        }
        session.Play(OUTPUT_ECG_FILE, std::chrono::seconds(1));
        std::printf("%s: %d samples loaded, %ld played, peak %.3f mV\n", file.c_str(), count,
                    samples.load(), peak);
    } else if (task == "pacing") {
        Session::Check(TOLVSetPacingAmplitude(2.0), "TOLVSetPacingAmplitude");
        Session::Check(TOLVSetPacingRate(120), "TOLVSetPacingRate");
        session.Play(OUTPUT_ECG, std::chrono::seconds(2));
        std::printf("ECG with pacing at %u pulses/min: %ld samples, peak %.3f mV\n",
                    TOLVGetPacingRate(), samples.load(), peak);
    } else if (task == "record") {
        std::vector<double> ac(20000), dc(20000);
        Session::Check(TOLVSetAmplitude(2.0), "TOLVSetAmplitude");
        if (!EnableRecordRaw(ac.data(), dc.data(), static_cast<int>(ac.size()))) return 1;
        session.Play(OUTPUT_SQUARE, std::chrono::seconds(2));
        DisableRecordRaw();
        const auto [low, high] = std::minmax_element(ac.begin(), ac.end());
        std::printf("recorded %zu samples: AC %.3f .. %.3f mV\n", ac.size(), *low, *high);
    } else {
        std::fprintf(stderr, "unknown task %s\n", task.c_str());
        return 2;
    }
    return samples > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int port = Session::kNoDevice;
    auto at = std::find(args.begin(), args.end(), "--port");
    if (at != args.end() && at + 1 != args.end()) {
        port = std::atoi((at + 1)->c_str());
        args.erase(at, at + 2);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: cpp_tasks standard|edf FILE|pacing|record [--port N]\n");
        return 2;
    }
    try {
        return Run(args[0], args.size() > 1 ? args[1] : "", port);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 3;
    }
}
