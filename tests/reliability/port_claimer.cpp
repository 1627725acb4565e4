// A second process for the process tests: connects to a port, says so on standard output and
// then holds the port (optionally playing a sine) until it is killed or its time is up.
//   tolvan_port_claimer PORT TIMEOUT_MS hold|stream [HOLD_MS]
// Prints "connected" or "refused" (and "streaming" once the sine plays), one word a line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tolvan.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PORT TIMEOUT_MS hold|stream [HOLD_MS]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const auto timeout = static_cast<std::uint32_t>(std::atoi(argv[2]));
    const bool stream = std::strcmp(argv[3], "stream") == 0;
    const int holdMs = argc > 4 ? std::atoi(argv[4]) : 60000;
    if (!TOLVConnect(port, timeout)) {
        std::printf("refused\n");
        std::fflush(stdout);
        return 1;
    }
    std::printf("connected\n");
    std::fflush(stdout);
    if (stream && TOLVSetOutputFunction(OUTPUT_SINE) == 0) {
        std::printf("streaming\n");
        std::fflush(stdout);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs));
    TOLVFree();
    return 0;
}
