#include "recordings/EdfFile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/Text.h"
#include "recordings/RecordingCodecs.h"

namespace {

constexpr int kFallbackDate = 20110101;
constexpr int kMaxSubfields = 64;

bool ReadDigits(const char* text, int digits, int* value) {
    int v = 0;
    for (int i = 0; i < digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

// Subfields of an identification field, split at white space, at most 64.
std::vector<std::string> Subfields(const std::string& field) {
    std::vector<char> text(field.begin(), field.end());
    text.push_back('\0');
    char* parts[kMaxSubfields];
    int n = ParseBySpace(text.data(), parts, kMaxSubfields);
    return std::vector<std::string>(parts, parts + n);
}

// The integer part of a numeric field: optional blanks, optional sign, at least one digit (the
// rest of the field is ignored, so "1.5" reads 1). False when there is no digit.
bool IntegerPart(const std::string& field, int* value) {
    const char* p = field.c_str();
    while (*p == ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    long long v = 0;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        v = std::min<long long>(v * 10 + (*p++ - '0'), INT_MAX);
    }
    *value = static_cast<int>(negative ? -v : v);
    return true;
}

// A limit field as a float; 0 when it does not read as a finite float.
float FloatField(const std::string& field) {
    double v = std::strtod(field.c_str(), nullptr);
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max()) return 0.0f;
    return static_cast<float>(v);
}

}  // namespace

int iMMMtoMonth(const char* text) {
    static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (text == nullptr || std::strlen(text) < 3) return 0;
    for (int m = 0; m < 12; ++m) {
        bool same = true;
        for (int i = 0; i < 3 && same; ++i) {
            same = std::toupper(static_cast<unsigned char>(text[i])) == kMonths[m][i];
        }
        if (same) return m + 1;
    }
    return 0;
}

int ParseDate(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) return kFallbackDate;
    int day = 0, month = 0, year = 0;
    bool haveDay = false, haveMonth = false, haveYear = false;
    const char* t = text;
    for (const char* p = pattern; *p != '\0';) {
        if (std::strncmp(p, "dd", 2) == 0) {
            if (!ReadDigits(t, 2, &day)) return kFallbackDate;
            haveDay = true, p += 2, t += 2;
        } else if (std::strncmp(p, "MMM", 3) == 0) {
            char name[4] = {0, 0, 0, 0};
            for (int i = 0; i < 3; ++i) {
                if (t[i] == '\0') return kFallbackDate;
                name[i] = t[i];
            }
            month = iMMMtoMonth(name);
            haveMonth = true, p += 3, t += 3;
        } else if (std::strncmp(p, "MM", 2) == 0) {
            if (!ReadDigits(t, 2, &month)) return kFallbackDate;
            haveMonth = true, p += 2, t += 2;
        } else if (std::strncmp(p, "yyyy", 4) == 0) {
            if (!ReadDigits(t, 4, &year)) return kFallbackDate;
            haveYear = true, p += 4, t += 4;
        } else if (std::strncmp(p, "yy", 2) == 0) {
            if (!ReadDigits(t, 2, &year)) return kFallbackDate;
            year += year <= 80 ? 2000 : (year <= 99 ? 1900 : 0);
            haveYear = true, p += 2, t += 2;
        } else {
            if (*t != *p) return kFallbackDate;
            ++p, ++t;
        }
    }
    if (!haveDay || !haveMonth || !haveYear) return kFallbackDate;
    if (day < 1 || day > 31 || month < 1 || month > 12) return kFallbackDate;
    return year * 10000 + month * 100 + day;
}

int ParseTime(const char* text, const char* pattern) {
    if (text == nullptr || pattern == nullptr) return 0;
    int hour = -1, minute = -1, second = -1;
    const char* t = text;
    for (const char* p = pattern; *p != '\0';) {
        int* target = nullptr;
        if (std::strncmp(p, "HH", 2) == 0) target = &hour;
        if (std::strncmp(p, "mm", 2) == 0) target = &minute;
        if (std::strncmp(p, "ss", 2) == 0) target = &second;
        if (target != nullptr) {
            if (!ReadDigits(t, 2, target)) return 0;
            p += 2, t += 2;
        } else {
            if (*t != *p) return 0;
            ++p, ++t;
        }
    }
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return 0;
    return hour * 10000 + minute * 100 + second;
}

double EdfMillivoltsPerUnit(const std::string& dimension) {
    constexpr double kMicrovolts = 0.001;
    std::string unit = dimension;
    for (char& c : unit) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');  // ASCII only
    }
    if (unit == "mv") return 1.0;
    if (unit == "v") return 1000.0;
    // "uv", the micro sign + "v" (UTF-8, Latin-1, Greek mu) and every unknown unit alike.
    return kMicrovolts;
}

bool EdfLocalPatientIdentification::Parse(const std::string& field) {
    std::vector<std::string> parts = Subfields(field);
    if (parts.size() < 4) return false;
    code = parts[0];
    sex = parts[1];
    birthDate = ParseDate(parts[2].c_str(), "dd-MMM-yyyy");
    name = parts[3];
    additional.assign(parts.begin() + 4, parts.end());
    return true;
}

bool EdfLocalRecordingIdentification::Parse(const std::string& field) {
    std::vector<std::string> parts = Subfields(field);
    if (parts.size() < 5) return false;
    std::string first = parts[0];
    for (char& c : first) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (first != "startdate") return false;
    startDate = ParseDate(parts[1].c_str(), "dd-MMM-yyyy");
    administrationCode = parts[2];
    technician = parts[3];
    equipment = parts[4];
    additional.assign(parts.begin() + 5, parts.end());
    return true;
}

double EdfSignal::AmplifierGain() const {
    return (static_cast<double>(physicalMaximum) - physicalMinimum) /
           (static_cast<double>(digitalMaximum) - digitalMinimum);
}

double EdfSignal::Offset() const {
    return physicalMaximum / AmplifierGain() - digitalMaximum;
}

double EdfSignal::PhysicalShift() const {
    return physicalMaximum - digitalMaximum * AmplifierGain();
}

double EdfSignal::ToPhysical(int digital) const {
    // (d + Offset) * gain, written so that a zero physical range stays finite.
    return digital * AmplifierGain() + PhysicalShift();
}

std::string EdfHeader::getFixedLengthCharArrayFromHeader(const char* header, int length, int offset,
                                                         bool trimRight) {
    std::string text(header + offset, static_cast<std::size_t>(length));
    std::size_t nul = text.find('\0');
    if (nul != std::string::npos) text.erase(nul);
    if (trimRight) {
        while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    return text;
}

bool EdfHeader::ParseHeader(int length, const char* header) {
    if (length != kFixedSize || header == nullptr) return false;
    int offset = 0;
    auto next = [&](int width, bool trim) {
        std::string s = getFixedLengthCharArrayFromHeader(header, width, offset, trim);
        offset += width;
        return s;
    };
    version = next(FixedLength_Version, true);
    if (!patient.Parse(next(FixedLength_LocalPatientIdentification, false))) return false;
    if (!recording.Parse(next(FixedLength_LocalRecordingIdentifiaction, false))) return false;
    startDate = ParseDate(next(FixedLength_StartDateEdf, true).c_str(), "dd.MM.yy");
    startTime = ParseTime(next(FixedLength_StartTimeEdf, true).c_str(), "HH.mm.ss");
    if (!IntegerPart(next(FixedLength_NumberOfBytes, true), &headerBytes) || headerBytes <= 0) {
        return false;
    }
    reserved = next(FixedLength_Reserved, true);
    if (!IntegerPart(next(FixedLength_NumberOfDataRecords, true), &numberOfDataRecords) ||
        numberOfDataRecords <= 0) {
        return false;  // -1, EDF+'s "unknown", included
    }
    if (!IntegerPart(next(FixedLength_DuraitonOfDataRecordInSeconds, true),
                     &durationOfDataRecord) ||
        durationOfDataRecord <= 0) {
        return false;
    }
    if (!IntegerPart(next(FixedLength_NumberOfSignalsInDataRecord, true), &numberOfSignals) ||
        numberOfSignals < 1 || numberOfSignals > kMaxSignals) {
        return false;
    }
    // Consistency: the data records start where the header says they do.
    return headerBytes == (numberOfSignals + 1) * kSignalHeaderSize;
}

bool EdfHeader::ParseSignals(int length, const char* block) {
    const int ns = numberOfSignals;
    if (ns < 1 || ns > kMaxSignals || block == nullptr || length != ns * kSignalHeaderSize) {
        return false;
    }
    // Field groups in file order: label, transducer, dimension, physical min/max, digital
    // min/max, prefiltering, samples per record (the reserved group is not read).
    static const int kWidths[] = {16, 80, 8, 8, 8, 8, 8, 80, 8};
    std::vector<EdfSignal> parsed(static_cast<std::size_t>(ns));
    int groupStart = 0;
    for (int field = 0; field < 9; ++field) {
        const int width = kWidths[field];
        for (int i = 0; i < ns; ++i) {
            EdfSignal& s = parsed[static_cast<std::size_t>(i)];
            std::string text =
                getFixedLengthCharArrayFromHeader(block, width, groupStart + i * width, true);
            switch (field) {
                case 0:
                    s.label = text;
                    break;
                case 1:
                    s.transducerType = text;
                    break;
                case 2:
                    s.physicalDimension = text;
                    break;
                case 3:
                    s.physicalMinimum = FloatField(text);
                    break;
                case 4:
                    s.physicalMaximum = FloatField(text);
                    break;
                case 5:
                    s.digitalMinimum = FloatField(text);
                    break;
                case 6:
                    s.digitalMaximum = FloatField(text);
                    break;
                case 7:
                    s.prefiltering = text;
                    break;
                default:
                    if (!IntegerPart(text, &s.samplesPerRecord) || s.samplesPerRecord < 1) {
                        return false;
                    }
            }
            s.index = i + 1;
        }
        groupStart += width * ns;
    }
    signals = std::move(parsed);
    return RecordBytes() <= kMaxRecordBytes;
}

long long EdfHeader::RecordBytes() const {
    long long bytes = 0;
    for (const EdfSignal& s : signals) bytes += 2LL * s.samplesPerRecord;
    return bytes;
}

int EdfFile::readFile(const char* path) {
    m_file.reset();
    m_header = EdfHeader();
    long long size = 0;
    FileHandle file = OpenRegularFileForReading(path, &size);
    if (!file) return -1;
    char fixed[EdfHeader::kFixedSize];
    if (std::fread(fixed, 1, sizeof fixed, file.get()) != sizeof fixed) return -2;
    if (!m_header.ParseHeader(sizeof fixed, fixed)) return -2;
    const int blockSize = m_header.numberOfSignals * EdfHeader::kSignalHeaderSize;
    std::vector<char> block(static_cast<std::size_t>(blockSize));
    if (std::fread(block.data(), 1, block.size(), file.get()) != block.size()) return -2;
    if (!m_header.ParseSignals(blockSize, block.data())) return -2;
    m_file = std::move(file);
    m_fileSize = size;
    return 0;
}

int EdfFile::signalExtent(int signal, SignalExtent& extent) const {
    if (!m_file || signal < 0 || signal >= static_cast<int>(m_header.signals.size())) return -1;
    const EdfSignal& chosen = m_header.signals[static_cast<std::size_t>(signal)];
    if (chosen.IsAnnotation()) return -1;
    if (chosen.digitalMaximum == chosen.digitalMinimum) return -2;

    extent.dataStart =
        static_cast<long long>(m_header.numberOfSignals + 1) * EdfHeader::kSignalHeaderSize;
    extent.recordBytes = m_header.RecordBytes();
    extent.signalOffset = 0;
    for (int i = 0; i < signal; ++i) {
        extent.signalOffset += 2LL * m_header.signals[i].samplesPerRecord;
    }
    extent.perRecord = chosen.samplesPerRecord;

    // Records really present, and the chosen signal's samples in a last, partial record.
    const long long dataBytes = std::max(0LL, m_fileSize - extent.dataStart);
    extent.fullRecords =
        std::min<long long>(m_header.numberOfDataRecords, dataBytes / extent.recordBytes);
    extent.tailSamples = 0;
    if (extent.fullRecords < m_header.numberOfDataRecords) {
        const long long rest =
            dataBytes - extent.fullRecords * extent.recordBytes - extent.signalOffset;
        extent.tailSamples = std::clamp(rest / 2, 0LL, extent.perRecord);
    }
    extent.count = extent.fullRecords * extent.perRecord + extent.tailSamples;
    return extent.count > INT_MAX ? -2 : 0;
}

int EdfFile::visitSignalSampleValues(int signal, const std::function<void(long long)>& reserve,
                                     const std::function<void(const float*, std::size_t)>& sink) {
    SignalExtent extent;
    if (int rc = signalExtent(signal, extent); rc != 0) return rc;
    const EdfSignal& chosen = m_header.signals[static_cast<std::size_t>(signal)];
    const long long dataStart = extent.dataStart;
    const long long recordBytes = extent.recordBytes;
    const long long signalOffset = extent.signalOffset;
    const long long perRecord = extent.perRecord;
    const long long fullRecords = extent.fullRecords;
    const long long count = extent.count;
    reserve(count);
    if (!SeekFile(m_file.get(), dataStart + signalOffset)) return 0;

    std::vector<unsigned char> raw(static_cast<std::size_t>(2 * perRecord));
    std::vector<float> physical(static_cast<std::size_t>(perRecord));
    const double gain = chosen.AmplifierGain();
    const double shift = chosen.PhysicalShift();
    const long long skip = recordBytes - 2 * perRecord;  // the other signals of a record
    long long done = 0;
    for (long long r = 0; r <= fullRecords && done < count; ++r) {
        const long long want = std::min(perRecord, count - done);
        if (r > 0 && skip > 0 && std::fseek(m_file.get(), static_cast<long>(skip), SEEK_CUR) != 0)
            break;
        std::size_t got = std::fread(raw.data(), 2, static_cast<std::size_t>(want), m_file.get());
        for (std::size_t i = 0; i < got; ++i) {
            physical[i] =
                static_cast<float>(decodeLittleEndianI16(raw.data() + 2 * i) * gain + shift);
        }
        sink(physical.data(), got);
        done += static_cast<long long>(got);
        if (got < static_cast<std::size_t>(want)) break;  // the file shrank meanwhile
    }
    return static_cast<int>(done);
}

int EdfFile::readSignalMillivolts(int signal, double millivoltsPerUnit, SampleVector& values) {
    values.clear();
    SignalExtent extent;
    if (int rc = signalExtent(signal, extent); rc != 0) return rc;
    const EdfSignal& chosen = m_header.signals[static_cast<std::size_t>(signal)];
    const long long dataStart = extent.dataStart;
    const long long recordBytes = extent.recordBytes;
    const long long signalOffset = extent.signalOffset;
    const long long perRecord = extent.perRecord;
    const long long fullRecords = extent.fullRecords;
    const long long tailSamples = extent.tailSamples;
    const long long count = extent.count;
    values.resize(static_cast<std::size_t>(count));
    if (count == 0 || !SeekFile(m_file.get(), dataStart)) {
        values.clear();
        return 0;
    }

    // Whole data records in large sequential reads; the chosen signal's samples of each are
    // decoded, scaled, converted and clamped in one step straight into the output.
    const double gain = chosen.AmplifierGain();
    const double shift = chosen.PhysicalShift();
    const long long records = fullRecords + (tailSamples > 0 ? 1 : 0);
    const long long wanted =
        fullRecords * recordBytes + (tailSamples > 0 ? signalOffset + 2 * tailSamples : 0);
    const long long chunkRecords = std::max<long long>(1, (256LL << 10) / recordBytes);
    std::vector<unsigned char> chunk(
        static_cast<std::size_t>(std::min(wanted, chunkRecords * recordBytes)));
    double* out = values.data();
    long long done = 0;    // samples stored
    long long record = 0;  // next record
    long long read = 0;    // bytes read
    while (record < records && read < wanted) {
        const std::size_t ask = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(chunk.size()), wanted - read));
        const std::size_t got = std::fread(chunk.data(), 1, ask, m_file.get());
        read += static_cast<long long>(got);
        bool shortened = false;
        for (long long at = 0; record < records && at < static_cast<long long>(got);
             ++record, at += recordBytes) {
            const long long want = std::min(perRecord, count - done);
            const long long present =
                std::clamp((static_cast<long long>(got) - at - signalOffset) / 2, 0LL, want);
            const unsigned char* raw = chunk.data() + at + signalOffset;
            double* to = out + done;
            for (long long i = 0; i < present; ++i) {
                const int d = decodeLittleEndianI16(raw + 2 * i);
                const float physical = static_cast<float>(d * gain + shift);
                to[i] = ClampMillivolts(physical * millivoltsPerUnit);
            }
            done += present;
            if (present < want) {
                shortened = true;  // the file ended or shrank meanwhile
                ++record;
                break;
            }
        }
        if (shortened || got < ask) break;
    }
    values.resize(static_cast<std::size_t>(done));
    return static_cast<int>(done);
}

int EdfFile::retrieveSignalSampleValues(int signal, std::vector<float>& values) {
    values.clear();
    return visitSignalSampleValues(
        signal, [&](long long n) { values.reserve(static_cast<std::size_t>(n)); },
        [&](const float* v, std::size_t n) { values.insert(values.end(), v, v + n); });
}
