/*
 * Plays channel 0 of an EDF recording once (output 13, no loop) and reports how it went.
 *
 *   play_edf FILE.edf [port]     port: n of /dev/ttyACM<n>, -1 scans; none: without a device
 *
 * Exit status: 0 played, 1 failed, 3 no simulator, 4 the file could not be loaded.
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "tolvan.h"

#define USAGE "play_edf FILE.edf [port]   (port -1 scans every port; none: without a device)"

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

static volatile int s_ended = 0;

static void OnEnd(void) {
    s_ended = 1; /* the recording has played once; playback is being stopped */
}

static void NoListener(bool connected) {
    (void)connected;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s\n", USAGE);
        return 2;
    }
    if (argc > 2) {
        if (!TOLVConnect(Argument(argv[2], -1, 127), 10000)) {
            fprintf(stderr, "no simulator: %s\n", TOLVGetLastErrorText());
            return 3;
        }
    } else {
        TOLVInit(NoListener);
    }
    int count = TOLVLoadECGedf(argv[1], 0);
    if (count < 0) {
        fprintf(stderr, "TOLVLoadECGedf(%s) failed: %d (see tolvan.h)\n", argv[1], count);
        TOLVFree();
        return 4;
    }
    int rate = 0;
    GetFileArray(NULL, &rate);
    printf("loaded %d samples at %d Hz (%.1f s)\n", count, rate, (double)count / rate);
    TOLVSetFileLoop(false);
    RegisterStandardWaveformCB(OnEnd);
    TOLVSetOutputFunction(OUTPUT_ECG_FILE);
    for (int i = 0; i < 600 && !s_ended; ++i) usleep(50000); /* at most 30 s */
    TOLVSetOutputFunction(OUTPUT_OFF);
    RegisterStandardWaveformCB(NULL);
    printf("%s\n", s_ended ? "played to the end" : "stopped before the end");
    TOLVFree();
    return s_ended ? 0 : 1;
}
