// The command update: loads a firmware or microcontroller image and burns it, with a progress bar.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "Cli.h"
#include "tolvan.h"

namespace cli {
namespace {

std::atomic<bool> s_cancel{false};
bool s_terminal = false;
int s_lastStage = 0;
int s_lastValue = -1;

const char* StageName(int stage) {
    switch (stage) {
        case 1:
            return "erase";
        case 2:
            return "write";
        case 3:
            return "verify";
        case 4:
            return "restart";
        case 5:
            return "reconnect";
        default:
            return "result";
    }
}

// Runs on the burning thread while the library holds the link: print and return at once.
int OnProgress(int stage, int value) {
    if (stage >= 1 && stage <= 3) {
        if (s_terminal && value != s_lastValue) {
            const int filled = value < 0 ? 0 : (value > 100 ? 40 : value * 40 / 100);
            std::fprintf(stderr, "\r%-7s [%.*s%*s] %3d %%", StageName(stage), filled,
                         "########################################", 40 - filled, "", value);
            if (value == 100) std::fputc('\n', stderr);
        } else if (!s_terminal && value == 100 && s_lastStage == stage && s_lastValue != 100) {
            std::fprintf(stderr, "%s done\n", StageName(stage));
        }
        s_lastStage = stage;
        s_lastValue = value;
        return s_cancel.load() ? 1 : 0;
    }
    if (stage == 4 || stage == 5) {
        std::fprintf(stderr, "%s ...\n", StageName(stage));
    }
    s_lastStage = stage;
    s_lastValue = value;
    return 0;
}

const char* BurnError(int code) {
    switch (code) {
        case -1:
            return "cancelled";
        case -3:
            return "no simulator connected";
        case -4:
            return "the module's microcontroller did not enter its loader";
        case -5:
            return "a command could not be written (unplugged?)";
        case -6:
            return "a reply did not come back whole, or no valid image";
        case -9:
            return "the data read back differ from the image";
        case -10:
            return "the restart command could not be written";
        case -11:
            return "the simulator did not come back after the restart";
        case -12:
            return "playback or photodiode sampling runs";
        default:
            return "failed";
    }
}

const char* LoadError(int code) {
    switch (code) {
        case -1:
            return "cannot be opened";
        case -2:
            return "no such file";
        case -4:
            return "no memory for the image";
        case -5:
            return "could not be read whole";
        case -6:
            return "not an image of this kind (wrong size or mark)";
        default:
            return "cannot be loaded";
    }
}

}  // namespace

int UpdateCommand(int argc, char** argv) {
    enum { kMcu = 2000 };
    static const option options[] = {
        {"port", required_argument, nullptr, 'p'}, {"timeout", required_argument, nullptr, 't'},
        {"vdev", optional_argument, nullptr, 'v'}, {"mcu", no_argument, nullptr, kMcu},
        {"help", no_argument, nullptr, 'h'},       {nullptr, 0, nullptr, 0}};
    Connection connection;
    bool mcu = false;
    for (int opt; (opt = getopt_long(argc, argv, "hp:t:", options, nullptr)) != -1;) {
        switch (opt) {
            case 'h':
                std::printf(
                    "Usage: tolvan update FILE [--mcu] [options]\n\n"
                    "Burns the firmware image FILE into the simulator (or, with --mcu, the\n"
                    "microcontroller image into the PPG module 0x2112): erases, writes and reads\n"
                    "back every chunk, restarts the device and connects to it again. Success is\n"
                    "reported only after every byte read back equals the image. Ctrl-C cancels\n"
                    "before the restart (the device then keeps a partly written image: run the\n"
                    "update again).\n\n"
                    "Options:\n"
                    "      --mcu            FILE is the PPG module's microcontroller image\n"
                    "  -p, --port N         port n of /dev/ttyACM<n>; -1 scans every port "
                    "(default)\n"
                    "  -t, --timeout MS     how long to look for the simulator (default 5000)\n"
                    "      --vdev[=PRESET]  update a virtual simulator started for the run\n"
                    "  -h, --help           show this text\n\n"
                    "Exit codes: 0 updated, 1 the burn failed or was cancelled, 2 bad command\n"
                    "line, 3 no simulator, 4 the image cannot be loaded.\n");
                return kOk;
            case kMcu:
                mcu = true;
                break;
            case 'v':
                connection.vdevPreset = optarg != nullptr ? optarg : (mcu ? "ppg2112" : "current");
                break;
            case 'p':
            case 't': {
                char* end = nullptr;
                const long v = std::strtol(optarg, &end, 10);
                if (end == optarg || *end != '\0' || v < (opt == 'p' ? -1 : 0) ||
                    v > (opt == 'p' ? 127 : 600000)) {
                    std::fprintf(stderr, "tolvan update: --%s: %s is out of range\n",
                                 opt == 'p' ? "port" : "timeout", optarg);
                    return kUsage;
                }
                if (opt == 'p') {
                    connection.port = static_cast<int>(v);
                } else {
                    connection.timeoutMs = static_cast<unsigned>(v);
                }
                break;
            }
            default:
                std::fprintf(stderr, "tolvan update: see tolvan update --help\n");
                return kUsage;
        }
    }
    if (optind + 1 != argc) {
        std::fprintf(stderr,
                     "tolvan update: one image FILE is needed (see tolvan update --help)\n");
        return kUsage;
    }
    // --mcu given after --vdev still means the module's preset.
    if (mcu && connection.vdevPreset == "current") connection.vdevPreset = "ppg2112";
    const char* file = argv[optind];
    int version[4] = {0, 0, 0, 0};
    const int loaded =
        mcu ? LoadMcuFile(file, &version[0], &version[1], &version[2], &version[3])
            : LoadFirmwareFile(file, &version[0], &version[1], &version[2], &version[3]);
    if (loaded < 0) {
        std::fprintf(stderr, "tolvan update: %s: %s (%d)\n", file, LoadError(loaded), loaded);
        return kFileError;
    }
    std::printf("image %s: %d bytes, version %d.%d.%02d.%02d\n", file, loaded, version[0],
                version[1], version[2], version[3]);
    if (int rc = Connect(connection); rc != kOk) return rc;
    std::printf("updating %s %s (firmware %s)\n", mcu ? "the PPG module of" : "simulator",
                TOLVGetSerialNumber(), TOLVGetFWVersion());
    std::fflush(stdout);

    s_terminal = isatty(STDERR_FILENO) != 0;
    struct sigaction action {};
    action.sa_handler = [](int) { s_cancel = true; };
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);
    const int result = mcu ? BurnMcu(OnProgress) : BurnFirmware(OnProgress);
    sigaction(SIGINT, &previous, nullptr);

    int exitCode = kOk;
    if (result == 0) {
        std::printf("updated: %s now runs firmware %s\n", TOLVGetSerialNumber(),
                    mcu ? "(module restarted)" : TOLVGetFWVersion());
    } else {
        std::fprintf(stderr, "tolvan update: %s (%d)\n", BurnError(result), result);
        exitCode = kFailed;
    }
    Disconnect();
    return exitCode;
}

}  // namespace cli
