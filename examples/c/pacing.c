/*
 * Synthetic ECG at 60 beats/min with 2 mV, 1 ms pacing pulses synchronised to the beat; counts
 * the pulses the pacing callback reports.
 *
 *   pacing [port]                port: n of /dev/ttyACM<n>, -1 scans; none: without a device
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "tolvan.h"

#define USAGE "pacing [port]   (port -1 scans every port; none: without a device)"

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

static volatile long s_points = 0;

static void OnPacing(double time, double millivolts) {
    (void)time;
    (void)millivolts;
    s_points = s_points + 1; /* four points per pulse */
}

static void NoListener(bool connected) {
    (void)connected;
}

int main(int argc, char** argv) {
    if (argc > 1) {
        if (!TOLVConnect(Argument(argv[1], -1, 127), 10000)) {
            fprintf(stderr, "no simulator: %s\n", TOLVGetLastErrorText());
            return 3;
        }
    } else {
        TOLVInit(NoListener);
    }
    if (TOLVSetFrequency(1.0) != 0 || TOLVSetPacingDuration(1.0) != 0 ||
        TOLVSetPacingAmplitude(2.0) != 0 || TOLVSetPacingRateSynchronized() != 0) {
        fprintf(stderr, "a pacing setting was refused\n");
        TOLVFree();
        return 1;
    }
    TOLVRegisterPacingOutputSignalCallback(OnPacing);
    TOLVSetOutputFunction(OUTPUT_ECG);
    sleep(3);
    TOLVSetOutputFunction(OUTPUT_OFF);
    TOLVRegisterPacingOutputSignalCallback(NULL);
    printf("%ld pacing pulses in 3 s\n", s_points / 4);
    TOLVFree();
    return s_points >= 8 ? 0 : 1;
}
