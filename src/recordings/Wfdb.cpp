#include "recordings/Wfdb.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr double kDefaultGain = 200.0;

// Decimal integer conversion of a cell (as atoi, saturated): 0 for an empty cell.
int CellInteger(const std::string& text) {
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

// True when the text is an optionally signed decimal integer, nothing else.
bool ParseWholeInteger(const std::string& text, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

const std::string& EmptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

// --- HeaFile ------------------------------------------------------------------------------------

bool HeaFile::ValidLine(const char* line) {
    if (line == nullptr || line[0] == '#') return false;
    for (const char* p = line; *p != '\0'; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') return true;
    }
    return false;
}

std::vector<std::string> HeaFile::SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    while (true) {
        std::size_t space = line.find(' ', begin);
        if (space == std::string::npos) {
            fields.push_back(line.substr(begin));
            return fields;
        }
        fields.push_back(line.substr(begin, space - begin));
        begin = space + 1;
        if (fields.size() > static_cast<std::size_t>(kMaxFields))
            return fields;  // already too many
    }
}

void HeaFile::Clear() {
    for (auto& line : m_cells) {
        for (auto& cell : line) cell.clear();
    }
    for (auto& b : m_baseline) b.clear();
    m_lines = 0;
    m_valid = true;
}

bool HeaFile::AddLine(std::string line) {
    if (!m_valid) return false;
    TrimLineEnd(line);
    if (!ValidLine(line.c_str())) return true;
    if (m_lines >= kMaxLines) return m_valid = false;
    std::vector<std::string> fields = SplitFields(line);
    if (fields.size() < static_cast<std::size_t>(kMinFields) ||
        fields.size() > static_cast<std::size_t>(kMaxFields)) {
        return m_valid = false;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string& field = fields[i];
        std::size_t slash = field.rfind('/');
        if (slash != std::string::npos) field.erase(slash);
        std::size_t paren = field.rfind('(');
        if (paren != std::string::npos) {
            // Only the gain field's parentheses hold a baseline ("200(0)/mV").
            if (i == 2) {
                std::size_t close = field.find(')', paren + 1);
                m_baseline[m_lines] = field.substr(
                    paren + 1, close == std::string::npos ? std::string::npos : close - paren - 1);
            }
            field.erase(paren);
        }
        m_cells[m_lines][i] = std::move(field);
    }
    ++m_lines;
    return true;
}

bool HeaFile::Complete() const {
    if (!m_valid || m_lines < 2) return false;
    int signals = GetWavformlNum();
    return signals >= 1 && signals <= m_lines - 1;
}

bool HeaFile::OpenFile(const char* path) {
    Clear();
    FileHandle file = OpenRegularFileForReading(path);
    if (!file) return false;
    LineReader reader(file.get());
    std::string line;
    while (reader.Next(line)) {
        if (!AddLine(line)) return false;
    }
    return Complete();
}

const std::string& HeaFile::Cell(int line, int field) const {
    if (line < 0 || line > kMaxLines || field < 0 || field > kMaxFields) return EmptyText();
    return m_cells[line][field];
}

int HeaFile::GetWavformlNum() const {
    return CellInteger(Cell(0, 1));
}
int HeaFile::GetSampleRate() const {
    return CellInteger(Cell(0, 2));
}
int HeaFile::GetSampleNum() const {
    return CellInteger(Cell(0, 3));
}
int HeaFile::GetFormat() const {
    return GetFormat(1);
}
int HeaFile::GetFormat(int line) const {
    return CellInteger(Cell(line, 1));
}

int HeaFile::GetADCOffset(int line) const {
    if (line < 0 || line > kMaxLines) return 0;
    int baseline = 0;
    if (ParseWholeInteger(m_baseline[line], &baseline)) return baseline;
    return CellInteger(Cell(line, 4));
}

double HeaFile::GetADCGain(int line) const {
    const std::string& text = Cell(line, 2);
    double gain = std::strtod(text.c_str(), nullptr);
    if (gain == 0.0 || !std::isfinite(gain)) return kDefaultGain;
    return gain;
}

const char* HeaFile::GetSignalName(int line) const {
    return Cell(line, 8).c_str();
}

// --- DatFile ------------------------------------------------------------------------------------

bool DatFile::OpenFile(const char* path, const HeaFile& header) {
    m_file.reset();
    m_format = 0;
    m_maxCode = 32767;
    m_codeRange = 65536;
    long long size = 0;
    FileHandle file = OpenRegularFileForReading(path, &size);
    if (!file) return false;
    int signals = header.GetWavformlNum();
    int format = header.GetFormat();
    if (format != 212 && format != 16) return false;
    if (signals < 1 || signals > HeaFile::kMaxLines) return false;
    for (int i = 1; i <= signals; ++i) {
        // Every signal must share the first signal's file and format.
        if (header.GetFormat(i) != format || header.Cell(i, 0) != header.Cell(1, 0)) return false;
    }
    m_signalCount = signals;
    m_sampleRate = header.GetSampleRate();
    m_sampleCount = header.GetSampleNum();
    m_names.assign(static_cast<std::size_t>(signals), std::string());
    m_gains.assign(static_cast<std::size_t>(signals), kDefaultGain);
    m_baselines.assign(static_cast<std::size_t>(signals), 0);
    for (int i = 0; i < signals; ++i) {
        m_names[i] = header.GetSignalName(i + 1);
        m_gains[i] = header.GetADCGain(i + 1);
        m_baselines[i] = header.GetADCOffset(i + 1);
    }
    m_format = format;
    m_maxCode = format == 212 ? 2047 : 32767;
    m_codeRange = format == 212 ? 4096 : 65536;
    m_fileSize = size;
    m_file = std::move(file);
    return true;
}

double DatFile::Gain(int channel) const {
    return channel >= 0 && channel < m_signalCount ? m_gains[channel] : kDefaultGain;
}

int DatFile::Baseline(int channel) const {
    return channel >= 0 && channel < m_signalCount ? m_baselines[channel] : 0;
}

const std::string& DatFile::SignalName(int channel) const {
    return channel >= 0 && channel < m_signalCount ? m_names[channel] : EmptyText();
}

int DatFile::ReadChannel(int channel, double& maximum, double& minimum, SampleVector& values) {
    return ReadChannelValue(channel, 0, m_sampleCount, maximum, minimum, values);
}

int DatFile::ReadChannelValue(int channel, int start, int count, double& maximum, double& minimum,
                              SampleVector& values) {
    values.clear();
    maximum = std::numeric_limits<double>::lowest();
    minimum = std::numeric_limits<double>::max();
    if (!m_file || (m_format != 212 && m_format != 16)) return 0;
    if (channel < 0 || channel >= m_signalCount || start < 0 || count < 1) return 0;
    if (static_cast<long long>(start) + count > m_sampleCount) count = m_sampleCount - start;
    if (count < 1) return 0;

    // Samples of all signals present in the file, and the frames of them from `start` on.
    const bool packed = m_format == 212;
    const long long nsig = m_signalCount;
    const long long present =
        packed ? (m_fileSize / 3) * 2 + (m_fileSize % 3 == 2 ? 1 : 0) : m_fileSize / 2;
    const long long firstSample = nsig * start;
    const long long frames = std::min<long long>(count, (present - firstSample) / nsig);
    if (frames < 1) return 0;

    // The file is walked in blocks that begin on a byte: two frames in format 212 (their
    // 2 x nsig samples fill 3 x nsig bytes), one frame in format 16. The walk starts at the
    // block holding frame `start`; `skip` frames of that block come before it.
    const long long blockFrames = packed ? 2 : 1;
    const long long blockBytes = packed ? 3 * nsig : 2 * nsig;
    const long long skip = start % blockFrames;
    const long long walk = skip + frames;
    const long long offset = (start / blockFrames) * blockBytes;
    const long long wanted =
        std::min(m_fileSize - offset, (walk + blockFrames - 1) / blockFrames * blockBytes);
    if (!SeekFile(m_file.get(), offset)) return 0;

    values.resize(static_cast<std::size_t>(frames));
    double* out = values.data();  // walk frame f goes to out[f - skip]
    const double gain = m_gains[channel];
    const double baseline = m_baselines[channel];
    const int maxCode = m_maxCode;
    const int codeRange = m_codeRange;
    int lowCode = INT_MAX, highCode = INT_MIN;

    // Large sequential reads of whole blocks; each frame's sample is decoded, scaled and stored
    // in one step. The extremes are taken on the codes: the scaling is monotonic.
    const long long chunkBlocks = std::max<long long>(1, (256 << 10) / blockBytes);
    std::vector<unsigned char> chunk(static_cast<std::size_t>(chunkBlocks * blockBytes));
    long long done = 0;   // bytes of the walk read so far
    long long frame = 0;  // next walk frame
    while (frame < walk && done < wanted) {
        const std::size_t ask = static_cast<std::size_t>(
            std::min<long long>(static_cast<long long>(chunk.size()), wanted - done));
        const std::size_t got = std::fread(chunk.data(), 1, ask, m_file.get());
        // Frames of this chunk whose sample lies wholly in the bytes read (all of them unless the
        // file ended early).
        const long long chunkFirst = done / blockBytes * blockFrames;
        long long chunkEnd =
            std::min(walk, chunkFirst + static_cast<long long>(got) / blockBytes * blockFrames);
        if (got < static_cast<std::size_t>(blockBytes) * chunkBlocks || got < ask) {
            // The last chunk: count the frames of its trailing partial block too.
            while (chunkEnd < walk) {
                const long long s = (chunkEnd - chunkFirst) * nsig + channel;
                const long long last = packed ? (s / 2) * 3 + (s % 2 == 0 ? 1 : 2) : 2 * s + 1;
                if (last >= static_cast<long long>(got)) break;
                ++chunkEnd;
            }
        }
        const unsigned char* base = chunk.data();
        if (packed) {
            long long s = (std::max(frame, skip) - chunkFirst) * nsig + channel;
            for (long long f = std::max(frame, skip); f < chunkEnd; ++f, s += nsig) {
                const unsigned char* b = base + (s >> 1) * 3;
                int code = (s & 1) != 0 ? ((b[1] & 0xF0) << 4) | b[2] : ((b[1] & 0x0F) << 8) | b[0];
                if (code > maxCode) code -= codeRange;
                lowCode = std::min(lowCode, code);
                highCode = std::max(highCode, code);
                // In double: a baseline near the int limits must not overflow the difference.
                out[f - skip] = (static_cast<double>(code) - baseline) / gain;
            }
        } else {
            const long long first = std::max(frame, skip);
            const unsigned char* b = base + ((first - chunkFirst) * nsig + channel) * 2;
            const long long stride = 2 * nsig;
            for (long long f = first; f < chunkEnd; ++f, b += stride) {
                int code = b[0] | (b[1] << 8);
                if (code > maxCode) code -= codeRange;
                lowCode = std::min(lowCode, code);
                highCode = std::max(highCode, code);
                out[f - skip] = (static_cast<double>(code) - baseline) / gain;
            }
        }
        frame = std::max(frame, chunkEnd);
        done += static_cast<long long>(got);
        if (got < ask) break;  // the file shrank meanwhile
    }
    const long long decoded = std::max(0LL, frame - skip);
    values.resize(static_cast<std::size_t>(decoded));
    if (decoded > 0) {
        const double low = (static_cast<double>(lowCode) - baseline) / gain;
        const double high = (static_cast<double>(highCode) - baseline) / gain;
        maximum = std::max(low, high);
        minimum = std::min(low, high);
    }
    return static_cast<int>(decoded);
}
