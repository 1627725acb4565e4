// Loaders of the column text, big-endian binary and AHA recordings, and their exported entry
// points.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/NoThrow.h"
#include "platform/Text.h"
#include "recordings/FileReading.h"
#include "recordings/Recording.h"
#include "recordings/RecordingApi.h"
#include "recordings/RecordingCodecs.h"
#include "session/Session.h"
#include "tolvan.h"

namespace {

constexpr double kTextMinRate = 100.0;
constexpr double kTextMaxRate = 40000.0;
constexpr unsigned kBinMinRate = 30;
constexpr unsigned kBinMaxRate = 5000;
constexpr std::int32_t kBinMaxCount = 20000000;
constexpr int kBinHeaderSize = 6;
constexpr double kAhaRate = 250.0;
constexpr double kAhaDivisor = 400.0;
constexpr int kAhaRecordSize = 5;
constexpr std::size_t kAhaLineSize = 256;  // 255 characters kept per line
constexpr std::size_t kChannelNameSize = 128;

// Start and length of the next field of `text` at `*p`, fields separated by runs of any
// character of `separators`. False when no field is left.
bool NextField(const char*& p, const char* separators, const char** start, std::size_t* length) {
    p += std::strspn(p, separators);
    if (*p == '\0') return false;
    *start = p;
    *length = std::strcspn(p, separators);
    p += *length;
    return true;
}

// Reads up to `wanted` whole elements of `size` bytes; returns how many were read. Stops at the
// end of the file.
template <typename Decode>
bool ReadRecords(std::FILE* file, std::size_t size, long long wanted, Decode decode) {
    std::vector<unsigned char> chunk(size * 8192);
    long long done = 0;
    while (done < wanted) {
        std::size_t n = static_cast<std::size_t>(std::min<long long>(wanted - done, 8192));
        std::size_t got = std::fread(chunk.data(), size, n, file);
        for (std::size_t i = 0; i < got; ++i) decode(chunk.data() + i * size);
        done += static_cast<long long>(got);
        if (got < n) break;
    }
    return true;
}

}  // namespace

double leadingNumber(const char* text) {
    return text == nullptr ? 0.0 : std::strtod(text, nullptr);
}

int leadingInteger(const char* text) {
    if (text == nullptr) return 0;
    long long v = std::strtoll(text, nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

namespace {

// Start and length of column `channel` of a data line of the text format; false when the line
// has fewer columns. Data lines are short and many: each comma is found with one strchr, which
// costs less per call than strspn and strcspn with their character sets.
bool FindTextRecordingField(const char* line, int channel, int channelCount, const char** start,
                            std::size_t* length) {
    if (line == nullptr || channel < 0 || channel >= channelCount) return false;
    const char* p = line;
    for (int i = 0;; ++i) {
        while (*p == ',') ++p;
        if (*p == '\0') return false;
        const char* comma = std::strchr(p, ',');
        const char* end = comma != nullptr ? comma : p + std::strlen(p);
        if (i == channel) {
            *start = p;
            *length = static_cast<std::size_t>(end - p);
            return true;
        }
        p = end;
    }
}

// A data line holding nothing but spaces, tabs and CRs.
bool IsBlankLine(const char* line) {
    while (*line == ' ' || *line == '\t' || *line == '\r') ++line;
    return *line == '\0';
}

}  // namespace

bool parseTextRecordingField(const char* line, int channel, int channelCount, double* value) {
    const char* start = nullptr;
    std::size_t length = 0;
    if (!FindTextRecordingField(line, channel, channelCount, &start, &length)) return false;
    std::string field(start, length);
    *value = std::strtod(field.c_str(), nullptr);
    return true;
}

bool takeTextRecordingField(char* line, int channel, int channelCount, double* value) {
    const char* start = nullptr;
    std::size_t length = 0;
    if (!FindTextRecordingField(line, channel, channelCount, &start, &length)) return false;
    char* field = line + (start - line);
    field[length] = '\0';  // the comma after the field, or the line's own end
    *value = std::strtod(field, nullptr);
    return true;
}

bool parseAhaTextLine(const char* line, int channel, double* value) {
    if (line == nullptr || (channel != 0 && channel != 1)) return false;
    const char* separators = ", \t\r\n";
    const char* p = line;
    const char* start[2] = {nullptr, nullptr};
    std::size_t length[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (!NextField(p, separators, &start[i], &length[i])) return false;
    }
    std::string field(start[channel], length[channel]);
    char* end = nullptr;
    double v = std::strtod(field.c_str(), &end);
    if (end == field.c_str() || *end != '\0' || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

// --- Column text --------------------------------------------------------------------------------

namespace {

struct TextHeader {
    double rate = 0.0;
    int count = 0;
    int channels = 0;
    std::string names;
};

// Reads and checks the four header lines; 0 or the loader's code -2 .. -5. Lines are read
// whole, whatever their length.
int ReadTextHeader(LineReader& reader, bool checkRateRange, TextHeader* header) {
    std::string line;
    if (!reader.Next(line)) return -2;
    header->rate = leadingNumber(line.c_str());
    if (header->rate == 0.0 || std::isnan(header->rate)) return -2;
    if (checkRateRange && !(header->rate >= kTextMinRate && header->rate <= kTextMaxRate))
        return -2;
    if (!reader.Next(line)) return -3;
    header->count = leadingInteger(line.c_str());
    if (header->count <= 0) return -3;
    if (!reader.Next(line)) return -4;
    header->channels = leadingInteger(line.c_str());
    if (header->channels <= 0) return -4;
    if (!reader.Next(line)) return -5;
    TrimLineEnd(line);
    header->names = std::move(line);
    return 0;
}

}  // namespace

int DoLoadECGtxt(const char* path, int channel) {
    long long fileSize = 0;
    FileHandle file = OpenRegularFileForReading(path, &fileSize);
    if (!file) return -1;
    LineReader reader(file.get());
    TextHeader header;
    if (int code = ReadTextHeader(reader, true, &header); code != 0) return code;
    if (channel < 0 || channel >= header.channels) return -7;

    // The header is sound: the old recording goes, and a failure from here on leaves none.
    InstallEmptyEcgRecording(header.rate);
    try {
        SampleVector samples;
        // Every sample needs a line of its own, so the file size bounds the count.
        samples.reserve(
            static_cast<std::size_t>(std::min<long long>(header.count, fileSize / 2 + 1)));
        BlockLineReader lines(file.get(), fileSize);
        while (static_cast<int>(samples.size()) < header.count) {
            char* line = lines.Next();
            if (line == nullptr) break;
            if (IsBlankLine(line)) continue;
            double value = 0.0;
            if (!takeTextRecordingField(line, channel, header.channels, &value)) return -7;
            samples.push_back(ClampMillivolts(value));
        }
        return InstallEcgSamples(std::move(samples), header.rate)->Count();
    } catch (const std::bad_alloc&) {
        return -6;
    }
}

int DoCheckECGTxtChannel(const char* path, char** names) {
    FileHandle file = OpenRegularFileForReading(path);
    if (!file) return -1;
    LineReader reader(file.get());
    TextHeader header;
    if (int code = ReadTextHeader(reader, false, &header); code != 0) return code;
    if (names != nullptr) {
        // Every buffer is made before any is handed over, so a failure leaks none.
        std::vector<std::unique_ptr<char[]>> made;
        const char* p = header.names.c_str();
        const char* start = nullptr;
        std::size_t length = 0;
        while (static_cast<int>(made.size()) < header.channels &&
               NextField(p, ",", &start, &length)) {
            length = std::min(length, kChannelNameSize - 1);
            made.emplace_back(new char[kChannelNameSize]);
            std::memcpy(made.back().get(), start, length);
            made.back()[length] = '\0';
        }
        for (int i = 0; i < header.channels; ++i) {
            names[i] = i < static_cast<int>(made.size())
                           ? made[static_cast<std::size_t>(i)].release()
                           : nullptr;  // no name for this column
        }
    }
    return header.channels;
}

// --- Big-endian binary ------------------------------------------------------------------------

int DoLoadECGBin(const char* path) {
    long long fileSize = 0;
    FileHandle file = OpenRegularFileForReading(path, &fileSize);
    if (!file) return -1;
    unsigned char head[kBinHeaderSize];
    std::size_t got = std::fread(head, 1, sizeof head, file.get());
    if (got < 2) return -2;
    unsigned rate = decodeBigEndianU16(head);
    if (rate < kBinMinRate || rate > kBinMaxRate) return -2;
    if (got < kBinHeaderSize) return -3;
    std::int32_t count = decodeBigEndianI32(head + 2);
    if (count < 1 || count > kBinMaxCount) return -3;

    InstallEmptyEcgRecording(rate);
    try {
        long long present = std::min<long long>(count, (fileSize - kBinHeaderSize) / 2);
        SampleVector samples;
        samples.reserve(static_cast<std::size_t>(std::max<long long>(present, 0)));
        ReadRecords(file.get(), 2, count, [&](const unsigned char* b) {
            samples.push_back(ClampMillivolts(decodeBigEndianI16(b) / 1000.0));
        });
        return InstallEcgSamples(std::move(samples), rate)->Count();
    } catch (const std::bad_alloc&) {
        return -4;
    }
}

// --- AHA --------------------------------------------------------------------------------------

int _DoLoadECGAHAtxt(const char* path, int channel) {
    unsigned char* raw = nullptr;
    unsigned int size = 0;
    if (GetFileSizeUtf8(path) < 0 || !ReadFileBinaryData(path, &raw, &size)) return -2;
    std::unique_ptr<unsigned char[]> text(raw);
    if (channel != 0 && channel != 1) return -3;

    InstallEmptyEcgRecording(kAhaRate);
    try {
        SampleVector samples;
        const unsigned char* cursor = text.get();
        const unsigned char* end = text.get() + size;
        char line[kAhaLineSize];
        while (ReadTextLine(cursor, end, line, sizeof line)) {
            double value = 0.0;
            if (parseAhaTextLine(line, channel, &value)) samples.push_back(value / kAhaDivisor);
        }
        if (samples.empty()) return -4;
        return InstallEcgSamples(std::move(samples), kAhaRate)->Count();
    } catch (const std::bad_alloc&) {
        return -5;
    }
}

int _DoLoadECGAHAecg(const char* path, int channel) {
    long long fileSize = 0;
    FileHandle file = OpenRegularFileForReading(path, &fileSize);
    if (!file) return -2;
    if (channel != 0 && channel != 1) return -3;
    long long count = fileSize / kAhaRecordSize;
    if (count == 0) return -4;

    InstallEmptyEcgRecording(kAhaRate);
    try {
        SampleVector samples;
        samples.reserve(static_cast<std::size_t>(count));
        ReadRecords(file.get(), kAhaRecordSize, count, [&](const unsigned char* record) {
            samples.push_back(decodeAhaEcgRecord(record, channel) / kAhaDivisor);
        });
        if (samples.empty()) return -4;
        return InstallEcgSamples(std::move(samples), kAhaRate)->Count();
    } catch (const std::bad_alloc&) {
        return -5;
    }
}

int DoLoadECGAHA(const char* path, int channel) {
    if (path == nullptr) return -1;
    std::size_t length = std::strlen(path);
    if (length < 4) return -1;
    const char* ending = path + length - 4;
    if (std::strcmp(ending, ".txt") == 0) return _DoLoadECGAHAtxt(path, channel);
    if (std::strcmp(ending, ".ecg") == 0) return _DoLoadECGAHAecg(path, channel);
    return -1;
}

// --- Exported entry points ----------------------------------------------------------------------

extern "C" {

TOLV_API int TOLVLoadECGtxt(const char* path, int channel) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadECGtxt(path, channel);
    } catch (...) {
        return -6;
    }
}

TOLV_SERVICE_API int CheckECGTxtChannel(const char* path, char** names) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoCheckECGTxtChannel(path, names);
    } catch (...) {
        return -1;
    }
}

TOLV_SERVICE_API void ReleaseECGTxtChannelNames(char** names, int count) {
    NoThrow(0, [&] {
        CAutoCriticalSection api(g_APICriticalSection);
        if (names == nullptr) return 0;
        for (int i = 0; i < count; ++i) {
            delete[] names[i];  // made with new char[] by DoCheckECGTxtChannel
            names[i] = nullptr;
        }
        return 0;
    });
}

TOLV_SERVICE_API int LoadECGBin(const char* path) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadECGBin(path);
    } catch (...) {
        return -4;
    }
}

TOLV_SERVICE_API int LoadECGAHA(const char* path, int channel) {
    try {
        CAutoCriticalSection api(g_APICriticalSection);
        return DoLoadECGAHA(path, channel);
    } catch (...) {
        return -5;
    }
}

}  // extern "C"
