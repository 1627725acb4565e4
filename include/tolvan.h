/*
 * tolvan.h - the public interface of libtolvan, the host SDK of the TOLVAN patient simulator.
 *
 * One header, usable from C and C++. Every function has C linkage and an unmangled name, never
 * throws, and reports failures by its return value only.
 *
 * Conventions shared by every function:
 *   - Status codes are 32-bit signed: 0 success, -1 no session or no device, -2 an argument is
 *     out of range, -3 refused while the baseline-overload test runs; further negative codes
 *     are listed at the function that can return them.
 *   - Yes/no functions return bool; device operations that return bool return false when the
 *     device did not acknowledge.
 *   - Units: voltages in millivolts, durations in milliseconds, frequencies in hertz, sample
 *     rates in samples per second, timeouts in milliseconds.
 *   - Texts returned by the library live in static buffers owned by the library; they stay
 *     valid until the next call of the same function. Buffers passed in belong to the caller.
 *
 * Functions under "Linux builds only" are service functions exported by the Linux builds;
 * the macOS and Windows builds export the rest.
 */
#ifndef TOLVAN_H
#define TOLVAN_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

/*
 * TOLV_API marks the functions every build exports; TOLV_SERVICE_API the service functions that
 * only the Linux builds export (the macOS and Windows builds compile them for their own use).
 * TOLVAN_STATIC: the program links the library's objects statically (the library's own tests).
 */
#if defined(_WIN32)
#if defined(TOLVAN_BUILDING_LIBRARY)
#define TOLV_API __declspec(dllexport)
#elif defined(TOLVAN_STATIC)
#define TOLV_API
#else
#define TOLV_API __declspec(dllimport)
#endif
#else
#define TOLV_API __attribute__((visibility("default")))
#endif
#if defined(__linux__)
#define TOLV_SERVICE_API TOLV_API
#else
#define TOLV_SERVICE_API
#endif

#ifdef __cplusplus
#define TOLV_STATIC_ASSERT(cond, name) static_assert(cond, #name)
extern "C" {
#else
#define TOLV_STATIC_ASSERT(cond, name) typedef char tolv_static_assert_##name[(cond) ? 1 : -1]
#endif

/* ------------------------------------------------------------------------------------------ */
/* Records that cross the interface                                                           */
/* ------------------------------------------------------------------------------------------ */

/*
 * Model information of the simulator or of its PPG module (24 bytes).
 * The serial number text is "Q" Letter1 Letter2 ModelHigh ModelLow "-" SerialGroup
 * SerialSequence, printed as "Q%c%c%02x%02x-%02d%04d".
 */
typedef struct MODEL_INFORMATION {
    char Letter1;             /* first model letter ('A' for a PPG module) */
    char Letter2;             /* second model letter ('P' for a PPG module) */
    uint8_t ModelHigh;        /* model code, high byte; full model = ModelHigh * 256 + ModelLow */
    uint8_t ModelLow;         /* model code, low byte */
    int32_t SerialSequence;   /* 0..9999, printed as four decimal digits */
    int32_t SerialGroup;      /* 0..99, printed as two decimal digits */
    int32_t OutputChannel[3]; /* PPG channel (0, 1, 2) each module output serves; 3 = none */
} MODEL_INFORMATION;

/* Hardware information (24 bytes): firmware version in four parts and hardware version. */
typedef struct HW_INFORMATION {
    int32_t FirmwareVersion[4]; /* [0] is the main firmware version */
    int32_t HardwareMajor;
    int32_t HardwareMinor;
} HW_INFORMATION;

/* Capability record of the PPG module (80 bytes), as looked up by its full model number. */
typedef struct DEVICE_FEATURE {
    int32_t Flags[3];       /* capability flags, meaning known to the application */
    int32_t PDPathCount;    /* photodiode calibration paths */
    int32_t OptionFlags[2]; /* further capability flags */
    double Limits[6];       /* AC min, AC max (AC full scale), DC min, DC max (DC full scale),
                               and two further limits */
    int32_t Counts[2];      /* further module constants */
} DEVICE_FEATURE;

/* Description of a generated PPG waveform (one beat, repeated). */
typedef struct PPG_WAVEFORM {
    int32_t Type;         /* 0 sine, 1 triangle, 2 square, 3 plethysmographic pulse */
    double Frequency;     /* beats per second, 0.16 .. 5.0 */
    double DC;            /* DC level */
    double AC;            /* AC amplitude (peak of the pulse) */
    double NotchLevel;    /* level of the dicrotic notch (type 3) */
    double DicroticLevel; /* peak of the dicrotic wave (type 3) */
    double AuxiliaryLevel;
    int32_t RiseTime;       /* ms from the start of the beat to the pulse peak */
    int32_t NotchTime;      /* ms, dicrotic notch (type 3) */
    int32_t DicroticTime;   /* ms, dicrotic peak (type 3) */
    int32_t AuxiliaryWordA; /* 1000 in the standard records */
    int32_t Sync;           /* LED synchronisation code, 1 or 2 */
    int32_t Invert;         /* 0 or 1 */
    double AuxiliaryOffset;
    int32_t AuxiliaryCount;
    int32_t AuxiliarySelector;
    int32_t AuxiliaryWordB; /* 20 in the standard records */
    double AuxiliaryPercent;
    int32_t AuxiliaryFactor;
} PPG_WAVEFORM;

TOLV_STATIC_ASSERT(sizeof(MODEL_INFORMATION) == 24, model_information_is_24_bytes);
TOLV_STATIC_ASSERT(offsetof(MODEL_INFORMATION, SerialSequence) == 4, model_serial_at_4);
TOLV_STATIC_ASSERT(offsetof(MODEL_INFORMATION, OutputChannel) == 12, model_map_at_12);
TOLV_STATIC_ASSERT(sizeof(HW_INFORMATION) == 24, hw_information_is_24_bytes);
TOLV_STATIC_ASSERT(sizeof(DEVICE_FEATURE) == 80, device_feature_is_80_bytes);
TOLV_STATIC_ASSERT(offsetof(DEVICE_FEATURE, Limits) == 24, device_feature_limits_at_24);
TOLV_STATIC_ASSERT(offsetof(DEVICE_FEATURE, Counts) == 72, device_feature_counts_at_72);
/* PPG_WAVEFORM follows the platform's alignment of a double inside a record: 8 bytes on x86-64,
 * Arm and Windows, 4 bytes on Linux i386 (its System V ABI), where the record is 108 bytes. */
#if defined(__i386__) && !defined(_WIN32)
TOLV_STATIC_ASSERT(offsetof(PPG_WAVEFORM, RiseTime) == 52, ppg_rise_time_at_52);
TOLV_STATIC_ASSERT(offsetof(PPG_WAVEFORM, AuxiliaryOffset) == 76, ppg_aux_offset_at_76);
TOLV_STATIC_ASSERT(sizeof(PPG_WAVEFORM) == 108, ppg_waveform_is_108_bytes);
#else
TOLV_STATIC_ASSERT(offsetof(PPG_WAVEFORM, RiseTime) == 56, ppg_rise_time_at_56);
TOLV_STATIC_ASSERT(offsetof(PPG_WAVEFORM, AuxiliaryOffset) == 80, ppg_aux_offset_at_80);
TOLV_STATIC_ASSERT(sizeof(PPG_WAVEFORM) == 120, ppg_waveform_is_120_bytes);
#endif

/* Output functions: what the simulator plays (TOLVSetOutputFunction). */
typedef enum OutputFunction_E {
    OUTPUT_OFF = 0,
    OUTPUT_SINE = 1,
    OUTPUT_TRIANGLE = 2,
    OUTPUT_SQUARE = 3,
    OUTPUT_PULSE = 4,
    OUTPUT_TRIANGLE_PULSE = 5,
    OUTPUT_EXP_DECAY = 6,
    OUTPUT_ECG = 7,
    OUTPUT_IEC227 = 8,
    OUTPUT_IEC251 = 9,
    OUTPUT_JJG1041_DOUBLE_R = 10,
    OUTPUT_JJG1041_SINGLE_R = 11,
    OUTPUT_EXP_ALTERNATING = 12,
    OUTPUT_ECG_FILE = 13,
    OUTPUT_CUSTOM_ECG = 14,
    OUTPUT_INPUT_DYNAMIC_RANGE = 15,
    OUTPUT_IEC247 = 16,
    OUTPUT_ANE20000 = 17,
    OUTPUT_YY1079_DYNAMIC_RANGE = 10000
} OutputFunction_E;

TOLV_STATIC_ASSERT(sizeof(OutputFunction_E) == 4, output_function_is_32_bit);

/* ------------------------------------------------------------------------------------------ */
/* Session                                                                                    */
/* ------------------------------------------------------------------------------------------ */

/*
 * The library's version, the constant text "1.2.5.5". Takes no lock; may be called at any
 * time, from any thread. The text is owned by the library and never changes.
 */
TOLV_API const char* TOLVGetSDKVersion(void);

/* Called on the connect thread, with no library lock held, with true after every connect and
 * false after every disconnect. It must return quickly and must not call TOLVFree or
 * TOLVConnect (TOLVInit from it only replaces the callback). */
typedef void (*TOLV_CONNECTED_CALLBACK)(bool connected);

/*
 * Starts a session that searches every serial port for the simulator (again after each
 * disconnect) and tells callback of each connect and disconnect. callback may be NULL (then
 * nobody is told; setters still work once a device is open). Calling it while a session runs
 * replaces the callback and starts no second search; a call while another thread ends the
 * session (TOLVFree) waits for that end and then starts a new session.
 * Returns true when the search runs, false when its thread could not be created.
 */
TOLV_API bool TOLVInit(TOLV_CONNECTED_CALLBACK callback);

/*
 * Blocking connect: searches port `port` (the n of /dev/ttyACM<n> on Linux; -1 = every port)
 * for up to `timeout` milliseconds. Replaces the application's callback by the library's own,
 * so afterwards the application polls TOLVIsConnected. On a timeout the session is freed
 * (TOLVFree). A call while already connected waits its whole timeout and then frees the session.
 * Returns true when connected within the timeout; false on a timeout, when the search thread
 * could not be created, or when port is below -1.
 */
TOLV_API bool TOLVConnect(int port, uint32_t timeout);

/*
 * Ends the session: output off, the connect and poll threads stopped (the callback is told
 * false when a device was connected), the port closed and its lock file removed. The callback
 * stays registered. Safe to call without a session. Must not be called from the callback.
 */
TOLV_API void TOLVFree(void);

/* Restores every waveform, test and output setting to its default through the public setters
 * (stopping playback first), then switches all output leads off and lead 0 on. Journals
 * "TOLVReset();" and the entries of the setters it calls. */
TOLV_API void TOLVReset(void);

/* As TOLVReset, but leaves all output leads off. Journals "TOLVResetAllLeadOff();". */
TOLV_API void TOLVResetAllLeadOff(void);

/* True while a simulator is connected (between the callback's true and false). */
TOLV_API bool TOLVIsConnected(void);

/* True while connected and a PPG module (model letters 'A' 'P') is attached. */
TOLV_API bool TOLVIsPPGConnected(void);

/*
 * Why the last connection attempt failed, as one line for a person; "" when the last attempt
 * succeeded or none was made. Only an addition: every function still reports by its own return
 * value, and this text never changes one.
 * Set by TOLVConnect when it returns false, and by every search pass of a session's connect
 * thread that finds no simulator (so while a TOLVInit session searches it tells why nothing was
 * found yet); a pass that finds the simulator clears it. The reason is the most telling one met
 * on the ports tried, one of:
 *   "no such node: <node>"                  (a scan: "no such node: <first> .. <last>")
 *   "permission denied (add yourself to <group>): <node>"   <group> owns the node, e.g. dialout
 *   "port busy: <node>", "cannot open <node>: <system error text>"
 *   "lock directory not writable: <dir> (<system error text>; TOLVAN_LOCK_DIR names another)"
 *   "port locked by process <pid>: <node> (lock file <path>)"
 *   "port locked by a lock file without a process id: <path>"
 *   "not a TOLVAN simulator: <node>"        (the port opened but did not identify)
 * TOLVConnect's own texts: "timed out after <N> ms (<reason above>)"; "timed out after <N> ms
 * (a simulator was already connected: ...)"; "port <n> is not a port number (...)";
 * "could not start the connect thread" (also TOLVInit).
 * Thread-safe and lock-free for the caller: takes no lock of the API, so it may be called from
 * any thread, also while TOLVConnect waits in another. The text is copied into a buffer of the
 * calling thread, valid until that thread calls this function again.
 */
TOLV_API const char* TOLVGetLastErrorText(void);

/* ------------------------------------------------------------------------------------------ */
/* Device information                                                                         */
/* ------------------------------------------------------------------------------------------ */

/* Copies the simulator's model information. info must not be NULL.
 * Returns false when not connected (or info is NULL). */
TOLV_API bool TOLVGetDeviceInformation(MODEL_INFORMATION* info);

/* Copies the PPG module's model information. Returns false while no module was read (or info
 * is NULL). */
TOLV_API bool TOLVGetPPGDeviceInformation(MODEL_INFORMATION* info);

/* Copies the simulator's firmware and hardware versions (all zero when unknown).
 * Returns true, or false when info is NULL. */
TOLV_API bool TOLVGetHWInformation(HW_INFORMATION* info);

/* Copies the PPG module's firmware and hardware versions. Returns true, or false when info is
 * NULL. */
TOLV_API bool TOLVGetPPGHWInformation(HW_INFORMATION* info);

/* The simulator's serial number "QLLhhll-GGSSSS" (14 characters), or "" when unknown.
 * Static buffer, valid until the next call. */
TOLV_API const char* TOLVGetSerialNumber(void);

/* The PPG module's serial number, as TOLVGetSerialNumber. */
TOLV_API const char* TOLVGetPPGSerialNumber(void);

/* The firmware version "%d.%d.%02d.%02d" ("0.0.00.00" when unknown). Static buffer. */
TOLV_API const char* TOLVGetFWVersion(void);

/* The hardware version "%d.%d" ("0.0" when unknown). Static buffer. */
TOLV_API const char* TOLVGetHWVersion(void);

/* ------------------------------------------------------------------------------------------ */
/* Waveform parameters                                                                        */
/* ------------------------------------------------------------------------------------------ */

/*
 * Common behaviour of the waveform setters below (each says where it differs):
 *   - Every call takes the library's API lock for its whole run.
 *   - -1 when no session exists: no device port is open and no connection callback has been
 *     registered (neither TOLVInit with a callback nor TOLVConnect was called). Once a session
 *     exists, setters succeed while the device is absent; the values apply when playback runs.
 *   - -2 when the argument is outside its range. Ranges are inclusive; NaN is refused.
 *   - A refused call stores nothing and writes no journal line.
 *   - An accepted call writes its journal line, stores the value and applies it: "at the next
 *     period" means at once when nothing plays, else where the current waveform period ends;
 *     "at once" applies it at once, also in the middle of a period; "relays" sends the relay
 *     configuration at once.
 */

/* Frequency callback: the new frequency in Hz when a change lowered it to the ceiling of the
 * selected output function; the current frequency during a frequency scan; -1.0 when a scan
 * ends. Runs on the thread that applies the change (the caller's or the play thread) or on the
 * play thread; it must return quickly and must not call TOLVFree. */
typedef void (*TOLV_SYNC_FREQUENCY_CALLBACK)(double frequency);
/* DC-offset callback: the DC offset in whole mV each time output 15 steps it. Play thread. */
typedef void (*TOLV_SYNC_DC_OFFSET_CALLBACK)(int dcOffsetMillivolts);
/* Main-function callback: the output function a frequency scan switched to (1 sine scan, 7 ECG
 * scan, 0 scan off). Runs on the caller's thread or the play thread. */
typedef void (*TOLV_SYNC_MAIN_FUNCTION_CALLBACK)(int outputFunction);
/* Standard-stop callback: a standard waveform or recording that does not loop has played once
 * and playback is being stopped. Play thread. */
typedef void (*TOLV_STANDARD_STOP_CALLBACK)(void);
/* Baseline-reset callback: the baseline-reset test mode (0..4) is changing. Caller's thread. */
typedef void (*TOLV_BASELINE_RESET_CALLBACK)(int mode);

/*
 * Amplitude of the main function, mV peak-to-peak (the R amplitude of the ECG forms),
 * -40.0 .. 40.0; a negative amplitude inverts the waveform. Applied at the next period.
 * A dynamic-range test may lower it at the next change (TOLVGetAmplitude shows the result).
 * Returns 0; -1 no session; -2 out of range; -3 while the baseline-reset test runs.
 */
TOLV_API int TOLVSetAmplitude(double amplitude);
/* Amplitude in mV peak-to-peak. Takes no lock. */
TOLV_API double TOLVGetAmplitude(void);

/*
 * Repetition frequency, Hz (heart rate / 60 for the ECG forms), 0.017 .. 500.0; at most 5.0
 * while output 4 or 5 is selected. Applied at the next period; a change lowers it to the
 * ceiling of the selected output function (5 Hz for outputs 4 to 6, 6 Hz for 7 and 14,
 * 500 Hz otherwise) and reports the new value to the frequency callback. Output 12 always
 * plays at 1 Hz.
 * Returns 0; -1 no session; -2 out of range; -3 while a frequency scan runs; -4 while the
 * baseline-reset test runs.
 */
TOLV_API int TOLVSetFrequency(double frequency);
/* Frequency in Hz. Takes no lock. */
TOLV_API double TOLVGetFrequency(void);

/*
 * DC offset on the DC path, mV, -1000 .. 1000. Applied at the next period.
 * Returns 0; -1 no session; -2 out of range.
 */
TOLV_API int TOLVSetDCOffset(int millivolts);
/* DC offset in mV. */
TOLV_API int TOLVGetDCOffset(void);

/*
 * DC offset variable mode: true takes the DC offset from the DC converter (any value in
 * range); false gives the fixed +300 and -300 mV offsets of the relay network. Applied at the
 * next period. Returns 0; -1 no session.
 */
TOLV_API int TOLVSetDCOffsetVariableMode(bool variable);
/* True while the DC offset variable mode is on (the default). */
TOLV_API bool TOLVGetDCOffsetVariableMode(void);

/*
 * DC offset applied in common mode (relays, at once). Returns 0; -1 no session.
 */
TOLV_API int TOLVSetDCOffsetCommonMode(bool common);
/* As TOLVSetDCOffsetCommonMode, any non-zero value meaning true. Same return codes. */
TOLV_API int SetDCOffsetCommoneMode(int common);
/* True while the DC offset is applied in common mode (default false). */
TOLV_API bool TOLVGetDCOffsetCommonMode(void);

/*
 * Width of the rectangular and triangular pulses (outputs 4 and 5), ms, 1.0 .. 300.0.
 * Applied at the next period; output 12 sets it to 50.
 * Returns 0; -1 no session; -2 out of range.
 */
TOLV_API int TOLVSetPulseWidth(double milliseconds);
/* Pulse width in ms. */
TOLV_API double TOLVGetPulseWidth(void);

/* Input-impedance mode (relays, at once). Returns 0; -1 no session. */
TOLV_API int TOLVSetInputImpedanceMode(bool on);
/* True while the input-impedance mode is on (the default). */
TOLV_API bool TOLVGetInputImpedanceMode(void);

/* QRS width of the ECG forms (outputs 7, 14), ms, 5.0 .. 200.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetQRSDuration(double milliseconds);
/* T-wave amplitude of the ECG forms (outputs 7, 14), mV, 0.0 .. 5.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetTWave(double millivolts);
/* P-wave amplitude of the customised ECG (output 14), mV, 0.0 .. 2.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetPWave(double millivolts);
/* ST-segment level of the customised ECG (output 14), mV, -2.0 .. 2.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetSTDeviation(double millivolts);
/* P-wave duration of the customised ECG (output 14), ms, 50.0 .. 100.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetPDuration(double milliseconds);
/*
 * PR interval of the customised ECG (output 14), ms, 0.0 .. 200.0. A PR interval below 50
 * also sets the P duration to the PR interval; otherwise a P duration below 50 is raised to
 * 50. Applied at once, together with the P duration.
 * Returns 0; -1 no session; -2 out of range.
 */
TOLV_API int TOLVSetPRInterval(double milliseconds);
/* QT interval of the customised ECG (output 14), ms, 100.0 .. 900.0. Applied at once.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetQTInterval(double milliseconds);
/* T-wave duration of the customised ECG (output 14), ms, 100.0 .. 900.0. Applied at the next
 * period. Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetCustomizedTDuration(double milliseconds);

/* The ECG beat parameters above, in their setters' units. */
TOLV_API double TOLVGetQRSDuration(void);
TOLV_API double TOLVGetTWave(void);
TOLV_API double TOLVGetPWave(void);
TOLV_API double TOLVGetSTDeviation(void);
TOLV_API double TOLVGetPDuration(void);
TOLV_API double TOLVGetPRInterval(void);
TOLV_API double TOLVGetQTInterval(void);
TOLV_API double TOLVGetCustomizedTDuration(void);

/* Standard waveforms (outputs 8, 9, 16, 17) repeat (true, the default) or stop after one
 * period, calling the standard-stop callback. Works without a session. */
TOLV_API void TOLVSetSpecialWaveformLoop(bool loop);
/* The recorded ECG (output 13) repeats (true, the default) or stops after playing once.
 * Works without a session. */
TOLV_API void TOLVSetFileLoop(bool loop);

/*
 * ECG sample rate, samples/s, 100 .. 40000 (default 20000). The external respiration module
 * and enabled PPG outputs impose their own rate. Lowers the output-signal callback divider to
 * the new rate when it was larger. Applied at the next change.
 * Returns 0; -1 no session; -2 out of range; -3 while a waveform plays.
 */
TOLV_API int TOLVSetSampleRate(int samplesPerSecond);

/*
 * The sample rate playback uses, samples/s: 5000 with the external respiration module, else
 * the PPG sample rate (10000) while any PPG output is enabled, else the ECG sample rate of
 * TOLVSetSampleRate. Works without a session.
 */
TOLV_API int TOLVGetSampleRate(void);

/* Register the synchronisation callbacks (NULL unregisters). Work without a session. */
TOLV_API void TOLVRegisterSyncFrequencyCB(TOLV_SYNC_FREQUENCY_CALLBACK callback);
TOLV_API void TOLVRegisterSyncDCOffsetCB(TOLV_SYNC_DC_OFFSET_CALLBACK callback);
TOLV_API void TOLVRegisterSyncMainFunctionCB(TOLV_SYNC_MAIN_FUNCTION_CALLBACK callback);

/* ------------------------------------------------------------------------------------------ */
/* Playback                                                                                   */
/* ------------------------------------------------------------------------------------------ */

/*
 * Selects what the simulator plays (OutputFunction_E; any value is stored, unknown ones play
 * 0 mV). A non-zero function starts playback from time 0 (without a device the same engine
 * runs on a timer and drives the callbacks in real time, writing nothing to any port; a
 * simulator that connects meanwhile takes over at the next packet, the play time carrying on
 * without a jump or a repeat, and its acknowledgements pace playback from then on; playback
 * that loses its simulator waits for it to return); 0 stops playback and returns only
 * after the play thread has ended, so it must not be called from a library callback.
 * Journals "TOLVSetOutputFunction(%d);". Returns 0; -1 without a session (no open port and no
 * connection callback), except that 0 still stops a playback that outlived its simulator: a
 * session started with TOLVInit(NULL) whose port closed while playing can be stopped, and
 * TOLVFree stops it.
 */
TOLV_API int TOLVSetOutputFunction(int function);

/* The selected output function. */
TOLV_API int TOLVGetOutputFunction(void);

/* True while playback runs or PPG photodiode sampling runs. */
TOLV_API bool TOLVIsPlaying(void);

/* Output-signal and pacing-signal callback: (graph time in s, voltage in mV). Runs on the play
 * thread or the simulation timer's thread, inside the sample builder: it must return quickly
 * and must not call back into the library. */
typedef void (*TOLV_SIGNAL_CALLBACK)(double time, double millivolts);

/*
 * Registers the output-signal callback (NULL unregisters), called with each sample's voltage
 * before attenuation. divider: a divider below 8 calls back at every sample, a divider d of 8
 * or more at every (d / 4)th sample; values above the ECG sample rate are limited to it, 0 or
 * less means 1. Works without a session.
 */
TOLV_API void TOLVRegisterOutputSignalCallback(TOLV_SIGNAL_CALLBACK callback, int divider);

/* Registers the pacing-signal callback (NULL unregisters): four points per pulse, drawing the
 * pulse as a rectangle (t, 0), (t, A), (t + d, A), (t + d, 0). */
TOLV_API void TOLVRegisterPacingOutputSignalCallback(TOLV_SIGNAL_CALLBACK callback);

/* Creates a start synchronisation signal (a manual-reset event, clear). The application owns it
 * and must keep it alive while it is set with TOLVSetSynchronizationSignal. NULL on failure. */
TOLV_API void* TOLVCreateSynchronizationSignal(void);

/* The next playback start waits (on the play thread) until this signal is set; NULL removes it. */
TOLV_API void TOLVSetSynchronizationSignal(void* signal);

/* Releases a signal made by TOLVCreateSynchronizationSignal (the application owns it); a
 * signal that is set for the next start is removed first. It must not be in use by a start
 * that is waiting for it. NULL is ignored. */
TOLV_API void TOLVDestroySynchronizationSignal(void* signal);

/* Sets / clears a synchronisation signal. NULL is ignored. */
TOLV_API void TOLVSynchronizationSignalSetEvent(void* signal);
TOLV_API void TOLVSynchronizationSignalResetEvent(void* signal);

/* ------------------------------------------------------------------------------------------ */
/* Output stage                                                                               */
/* ------------------------------------------------------------------------------------------ */

/* Switches output lead `lead` (0..8) on or off; the relays follow at once. Journals
 * "SetOutputLead(%d, %s);". Returns 0; -1 without a session; -2 lead outside 0..8. */
TOLV_API int TOLVSetOutputLead(int lead, bool on);

/* Whether output lead `lead` (0..8) is on; false for any other lead. */
TOLV_API bool TOLVGetOutputLead(int lead);

/* Switches the synthesis of the ECG path on or off (off: 0 mV on the AC path). Journals
 * "TOLVEnableECGOutput(%s);". Returns 0. */
TOLV_API int TOLVEnableECGOutput(bool enable);

/* PPG AC-above-DC option (default false): true puts the AC pulse above the DC level, false
 * makes the DC level the pulse top. Applies to tables installed afterwards. */
TOLV_API void TOLVEnableACAboveDC(bool enable);

/* Lead-off mode 0..3 (relay bits 11, 13, 14), sent with the short output configuration.
 * Journals "TOLVSetLeadOff(%d);". True when the device replied; false without a device, for a
 * mode outside 0..3, or on a failed exchange. */
TOLV_API bool TOLVSetLeadOff(int mode);

/* Switches the right-leg-drive measurement on or off. Journals "TOLVMeasureRLD(%s);". True when
 * the converter acknowledged and the output configuration was answered; false without a device
 * or on a failed exchange. */
TOLV_API bool TOLVMeasureRLD(bool on);

/* Reads the two right-leg-drive converter values in volts. Both pointers must not be NULL.
 * True on acknowledge; false (outputs untouched) otherwise. */
TOLV_API bool TOLVReadRLD(double* first, double* second);

/* ------------------------------------------------------------------------------------------ */
/* Noise and test signals                                                                     */
/* ------------------------------------------------------------------------------------------ */

/* Selects a noise-stress-test record added to every output function: 0 off, 1 electrode motion
 * (EM), 2 baseline wander (BW), 3 muscle artefact (MA); other values are off. gain 0.1 .. 10.0.
 * No device check. Returns 0; -1 while a waveform plays (nothing changes); -2 for the gain;
 * TOLV_TABLE_MISSING (-5) when the selected record is not available (EM is not public; the
 * others need the reference data), nothing changed. */
TOLV_API int TOLVSetNSTNoise(unsigned record, double gain);

/*
 * The test setters below follow the common behaviour of the waveform setters (API lock, -1
 * without a session, inclusive ranges with NaN refused, nothing stored or journaled when
 * refused). Switching the output function "directly" stores it without restarting the play
 * time; a function other than 0 starts playback when nothing plays, 0 stops it.
 */

/*
 * Baseline-reset (overload) test. mode: 0 off; 1, 2, 3, 4 put 500 mV * sin(2 pi f p) on the DC
 * path with f = 50, 60, 80, 100 Hz while output function 1 plays; other values are stored and
 * give 0 mV. A mode different from the current one is reported to the baseline-reset callback
 * (caller's thread, under the API lock), a non-zero mode switches output function 1 (sine)
 * directly, and the mode is applied at the next period. The same mode again only writes the
 * journal line. While the test is on, TOLVSetAmplitude returns -3 and TOLVSetFrequency -4.
 * The test ends (mode 0, reported to the callback) when playback ends.
 * Waits 100 ms after releasing the API lock before it returns 0; -1 (at once) no session.
 */
TOLV_API int TOLVSetBaselineResetTest(int mode);
/* Baseline-reset test mode, 0 when off. Takes no lock. */
TOLV_API int TOLVGetBaselineResetTest(void);

/*
 * Mains interference of the IEC 60601-2-27 noise test, added to outputs 7, 14 and 17.
 *   selector: 0 off; 1..8 a sine of 50, 60, 100, 120, 150, 180, 200, 240 Hz; 9 uniform random
 *             noise; not range-checked (larger values give 0 mV).
 *   amplitude: mV peak-to-peak, 0.01 .. 5.0.
 * Applied at the next period. Returns 0; -1 no session; -2 amplitude out of range.
 */
TOLV_API int TOLVSetECG2_27_Noise(int selector, double amplitude);
/* Mains interference selector. Takes no lock. */
TOLV_API int TOLVGetECG2_27_NoiseFreq(void);
/* Mains interference amplitude, mV peak-to-peak (0.1 at load). */
TOLV_API double TOLVGetECG2_27_NoiseAmp(void);

/*
 * AAMI drift test: a triangle of the drift amplitude (peak-to-peak) and frequency, starting at
 * 0 and rising, added to outputs 7 and 14. Applied at the next period.
 * Returns 0; -1 no session.
 */
TOLV_API int TOLVSetECG2_27_AAMIDriftTest(bool on);
/* True while the drift test is on. */
TOLV_API bool TOLVGetECG2_27_AAMIDriftTest(void);
/* Drift amplitude, mV peak-to-peak, 1.0 .. 8.0 (4.0 at load); applied at the next period while
 * the drift test is on, else used when it is switched on.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetECG2_27_AAMIDriftTestAmplitude(double amplitude);
/* Drift amplitude, mV peak-to-peak. */
TOLV_API double TOLVGetECG2_27_AAMIDriftTestAmplitude(void);
/* Drift frequency, Hz, 0.05 .. 2.0 (0.1 at load); applied as the amplitude.
 * Returns 0; -1 no session; -2 out of range. */
TOLV_API int TOLVSetECG2_27_AAMIDriftTestFrequency(double frequency);
/* Drift frequency in Hz (1 / drift period). */
TOLV_API double TOLVGetECG2_27_AAMIDriftTestFrequency(void);

/*
 * Dynamic-range test: a sine of `amplitude` mV peak-to-peak (0 .. 10.0) and `frequency` Hz
 * (1.0 .. 60.0) on top of the triangle (output 2, sum limited to +-5 mV) when `triangle` is
 * true, else of the square (output 3, limited to +-20 mV). Switches the output function
 * directly: 2 or 3 when enable is true, 0 (playback stops) when it is false. While the test is
 * on, a change lowers the amplitude so that form and sine stay within 20 mV peak. Applied at the
 * next period. Returns 0; -1 no session; -2 amplitude out of range; -3 frequency out of range.
 */
TOLV_API int TOLVSetDynamicRangeTest(bool enable, bool triangle, double amplitude,
                                     double frequency);
/* True while the dynamic-range test is on. */
TOLV_API bool TOLVGetDynamicRangeTest(void);
/* Dynamic-range test sine amplitude, mV peak-to-peak (1.0 at load). */
TOLV_API double TOLVGetDynamicRangeTestAmplitude(void);
/* Dynamic-range test sine frequency, Hz (40.0 at load). */
TOLV_API double TOLVGetDynamicRangeTestFrequency(void);

/*
 * Sine frequency scan. enable true: output function 1 (sine) directly, reported to the
 * main-function callback with 1; the frequency starts at `start` Hz and grows (or falls) by the
 * same step at every sample so that it reaches `stop` Hz after `duration` seconds, the sine
 * keeping its phase. The frequency callback receives the current frequency once per stream
 * packet (play thread); when it leaves start..stop the callback receives -1.0, the main-function
 * callback 0 and playback stops (a start above the stop frequency therefore ends at the first
 * packet). TOLVSetFrequency returns -3 until playback has ended. enable false: when an output
 * function is selected, output function 0 directly (reported with 0) and playback stops.
 * Either way start, stop and duration are stored.
 *   duration: s, 10 .. 180; start, stop: Hz, 0.67 .. 500.0.
 * Returns 0; -1 no session; -2 start, -3 stop, -4 duration out of range (tested in this order).
 */
TOLV_API int TOLVSetFrequencyScanSine(bool enable, int duration, double start, double stop);
/* True from the start of a sine scan until playback has ended. */
TOLV_API bool TOLVGetFrequencyScanSine(void);
/* Start and stop frequency of the last scan, Hz (0.67 and 150.0 at load; an ECG scan sets 0.05
 * and 0.5). */
TOLV_API double TOLVGetFrequencyScanSineStartFrequency(void);
TOLV_API double TOLVGetFrequencyScanSineStopFrequency(void);
/* Duration of the sine scan, s (30 at load). */
TOLV_API int TOLVGetFrequencyScanSineDuration(void);

/*
 * ECG heart-rate scan. enable true: output function 7 (ECG) directly, reported to the
 * main-function callback with 7; the rate grows from 0.05 Hz to 0.5 Hz in 30 s, with the
 * frequency callback and the end as for the sine scan. enable false: output function 0
 * directly (reported with 0), playback stops. Returns 0; -1 no session.
 */
TOLV_API int TOLVSetFrequencyScanECG(bool enable);
/* True while either scan runs (until playback has ended). */
TOLV_API bool TOLVGetFrequencyScanECG(void);

/* Tables of reference data that the library can hold. */
#define TOLV_DATA_IEC227 0   /* IEC 60601-2-27 / AAMI EC13 waveforms */
#define TOLV_DATA_IEC251 1   /* CTS CAL waveforms (IEC 60601-2-51) */
#define TOLV_DATA_ANE20000 2 /* CTS ANE20000 */
#define TOLV_DATA_MA 3       /* noise stress test: muscle artefact */
#define TOLV_DATA_EM 4       /* noise stress test: electrode motion */
#define TOLV_DATA_BW 5       /* noise stress test: baseline wander */

/* True when table `table` (TOLV_DATA_...) is built in or can be loaded from the directory named
 * by the environment variable TOLVAN_DATA_DIR (loading it on this call); false otherwise or for
 * an unknown table. */
TOLV_API bool TOLVIsStandardDataAvailable(int table);

/* ------------------------------------------------------------------------------------------ */
/* Respiration                                                                                */
/* ------------------------------------------------------------------------------------------ */

/* Switches impedance respiration on or off (the ECG is then divided by the attenuation of the
 * baseline impedance); off also clears every impedance setting of TOLVSetRespiration. Journals
 * "TOLVEnableRespiration(%s);". Returns true when a device port is open (the change is applied, the
 * relays follow and, with the external respiration module, its baseline is reset when switching
 * off); false otherwise, the flag being stored anyway. */
TOLV_API bool TOLVEnableRespiration(bool enable);

/* Respiratory modulation of the synthetic ECG (outputs 7 and 14): breathing rate 1..200 /min,
 * exhale-to-inhale ratio 1..5, apnoea 0..60 s at the end of every minute, and the modulation
 * depths of baseline, amplitude and rate in percent (0..100) of the amplitude and frequency in
 * force now. Journals "TOLVSetRespirationAlgorithm(%d, %d, %d, %d, %d, %d);" before the range
 * test. Returns 1 when stored, 0 on a range error (nothing stored). No device check. */
TOLV_API int TOLVSetRespirationAlgorithm(int rate, int ratio, int apnea, int baselinePercent,
                                         int amplitudePercent, int frequencyPercent);

/* Switches the respiratory modulation off. Journals "TOLVDisableRespireAlgorithm();". */
TOLV_API void TOLVDisableRespireAlgorithm(void);

/* True when the external respiration module is attached. */
TOLV_API bool TOLVRespirationModuleIsConnected(void);

/* Impedance respiration: variation 50..10000 milliohms peak to peak, rate 1..200 /min,
 * exhale-to-inhale ratio 1..5, baseline impedance in ohms (without the external module one of
 * 500, 1000, 1500, 2000, 2500; with it one of 0, 100, 200, 500, 1000 .. 4500 in steps of 500;
 * any other value selects the first of the list), apnoea 0..60 s at the end of every minute.
 * Without the module the device generates the breathing (settings sent once; the host switches
 * apnoea during playback); with it the library streams the resistance with every sample.
 * Journals "TOLVSetRespiration(%d, %d, %d, %d, %d);" after storing. Returns true when the device
 * acknowledged; false when no device port is open or on a range error (nothing stored either
 * way), or when the exchange failed (the settings are kept). */
TOLV_API bool TOLVSetRespiration(int variation, int rate, int ratio, int baseline, int apnea);

/* Constant resistance of the external module (50 ohms + variation/1000) for calibration, with
 * the baseline as in TOLVSetRespiration. Nothing is range-checked. Returns as
 * TOLVSetRespiration. */
TOLV_API bool TOLVSetCalibrationRespiration(int variation, int baseline);

/* Reads back the impedance respiration settings (ratio as given, 1..5; all 0 while unset).
 * Returns false when any pointer is NULL. */
TOLV_API bool TOLVGetRespiration(int* variation, int* rate, int* ratio, int* baseline, int* apnea);

/* Recorded respiration for the external module: count values (ohms above 50, limited to
 * 0..10 when played) at sampleRate samples/s, copied; it loops and takes precedence over the
 * breathing of TOLVSetRespiration. Returns true after copying; false when samples is NULL,
 * count < 1 or sampleRate <= 0 (the previous recording is kept). */
TOLV_API bool TOLVSetRespirationRawData(const double* samples, int count, int sampleRate);

/* Number of samples of the recorded respiration (0 when none); *sampleRate (may be NULL)
 * receives its rate (0 when none). */
TOLV_API int TOLVGetRespirationRawData(int* sampleRate);

/* External respiration module (Linux service functions). Each returns false when no device port
 * is open or the module did not acknowledge. */
/* Sends baseline selection 0..11 (limited) with the lead code of the first of output leads 0, 1,
 * 2 that is on (1, 2, 4; 0 while respiration is off), then the selection's baseline DAC code as
 * module word 3. The lead argument is ignored. */
TOLV_API bool TOLVExternalRespiratorySetBaseline(int selection, int lead);
/* Reads the stored baseline selection and lead code; false also when a pointer is NULL. */
TOLV_API bool TOLVExternalRespiratoryGetBaseline(int* selection, int* lead);
/* Writes the four module words (potentiometer 1 and 2 codes, potentiometer 3 step, baseline DAC
 * code) as given, each taken as 16 bits. */
TOLV_API bool TOLVExternalRespiratorySetDAC(int w0, int w1, int w2, int w3);
/* Reads the four module words into words[0..3]; false also when words is NULL. */
TOLV_API bool TOLVExternalRespiratoryGetDAC(int* words);
/* Reads the module words, replaces the baseline DAC code (word 3), writes them back. */
TOLV_API bool TOLVExternalRespiratorySetBaselineDAC(int code);
/* Reads the module words, replaces words 0..2 by the codes for `resistance` ohms, writes them
 * back; false also for a resistance that is not finite. */
TOLV_API bool TOLVExternalRespiratorySetAmplitudeByResistance(double resistance);
/* Stores the four module coefficients (k0, k1 series resistors, k2 step offset, k3), the 96
 * ohms of the potentiometer-3 steps, or the 12 baseline DAC codes in the module's flash and puts
 * them in force; false also when the pointer is NULL. */
TOLV_API bool TOLVWriteRespirationRWA(const double* coefficients);
TOLV_API bool TOLVExternalRespiratoryWriteRDAC3(const double* ohms);
TOLV_API bool TOLVWriteRespirationBaselineDACTable(const unsigned short* codes);

/* ------------------------------------------------------------------------------------------ */
/* Pacing                                                                                     */
/* ------------------------------------------------------------------------------------------ */

/* Pacing pulse amplitude, mV, -700.0 .. 700.0 (0 = pacing off; the sign is the polarity).
 * Journals "TOLVSetPacingAmplitude(%.0f);". Returns 0; -1 without a session; -2 out of range. */
TOLV_API int TOLVSetPacingAmplitude(double amplitude);
TOLV_API double TOLVGetPacingAmplitude(void);

/* Pulse width, ms, 0.03 .. 3.0. Journals "TOLVSetPacingDuration(%.0f);". 0; -1; -2. */
TOLV_API int TOLVSetPacingDuration(double duration);
TOLV_API double TOLVGetPacingDuration(void);

/* Fixed pacing rate, pulses per minute, 10 .. 360; switches synchronisation off. Journals
 * "TOLVSetPacingRate(%.0f);". 0; -1; -2. */
TOLV_API int TOLVSetPacingRate(unsigned rate);
TOLV_API unsigned TOLVGetPacingRate(void);

/* Pacing period = waveform period (applied at the next change). Journals
 * "TOLVSetPacingRateSynchronized();". 0; -1; -2 when 60 x frequency is outside 10 .. 360. */
TOLV_API int TOLVSetPacingRateSynchronized(void);

/* Pulse mode: 0 single pulse, 1 pair 150 ms apart, 2 pair 250 ms apart (others: a pair that
 * behaves like mode 0). Journals "TOLVSetPacingPulseMode(%d);". 0; -1. */
TOLV_API int TOLVSetPacingPulseMode(unsigned mode);
TOLV_API unsigned TOLVGetPacingPulseMode(void);

/* Overshoot time constant, ms, 0 .. 100 (0 = none). Journals
 * "TOLVSetOvershootTimeConstant(%.0f);". 0; -1; -2. */
TOLV_API int TOLVSetOvershootTimeConstant(unsigned milliseconds);
TOLV_API unsigned TOLVGetOvershootTimeConstant(void);

/* Overshoot amplitude, mV; its magnitude (0 .. 5.0) is stored. Journals
 * "TOLVSetOvershootAmplitude(%.1f);" with the magnitude. 0; -1; -2. */
TOLV_API int TOLVSetOvershootAmplitude(double amplitude);
TOLV_API double TOLVGetOvershootAmplitude(void);

/* Sends the pulse amplitude and width to the device (while playing: after the packet being
 * built, returning true at once). True when the device acknowledged. */
TOLV_API bool TOLVApplyPacing(void);

/* Switches the PPG module's dynamic LED strength. True when the module acknowledged; false
 * without a device. */
TOLV_API bool TOLVEnableDynamicLEDStrength(bool enable);

/* Ambient-light mode of the PPG module, 0 .. 14. Journals "SetLEDAmbientLightMode(%d);".
 * Returns 0; -1 no PPG module attached; -2 mode outside 0 .. 14; -3 the write failed or (while
 * no playback runs) no reply came. During playback the reply is not awaited. */
TOLV_API int TOLVSetLEDAmbientLightMode(int mode);
/* The module's ambient-light mode; -1 no PPG module attached; -2 the exchange failed; -3 the
 * module did not acknowledge. */
TOLV_API int TOLVGetLEDAmbientLightMode(void);

/* LED pulse group schedule: the LED (0 none, 1, 2 or 3) lit in each of eight time slots, and
 * the period. A record with slot 0 set and period 0 is written as the module's flag for it and
 * read back with slot 0 = 3 and period 0. */
typedef struct LED_PULSE_GROUP {
    uint8_t Slot[8];
    uint16_t Period;
} LED_PULSE_GROUP;
TOLV_STATIC_ASSERT(sizeof(LED_PULSE_GROUP) == 10, led_pulse_group_is_10_bytes);

/* Reads the module's pulse group schedule into *group (must not be NULL). True when the module
 * acknowledged; false when group is NULL, no device is open, playback or photodiode sampling
 * runs, or the exchange failed (then *group is untouched). */
TOLV_API bool TOLVReadLEDPulseGroupSetting(LED_PULSE_GROUP* group);
/* Writes *group (must not be NULL; slots outside 0 .. 3 are sent as no LED). True when the
 * module acknowledged; false as for the read. */
TOLV_API bool TOLVWriteLEDPulseGroupSetting(const LED_PULSE_GROUP* group);

/* ------------------------------------------------------------------------------------------ */
/* PPG waveforms and PPG output                                                               */
/* ------------------------------------------------------------------------------------------ */

/*
 * Each of the three PPG channels (0, 1, 2) plays a one-beat table of DC and AC levels, in the
 * module's units (the capability record's limits, see TOLVGetDeviceFeature; without a module
 * the defaults AC 0.75 .. 30, DC 100 .. 3000). While any PPG output is enabled playback runs at
 * 10000 samples/s and every sample carries, for each enabled channel, a DC and an AC converter
 * code next to the ECG's codes (one channel: 350 samples = 35 ms per packet, two: 20 ms, three:
 * 15 ms). Tables can be installed only while nothing plays; TOLVClearPPGWaveform works at any
 * time (while playing, the channel plays codes 0 from the next packet on).
 *
 * Finger model. On the PPG modules 0x2112 and 0x2012 the levels are converted into the module's
 * own scale when a table is installed. Module 0x2112 carries its DC tables in its flash (read at
 * every connect). For module 0x2012 the conversion tables are calibration data that the library
 * does not have: it converts only after the application supplied them with
 * TOLVSetPPGFingerModel; until then the levels go to the module unconverted.
 * TOLVIsPPGFingerModelActive tells which applies to the module attached now.
 */

/*
 * Installs a standard waveform on a channel: type 0 sine, 1 triangle, 2 square, 3 pulse (a
 * plethysmographic beat: systolic peak at 15 % of the beat, dicrotic notch at 36 % with 0.56 x
 * ac, dicrotic peak at 46 % with 0.64 x ac); sync the LED synchronisation code (2, any other
 * value means 1); invert non-zero reports the pulse upside down; frequency in beats per second,
 * 0.16 .. 5.0; dc the DC level; ac the AC amplitude. With AC above DC off (the default, see
 * TOLVEnableACAboveDC) the DC level becomes dc - ac, so that dc is the pulse top.
 * Journals "TOLVSetPPGStandardWaveform(%d, %d, %d, %d, %.2f, %.0f, %.2f);".
 * Returns the number of table entries (10000 / frequency, rounded); -1 playback or photodiode
 * sampling runs; -2 channel outside 0 .. 2; -3 type outside 0 .. 3; -4 frequency out of range;
 * -5 dc outside the module's DC range; -6 ac outside its AC range; -7 out of memory. A failed
 * call leaves the channel's table as it was.
 */
TOLV_API int TOLVSetPPGStandardWaveform(int channel, int type, int sync, int invert,
                                        double frequency, double dc, double ac);

/*
 * Two standard channels at once. On module 0x2112, when the two AC levels fall in different AC
 * ranges (at least 15, at least 1.5, below), all four levels are scaled by one factor so that
 * both fall in the lower channel's range (the AC to DC ratios stay). Then the first channel is
 * set as by TOLVSetPPGStandardWaveform; its negative code is returned at once; otherwise the
 * second channel's result. No journal line.
 */
TOLV_API int TOLVSetPPGStandardWaveformEx(int channel1, int type1, int sync1, int invert1,
                                          double frequency1, double dc1, double ac1, int channel2,
                                          int type2, int sync2, int invert2, double frequency2,
                                          double dc2, double ac2);

/*
 * Installs one beat (or any cycle) of application data: count DC and AC levels (both arrays
 * must hold count values; they are copied) played at sampleRate entries per second and repeated.
 * AC levels are limited to the module's AC maximum, negative ones become 0; DC levels are not
 * range-checked. invert non-zero stores the AC upside down (AC maximum - AC); sync is sent as
 * given. No journal line; the pulse-transit time does not apply to application data.
 * Returns 0; -1 playback or photodiode sampling runs; -2 channel outside 0 .. 2; -3 count below
 * 1; -4 dc is NULL; -5 ac is NULL; -6 sampleRate not above 0; -7 out of memory.
 */
TOLV_API int TOLVSetPPGRawData(int channel, int sync, int invert, int count, const double* dc,
                               const double* ac, double sampleRate);

/* Removes a channel's table (channels outside 0 .. 2 are ignored). Allowed while playing: the
 * channel then plays codes 0 from the next packet on. */
TOLV_API void TOLVClearPPGWaveform(int channel);

/* The channel takes part in playback (true) or not. Journals "TOLVEnablePPGOutput(%d, %s);".
 * Returns 0; -1 playback or photodiode sampling runs; -2 channel outside 0 .. 2. */
TOLV_API int TOLVEnablePPGOutput(int channel, bool enable);

/* Registers the channel's callback (NULL unregisters; channels outside 0 .. 2 are ignored):
 * (graph time in s, the channel's value in its AC unit), at the samples at which the
 * output-signal callback is called. Runs inside the packet builder, as that callback. */
TOLV_API void TOLVRegisterOutputPPGCallback(int channel, TOLV_SIGNAL_CALLBACK callback);

/* Pulse-transit time, ms: while the synthetic ECG (output 7 or 14) plays with the ECG output
 * enabled, the peak of each generated PPG beat follows the R crest by this time; negative (the
 * default, -1) plays the beats from play time 0. Journals "TOLVSetPTTp(%d);". */
TOLV_API void TOLVSetPTTp(int milliseconds);

/* Respiratory modulation of the PPG outputs by the breathing waveform of
 * TOLVSetRespirationAlgorithm, each depth in percent 0 .. 100: the baseline (a share of the AC
 * maximum added), the amplitude (AC x (1 + depth % x breath)) and the rate (the beat follows the
 * ECG frequency modulated by the breath). False (nothing changes) when a depth is out of range.
 * TOLVDisableRespireAlgorithm and the reset set all three to 0. */
TOLV_API bool TOLVSetPPGRespirationAlgorithm(int baselinePercent, int amplitudePercent,
                                             int frequencyPercent);

/*
 * Supplies the finger model of PPG module 0x2012: dcTable 3001 values indexed by the whole DC
 * level 0 .. 3000 (never falling, each 0 .. below 3100), factors 31 positive values indexed by
 * hundreds of the DC table's value, acTable 301 values (0 or more) indexed by tenths of the AC
 * level. Tables installed later on a module 0x2012 are converted with them. All three NULL
 * removes them (conversion off). The tables stay across resets and connections.
 * Returns 0; -2 a value out of range; -4 only some of the three are NULL; -7 out of memory.
 */
TOLV_API int TOLVSetPPGFingerModel(const double* dcTable, const double* factors,
                                   const double* acTable);

/* True when the finger-model conversion applies to the PPG module attached now (0x2112, or
 * 0x2012 with tables supplied by TOLVSetPPGFingerModel). */
TOLV_API bool TOLVIsPPGFingerModelActive(void);

/* ------------------------------------------------------------------------------------------ */
/* PPG photodiode sampling                                                                    */
/* ------------------------------------------------------------------------------------------ */

/* Photodiode sample callback: the input (0 .. 3), the sample as the module sent it (16 bits,
 * the module's scale) and the frame's status byte. Runs on the library's poll thread under its
 * interrupt lock: it must return quickly and must not call the library's device operations. */
typedef void (*TOLV_PPG_SAMPLING_CALLBACK)(int input, int value, int status);

/* Subscribes callback (NULL unsubscribes) to photodiode input 0 .. 3 and marks sampling
 * enabled. Returns 0; -1 not connected; -2 no PPG module attached; -3 playback or sampling
 * runs; -4 input outside 0 .. 3 (nothing changes). TOLVFree forgets every subscription. */
TOLV_API int TOLVEnablePPGSampling(int input, TOLV_PPG_SAMPLING_CALLBACK callback);
/* Stops the module's converter when sampling was enabled, then removes every subscription and
 * ends sampling. Returns 0; -1 the stop could not be sent (nothing changes; call again). */
TOLV_API int TOLVDisablePPGSampling(void);
/* Selects the subscribed inputs (one or two as they are, three or four as all four) on the
 * module's converter and starts sampling; reports then reach the callbacks, and TOLVIsPlaying
 * is true until the stop. Returns 0; -1 not connected; -2 no PPG module attached; -3 playback or
 * sampling runs; -4 not enabled, or the module refused the selection. */
TOLV_API int TOLVStartPPGSampling(void);
/* Stops the module's converter (whatever the outcome) and ends sampling; the subscriptions
 * stay for the next start. */
TOLV_API void TOLVStopPPGSampling(void);

/* ------------------------------------------------------------------------------------------ */
/* Recordings                                                                                 */
/* ------------------------------------------------------------------------------------------ */

/*
 * The library holds one recorded ECG channel at a time, the "current recording", which output
 * function OUTPUT_ECG_FILE (13) plays; every loader below replaces it. Loaders need no device
 * and write no journal line. A load that passes its header checks releases the previous
 * recording first, so a failure after that point leaves no recording (an empty one); a failure
 * in the header checks leaves the previous recording, and its rate, untouched. A file shorter
 * than its header declares loads only the samples really present. Loading while output 13
 * plays is safe: playback keeps the recording it started with until output 13 is applied again.
 * Paths are UTF-8 and must name regular files.
 */

/*
 * Loads one column of a text recording: line 1 the rate in Hz (100 .. 40000, may be
 * fractional), line 2 the number of samples to load, line 3 the number of columns, line 4 the
 * column names (ignored), then one sample per line with columns separated by commas (runs of
 * commas count as one separator), in millivolts, each clamped to -20 .. +20 mV. Blank lines
 * between samples are skipped. Lines end at LF (CRLF works too); a sample line longer than
 * 1048576 characters is read up to that length, and a NUL byte ends the text of its line (any
 * line: the header lines too, and those of the WFDB and AHA text files).
 * Loading stops after the declared count or at the end of the file.
 *   path:    the file (UTF-8); must not be NULL.
 *   channel: column index, 0 .. columns - 1.
 * Returns the number of samples loaded (0 when the file holds no sample line), or
 *   -1 the file cannot be opened;
 *   -2 line 1 missing, or the rate is 0 or outside 100 .. 40000;
 *   -3 line 2 missing, or the count is not positive;
 *   -4 line 3 missing, or the column count is not positive;
 *   -5 line 4 missing;
 *   -6 out of memory (no recording is left);
 *   -7 channel outside 0 .. columns - 1 (the previous recording is kept), or a sample line with
 *      fewer than channel + 1 columns (no recording is left).
 */
TOLV_API int TOLVLoadECGtxt(const char* path, int channel);

/*
 * Loads one signal of an EDF or EDF+ file (EDF+D records are read as if contiguous). Physical
 * values are converted to millivolts by the signal's physical dimension field, compared after
 * its trailing spaces are removed and without regard to the case of ASCII letters:
 *   "uV", or the micro sign and "V" (micro sign as UTF-8 C2 B5, Latin-1 B5 or Greek mu CE BC):
 *        times 0.001 (microvolts);
 *   "mV": times 1;
 *   "V":  times 1000;
 *   any other unit, the empty field included: read as microvolts, times 0.001.
 * The millivolts are then clamped to -20 .. +20 mV. The rate is the signal's samples per record
 * divided by the record duration in whole seconds, in whole-number division.
 *   path:    the file (UTF-8); must not be NULL.
 *   channel: 0-based signal index, 0 .. signals - 1; not the "EDF Annotations" signal.
 * Returns the number of samples loaded, or
 *   -1 the file cannot be opened;
 *   -2 the fixed header or the signal headers are short, do not parse or are inconsistent: an
 *      identification field without the EDF+ subfields, a header byte count other than
 *      (signals + 1) * 256, a record count or record duration below 1, a signal count outside
 *      1 .. 256, a samples-per-record count below 1, equal digital limits of the signal;
 *   -3 channel outside 0 .. signals - 1, or the chosen signal is the annotation signal;
 *   -4 out of memory (no recording is left);
 *   -5 the rate is outside 100 .. 40000 Hz; the samples stay loaded when the rate is at least
 *      1 Hz (a rate of 0 leaves no recording).
 */
TOLV_API int TOLVLoadECGedf(const char* path, int channel);

/*
 * Loads one signal of an EDF or EDF+ file that TOLVLoadECGedf refuses or reads otherwise, with
 * the same conversion to millivolts and the same -20 .. +20 mV clamp; TOLVLoadECGedf itself is
 * unchanged. Record counts of -1 (or beyond the file) read the records present; the record
 * duration may be a fraction of a second.
 *   flags: any of
 *     TOLV_EDF_RESAMPLE   a rate (samples per record / record duration) that is not a whole
 *                         number is resampled linearly to the nearest whole rate; without it
 *                         such a file is refused with -5 and the current recording stays;
 *     TOLV_EDF_GAPS       an EDF+D file plays its gaps: each data record starts at the onset of
 *                         its time-keeping annotation, the time between records being 0 mV
 *                         (without it, or for EDF+C, the records follow one another);
 *     TOLV_EDF_FREE_TEXT  the patient and recording fields may be free text (plain EDF as
 *                         older writers make it); without it they must hold the EDF+ subfields.
 * Returns the number of samples loaded, or -1 the file cannot be opened; -2 the headers are
 * short, do not parse or are inconsistent (as TOLVLoadECGedf; also a gap longer than 24 h or
 * ending beyond 50 million samples);
 * -3 channel outside the signals or the annotation signal; -4 no sample or out of memory;
 * -5 the rate (after resampling) is outside 100 .. 40000 Hz (the samples stay loaded), or not
 * whole without TOLV_EDF_RESAMPLE; -6 flags holds another bit.
 */
#define TOLV_EDF_RESAMPLE 1
#define TOLV_EDF_GAPS 2
#define TOLV_EDF_FREE_TEXT 4
TOLV_API int TOLVLoadECGedfEx(const char* path, int channel, int flags);

/*
 * Loads one signal of a PhysioNet WFDB record in storage format 212 or 16. The samples are
 * (code - baseline) / gain in the signal's physical unit, taken as millivolts, not clamped.
 * The baseline is the number in parentheses of the gain field, else the ADC zero, else 0; a
 * missing or zero gain means 200.
 *   headerPath: the header file (.hea), UTF-8; must not be NULL.
 *   signalPath: the signal file (.dat), UTF-8; the header's file-name field is not used to find
 *               it; must not be NULL.
 *   channel:    0-based signal index, 0 .. signals - 1.
 * Returns the number of samples loaded, or
 *   -1 the header cannot be opened, has a counted line (not empty, not a "#" comment) with
 *      fewer than 4 or more than 19 space-separated fields, more than 19 or fewer than 2
 *      counted lines, or a signal count below 1 or above the signal lines present;
 *   -2 the signal file cannot be opened, the format is not 212 or 16, or the signals do not
 *      share one file and one format;
 *   -3 channel outside 0 .. signals - 1;
 *   -4 no sample decoded (sample count 0, an empty file, or out of memory); no recording left;
 *   -5 the rate is outside 100 .. 40000 Hz; the samples stay loaded when the rate is at least
 *      1 Hz (a rate of 0 or below leaves no recording).
 */
TOLV_API int TOLVLoadECGdat(const char* headerPath, const char* signalPath, int channel);

/*
 * Loads one signal of a WFDB record that TOLVLoadECGdat does not take, found through its
 * header: storage formats 8 (first differences from the initial value), 16, 61 (big-endian),
 * 80 and 160 (offset binary), 212, 310 and 311 (three 10-bit samples in 4 bytes); signals spread
 * over several signal files (each file a frame of the signals that name it, in their order,
 * one format per file, a "+offset" skipped); and multi-segment records ("name/n" record line:
 * the segments one after the other, a "~" segment a gap of 0 mV; with a layout segment the
 * signal is found in each segment by its description, 0 mV where a segment lacks it). The
 * signal files are looked for beside the header under the names it gives. Samples are
 * (code - baseline) / gain as for TOLVLoadECGdat. TOLVLoadECGdat itself is unchanged.
 * Format fields "FMTxN:SKEW+OFFSET" (each part optional):
 *   xN    N samples of the signal per frame (1 .. 1024): the signal plays at N times the
 *         record's frame rate, which must then be whole (or is resampled, see flags); the
 *         record's sample count and a segment's length count frames. In a multi-segment record
 *         N comes from the layout segment ("0xN"), else from the first segment that holds the
 *         signal, and every segment holding it must have the same N.
 *   :SKEW the signal's sample n is taken from frame n + SKEW (0 .. 50 million): the record
 *         spans its sample count of frames from there, and frames the file lacks are not
 *         played (a skewed signal is SKEW frames shorter when the file holds no more).
 * Samples of a signal file's other signals are skipped whatever their samples per frame.
 *   flags: 0, or TOLV_WFDB_RESAMPLE: a rate that is not a whole number (e.g. 128.5) is resampled
 *          linearly to the nearest whole rate over the same span; without it such a record is
 *          refused with -5 and the current recording stays.
 * Returns the number of samples loaded, or -1 the header cannot be read or is not a record
 * header this reader understands (also a segment's, or segments of more than 50 million
 * samples in all); -2 a signal file cannot be opened, a signal line names a format not listed,
 * samples per frame outside 1 .. 1024, a negative or larger skew, or (multi-segment) a samples
 * per frame other than the signal's in another segment; -3 channel outside the record's
 * signals; -4 no sample or out of memory; -5 the rate (after resampling) is outside
 * 100 .. 40000 Hz (the samples stay loaded), or not whole without TOLV_WFDB_RESAMPLE; -6 flags
 * holds another bit.
 */
#define TOLV_WFDB_RESAMPLE 1
TOLV_API int TOLVLoadECGWfdbRecord(const char* headerPath, int channel, int flags);

/* ------------------------------------------------------------------------------------------ */
/* Standard waveforms                                                                         */
/* ------------------------------------------------------------------------------------------ */

/*
 * The standard test waveforms share one selected index (read back by all three getters):
 *   output 8  (OUTPUT_IEC227): the ten IEC 60601-2-27 / AAMI EC13 waveforms, 720 samples/s,
 *             index 0 "AAMI 3A / IEC A1" .. 9 "AAMI 4B / IEC B2 /2";
 *   output 9  (OUTPUT_IEC251): the sixteen CTS CAL waveforms of IEC 60601-2-51, one second at
 *             1000 samples/s, index 0 "CAL05000" .. 15 "CAL40000";
 *   output 16 (OUTPUT_IEC247): the five IEC 60601-2-47 test patterns, generated at first use;
 *   output 17 (OUTPUT_ANE20000): one lead (0..8) of the CTS ANE20000 beat.
 * The 2-27 and noise tables are built into the library when their reference records were
 * present at build time. A table that is not built in is loaded on first use from the WFDB
 * records below the directory named by the environment variable TOLVAN_DATA_DIR (aami-ec13/,
 * cts/ with one record per waveform named after it, nstdb/). An output whose table is absent
 * plays 0 mV.
 */

/* Result of a selector or dump whose table is neither built in nor loadable. */
#define TOLV_TABLE_MISSING (-5)

/*
 * Selects IEC 60601-2-27 waveform `index` (0..9) for output 8; applied at once, also in the
 * middle of a period (the period becomes the waveform's length). No session needed.
 * Journals "SetSpecialWave227(%d);". Returns 0; -2 index outside 0..9 (nothing stored);
 * TOLV_TABLE_MISSING (-5) when the 2-27 table is not available (nothing stored).
 */
TOLV_API int TOLVSetSpecialWave227(int index);

/*
 * Selects CAL waveform `index` (0..15) for output 9; applied at once. No session needed.
 * Journals "SetSpecialWave251(%d);". Returns 0; -2 index outside 0..15; TOLV_TABLE_MISSING
 * (-5) when the CAL table is not available. Nothing is stored on failure.
 */
TOLV_API int TOLVSetSpecialWave251(int index);

/*
 * Selects IEC 60601-2-47 test pattern `index` (0..4) for output 16, generating it first if
 * needed (pattern 4 is one hour at 1000 samples/s, about 29 MB); applied at once. No session
 * needed. Journals "SetSpecialWave247(%d);". Returns 0; -2 index outside 0..4;
 * TOLV_TABLE_MISSING (-5) when memory for the pattern runs out. Nothing is stored on failure.
 */
TOLV_API int TOLVSetSpecialWave247(int index);

/* The selected standard waveform index, whichever family was selected last (all three getters
 * read the same index). */
TOLV_API int TOLVGetSpecialWave227(void);
TOLV_API int TOLVGetSpecialWave251(void);
TOLV_API int TOLVGetSpecialWave247(void);

/*
 * Selects ANE20000 lead `channel` (0..8; channel c is signal c of the ANE20000 record) for
 * output 17; applied at once. No session needed, no journal line. Returns 0; -1 channel outside
 * 0..8; TOLV_TABLE_MISSING (-5) when the ANE20000 table is not available. Nothing is stored on
 * failure.
 */
TOLV_API int TOLVSetANE20000Lead(int channel);

/* The selected ANE20000 lead. */
TOLV_API int TOLVGetANE20000Lead(void);

/* ========================================================================================== */
/* Linux builds only: service functions                                                       */
/* ========================================================================================== */

/*
 * Call journal: while on, every accepted setter appends one line written as the call itself
 * (for example "TOLVSetAmplitude(1.50);") to the file at path (UTF-8), opened and closed for
 * each entry. A file that cannot be opened drops entries silently.
 * Returns 0, or -2 when path is NULL or 512 bytes or longer (the journal is then off).
 */
TOLV_SERVICE_API int EnableSaveLog(const char* path);

/* Appends an empty entry (ending this run's journal with two newlines) and switches the
 * journal off; does nothing when it is off. */
TOLV_SERVICE_API void DisableSaveLog(void);

/* The journal path ("" when none). Library-owned text. */
TOLV_SERVICE_API const char* GetSaveLogPath(void);

/* The open port's descriptor, or -1 when no port is open. */
TOLV_SERVICE_API int64_t TOLVGetDeviceHandle(void);

/* Adopts an open descriptor as the port; when it is not 0, identifies the device on it and
 * reloads the information records (the result is not reported). */
TOLV_SERVICE_API void TOLVSetDeviceHandle(int64_t handle);

/* Rewrites the model information in the simulator's flash; on success the library's record
 * becomes *info. Returns false when no device is open, info is NULL or a step failed. */
TOLV_SERVICE_API bool TOLVSetDeviceInformation(const MODEL_INFORMATION* info);

/* Rewrites the hardware version (each 0..255) in the simulator's flash. Returns false when no
 * device is open, a value is out of range or a step failed. */
TOLV_SERVICE_API bool TOLVSetHWInformation(int major, int minor);

/* Device ID: the serial number and "%d.%d" of the hardware minor version's tens and units,
 * every character written as two upper-case hexadecimal digits. Static buffer of 128 bytes. */
TOLV_SERVICE_API const char* TOLVGetDeviceID(void);

/* Copies the PPG module's capability record (all zero without a module). NULL is ignored. */
TOLV_SERVICE_API void TOLVGetDeviceFeature(DEVICE_FEATURE* feature);

/* The USB bus voltage byte the simulator reports; 0 on any failure or without a device. */
TOLV_SERVICE_API int TOLVGetUSBBusVoltage(void);

/* Switches the PPG module's signal-strength sampling on (non-zero) or off. True when the module
 * acknowledged; false without a device. */
TOLV_SERVICE_API bool TOLVEnableFPGASampling(int enable);

/* Reads the module's sampling status into 18 doubles (144 bytes): six flags, three plus three
 * 12-bit photodiode values, and those values scaled by the photodiode ratios. report must not
 * be NULL. Returns false (report untouched) without a device or on a failed read. */
TOLV_SERVICE_API bool TOLVGetFPGAReport(double* report);

/* ------------------------------------------------------------------------------------------ */
/* Recordings (Linux builds only)                                                             */
/* ------------------------------------------------------------------------------------------ */

/*
 * Reads the four header lines of a text recording (see TOLVLoadECGtxt) and returns its column
 * count. When names is not NULL it must have room for that many pointers: slot i receives a new
 * 128-byte buffer holding the i-th comma-separated name of line 4, cut to 127 characters and
 * without end-of-line characters, or NULL when line 4 has fewer names. Call once with NULL to
 * learn the count. The array names belongs to the caller, and so do the buffers put into it:
 * release them with ReleaseECGTxtChannelNames (they are made with C++ array new, so C++ callers
 * may instead delete[] each one). A failed call puts nothing into names.
 * The current recording is not changed. The rate is not range-checked here.
 * Returns the column count, or -1 the file cannot be opened; -2 line 1 missing or rate 0;
 * -3 line 2 missing or count not positive; -4 line 3 missing or column count not positive;
 * -5 line 4 missing.
 */
TOLV_SERVICE_API int CheckECGTxtChannel(const char* path, char** names);

/*
 * Releases the name buffers that a successful CheckECGTxtChannel put into names, and sets
 * slots 0 .. count-1 to NULL (NULL slots are skipped, so a second call is harmless). Only the
 * buffers are released: the array names stays the caller's, and slots from count on are not
 * touched. Releasing a buffer that did not come from CheckECGTxtChannel is undefined.
 *   names: the array passed to CheckECGTxtChannel; NULL does nothing.
 *   count: the column count that CheckECGTxtChannel returned; nothing is done when below 1.
 */
TOLV_SERVICE_API void ReleaseECGTxtChannelNames(char** names, int count);

/*
 * Loads a big-endian binary recording: rate (unsigned 16-bit, 30 .. 5000 Hz), count (signed
 * 32-bit, 1 .. 20,000,000), then signed 16-bit samples in microvolts, clamped to -20 .. +20 mV.
 * Loading stops after the count or at the end of the file. path must not be NULL.
 * Returns the number of samples loaded, or -1 the file cannot be opened; -2 rate missing or
 * outside 30 .. 5000; -3 count missing or outside 1 .. 20,000,000; -4 out of memory.
 */
TOLV_SERVICE_API int LoadECGBin(const char* path);

/*
 * Loads channel 0 or 1 of an AHA database file at 250 Hz, sample = value / 400 mV, not clamped.
 * The layout is chosen by the path's last four characters, compared case-sensitively: ".txt"
 * (one line per sample, two decimal values separated by commas or spaces; lines of fewer than
 * two values or whose chosen value is not a clean number are skipped) or ".ecg" (5-byte records:
 * two signed 16-bit little-endian values and one ignored byte; a partial last record is ignored).
 * Returns the number of samples loaded, or -1 path NULL, shorter than 4 characters or with
 * another ending; -2 the file cannot be read; -3 channel not 0 or 1; -4 no sample found (no
 * recording is left); -5 out of memory.
 */
TOLV_SERVICE_API int LoadECGAHA(const char* path, int channel);

/*
 * Copies count samples (millivolts) at sampleRate Hz into a new current recording. The library
 * keeps its own copy. Ignored (nothing changes) when count is negative, samples is NULL while
 * count > 0, or sampleRate is not positive. Non-finite samples are stored as 0.
 */
TOLV_SERVICE_API void SetRawArray(int count, const double* samples, int sampleRate);

/* Releases the current recording (count 0, rate 20000 Hz) and the respiration recording. */
TOLV_SERVICE_API void ClearRawArray(void);

/*
 * The current recording's samples (millivolts), or NULL when there is none. The array is owned
 * by the library and stays valid until the next load, SetRawArray or ClearRawArray.
 *   count:      receives the number of samples; may be NULL.
 *   sampleRate: receives the rate truncated to whole Hz; may be NULL.
 */
TOLV_SERVICE_API const double* GetFileArray(int* count, int* sampleRate);

/*
 * Writes each of count values as "%.3f\n" to a new text file at path (UTF-8; an existing file
 * is replaced). values may be NULL only when count is 0.
 * Returns 0, or -2 count negative or values NULL; -3 the file cannot be opened; -6 a write failed.
 */
TOLV_SERVICE_API int DumpRawData(const double* values, int count, const char* path);

/*
 * Arms the output recorder: while playback runs, for every recorded output sample the AC-channel
 * value (mV, after respiration attenuation) goes to ac[i] and the DC-channel value to dc[i],
 * i = 0 .. length - 1; when full it stops storing and stays armed. The buffers belong to the
 * caller and must stay valid until DisableRecordRaw; either may be NULL (nothing is stored).
 * Returns true when armed; false (nothing changes) when it is already armed or length < 0.
 */
TOLV_SERVICE_API bool EnableRecordRaw(double* ac, double* dc, int length);

/* Disarms the output recorder and forgets its buffers. */
TOLV_SERVICE_API void DisableRecordRaw(void);

/* ------------------------------------------------------------------------------------------ */
/* Ground truth: what was played, when                                                        */
/* ------------------------------------------------------------------------------------------ */

/*
 * One event of the ground truth. Time is play time in seconds: 0 at the first sample of each
 * start of an output function (and of each offline render), advancing by one sample period per
 * sample, the time base of the sample callbacks and of GetRawDataArrayEx's sample i (i / rate).
 * Times are exact instants; the sample at which the event shows is the nearest one.
 *   TOLV_TRUTH_R_WAVE        R peak of a beat. Value: R amplitude in mV. Outputs 7 and 14 (the
 *                            synthetic and the customised ECG; the R peak at 0.01 s + 0.4375 QRS,
 *                            resp. PR + 0.4375 QRS), 10 and 11 (the first R crest), 16 (the
 *                            R peak of every reference beat; the triangle apex of pattern 1) and
 *                            8, 9, 17 (the recorded tables: the largest QRS deflection of each
 *                            complex, found once per table by a slope detector when the
 *                            recording is switched on, so it can be negative). Channel 0 for
 *                            the exact beats, 1 for those found by the detector (whose class,
 *                            normal or ventricular, is not known).
 *   TOLV_TRUTH_PACING_PULSE  a pacing pulse starts. Value: pulse amplitude, mV.
 *   TOLV_TRUTH_APNOEA_START, TOLV_TRUTH_APNOEA_END  Channel 0: the simulator's own breathing
 *                            (TOLVSetRespiration apnoea, switched once per stream packet; the
 *                            time is that of the packet's last sample). Channel 1: the
 *                            respiratory modulation (TOLVSetRespirationAlgorithm apnoea).
 *   TOLV_TRUTH_PPG_FOOT      a PPG pulse begins on PPG channel Channel (0..2). Value 0.
 *   TOLV_TRUTH_PPG_PEAK      the PPG pulse peaks (the generated pulse's rise time after its
 *                            foot; not given for application tables). Value: the pulse
 *                            transit time, s, from the last R wave recorded to this peak; -1
 *                            when no R wave came before it in this run.
 */
typedef struct TOLV_TRUTH_EVENT {
    double Time;     /* play time, s */
    int32_t Kind;    /* TOLV_TRUTH_* */
    int32_t Channel; /* PPG channel or apnoea source; 0 otherwise */
    double Value;    /* see the kind */
} TOLV_TRUTH_EVENT;
TOLV_STATIC_ASSERT(sizeof(TOLV_TRUTH_EVENT) == 24, truth_event_is_24_bytes);

#define TOLV_TRUTH_R_WAVE 1
#define TOLV_TRUTH_PACING_PULSE 2
#define TOLV_TRUTH_APNOEA_START 3
#define TOLV_TRUTH_APNOEA_END 4
#define TOLV_TRUTH_PPG_FOOT 5
#define TOLV_TRUTH_PPG_PEAK 6

/*
 * Switches the ground-truth recording on (1) or off (0). Switching it on empties the queue,
 * sets the lost count to 0 and, the first time (or while a reference table was missing),
 * finds the R waves of every standard table (up to a few hundred ms). While it is on, the
 * sample path (playing, the library's timer, and GetRawDataArrayEx, which then also runs the
 * pacing schedule so that rendered pulses are recorded; its samples are unchanged) appends
 * events to a queue of 16384; a full queue drops new events and counts them. Switching it off
 * keeps the queue readable. Returns 0; -2 for another value of enable; -4 out of memory.
 */
TOLV_SERVICE_API int TOLVEnableGroundTruth(int enable);
/* 1 while the ground-truth recording is on, else 0. Takes no lock. */
TOLV_SERVICE_API int TOLVIsGroundTruthEnabled(void);
/*
 * Moves up to capacity of the oldest queued events into events, in the order they happened
 * (time order within each kind). Returns the number moved (0 when none is queued); -2 when
 * events is NULL or capacity < 1.
 */
TOLV_SERVICE_API int TOLVReadGroundTruth(TOLV_TRUTH_EVENT* events, int capacity);
/* Events dropped because the queue was full, since the recording was last switched on. Takes no
 * lock. */
TOLV_SERVICE_API unsigned TOLVGetGroundTruthLost(void);

/* ------------------------------------------------------------------------------------------ */
/* Calibration and flash records (Linux builds only)                                          */
/* ------------------------------------------------------------------------------------------ */

/*
 * The DC calibration table: 4001 DAC codes, entry i for (i - 2000) mV. At every connect the
 * library loads it from the cache file "calibration.dat" (8002 bytes: the 4001 words, 16-bit
 * little-endian) when that file is the connected simulator's cache (below), else moves it from
 * the simulator's old flash location to the current one, else reads the current location, else
 * uses its built-in table. The functions below serve calibration tools. None of them writes to
 * the call journal.
 *
 * Which simulator a cache belongs to: every calibration table is particular to one simulator,
 * and "calibration.dat" holds nothing that says which. So whenever the library writes
 * "calibration.dat" (after loading the table from the flash at connect, in
 * WriteDCCalibrationData and in SaveCalibrationData) it also writes "calibration.id" beside it:
 * one line of text, the serial number of the simulator whose table the file holds, as
 * TOLVGetSerialNumber gives it (for example "QPS0130-260815"), ended by a line feed. A table
 * that belongs to no known simulator (the built-in table, a table whose entries for -500..+500
 * mV include an erased 0xFFFF, a table put in force while the serial number was unknown) is
 * written without "calibration.id", and any older "calibration.id" there is deleted first.
 * A cache is applied (at connect and by LoadCalibrationData) only when "calibration.id" exists
 * and its first line, without surrounding white space, equals the connected simulator's serial
 * number. A cache without "calibration.id" (written by an earlier version of this library, or
 * copied by hand) or naming another simulator is treated as no cache: it is left alone until
 * the table has been read from the simulator's flash, and then both files are rewritten for
 * this simulator. To apply a table of unknown origin on purpose, write it to the simulator
 * with WriteDCCalibrationData.
 */

/*
 * Sets the directory of the cache file and of "calibration.id" beside it. The text is put
 * unchanged in front of the file names, so it must end with a path separator
 * ("/var/lib/tolvan/"). NULL or "" selects the current directory.
 * Returns 0, or -2 when directory is 512 bytes or longer (the directory is then unchanged).
 */
TOLV_SERVICE_API int SetCalibrationDataPath(const char* directory);

/*
 * Reads the table from the simulator's flash into the table in force (not validated; see
 * ValidateDCCalibrationData). Returns true on success; false without a device or when a read
 * failed (the table in force is then unchanged).
 */
TOLV_SERVICE_API bool ReadDCCalibrationData(void);

/*
 * Writes a new table to the simulator's flash (which is not erased first; see
 * ClearDCCalibrationData) and, once the flash has acknowledged every part, makes it the table in
 * force and saves it to the cache file with "calibration.id" naming this simulator (when the
 * files cannot be written, older ones are removed so that they are not preferred at the next
 * connect).
 *   values: count codes, each 0..65535; the caller keeps ownership.
 *   count:  must be 4001.
 * Returns true on success; false when values is NULL, count is not 4001, a value exceeds 65535,
 * no device is open or the device did not acknowledge (the table in force is then unchanged).
 */
TOLV_SERVICE_API bool WriteDCCalibrationData(const unsigned int* values, long count);

/* True when none of entries 1500..2500 (-500..+500 mV) of the table in force is 0xFFFF. */
TOLV_SERVICE_API bool ValidateDCCalibrationData(void);

/*
 * Erases the table from the simulator's flash (current and old location; the manufacturing
 * text record that shares the old location's last sector is kept), frees the copy returned by
 * GetCalibrationCache and deletes the cache file and "calibration.id". The table in force stays
 * until the next connect. Returns true when everything was cleared (a file that did not exist
 * counts as cleared); false without a device or when a step failed.
 */
TOLV_SERVICE_API bool ClearDCCalibrationData(void);

/*
 * Writes the table in force to "calibration.dat" in directory (same rule as
 * SetCalibrationDataPath; "" is the current directory), replacing the file, and beside it
 * "calibration.id" naming the simulator the table belongs to (see above; none for a table of
 * no known simulator). The table keeps the simulator it was loaded from or written to, also
 * after that simulator was disconnected.
 * Returns 0; -1 when a file cannot be opened or written, or an older "calibration.id" cannot be
 * deleted (then "calibration.dat" is left as it was); -2 when directory is NULL.
 */
TOLV_SERVICE_API int SaveCalibrationData(const char* directory);

/*
 * Makes the cache file's table the table in force, under the same rule as the load at connect:
 * only when "calibration.id" names the connected simulator.
 * Returns 0 on success; -1 when the file is missing or not exactly 8002 bytes (the table in
 * force is unchanged); -3 when no simulator is connected or "calibration.id" is missing or names
 * another simulator (the table in force is unchanged); -1 when any entry 1000..2999 is 255 (the
 * built-in table is then in force).
 */
TOLV_SERVICE_API int LoadCalibrationData(void);

/*
 * Reads the cache file into a copy owned by the library and returns it, whichever simulator it
 * belongs to ("calibration.id" is not consulted). The copy stays valid
 * until the next GetCalibrationCache, ClearCalibrationCache or ClearDCCalibrationData (the
 * loads at connect do not touch it).
 *   count: receives 4001 on success, 0 otherwise; may be NULL.
 * Returns the 4001 words, or NULL when the file is missing or not exactly 8002 bytes.
 */
TOLV_SERVICE_API const uint16_t* GetCalibrationCache(int* count);

/*
 * Copies the cache file's 4001 words into buffer (owned by the caller), whichever simulator it
 * belongs to.
 *   capacity: words buffer can take; must be at least 4001.
 * Returns 4001; 0 when buffer is NULL, capacity is too small, no directory was set with
 * SetCalibrationDataPath, or the file is missing or not exactly 8002 bytes.
 */
TOLV_SERVICE_API int GetCalibrationCacheEx(uint16_t* buffer, int capacity);

/* Frees the copy returned by GetCalibrationCache and deletes the cache file and
 * "calibration.id". Returns 0 when the cache file was deleted, -1 when it could not be (for
 * example it did not exist). */
TOLV_SERVICE_API int ClearCalibrationCache(void);

/*
 * Copies the PPG DC table of slot `table` (0..2; loaded from a PPG module 0x2112 at connect,
 * else the identity, entry i = i) into buffer (owned by the caller).
 *   count: words buffer can take; min(count, 3001) are copied.
 * Returns the number of words copied; 0 when table is outside 0..2, buffer is NULL or count < 1.
 */
TOLV_SERVICE_API int GetPPGDCTable(int table, uint16_t* buffer, int count);

/*
 * Reads the manufacturing text record (64 bytes in the simulator's flash) into buffer (owned by
 * the caller). Bytes never written read 0xFF.
 *   length: bytes buffer can take (>= 1); min(length, 64) are read.
 * Returns the number of bytes read; 0 when no device is open or the device did not answer (the
 * buffer may then hold the part read before the failure); -2 when buffer is NULL or length < 1.
 */
TOLV_SERVICE_API int TOLVReadMfgInfo(uint8_t* buffer, int length);

/*
 * Erases the manufacturing text record and writes min(length, 64) bytes of buffer to it; the
 * rest of the 64 bytes reads 0xFF afterwards.
 * Returns the number of bytes written; 0 when no device is open or the device did not
 * acknowledge; -2 when buffer is NULL or length < 1.
 */
TOLV_SERVICE_API int TOLVWriteMfgInfo(const uint8_t* buffer, int length);

/* ------------------------------------------------------------------------------------------ */
/* Waveform parameters (Linux builds only)                                                    */
/* ------------------------------------------------------------------------------------------ */

/* Registers the standard-stop callback (NULL unregisters). Takes no lock. */
TOLV_SERVICE_API void RegisterStandardWaveformCB(TOLV_STANDARD_STOP_CALLBACK callback);
/* Registers the baseline-reset callback (NULL unregisters). Takes no lock. */
TOLV_SERVICE_API void RegisterBaselineResetCB(TOLV_BASELINE_RESET_CALLBACK callback);

/* ------------------------------------------------------------------------------------------ */
/* Playback and output stage (Linux builds only)                                              */
/* ------------------------------------------------------------------------------------------ */

/* As TOLVReset, leaving the output leads as they are and journaling no entry of its own. */
TOLV_SERVICE_API void TOLVResetEx(void);

/* Fixed DC output: plays DC DAC code `code` (0..65535) with 0 mV on the AC path until playback
 * stops (output function 0, amplitude 0, square). Waits for a running playback to end first.
 * True when started; false for a code out of range or a refused setter. */
TOLV_SERVICE_API bool PlayFixedDCByDAC(unsigned code);

/* Renders output function `function` offline at `sampleRate` (100..40000) into out[0..count-1]
 * without a device and without playing: the main-function voltage plus the noise record.
 * Returns 0 (nothing written) while playing, for a NULL out, count < 1 or a rate out of range;
 * otherwise count, except that it is sampleRate when count / sampleRate < 1 and 1800 times
 * sampleRate when count / sampleRate > 1800 (exactly count values are written in every case). */
TOLV_SERVICE_API int GetRawDataArrayEx(int function, double* out, int count, int sampleRate);

/* Sets the lead mask (bits 0..8) at once; the relays follow. Returns 0; -1 without a session. */
TOLV_SERVICE_API int SetAllOutputLead(unsigned mask);

/* The lead mask (bit i = output lead i). */
TOLV_SERVICE_API unsigned GetAllOutputLead(void);

/* Transmission-rate mode of the PPG module 0x2112 (clamped to 0..5), sent from its factory
 * settings. Returns 1 when written (or another module is attached), 0 when a write failed;
 * the mode is stored either way. */
TOLV_SERVICE_API int TOLVConfigureTransmissionRate(int mode);

/* The transmission-rate pair of PPG channel 1..3 for the stored mode (module 0x2112 only).
 * Both pointers must not be NULL. False for another channel, module or a NULL pointer. */
TOLV_SERVICE_API bool TOLVGetTransmissionRate(int channel, unsigned* first, unsigned* second);

/* ------------------------------------------------------------------------------------------ */
/* Standard waveforms (Linux builds only)                                                     */
/* ------------------------------------------------------------------------------------------ */

/*
 * The samples of IEC 60601-2-27 waveform n (0..9), in microvolts. count receives the number of
 * samples (floor(0.5 + 720 * length in s)), rate 720; either pointer may be NULL. The array
 * belongs to the library and lives as long as the process. Returns NULL (count and rate 0)
 * for n outside 0..9 or when the table is not available. Takes no lock.
 */
TOLV_SERVICE_API const int32_t* GetSpecialWave227Array(int n, unsigned* count, unsigned* rate);

/* As GetSpecialWave227Array for CAL waveform n (0..15): 1000 samples, rate 1000. */
TOLV_SERVICE_API const int32_t* GetSpecialWave251Array(int n, unsigned* count, unsigned* rate);

/*
 * The samples of IEC 60601-2-47 pattern n (0..4) in millivolts, generated first if needed.
 * count receives the pattern's length, rate 1000; either pointer may be NULL. Library-owned,
 * lives as long as the process. NULL (count and rate 0) for n outside 0..4 or when memory runs
 * out. Takes no lock.
 */
TOLV_SERVICE_API const double* GetSpecialWave247Array(unsigned n, unsigned* count, unsigned* rate);

/* Parameters of IEC 60601-2-47 pattern n (0..4): mean RR interval (s), RR swing (s) and RR
 * modulation frequency (Hz). 0.0 for n outside 0..4. */
TOLV_SERVICE_API double GetRRAvg(int n);
TOLV_SERVICE_API double GetRRDev(int n);
TOLV_SERVICE_API double GetHRVFreq(int n);

/*
 * Writes a standard waveform to the file at path (UTF-8; replaced) as a one-channel text
 * recording that TOLVLoadECGtxt reads back: the rate, the sample count, "1" and the waveform's
 * name on four lines, then one line per sample in millivolts with three decimals.
 * DumpIEC227Waveform: n 0..9; DumpIEC251Waveform: n 0..15; DumpIEC247Waveform: n 0..4 (its
 * samples truncated to whole microvolts). Takes no lock.
 * Returns 0; -2 n out of range; -3 path NULL or the file cannot be opened; TOLV_TABLE_MISSING
 * (-5) the table is not available; -6 a write failed or memory ran out.
 */
TOLV_SERVICE_API int DumpIEC227Waveform(unsigned n, const char* path);
TOLV_SERVICE_API int DumpIEC251Waveform(unsigned n, const char* path);
TOLV_SERVICE_API int DumpIEC247Waveform(unsigned n, const char* path);

/* ------------------------------------------------------------------------------------------ */
/* PPG waveform tables (Linux builds only)                                                    */
/* ------------------------------------------------------------------------------------------ */

/* Installs a waveform description on channel 0 .. 2 after normalising a copy of it as
 * AdjustPPGWaveform does (NULL or an all-zero record removes the channel's table and record).
 * Returns the number of table entries, 0 for the removal, or the codes of
 * TOLVSetPPGStandardWaveform. */
TOLV_SERVICE_API int SetPPGWaveform(int channel, const PPG_WAVEFORM* waveform);
/* One beat of AC values (thousandths of the AC unit) of a waveform at sampleRate into ac, which
 * has room for count values (only that many are written; NULL writes none), and the largest
 * value into *acMax (may be NULL). Returns the beat's length, round(sampleRate / frequency), or
 * 0 for an empty waveform, a frequency outside 0.16 .. 5.0, a rate not above 0 or an unknown
 * type. */
TOLV_SERVICE_API int GenPPGWaveform(const PPG_WAVEFORM* waveform, int count, int* ac, int* acMax,
                                    double sampleRate);
/* Normalises a record in place (DC below the pulse top unless AC is above DC, sync 1 or 2,
 * invert 0 or 1, the auxiliary fields bounded). Returns 0; -2 waveform NULL. */
TOLV_SERVICE_API int AdjustPPGWaveform(int channel, PPG_WAVEFORM* waveform);
/* The finger model of the attached module for a DC level of channel 0 .. 2 and for an AC level
 * (their argument unchanged on modules without one). Levels outside the tables' ranges use the
 * tables' end entries. */
TOLV_SERVICE_API double FingerDCValueConvert(int channel, double dc);
TOLV_SERVICE_API double FingerACValueConvert(double ac);
/* AC range of an AC level on module 0x2112: 0 from 15, 1 from 1.5, else 2. */
TOLV_SERVICE_API int GetACCalMode(double ac);
/* The PPG module's full model number, ModelHigh * 256 + ModelLow (0 without a module). */
TOLV_SERVICE_API uint16_t GetPPGFullModelNumber(void);

/* ------------------------------------------------------------------------------------------ */
/* PPG module control (Linux builds only)                                                     */
/* ------------------------------------------------------------------------------------------ */

/* Dynamic LED strength on (non-zero) or off. True when the module acknowledged; false without a
 * device. */
TOLV_SERVICE_API bool EnableDynamicLEDStrength(int enable);
/* Dynamic light state, sent only when it differs from the state last sent (1 at load): 0 (also
 * when nothing had to be sent); -1 no reply came (the state last sent stays). */
TOLV_SERVICE_API int SetDynamicLight(int state);
/* Signal-strength detection, value 0 .. 255 as the module takes it. True when acknowledged. */
TOLV_SERVICE_API bool EnableSignalStrengthDetection(int value);

/* The module's 18-byte sampling status record as it sent it. */
typedef struct FGPA_SAMPLING_OUT {
    uint8_t Bytes[18];
} FGPA_SAMPLING_OUT;
/* Reads the sampling status into *status (must not be NULL). True when the whole reply came;
 * false (status untouched) otherwise or without a device. */
TOLV_SERVICE_API bool ReadFGPASamplingStatus(FGPA_SAMPLING_OUT* status);

/* Drive level of LED 1 .. 3, 0 .. 255. Returns 0; -1 led invalid; -2 level outside 0 .. 255;
 * -3 the command failed (or no device). */
TOLV_SERVICE_API int SetPPGLedLevel(int led, int level);
/* Sets LEDs 1, 2 and 3 to the module's factory drive levels (a level of 0 becomes 150 for an
 * LED whose output slot is used). Returns 0; -1 factory settings unreadable; -2 factory settings
 * invalid; -3 a write failed. */
TOLV_SERVICE_API int ResetPPGLedLevel(void);
/* Trigger level of LED 1 .. 3, 0 .. 255. Returns 0; -1 not connected; -2 led invalid; -3 level
 * outside 0 .. 255; -4 the command failed. */
TOLV_SERVICE_API int SetPPGTriggerLevel(int led, int level);
/* Trigger level of LED 1 .. 3 (0 .. 255); -1 not connected; -2 led invalid; -3 read failed. */
TOLV_SERVICE_API int GetPPGTriggerLevel(int led);
/* Sets the trigger level of every used LED to its factory value. Returns 0; -1 not connected;
 * -2 factory settings unreadable; -3 invalid; -4 a write failed. */
TOLV_SERVICE_API int ResetPPGTriggerLevel(void);
/* Reads the 10-byte auto-trigger status into status (must not be NULL): byte 2 holds two flag
 * bits; bytes 6..7 and 8..9 two 16-bit values in host byte order (0 when both flags are set).
 * True when the reply came; false without a device or on a failed exchange. */
TOLV_SERVICE_API bool GetAutoTriggerLevelStatus(unsigned char* status);
/* Reads the six 12-bit photodiode status values (any pointer may be NULL). Returns 0; -1 not
 * connected; -2 playback or sampling runs; -3 the exchange failed; -4 not acknowledged or status
 * bits set. */
TOLV_SERVICE_API int GetPDStatus(int* value1, int* value2, int* value3, int* value4, int* value5,
                                 int* value6);

/* Generic module settings by identifier 0 .. 255. Reads store the value (one byte, or two bytes
 * little-endian) when value is not NULL; writes send one byte, one 16-bit value (little-endian)
 * or up to 60 bytes, 10 ms after taking the port, and wait 40 ms after the acknowledgement.
 * True when the module acknowledged; false without a device, for an identifier out of range or
 * (bytes) values NULL or a length outside 0 .. 60. */
TOLV_SERVICE_API bool ReadCalibrationSetting(int id, unsigned char* value);
TOLV_SERVICE_API bool ReadCalibrationSetting16(int id, uint16_t* value);
TOLV_SERVICE_API bool WriteCalibrationSetting(int id, unsigned char value);
TOLV_SERVICE_API bool WriteCalibrationSetting16(int id, uint16_t value);
TOLV_SERVICE_API bool WriteCalibrationSettingBytes(int id, const unsigned char* values, int length);

/* ------------------------------------------------------------------------------------------ */
/* Firmware and MCU update (Linux builds only)                                                */
/* ------------------------------------------------------------------------------------------ */

/*
 * A service tool replaces the simulator's firmware, or the firmware of the microcontroller in
 * the PPG module 0x2112, in two steps: load the image file (LoadFirmwareFile, LoadMcuFile), then
 * burn it (BurnFirmware, BurnMcu). A burn erases, writes and reads back the device's flash in
 * chunks, restarts the device into the new image and connects to it again. It reports success
 * only after every byte read back equals the image.
 *
 * Result codes of these four functions (a load returns the image size instead of 0):
 *    0  success
 *   -1  cancelled by the progress callback; or (load) the image file cannot be opened
 *   -2  (load) the image file does not exist, its size cannot be read, or path is NULL
 *   -3  (burn) no device connected (the session's connection, as TOLVIsConnected tells it)
 *   -4  (load) no memory for the image; (BurnMcu) the microcontroller did not enter its loader
 *   -5  (burn) a command could not be written; (load) the image file could not be read whole
 *   -6  (burn) a reply did not come back whole, or no valid image is loaded; (load) wrong image
 *       mark or size
 *   -7  (to the callback only) a read-back request could not be written
 *   -8  (to the callback only) a read-back reply did not come back whole
 *   -9  (burn) read-back data differ from the image
 *  -10  (BurnFirmware) the restart command could not be written
 *  -11  (burn) the device did not come back after the restart
 *  -12  (burn) playback or PPG photodiode sampling runs: stop it first (nothing is sent)
 *
 * Progress callback: called as callback(stage, value) on the thread that called the burn, while
 * the library holds the device link and its locks; it must return quickly and must not call
 * other functions of this library. Stages, in this order:
 *   1 erase, 2 write, 3 read back (verify): value is the progress in percent (0 .. 100; each
 *     stage ends with a call with 100); returning 1 from any of these calls cancels the burn,
 *     every other value goes on;
 *   4 with 99 just before the restart;
 *   5 with 100 while the library connects to the restarted device;
 *   6 at the end: 100 for success, or the negative result (a read-back failure first reports
 *     -7, -8 or -9, then the burn's result; BurnFirmware cancelled at a stage's closing 100
 *     ends without a stage-6 call). The return value of stages 4..6 is ignored.
 * The callback may be NULL: the burn then runs without reports and cannot be cancelled.
 *
 * A burn that fails or is cancelled before the restart leaves the device connected with its
 * flash partly erased or written (the image area only; the calibration data are not touched):
 * the library does not retry and does not restart the device. The image stays loaded, so the
 * burn can be run again. While the device restarts the library keeps the session: the
 * connection callback is not told of the expected disconnect, and before the burn returns the
 * device's records are read again and the connect-time steps (output relays, calibration
 * table, module data) are done again for the restarted device. When it does not come back
 * (-11), the session goes on searching as after an unplug (the callback is told false, then
 * true once the device is found again). An unplug during a burn ends it with -5 or -6.
 */

/* The progress callback of a burn: stage 1 .. 6 and its value (see above); return 1 during
 * stages 1 .. 3 to cancel the burn, anything else to go on. */
typedef int (*TOLV_BURN_PROGRESS_CALLBACK)(int stage, int value);

/*
 * Loads the simulator's firmware image from the file at path (UTF-8). The file must be at least
 * 122880 bytes long; only its first 122880 bytes are used. Offsets 118772 .. 118775 must hold
 * the mark "TOLV"; offsets 118776 .. 118779 hold the image's four version numbers, which are
 * stored in *first .. *fourth on success (a NULL pointer skips its number).
 * Replaces the firmware image loaded before; a failed load leaves none loaded.
 * Returns 122880; -1 cannot be opened; -2 missing, size unreadable or path NULL; -4 no memory;
 * -5 short read; -6 shorter than 122880 bytes or a wrong mark.
 */
TOLV_SERVICE_API int LoadFirmwareFile(const char* path, int* first, int* second, int* third,
                                      int* fourth);

/*
 * Burns the loaded firmware image into the simulator (storage channel 3, addresses 0 .. 102399
 * and 116736 .. 122879): erases the 1024-byte sectors, writes 48-byte chunks, reads them back
 * and compares; then restarts the simulator and connects to it again (up to 10 passes over every
 * port). The search begins once the port of the old firmware has hung up or its node has gone
 * (at most 2 s after the restart command), so that it cannot find the device again before its
 * restart. A read-back failure also prints one line to standard output:
 * "[ERROR] read/verify - write data failed (address: 0x%x)", "... read data failed ..." or
 * "... compare data failed ..." with the chunk's offset within its area.
 * Returns 0 (the device runs the new image and is connected again), or -1, -3, -5, -6, -9, -10,
 * -11, -12 (see above). Without a device, while playback or sampling runs, or without an image
 * it returns -3, -12 or -6 without calling the callback.
 */
TOLV_SERVICE_API int BurnFirmware(TOLV_BURN_PROGRESS_CALLBACK callback);

/*
 * Loads the image of the PPG module's microcontroller from the file at path (UTF-8): any length
 * from 118780 bytes up to 16 MiB (the loader's address space). Offsets 118772 .. 118775 must
 * hold the bytes 0x32 0x54 0x46 0x32 ("2TF2"); offsets 118776 .. 118779 hold the four version
 * numbers, stored in *first .. *fourth on success (a NULL pointer skips its number).
 * The image loaded before is released first; a failed load leaves none loaded.
 * Returns the file size; -1 cannot be opened; -2 missing, size unreadable or path NULL; -4 no
 * memory; -5 short read; -6 too short, larger than 16 MiB or a wrong mark.
 */
TOLV_SERVICE_API int LoadMcuFile(const char* path, int* first, int* second, int* third,
                                 int* fourth);

/*
 * Burns the loaded microcontroller image into the PPG module 0x2112: enters the loader, erases
 * every 1024-byte sector below the image size (100 ms each), writes 32-byte chunks from address
 * 0, reads back 52-byte chunks and compares; then restarts the microcontroller, waits 5 s,
 * closes the port, waits 1 s and connects again (up to 10 passes over every port). A burn that
 * ends with a negative result first leaves the loader (except after -11, when no port is left
 * to tell). The callback's last call is always stage 6: with 100 after a success (which stage 6
 * has then reported once already), else with the negative result (also after a cancel, a
 * refused loader and the checks below).
 * Returns 0, or -1, -3, -4, -5, -6, -9, -11, -12 (see above); -3 (no device), -12 and -6 (no
 * image) are reported to the callback as stage 6 before anything is sent.
 */
TOLV_SERVICE_API int BurnMcu(TOLV_BURN_PROGRESS_CALLBACK callback);

#ifdef __cplusplus
}
#endif

#endif /* TOLVAN_H */
