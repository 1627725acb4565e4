/*
 * Synthetic ECG with a PPG pulse on each of the three PPG channels whose peak follows every R wave
 * by a chosen pulse-transit time. Plays for a few seconds with the ground truth on, then measures
 * the delay from each R wave to the next PPG peak of every channel and prints it.
 *
 *   ppg_ptt [port [ptt-ms [beats-per-minute]]]
 *     port: n of /dev/ttyACM<n>, -1 scans; none: without a device (the library's timer)
 *     ptt-ms: pulse-transit time, 0 .. 500 ms (default 200)
 *     beats-per-minute: 40 .. 110 (default 60); the ECG and the PPG pulses share the rate (a
 *       pulse-transit time of a whole beat or more could not be told from a shorter one)
 *
 * On a simulator the PPG pulses reach the optical outputs only with a PPG module attached (model
 * 0x2112 or 0x2012); without one the library still computes them and the ground truth still
 * holds them. The ECG output must be on (it is, unless TOLVEnableECGOutput(false) was called):
 * the pulse-transit time applies to the synthetic ECG (outputs 7 and 14) only.
 *
 * Output: one line per measured pulse, then
 *   "PTT requested 200 ms, measured 200.0 ms (min 199.9, max 200.1) over 9 pulses"
 * Exit status: 0 every pulse within 1 ms of the request, 1 otherwise or a call failed, 2 usage,
 * 3 no simulator.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tolvan.h"

#define USAGE                                                                                  \
    "ppg_ptt [port [ptt-ms [beats-per-minute]]]   (port -1 scans every port; none: without a " \
    "device)"

/* The R crest falls on the nearest whole millisecond below it when the PPG beat is placed, so a
 * pulse may come up to 1 ms early. */
#define TOLERANCE_MS 1.0

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

static void NoListener(bool connected) {
    (void)connected;
}

#define EVENTS 4096

static TOLV_TRUTH_EVENT s_events[EVENTS];
static double s_waves[EVENTS];

int main(int argc, char** argv) {
    int ptt = argc > 2 ? Argument(argv[2], 0, 500) : 200;
    int bpm = argc > 3 ? Argument(argv[3], 40, 110) : 60;
    double rate = bpm / 60.0;
    /* Levels of the three channels (DC is the pulse top, AC its height), module units. */
    const double dc[3] = {1500.0, 1200.0, 900.0};
    const double ac[3] = {30.0, 20.0, 8.0};
    int k, n, count, waves = 0, pulses = 0;
    double sum = 0.0, low = 1e9, high = -1e9;

    if (argc > 1 && strcmp(argv[1], "none") != 0) {
        if (!TOLVConnect(Argument(argv[1], -1, 127), 10000)) {
            fprintf(stderr, "no simulator: %s\n", TOLVGetLastErrorText());
            return 3;
        }
        printf("simulator %s, PPG module: %s\n", TOLVGetSerialNumber(),
               TOLVIsPPGConnected() ? TOLVGetPPGSerialNumber() : "none");
    } else {
        TOLVInit(NoListener);
    }

    /* A plethysmographic pulse (type 3) at the ECG's rate on every channel, all enabled. */
    for (k = 0; k < 3; ++k) {
        int rc = TOLVSetPPGStandardWaveform(k, 3, 1, 0, rate, dc[k], ac[k]);
        if (rc <= 0 || TOLVEnablePPGOutput(k, true) != 0) {
            fprintf(stderr, "PPG channel %d refused: %d\n", k, rc);
            TOLVFree();
            return 1;
        }
    }
    TOLVSetPTTp(ptt);
    if (TOLVSetFrequency(rate) != 0 || TOLVSetAmplitude(1.0) != 0 ||
        TOLVEnableGroundTruth(1) != 0) {
        fprintf(stderr, "an ECG setting was refused\n");
        TOLVFree();
        return 1;
    }
    if (TOLVSetOutputFunction(OUTPUT_ECG) != 0) {
        fprintf(stderr, "the synthetic ECG did not start\n");
        TOLVFree();
        return 1;
    }
    sleep(4);
    TOLVSetOutputFunction(OUTPUT_OFF);

    /* Each PPG peak is paired with the last R wave before it, or up to the tolerance after it
     * (with a pulse-transit time of 0 the peak may come just before its R wave). The queue keeps
     * time order within each kind of event and holds far more than these seconds. */
    count = TOLVReadGroundTruth(s_events, EVENTS);
    for (n = 0; n < count; ++n) {
        if (s_events[n].Kind == TOLV_TRUTH_R_WAVE && s_events[n].Channel == 0 && waves < EVENTS) {
            s_waves[waves++] = s_events[n].Time;
        }
    }
    for (n = 0; n < count; ++n) {
        const TOLV_TRUTH_EVENT* e = &s_events[n];
        double r = -1.0, delay;
        int w;
        if (e->Kind != TOLV_TRUTH_PPG_PEAK) continue;
        for (w = 0; w < waves && s_waves[w] <= e->Time + TOLERANCE_MS / 1000.0; ++w) {
            r = s_waves[w];
        }
        if (r < 0.0) continue; /* a pulse before the first R wave */
        delay = 1000.0 * (e->Time - r);
        printf("channel %d: R wave %.4f s, PPG peak %.4f s, delay %.1f ms\n", e->Channel, r,
               e->Time, delay);
        sum += delay;
        if (delay < low) low = delay;
        if (delay > high) high = delay;
        ++pulses;
    }
    TOLVEnableGroundTruth(0);
    TOLVFree();
    if (pulses == 0) {
        printf("no PPG pulse followed an R wave\n");
        return 1;
    }
    printf("PTT requested %d ms, measured %.1f ms (min %.1f, max %.1f) over %d pulses\n", ptt,
           sum / pulses, low, high, pulses);
    return low >= ptt - TOLERANCE_MS && high <= ptt + TOLERANCE_MS ? 0 : 1;
}
