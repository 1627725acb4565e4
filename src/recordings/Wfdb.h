// Reader of PhysioNet WFDB records: the header file (.hea) and a signal file (.dat) in storage
// format 212 or 16. Free of session and API dependencies, so that tools can reuse it.
//
// Supported: one signal file holding every signal of the record, all in the same format; no
// skew, no byte offsets. Physical value = (code - baseline) / gain, in the signal's units.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "recordings/FileReading.h"
#include "recordings/SampleVector.h"

// Two 12-bit codes packed in three bytes (format 212), before baseline and sign fold.
inline void decode212(const unsigned char* b, int* first, int* second) {
    *first = ((b[1] & 0x0F) << 8) | b[0];
    *second = ((b[1] & 0xF0) << 4) | b[2];
}

// One 16-bit little-endian code (format 16), before baseline and sign fold.
inline int decode16(const unsigned char* b) {
    return (b[1] << 8) | b[0];
}

// The header as a table of text cells: line 0 is the record line, line i the line of signal i.
class HeaFile {
  public:
    static constexpr int kMaxLines = 19;   // counted lines a header may hold
    static constexpr int kMaxFields = 19;  // fields a line may hold
    static constexpr int kMinFields = 4;

    HeaFile() = default;
    HeaFile(const HeaFile&) = delete;
    HeaFile& operator=(const HeaFile&) = delete;

    // Reads the header at the UTF-8 path. True when every counted line has 4 .. 19 fields,
    // there are 2 .. 19 counted lines, and the record line's signal count lies in 1 .. the
    // number of signal lines present.
    bool OpenFile(const char* path);

    // Incremental form of OpenFile, for text already in memory: Clear, AddLine for each line
    // (false once the header is invalid), then Complete.
    void Clear();
    bool AddLine(std::string line);
    bool Complete() const;

    // A line counts when it holds a character other than white space and does not begin with
    // "#".
    static bool ValidLine(const char* line);
    // Splits at every single space (two spaces make an empty field).
    static std::vector<std::string> SplitFields(const std::string& line);

    int LineCount() const { return m_lines; }
    // Cell text ("" when empty or out of range).
    const std::string& Cell(int line, int field) const;

    int GetWavformlNum() const;  // signal count (record line field 1)
    int GetSampleRate() const;   // integer Hz (record line field 2)
    int GetSampleNum() const;    // samples per signal (record line field 3)
    int GetFormat() const;       // storage format of signal line 1 (field 1)
    int GetFormat(int line) const;
    // Baseline of signal line `line`: the number in parentheses of its gain field when there is
    // one, else its ADC zero (field 4), else 0.
    int GetADCOffset(int line = 1) const;
    // Gain (ADC units per physical unit) of signal line `line`; 200 when missing, 0 or not a
    // finite number.
    double GetADCGain(int line) const;
    // Description (field 8) of signal line `line`; may be empty.
    const char* GetSignalName(int line) const;

  private:
    std::array<std::array<std::string, kMaxFields + 1>, kMaxLines + 1> m_cells{};
    std::array<std::string, kMaxLines + 1> m_baseline{};  // text in parentheses of the gain
    int m_lines = 0;
    bool m_valid = true;
};

// The signal file of a record, decoded one signal at a time.
class DatFile {
  public:
    DatFile() = default;
    DatFile(const DatFile&) = delete;
    DatFile& operator=(const DatFile&) = delete;

    // Opens the signal file and takes the layout from the header. False when the file cannot
    // be opened, the format of signal 1 is not 212 or 16, another signal has another format or
    // lies in another file.
    bool OpenFile(const char* path, const HeaFile& header);

    // Decodes the whole of signal `channel` into values (physical units). Returns the number of
    // frames decoded: the header's sample count, or fewer when the file ends early.
    int ReadChannel(int channel, double& maximum, double& minimum, SampleVector& values);
    // Decodes frames start .. start + count - 1 of signal `channel` (count cut to the header's
    // sample count and to the frames present in the file). values is replaced; maximum and
    // minimum receive the extremes (lowest()/max() when nothing was decoded). Returns the
    // number of frames decoded, 0 on any failure.
    int ReadChannelValue(int channel, int start, int count, double& maximum, double& minimum,
                         SampleVector& values);

    // code - code range when code > maximum code, else code.
    int Read2sCompliment(int code) const { return code > m_maxCode ? code - m_codeRange : code; }

    int SignalCount() const { return m_signalCount; }
    int SampleRate() const { return m_sampleRate; }
    int SampleCount() const { return m_sampleCount; }
    int Format() const { return m_format; }
    double Gain(int channel) const;
    int Baseline(int channel) const;
    const std::string& SignalName(int channel) const;

  private:
    int m_signalCount = 0;
    int m_sampleRate = 0;
    int m_sampleCount = 0;
    std::vector<std::string> m_names;
    FileHandle m_file;
    long long m_fileSize = 0;
    int m_format = 0;
    std::vector<int> m_baselines;
    std::vector<double> m_gains;
    int m_maxCode = 32767;
    int m_codeRange = 65536;
};
