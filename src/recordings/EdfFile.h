// Reader of EDF and EDF+ files: the fixed header, the signal headers and the samples of one
// signal as physical values. Free of session and API dependencies.
//
// EDF+C and EDF+D are not told apart: the data records are read one after another. A file
// shorter than its header declares yields the samples really present.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "recordings/FileReading.h"
#include "recordings/SampleVector.h"

// "dd-MMM-yyyy" or "dd.MM.yy" (two-digit years 0..80 are 20xx, 81..99 are 19xx) into
// yyyymmdd; 20110101 when the text does not follow the pattern or names no valid date.
int ParseDate(const char* text, const char* pattern);
// "HH.mm.ss" into hhmmss; 0 when the text does not follow the pattern or names no valid time.
int ParseTime(const char* text, const char* pattern);
// Three-letter English month name, any case, into 1 .. 12; 0 for anything else.
int iMMMtoMonth(const char* text);

// Millivolts per physical unit of a signal whose physical dimension field (trailing spaces
// removed) reads `dimension`, compared without regard to the case of ASCII letters: 0.001 for
// "uV" or the micro sign and "V" (micro sign as UTF-8 C2 B5, Latin-1 B5 or Greek mu CE BC),
// 1 for "mV", 1000 for "V". Anything else, the empty field included, is read as microvolts:
// 0.001.
double EdfMillivoltsPerUnit(const std::string& dimension);

// The EDF+ patient identification subfields (header bytes 8 .. 87).
struct EdfLocalPatientIdentification {
    std::string code;
    std::string sex;
    int birthDate = 20110101;  // yyyymmdd
    std::string name;
    std::vector<std::string> additional;

    // False when the field holds fewer than 4 subfields.
    bool Parse(const std::string& field);
};

// The EDF+ recording identification subfields (header bytes 88 .. 167).
struct EdfLocalRecordingIdentification {
    int startDate = 20110101;  // yyyymmdd
    std::string administrationCode;
    std::string technician;
    std::string equipment;
    std::vector<std::string> additional;

    // False when the field holds fewer than 5 subfields or does not begin with "Startdate".
    bool Parse(const std::string& field);
};

// One signal's header. Physical value = (digital + Offset()) * AmplifierGain().
struct EdfSignal {
    int index = 0;  // 1-based
    std::string label;
    std::string transducerType;
    std::string physicalDimension;
    float physicalMinimum = 0.0f;
    float physicalMaximum = 0.0f;
    float digitalMinimum = 0.0f;
    float digitalMaximum = 0.0f;
    std::string prefiltering;
    int samplesPerRecord = 0;

    double AmplifierGain() const;
    double Offset() const;
    // The physical value of digital 0, physical maximum - digital maximum x AmplifierGain(): a
    // digital value d is d x AmplifierGain() + PhysicalShift() (finite for a zero physical range).
    double PhysicalShift() const;
    // The physical value of a digital value; the digital maximum gives the physical maximum
    // and the digital minimum the physical minimum.
    double ToPhysical(int digital) const;
    // True for the EDF+ annotation signal.
    bool IsAnnotation() const { return label == "EDF Annotations"; }
};

class EdfHeader {
  public:
    static constexpr int FixedLength_Version = 8;
    static constexpr int FixedLength_LocalPatientIdentification = 80;
    static constexpr int FixedLength_LocalRecordingIdentifiaction = 80;
    static constexpr int FixedLength_StartDateEdf = 8;
    static constexpr int FixedLength_StartTimeEdf = 8;
    static constexpr int FixedLength_NumberOfBytes = 8;
    static constexpr int FixedLength_Reserved = 44;
    static constexpr int FixedLength_NumberOfDataRecords = 8;
    static constexpr int FixedLength_DuraitonOfDataRecordInSeconds = 8;
    static constexpr int FixedLength_NumberOfSignalsInDataRecord = 4;
    static constexpr int kFixedSize = 256;
    static constexpr int kSignalHeaderSize = 256;
    static constexpr int kMaxSignals = 256;
    // Largest data record the reader accepts (all signals together), bytes.
    static constexpr long long kMaxRecordBytes = 64LL << 20;

    // Parses the 256-byte fixed header, field by field in file order, then for consistency.
    // False unless length is 256, the identification fields have the EDF+ subfields, the
    // header byte count is (signals + 1) * 256, the record count and the record duration
    // (whole seconds, integer part) are at least 1 and the signal count lies in 1 .. 256.
    bool ParseHeader(int length, const char* header);
    // Parses the ns * 256 bytes of signal headers. False unless length is ns * 256 and every
    // samples-per-record field is an integer of at least 1, with a data record of at most
    // kMaxRecordBytes.
    bool ParseSignals(int length, const char* block);

    // `length` bytes at `offset` as text, trailing spaces removed when asked.
    static std::string getFixedLengthCharArrayFromHeader(const char* header, int length, int offset,
                                                         bool trimRight);

    std::string version;
    EdfLocalPatientIdentification patient;
    EdfLocalRecordingIdentification recording;
    int startDate = 20110101;  // yyyymmdd
    int startTime = 0;         // hhmmss
    int headerBytes = 0;
    std::string reserved;
    int numberOfDataRecords = 0;
    int durationOfDataRecord = 0;  // whole seconds
    int numberOfSignals = 0;
    std::vector<EdfSignal> signals;

    // Bytes of one data record (all signals).
    long long RecordBytes() const;
};

class EdfFile {
  public:
    EdfFile() = default;
    EdfFile(const EdfFile&) = delete;
    EdfFile& operator=(const EdfFile&) = delete;

    // Reads and parses the headers; keeps the file open. 0, -1 (cannot be opened) or -2 (short
    // read, or headers that do not parse).
    int readFile(const char* path);
    // The physical values of signal `signal` (0-based) in file order. Returns their count: the
    // declared samples, or fewer when the file ends early; -1 for the annotation signal or an
    // index outside the signals, -2 when the signal's digital limits are equal.
    int retrieveSignalSampleValues(int signal, std::vector<float>& values);
    // The same walk, handing the physical values to `sink` one data record at a time;
    // `reserve` is told the number of values first.
    int visitSignalSampleValues(int signal, const std::function<void(long long)>& reserve,
                                const std::function<void(const float*, std::size_t)>& sink);

    // The same samples in millivolts (physical value x millivoltsPerUnit, clamped as every
    // recording sample is), decoded in one pass straight into `values`; same results.
    int readSignalMillivolts(int signal, double millivoltsPerUnit, SampleVector& values);

    const EdfHeader& Header() const { return m_header; }

  private:
    // Where a signal's samples lie in the file, and how many of them are really present.
    struct SignalExtent {
        long long dataStart = 0;     // offset of the first data record
        long long recordBytes = 0;   // bytes of one data record
        long long signalOffset = 0;  // the signal's offset within a record
        long long perRecord = 0;     // the signal's samples per record
        long long fullRecords = 0;   // whole records present
        long long tailSamples = 0;   // the signal's samples in a last, partial record
        long long count = 0;         // samples present in all
    };
    // 0 with the extent filled; -1 no such signal (or an annotation signal, or no file); -2 a
    // signal without a digital range, or more samples than an int counts.
    int signalExtent(int signal, SignalExtent& extent) const;

    EdfHeader m_header;
    FileHandle m_file;
    long long m_fileSize = 0;
};
