/*
 * Connects to the simulator on port 0, plays one output function for a few seconds, stops and
 * disconnects. Used by scripts/demo.sh.
 *
 *   play_demo function seconds [special-wave]
 *
 * function is an output function number (1 sine, 7 ECG, 8 IEC 60601-2-27 / AAMI EC13, ...);
 * amplitude 1 mV and frequency 1 Hz (60 beats/min for the ECG). With output 8, special-wave
 * selects the waveform (0 = AAMI 3A). Exit status: 0 played, 1 failed, 3 the standard waveform
 * table is not available in this build.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "tolvan.h"

#define USAGE "play_demo function seconds [special-wave]"

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

static volatile long s_ppgSamples = 0;

static void OnPpgSample(double time, double value) {
    (void)time;
    (void)value;
    s_ppgSamples = s_ppgSamples + 1;
}

static void SleepSeconds(int seconds) {
    struct timespec t;
    t.tv_sec = seconds;
    t.tv_nsec = 0;
    nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s\n", USAGE);
        return 1;
    }
    int function = Argument(argv[1], 0, 10000);
    int seconds = Argument(argv[2], 1, 3600);
    if (!TOLVConnect(0, 15000)) {
        fprintf(stderr, "no simulator on port 0\n");
        return 1;
    }
    printf("connected: serial %s, firmware %s\n", TOLVGetSerialNumber(), TOLVGetFWVersion());
    if (argc > 3) {
        int rc = TOLVSetSpecialWave227(Argument(argv[3], 0, 9));
        if (rc == TOLV_TABLE_MISSING) {
            printf("the AAMI EC13 / IEC 60601-2-27 waveforms are not built into this library\n");
            TOLVFree();
            return 3;
        }
        if (rc != 0) {
            fprintf(stderr, "TOLVSetSpecialWave227(%s) failed: %d\n", argv[3], rc);
            TOLVFree();
            return 1;
        }
    }
    /* TOLVAN_DEMO_RESPIRATION="variation rate ratio baseline apnoea": impedance respiration. */
    const char* respiration = getenv("TOLVAN_DEMO_RESPIRATION");
    if (respiration != NULL) {
        int v = 0, rate = 0, ratio = 0, baseline = 0, apnea = 0;
        if (sscanf(respiration, "%d %d %d %d %d", &v, &rate, &ratio, &baseline, &apnea) != 5 ||
            !TOLVEnableRespiration(true) || !TOLVSetRespiration(v, rate, ratio, baseline, apnea)) {
            fprintf(stderr, "could not set respiration \"%s\"\n", respiration);
            TOLVFree();
            return 1;
        }
        printf("respiration: %s (module %s, %d samples/s)\n", respiration,
               TOLVRespirationModuleIsConnected() ? "attached" : "absent", TOLVGetSampleRate());
    }
    /* TOLVAN_DEMO_PPG="ptt": pulses on the three PPG channels at the ECG's rate, their peaks
     * ptt ms after each R crest. */
    const char* ppg = getenv("TOLVAN_DEMO_PPG");
    if (ppg != NULL) {
        const double dc[3] = {1500.0, 1200.0, 900.0};
        const double ac[3] = {30.0, 20.0, 8.0};
        int k;
        for (k = 0; k < 3; ++k) {
            int rc = TOLVSetPPGStandardWaveform(k, 3, 1, 0, 1.0, dc[k], ac[k]);
            if (rc <= 0 || TOLVEnablePPGOutput(k, true) != 0) {
                fprintf(stderr, "could not set PPG channel %d: %d\n", k, rc);
                TOLVFree();
                return 1;
            }
            TOLVRegisterOutputPPGCallback(k, OnPpgSample);
        }
        TOLVSetPTTp(atoi(ppg));
        printf("PPG: three pulse channels, pulse-transit time %s ms (%d samples/s, finger model "
               "%s)\n",
               ppg, TOLVGetSampleRate(), TOLVIsPPGFingerModelActive() ? "on" : "off");
    }
    TOLVRegisterOutputSignalCallback(OnSample, 1);
    if (TOLVSetAmplitude(1.0) != 0 || TOLVSetFrequency(1.0) != 0 ||
        TOLVSetOutputFunction(function) != 0) {
        fprintf(stderr, "could not start output function %d\n", function);
        TOLVFree();
        return 1;
    }
    SleepSeconds(seconds);
    TOLVSetOutputFunction(OUTPUT_OFF);
    printf("played output %d for %d s: %ld samples, %.3f .. %.3f mV\n", function, seconds,
           s_samples, s_min, s_max);
    if (ppg != NULL) printf("PPG callbacks: %ld values\n", s_ppgSamples);
    TOLVFree();
    return s_samples > 0 ? 0 : 1;
}
