// The tolvan command-line tool: shared declarations of its commands.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "records/RecordFiles.h"
#include "tolvan.h"

namespace cli {

// Exit codes of every command (documented in --help).
enum Exit : int {
    kOk = 0,
    kFailed = 1,       // the operation failed (a refused setting, a device error)
    kUsage = 2,        // bad command line
    kNoSimulator = 3,  // no simulator could be connected
    kFileError = 4,    // a file could not be read or written
};

// What a command works with: the port, and a virtual simulator started for the run.
struct Connection {
    int port = -1;
    unsigned timeoutMs = 5000;
    std::string vdevPreset;  // non-empty: start tolvan-vdev with this preset on a private node
    // With a virtual simulator: the files its decoded output goes to (CSV, .hea, .edf), with
    // the pacing markers it sees when vdevAnnotations, and the annotations of vdevMerge (a file
    // the command writes before it disconnects) merged in.
    std::vector<std::string> vdevCsv;
    bool vdevAnnotations = false;
    std::string vdevMerge;
    bool offline = false;  // no device: playback runs on the library's timer
};

// Starts the virtual simulator when asked, then connects (showing progress on a terminal).
// Returns kOk, or prints the reason and returns kNoSimulator.
int Connect(const Connection& connection);
// Frees the session and stops a virtual simulator started by Connect.
void Disconnect();
// Starts a session without a device (nothing is searched): setters work, playback runs on the
// library's timer and the offline renderer is free to run.
void StartOffline();

// The output function a name or number stands for, with the standard waveform it selects.
struct Selection {
    int function = -1;
    int wave = -1;     // 2-27 index, CAL index or 2-47 pattern, for functions 8, 9, 16
    std::string file;  // recording, for function 13
    // A .edf or .hea recording that TOLVLoadECGedf / TOLVLoadECGdat refuses is loaded again
    // with TOLVLoadECGedfEx / TOLVLoadECGWfdbRecord and these flags.
    int edfFlags = 0;   // TOLV_EDF_*
    int wfdbFlags = 0;  // TOLV_WFDB_*
    std::string label;  // for messages
};
// Parses FUNCTION of play/render: a name (sine, ecg, aami3a, cal20000, pattern2, ...), an
// output function number, or a recording file. False (with a message) when unknown.
bool ParseFunction(const std::string& text, Selection* selection, std::string* error);
// The names, for --help.
std::string FunctionNamesHelp();
// Applies the selection (loads the recording, selects the standard waveform). 0 or the failing
// call's code; *what names the call. A retry with an extension loader is printed.
int ApplySelection(const Selection& selection, int channel, std::string* what);

// Files: samples with their rate.
struct Trace {
    std::vector<double> millivolts;
    double rate = 0;
    std::string label;
};
// Reads a CSV written by render/play (time_s, mV), by tolvan-vdev --csv (sample, ac_mV; rate
// given) or an EDF file (signal `channel`).
bool ReadTrace(const std::string& path, double vdevRate, int channel, Trace* trace,
               std::string* error);
bool EndsWith(const std::string& text, const std::string& suffix);

// Ground truth: the library's events as annotations (see records::Annotation).
using records::Annotation;
// Labels ground-truth events: R waves as N (or / when a pacing pulse came within 0.3 s before;
// Q for beats found by the detector in a recorded table), pacing pulses (^ when no beat follows
// within 0.3 s, else "pacing pulse", which the .atr does not carry), apnoea as notes, PPG foot
// and peak as texts. sampleOf gives an event's sample (negative: left out). Sorted by time.
std::vector<Annotation> LabelTruth(const std::vector<TOLV_TRUTH_EVENT>& events,
                                   const std::function<long(double)>& sampleOf);
// Moves every queued ground-truth event of the library to the end of *events.
void DrainTruth(std::vector<TOLV_TRUTH_EVENT>* events);
// Writes a whole trace: FILE.hea (WFDB, format 16 or 212, the gain fitted to the signal),
// FILE.edf (EDF; EDF+ with annotations) or CSV, with the annotations when given.
bool WriteTrace(const std::string& path, const Trace& trace, int format,
                const std::vector<Annotation>* annotations, std::string* error);

// Plots: SVG, or PNG without any library.
bool WriteSvg(const std::string& path, const Trace& trace, int width, int height,
              std::string* error);
bool WritePng(const std::string& path, const Trace& trace, int width, int height,
              std::string* error);

int ListCommand(int argc, char** argv);
int InfoCommand(int argc, char** argv);
int PlayCommand(int argc, char** argv);
int RenderCommand(int argc, char** argv);
int PlotCommand(int argc, char** argv);
int UpdateCommand(int argc, char** argv);

}  // namespace cli
