// Signal files with their annotations, written one sample at a time: CSV (time_s,mV), WFDB
// records (NAME.hea, NAME.dat in format 16 or 212, NAME.atr) and EDF (EDF+C with an annotation
// signal when annotations are wanted). Used by the command-line tool and the virtual device.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace records {

// MIT annotation codes (WFDB ecgcodes.h) used here.
constexpr int kNormal = 1;        // N
constexpr int kPaced = 12;        // '/', a paced beat
constexpr int kUnknownBeat = 13;  // Q, a beat whose class is not known
constexpr int kNote = 22;         // '"', a comment carried in the aux text
constexpr int kPacerSpike = 39;   // '^', a pacemaker pulse

// One annotation: its time, the sample it is written at and how it is written.
struct Annotation {
    double time = 0;  // s
    long sample = 0;
    int code = 0;      // MIT code; 0 for an annotation that the .atr does not carry
    std::string text;  // EDF+ and CSV text (N, /, ^, pacing pulse, apnoea start, ...)
};

enum class Kind { kCsv, kWfdb, kEdf };
// .hea writes a WFDB record, .edf EDF, any other name CSV (the case of the extension does not
// matter).
Kind KindOf(const std::string& path);
// Where the annotations of a CSV file go: NAME.annotations.csv for NAME.csv (or NAME).
std::string AnnotationCsvPath(const std::string& path);
// WFDB gain (ADC units per mV) for a signal whose largest magnitude is peak: 1 uV (format 16)
// or 5 uV (212) resolution, less when the signal would not fit; 0 when it cannot fit at all.
double WfdbGain(double peak, int format);

struct WriterOptions {
    double rate = 0;           // samples per second (EDF: a whole number)
    std::string label;         // signal description (EDF label, .hea description)
    int format = 16;           // WFDB storage format, 16 or 212
    double gain = 1000;        // WFDB ADC units per mV
    bool annotations = false;  // also NAME.atr, EDF+ or NAME.annotations.csv
    std::string comment;       // a "# " line of the .hea
};

// Writes one signal in mV as it comes. WFDB streams NAME.dat and writes NAME.hea (and NAME.atr)
// when finished; EDF keeps the samples in a temporary file and writes the whole file when
// finished (its header holds the range and the annotation signal's size); CSV streams lines.
// WFDB samples beyond the format's range are clipped to it (-32768 and -2048, the invalid-
// sample codes, are never written) and counted.
class SignalWriter {
  public:
    SignalWriter() = default;
    ~SignalWriter();
    SignalWriter(const SignalWriter&) = delete;
    SignalWriter& operator=(const SignalWriter&) = delete;

    // Creates the file(s). False with *error when they cannot be created or the options do not
    // fit the kind (no rate, a format other than 16 or 212, a gain below 1, EDF at a rate that
    // is not whole).
    bool Open(const std::string& path, const WriterOptions& options, std::string* error);
    bool IsOpen() const { return m_open; }
    // Sets the sample rate before the first sample (a rate known only once the signal comes);
    // false with *error when a sample was written already or the rate does not fit the kind.
    bool SetRate(double rate, std::string* error);
    void Append(double millivolts);
    std::size_t Count() const { return m_count; }
    std::size_t Clipped() const { return m_clipped; }
    // Completes the files, with the annotations when asked for in Open (in any order; those
    // whose sample lies outside the signal are left out, as are annotations without a code from
    // the .atr). False with *error on a write failure or when no sample was written (the
    // unfinished files are then removed).
    bool Finish(const std::vector<Annotation>& annotations, std::string* error);

  private:
    void Discard();
    bool FinishWfdb(const std::vector<Annotation>& annotations, std::string* error);
    bool FinishEdf(const std::vector<Annotation>& annotations, std::string* error);

    bool m_open = false;
    Kind m_kind = Kind::kCsv;
    std::string m_path;  // the file named (NAME.hea for WFDB)
    std::string m_base;  // WFDB: the path without .hea
    WriterOptions m_options;
    std::FILE* m_file = nullptr;  // .dat, CSV, or the EDF sample spool
    std::size_t m_count = 0;
    std::size_t m_clipped = 0;
    int m_first = 0;
    int m_checksum = 0;
    int m_pending = 0;  // format 212: the first sample of an unfinished pair
    double m_low = 0, m_high = 0;
};

// time_s,sample,annotation,mit_code per annotation.
bool WriteAnnotationCsv(const std::string& path, const std::vector<Annotation>& annotations,
                        std::string* error);
// Reads what WriteAnnotationCsv wrote (a missing mit_code column reads as 0).
bool ReadAnnotationCsv(const std::string& path, std::vector<Annotation>* annotations,
                       std::string* error);

// EDF header pieces: a field padded with spaces to its width (cut when longer), a number that
// fits its width.
std::string Field(const std::string& text, std::size_t width);
std::string Number(double value, std::size_t width);

}  // namespace records
