/*
 * Plays a 1 mV, 1 Hz sine for a few seconds and reports what the output-signal callback saw.
 *
 *   play_sine [port] [seconds]
 *
 * With a port (0 for /dev/ttyACM0, or the virtual device's port) it connects to the simulator
 * first; with -1 it scans every port; without a port, or when no simulator answers, it plays
 * without a device: the same engine then runs on a timer and drives the callback in real time.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tolvan.h"

#define USAGE "play_sine [port] [seconds]   (port -1 scans every port)"

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
static volatile double s_min = 0.0;
static volatile double s_max = 0.0;

static void OnSample(double time, double millivolts) {
    (void)time;
    if (s_samples == 0 || millivolts < s_min) s_min = millivolts;
    if (s_samples == 0 || millivolts > s_max) s_max = millivolts;
    s_samples = s_samples + 1;
}

static void OnConnection(bool connected) {
    printf("callback: %s\n", connected ? "connected" : "disconnected");
}

static void SleepSeconds(int seconds) {
    struct timespec t;
    t.tv_sec = seconds;
    t.tv_nsec = 0;
    nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
    int seconds = argc > 2 ? Argument(argv[2], 1, 3600) : 3;
    printf("libtolvan %s\n", TOLVGetSDKVersion());
    if (argc > 1 && TOLVConnect(Argument(argv[1], -1, 127), 15000)) {
        printf("connected: serial %s, firmware %s, hardware %s\n", TOLVGetSerialNumber(),
               TOLVGetFWVersion(), TOLVGetHWVersion());
    } else {
        printf("no simulator: playing without a device\n");
        TOLVInit(OnConnection);
    }
    TOLVRegisterOutputSignalCallback(OnSample, 1);
    if (TOLVSetAmplitude(1.0) != 0 || TOLVSetFrequency(1.0) != 0 ||
        TOLVSetOutputFunction(OUTPUT_SINE) != 0) {
        fprintf(stderr, "could not start the sine\n");
        TOLVFree();
        return 1;
    }
    SleepSeconds(seconds);
    TOLVSetOutputFunction(OUTPUT_OFF);
    printf("played %d s: %ld samples, %.3f .. %.3f mV\n", seconds, s_samples, s_min, s_max);
    TOLVFree();
    return s_samples > 0 ? 0 : 1;
}
