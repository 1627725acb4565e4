// Offline rendering of an output function into an application array, without a device and
// without playing: the synthesizer driven by sample times of the caller's rate. Runs under the
// API lock while nothing plays, so it is the play clock's only writer meanwhile.
#include "playback/Play.h"
#include "session/Session.h"
#include "synthesis/GroundTruth.h"
#include "synthesis/Noise.h"
#include "synthesis/Pacing.h"
#include "synthesis/Synthesizer.h"
#include "synthesis/WaveformState.h"
#include "tolvan.h"

extern "C" TOLV_SERVICE_API int GetRawDataArrayEx(int function, double* out, int count,
                                                  int sampleRate) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        if (TOLVIsPlaying() || out == nullptr || count < 1 || sampleRate < 100 ||
            sampleRate > 40000) {
            return 0;
        }
        const int savedRate = s_sampleRate;
        g_MainOutput = function;
        s_sampleRate = sampleRate;
        // The derived values are those of the requested function and the settings in force,
        // at the requested rate, so the array shows what playing it would show.
        DeriveSynthesisValuesAt(sampleRate);
        TakeOneShotEnd();  // only an end within this array counts below
        const double step = 1.0 / sampleRate;
        const bool pacing = GroundTruthOn() && g_PA != 0.0;
        // The basic functions in one tight loop, unless noise or the pacing schedule of the
        // ground truth needs the per-sample path.
        const bool rendered =
            s_NST_Noise == 0 && !pacing && RenderBasicFunction(out, count, sampleRate);
        for (int i = 0; i < count && !rendered; ++i) {
            const double t = i * step;
            SetSynthesisTime(t);
            // The noise first: the loop check of the main function may restart the play clock.
            const double noise = GetNstNoise();
            const double p = PeriodPosition(t, s_tp);
            out[i] = _GetMainFunctionVoltage(p) + noise;
            // The ground truth wants the pulses a playback would mark; the samples stay the
            // host's signal (the device makes the pulse itself).
            if (pacing) {
                double overshoot = 0.0;
                _GetPacingV5(&overshoot, p);
            }
        }
        if (pacing) {
            s_PacingPulseRaised = false;
            s_PacingIndicationNeeded = false;
        }
        // A table or recording that does not loop and ended within the array is switched off
        // as through the output-function setter, as a playing one would be.
        if (TakeOneShotEnd()) SetOutputFunction(OUTPUT_OFF);
        g_MainOutput = OUTPUT_OFF;
        ResetSynthesisTime();
        s_sampleRate = savedRate;
        const double seconds = static_cast<double>(count) / sampleRate;
        if (seconds < 1.0) return sampleRate;
        if (seconds > 1800.0) return 1800 * sampleRate;
        return count;
    } catch (...) {
        return 0;
    }
}
