/*
 * Records what the output stage produces while a 2 mV, 10 Hz square wave plays: the AC and DC
 * channel values of the first second of samples, then prints their range.
 *
 *   record_output [port]         port: n of /dev/ttyACM<n>, -1 scans; none: without a device
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "tolvan.h"

#define USAGE "record_output [port]   (port -1 scans every port; none: without a device)"

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

#define SAMPLES 20000

static double s_ac[SAMPLES];
static double s_dc[SAMPLES];

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
    TOLVSetAmplitude(2.0);
    TOLVSetFrequency(10.0);
    if (!EnableRecordRaw(s_ac, s_dc, SAMPLES)) {
        fprintf(stderr, "the recorder is armed already\n");
        TOLVFree();
        return 1;
    }
    TOLVSetOutputFunction(OUTPUT_SQUARE);
    sleep(2);
    TOLVSetOutputFunction(OUTPUT_OFF);
    DisableRecordRaw();
    double low = s_ac[0], high = s_ac[0];
    for (int i = 1; i < SAMPLES; ++i) {
        if (s_ac[i] < low) low = s_ac[i];
        if (s_ac[i] > high) high = s_ac[i];
    }
    printf("recorded %d samples: AC %.3f .. %.3f mV, DC %.3f mV\n", SAMPLES, low, high, s_dc[0]);
    TOLVFree();
    return high - low > 1.9 ? 0 : 1;
}
