/*
 * Plays the AAMI EC13 waveform aami3a (IEC 60601-2-27 waveform A1, output 8, index 0) for a few
 * seconds.
 *
 *   standard_waveform [port]      port: n of /dev/ttyACM<n>, -1 scans; none: without a device
 *
 * Exit status: 0 played, 1 failed, 3 no simulator or the waveform table is not built in.
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "tolvan.h"

#define USAGE "standard_waveform [port]   (port -1 scans every port; none: without a device)"

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

static volatile long s_samples = 0;
static volatile double s_peak = 0.0;

static void OnSample(double time, double millivolts) {
    (void)time;
    if (millivolts > s_peak) s_peak = millivolts;
    s_samples = s_samples + 1;
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
        printf("connected: %s\n", TOLVGetSerialNumber());
    } else {
        TOLVInit(NoListener); /* no device: playback runs on the library's timer */
    }
    int rc = TOLVSetSpecialWave227(0);
    if (rc == TOLV_TABLE_MISSING) {
        printf("the AAMI EC13 waveforms are not built into this library (see TOLVAN_DATA_DIR)\n");
        TOLVFree();
        return 3;
    }
    TOLVRegisterOutputSignalCallback(OnSample, 1);
    if (rc != 0 || TOLVSetOutputFunction(OUTPUT_IEC227) != 0) {
        fprintf(stderr, "could not start aami3a: %d\n", rc);
        TOLVFree();
        return 1;
    }
    sleep(2);
    TOLVSetOutputFunction(OUTPUT_OFF);
    printf("aami3a: %ld samples, peak %.3f mV\n", s_samples, s_peak);
    TOLVFree();
    return s_samples > 0 ? 0 : 1;
}
