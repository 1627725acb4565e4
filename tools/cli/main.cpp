// tolvan: the command-line tool of libtolvan.
#include <cstdio>
#include <cstring>
#include <string>

#include "Cli.h"
#include "tolvan.h"

namespace {

void PrintHelp() {
    std::printf(
        "Usage: tolvan COMMAND [options]      (tolvan COMMAND --help for each command)\n\n"
        "The command-line tool of libtolvan %s, the host SDK of the TOLVAN patient simulator.\n\n"
        "Commands:\n"
        "  list     the serial ports and what answers on each (serial numbers, or why not)\n"
        "  info     the simulator: serial number, firmware, hardware, PPG and respiration module\n"
        "  play     play an output function, a standard waveform by name or a recording file\n"
        "  render   compute an output function offline (no device) into a CSV or EDF file\n"
        "  plot     draw a CSV or EDF file as an SVG or PNG image\n\n"
        "Without a simulator: --vdev starts a virtual one (tolvan-vdev) for the run, play\n"
        "--offline plays on the library's timer, render needs no device.\n\n"
        "Options: -h, --help (this text), --version (the library's version).\n\n"
        "Exit codes:\n"
        "  0  success\n"
        "  1  the operation failed (a setting was refused, nothing was played)\n"
        "  2  bad command line\n"
        "  3  no simulator could be connected (the reason is printed)\n"
        "  4  a file could not be read or written\n\n"
        "Environment: TOLVAN_DEVICE_PATTERN (node of port n, default /dev/ttyACM%%d),\n"
        "TOLVAN_LOCK_DIR (lock files, default /var/lock), TOLVAN_DATA_DIR (reference records).\n\n"
        "Examples:\n"
        "  tolvan list\n"
        "  tolvan play sine --amplitude 1 --frequency 10 --seconds 5 --port 0\n"
        "  tolvan play aami3a --vdev\n"
        "  tolvan play recording.edf --channel 1 --no-loop\n"
        "  tolvan render ecg --bpm 75 --seconds 10 -o ecg.edf && tolvan plot ecg.edf -o ecg.png\n",
        TOLVGetSDKVersion());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return cli::kUsage;
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        if (argc > 2) {  // tolvan help COMMAND
            static char help[] = "--help";
            static char* args[] = {argv[2], help, nullptr};
            args[0] = argv[2];
            argv = args;
            argc = 2;
        } else {
            PrintHelp();
            return cli::kOk;
        }
    } else if (command == "--version" || command == "-V") {
        std::printf("tolvan %s (libtolvan %s)\n", TOLVAN_CLI_VERSION, TOLVGetSDKVersion());
        return cli::kOk;
    } else {
        --argc;
        ++argv;
    }
    struct Command {
        const char* name;
        int (*run)(int, char**);
    };
    static const Command kCommands[] = {{"list", cli::ListCommand},
                                        {"info", cli::InfoCommand},
                                        {"play", cli::PlayCommand},
                                        {"render", cli::RenderCommand},
                                        {"plot", cli::PlotCommand}};
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[0], c.name) == 0) return c.run(argc, argv);
    }
    if (std::strcmp(argv[0], "update") == 0) {
        std::fprintf(stderr, "tolvan: update is not available in this build\n");
        return cli::kUsage;
    }
    std::fprintf(stderr, "tolvan: unknown command %s (see tolvan --help)\n", argv[0]);
    return cli::kUsage;
}
