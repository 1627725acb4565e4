// The tolvan command-line tool: shared declarations of its commands.
#pragma once

#include <string>
#include <vector>

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
    std::string vdevCsv;     // with a virtual simulator: its decoded output goes to this CSV
    bool offline = false;    // no device: playback runs on the library's timer
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
    int wave = -1;      // 2-27 index, CAL index or 2-47 pattern, for functions 8, 9, 16
    std::string file;   // recording, for function 13
    std::string label;  // for messages
};
// Parses FUNCTION of play/render: a name (sine, ecg, aami3a, cal20000, pattern2, ...), an
// output function number, or a recording file. False (with a message) when unknown.
bool ParseFunction(const std::string& text, Selection* selection, std::string* error);
// The names, for --help.
std::string FunctionNamesHelp();
// Applies the selection (loads the recording, selects the standard waveform). 0 or the failing
// call's code; *what names the call.
int ApplySelection(const Selection& selection, int channel, std::string* what);

// Files: samples with their rate.
struct Trace {
    std::vector<double> millivolts;
    double rate = 0;
    std::string label;
};
bool WriteCsv(const std::string& path, const Trace& trace, std::string* error);
bool WriteEdf(const std::string& path, const Trace& trace, std::string* error);
// EDF header pieces: a field padded with spaces to its width (cut when longer), a number that
// fits its width.
std::string Field(const std::string& text, std::size_t width);
std::string Number(double value, std::size_t width);
// The physical range of the trace (widened when flat) and the header's first five fields:
// version, patient, recording with today's start date, start date and start time.
std::string EdfHeaderStart(const Trace& trace, double* low, double* high);
// Reads a CSV written by render/play (time_s, mV), by tolvan-vdev --csv (sample, ac_mV; rate
// given) or an EDF file (signal `channel`).
bool ReadTrace(const std::string& path, double vdevRate, int channel, Trace* trace,
               std::string* error);
bool EndsWith(const std::string& text, const std::string& suffix);

// Ground truth of a render, at the sample nearest to each event.
struct Annotation {
    double time = 0;  // play time, s
    long sample = 0;
    int code = 0;      // MIT annotation code; 0 for an event that the .atr does not carry
    std::string text;  // EDF+ and CSV text (N, /, ^, pacing pulse, apnoea start, ...)
};
// Takes the library's queued ground truth: R waves as N (or / when a pacing pulse came within
// 0.3 s before), pacing pulses (^ when no beat follows within 0.3 s), apnoea as notes; events
// outside the samples are dropped. Sorted by time.
std::vector<Annotation> CollectAnnotations(double rate, std::size_t samples);
// NAME.hea + NAME.dat (format 16 or 212, one signal in mV) and, with annotations, NAME.atr.
bool WriteWfdb(const std::string& path, const Trace& trace, int format,
               const std::vector<Annotation>* annotations, std::string* error);
// EDF+C with the signal and an annotation signal.
bool WriteEdfPlus(const std::string& path, const Trace& trace,
                  const std::vector<Annotation>& annotations, std::string* error);
bool WriteAnnotationCsv(const std::string& path, const std::vector<Annotation>& annotations,
                        std::string* error);

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
