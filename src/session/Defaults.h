// The settings at load, which the reset to defaults restores: one table for the waveform state's
// initialisers, its in-process reset and the public reset (which restores them through the
// exported setters, journal lines included).
#pragma once

namespace defaults {

constexpr int kOutputFunction = 0;
constexpr double kAmplitude = 1.0;  // mV peak to peak
constexpr double kFrequency = 1.0;  // Hz
constexpr int kDCOffset = 0;        // mV
constexpr bool kDCOffsetVariable = true;
constexpr bool kDCOffsetCommon = false;
constexpr double kPulseWidth = 100.0;  // ms
constexpr bool kInputImpedance = true;
constexpr double kQRSDuration = 100.0;  // ms
constexpr double kTWave = 0.2;          // mV
constexpr double kPWave = 0.2;          // mV
constexpr double kSTDeviation = 0.0;    // mV
constexpr double kPDuration = 100.0;    // ms
constexpr double kPRInterval = 160.0;   // ms
constexpr double kQTInterval = 350.0;   // ms
constexpr double kTDuration = 180.0;    // ms
constexpr int kSampleRate = 20000;      // samples/s
constexpr bool kLoop = true;            // standard waveforms and recordings loop
constexpr int kSpecialWaveform = 0;
constexpr int kANE20000Lead = 0;

constexpr int kPacingPulseMode = 0;
constexpr double kPacingAmplitude = 0.0;  // mV
constexpr double kPacingDuration = 2.0;   // ms
constexpr unsigned kPacingRate = 60;      // pulses/min
constexpr unsigned kOvershootTimeConstant = 0;

constexpr int kMainsNoiseFrequency = 0;          // Hz, 0 = off
constexpr double kMainsNoiseAmplitude = 0.1;     // mV
constexpr double kDriftAmplitude = 4.0;          // mV
constexpr double kDriftFrequency = 0.1;          // Hz
constexpr double kDynamicRangeAmplitude = 1.0;   // mV
constexpr double kDynamicRangeFrequency = 40.0;  // Hz
constexpr double kScanStartFrequency = 0.67;     // Hz
constexpr double kScanStopFrequency = 150.0;     // Hz
constexpr int kScanDuration = 30;                // s
constexpr int kNSTNoise = 0;
constexpr double kNSTGain = 1.0;

}  // namespace defaults
