/* Subscribes to photodiode inputs 0 and 2 of the PPG module, samples for a few seconds and
 * prints every sample: input, value and the frame's status byte.
 *
 * usage: ppg_sampling [port] [seconds]
 * With the virtual device (a PPG module attached):
 *   tolvan-vdev --preset ppg2012 --pattern /tmp/ttyACM%d &
 *   TOLVAN_DEVICE_PATTERN=/tmp/ttyACM%d TOLVAN_LOCK_DIR=/tmp ./ppg_sampling 0 2
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tolvan.h"

#define USAGE "ppg_sampling [port] [seconds]"

/* A whole-number argument within low .. high; anything else (--help too) prints how to call the
 * program and exits with 2. */
static int Argument(const char* text, long low, long high) {
    char* end = NULL;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        fprintf(stderr, "usage: %s\n", USAGE);
        exit(2);
    }
    return (int)value;
}

/* Runs on the library's poll thread: keep it short. */
static void on_sample(int input, int value, int status) {
    printf("input %d  value %5d  status %3d\n", input, value, status);
}

static void wait_ms(long ms) {
    struct timespec t;
    t.tv_sec = ms / 1000;
    t.tv_nsec = (ms % 1000) * 1000000L;
    nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
    int port = argc > 1 ? Argument(argv[1], -1, 127) : 0;
    int seconds = argc > 2 ? Argument(argv[2], 1, 3600) : 3;
    int code;
    if (!TOLVConnect(port, 10000)) {
        fprintf(stderr, "no simulator on port %d\n", port);
        TOLVFree();
        return 1;
    }
    if (!TOLVIsPPGConnected()) {
        fprintf(stderr, "the simulator has no PPG module\n");
        TOLVFree();
        return 1;
    }
    if (TOLVEnablePPGSampling(0, on_sample) != 0 || TOLVEnablePPGSampling(2, on_sample) != 0) {
        fprintf(stderr, "subscribing failed\n");
        TOLVFree();
        return 1;
    }
    code = TOLVStartPPGSampling();
    if (code != 0) {
        fprintf(stderr, "TOLVStartPPGSampling: %d\n", code);
        TOLVDisablePPGSampling();
        TOLVFree();
        return 1;
    }
    wait_ms(1000L * seconds);
    TOLVStopPPGSampling();
    TOLVDisablePPGSampling();
    TOLVFree();
    return 0;
}
