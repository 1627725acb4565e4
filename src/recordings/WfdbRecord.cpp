#include "recordings/WfdbRecord.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "recordings/FileReading.h"

namespace {

// Limits that keep a hostile header from asking for absurd amounts of memory or work.
constexpr int kMaxSignals = 256;
constexpr int kMaxSegments = 100000;
constexpr int kMaxNesting = 1;  // a segment is a single-segment record
// Samples of one signal over all segments (about 14 h at 1000 Hz): a header that declares more
// (a gap of 10^16 samples, say) is refused instead of filled.
constexpr std::size_t kMaxSamples = 50000000;
constexpr double kDefaultGain = 200.0;
// Samples of one signal in a frame: enough for any real record (a few at most), small enough
// that a frame of every signal stays a modest stride.
constexpr int kMaxSamplesPerFrame = 1024;

struct SIGNAL_LINE {
    std::string file;
    int format = 0;
    long long offset = 0;  // bytes to skip at the start of the file
    int perFrame = 1;      // samples of this signal in each frame
    long long skew = 0;    // frames by which this signal lags the record's time
    double gain = kDefaultGain;
    int baseline = 0;
    int initial = 0;
    std::string description;
    bool ok = true;
};

struct HEADER {
    std::string name;
    int segments = 0;  // 0 for a single-segment record
    int signals = 0;
    double rate = 250.0;
    long long samples = -1;  // per signal, -1 when not given
    std::vector<SIGNAL_LINE> signalLines;
    std::vector<std::pair<std::string, long long>> segmentList;
};

std::vector<std::string> Fields(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string f; in >> f;) out.push_back(f);
    return out;
}

bool ParseInt(const std::string& text, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0') return false;
    *value = v;
    return true;
}

// "fmt[xN][:skew][+offset]". The samples per frame, skew and offset are read even for a format
// this reader does not decode (a layout segment's "0"), so that a record can name them there.
bool ParseFormat(const std::string& text, SIGNAL_LINE* sig) {
    std::string f = text;
    const std::size_t plus = f.find('+');
    if (plus != std::string::npos) {
        if (!ParseInt(f.substr(plus + 1), &sig->offset) || sig->offset < 0) return false;
        f = f.substr(0, plus);
    }
    const std::size_t colon = f.find(':');
    if (colon != std::string::npos) {
        if (!ParseInt(f.substr(colon + 1), &sig->skew) || sig->skew < 0 ||
            sig->skew > static_cast<long long>(kMaxSamples))
            return false;
        f = f.substr(0, colon);
    }
    const std::size_t x = f.find('x');
    if (x != std::string::npos) {
        long long n = 0;
        if (!ParseInt(f.substr(x + 1), &n) || n < 1 || n > kMaxSamplesPerFrame) return false;
        sig->perFrame = static_cast<int>(n);
        f = f.substr(0, x);
    }
    long long format = 0;
    if (!ParseInt(f, &format) || format < 0 || format > 1000) return false;
    sig->format = static_cast<int>(format);
    return WfdbFormatSupported(sig->format);
}

// "gain[(baseline)][/units]"
void ParseGain(const std::string& text, SIGNAL_LINE* sig, bool* haveBaseline) {
    std::string g = text.substr(0, text.find('/'));
    const std::size_t open = g.find('(');
    if (open != std::string::npos) {
        long long b = 0;
        const std::size_t close = g.find(')', open);
        if (close != std::string::npos && ParseInt(g.substr(open + 1, close - open - 1), &b)) {
            sig->baseline = static_cast<int>(b);
            *haveBaseline = true;
        }
        g = g.substr(0, open);
    }
    const double gain = std::atof(g.c_str());
    sig->gain = std::isfinite(gain) && gain != 0.0 ? gain : kDefaultGain;
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ReadHeader(const std::string& path, HEADER* h) {
    FileHandle file = OpenRegularFileForReading(path.c_str());
    if (!file) return false;
    LineReader reader(file.get());
    std::vector<std::vector<std::string>> lines;
    for (std::string line; reader.Next(line);) {
        TrimLineEnd(line);
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> f = Fields(line);
        if (!f.empty()) lines.push_back(std::move(f));
        if (lines.size() > static_cast<std::size_t>(kMaxSegments) + 2) return false;
    }
    if (lines.empty() || lines[0].size() < 2) return false;
    const std::vector<std::string>& record = lines[0];
    h->name = record[0];
    const std::size_t slash = h->name.find('/');
    long long value = 0;
    if (slash != std::string::npos) {
        if (!ParseInt(h->name.substr(slash + 1), &value) || value < 1 || value > kMaxSegments)
            return false;
        h->segments = static_cast<int>(value);
    }
    if (!ParseInt(record[1], &value) || value < 0 || value > kMaxSignals) return false;
    h->signals = static_cast<int>(value);
    if (record.size() > 2) {
        const std::string rate = record[2].substr(0, record[2].find_first_of("/("));
        char* end = nullptr;
        h->rate = std::strtod(rate.c_str(), &end);
        if (*end != '\0' || !std::isfinite(h->rate) || h->rate <= 0.0) return false;
    }
    if (record.size() > 3 && (!ParseInt(record[3], &h->samples) || h->samples < 0)) return false;
    std::size_t next = 1;
    if (h->segments > 0) {
        if (lines.size() < 1 + static_cast<std::size_t>(h->segments)) return false;
        for (int s = 0; s < h->segments; ++s, ++next) {
            const std::vector<std::string>& seg = lines[next];
            if (seg.size() < 2 || !ParseInt(seg[1], &value) || value < 0) return false;
            h->segmentList.emplace_back(seg[0], value);
        }
        return true;
    }
    if (lines.size() < next + static_cast<std::size_t>(h->signals)) return false;
    for (int s = 0; s < h->signals; ++s, ++next) {
        const std::vector<std::string>& f = lines[next];
        SIGNAL_LINE sig;
        sig.file = f[0];
        if (f.size() < 2 || !ParseFormat(f[1], &sig)) sig.ok = false;
        bool haveBaseline = false;
        if (f.size() > 2) ParseGain(f[2], &sig, &haveBaseline);
        long long v = 0;
        if (f.size() > 4 && !haveBaseline && ParseInt(f[4], &v)) sig.baseline = static_cast<int>(v);
        if (f.size() > 5 && ParseInt(f[5], &v)) sig.initial = static_cast<int>(v);
        for (std::size_t k = 8; k < f.size(); ++k) sig.description += (k > 8 ? " " : "") + f[k];
        h->signalLines.push_back(sig);
    }
    return true;
}

int SignExtend(int v, int bits) {
    const int sign = 1 << (bits - 1);
    return (v & (sign - 1)) - (v & sign);
}

// One signal of a single-segment record: every signal file of the record holds frames of the
// signals that name it, in the order of their lines, each signal with its samples per frame.
// Appends the signal's samples (sample n of a skewed signal comes from frame n + skew; frames
// past the end are not there) and gives its samples per frame.
int ReadSingle(const std::string& dir, const HEADER& h, int channel, std::vector<double>& out,
               int* perFrame) {
    if (channel < 0 || channel >= h.signals) return -3;
    const SIGNAL_LINE& sig = h.signalLines[static_cast<std::size_t>(channel)];
    if (!sig.ok || sig.file == "~" || sig.file.find('/') != std::string::npos) return -2;
    *perFrame = sig.perFrame;
    std::size_t width = 0, slot = 0;  // samples per frame of the file; the signal's first one
    std::vector<int> initial, slots;
    for (int s = 0; s < h.signals; ++s) {
        const SIGNAL_LINE& other = h.signalLines[static_cast<std::size_t>(s)];
        if (other.file != sig.file) continue;
        if (!other.ok || other.format != sig.format || other.offset != sig.offset) return -2;
        if (s == channel) slot = width;
        initial.push_back(other.initial);
        slots.push_back(other.perFrame);
        width += static_cast<std::size_t>(other.perFrame);
    }
    long long size = 0;
    FileHandle file = OpenRegularFileForReading((dir + sig.file).c_str(), &size);
    if (!file || size < sig.offset || !SeekFile(file.get(), sig.offset)) return -2;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size - sig.offset));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        return -2;
    // No format holds more than 8 samples in a byte: the frames the bytes can hold, and of them
    // those the record spans, the skewed signal reaching `skew` frames further.
    const std::size_t skew = static_cast<std::size_t>(sig.skew);
    std::size_t frames = bytes.size() * 8 / width + 1;
    if (h.samples >= 0 && static_cast<unsigned long long>(h.samples) + skew < frames)
        frames = static_cast<std::size_t>(h.samples) + skew;
    std::vector<int> stream;
    DecodeWfdbStream(sig.format, bytes.data(), bytes.size(), static_cast<int>(initial.size()),
                     initial, frames * width, stream, slots);
    frames = stream.size() / width;
    const std::size_t k = static_cast<std::size_t>(sig.perFrame);
    const std::size_t room = (kMaxSamples - std::min(kMaxSamples, out.size())) / k;
    const std::size_t kept = std::min(frames > skew ? frames - skew : 0, room);
    out.reserve(out.size() + kept * k);
    for (std::size_t f = skew; f < skew + kept; ++f)
        for (std::size_t i = 0; i < k; ++i)
            out.push_back((stream[f * width + slot + i] - sig.baseline) / sig.gain);
    return 0;
}

int ReadRecord(const std::string& path, int channel, WFDB_SIGNAL& out, int depth) {
    HEADER h;
    if (!ReadHeader(path, &h)) return -1;
    const std::string dir = Directory(path);
    int perFrame = 1;
    if (h.segments == 0) {
        const int rc = ReadSingle(dir, h, channel, out.values, &perFrame);
        out.rate = h.rate * perFrame;
        return rc;
    }
    if (depth >= kMaxNesting) return -1;
    if (channel < 0 || channel >= h.signals) return -3;
    // A layout segment (0 samples, first) names the signals; each segment then gives the signal
    // of the same description, or 0 mV when it has none. The signal's samples per frame come
    // from the layout ("0x4"), else from the first segment that holds it; every segment that
    // holds it must agree. Until they are known, the samples so far (gaps) count one a frame.
    std::string wanted;
    std::size_t first = 0;
    int known = 0;
    if (!h.segmentList.empty() && h.segmentList[0].second == 0 && h.segmentList[0].first != "~") {
        HEADER layout;
        if (!ReadHeader(dir + h.segmentList[0].first + ".hea", &layout) || layout.segments != 0 ||
            channel >= layout.signals)
            return -1;
        const SIGNAL_LINE& line = layout.signalLines[static_cast<std::size_t>(channel)];
        wanted = line.description;
        known = line.perFrame > 1 ? line.perFrame : 0;
        first = 1;
    }
    for (std::size_t s = first; s < h.segmentList.size(); ++s) {
        const auto& [name, frames] = h.segmentList[s];
        HEADER seg;
        int c = -1;
        if (name != "~") {
            if (name.find('/') != std::string::npos) return -1;
            if (!ReadHeader(dir + name + ".hea", &seg) || seg.segments != 0) return -1;
            c = channel;
            if (!wanted.empty()) {
                c = -1;
                for (int n = 0; n < seg.signals; ++n)
                    if (seg.signalLines[static_cast<std::size_t>(n)].description == wanted) c = n;
            }
        }
        if (c >= 0 && c < seg.signals) {
            const int k = seg.signalLines[static_cast<std::size_t>(c)].perFrame;
            if (known == 0) {
                // The gaps so far were counted one sample a frame: they are k times as long.
                if (out.values.size() > kMaxSamples / static_cast<std::size_t>(k)) return -1;
                out.values.assign(out.values.size() * static_cast<std::size_t>(k), 0.0);
                known = k;
            } else if (k != known) {
                return -2;
            }
        }
        const std::size_t k = static_cast<std::size_t>(std::max(known, 1));
        const std::size_t before = out.values.size();
        if (static_cast<unsigned long long>(frames) > (kMaxSamples - before) / k) return -1;
        if (c >= 0) {
            const int rc = ReadSingle(dir, seg, c, out.values, &perFrame);
            if (rc != 0) return rc;
        }
        // Every segment lasts as long as the master header says.
        out.values.resize(before + static_cast<std::size_t>(frames) * k, 0.0);
    }
    out.rate = h.rate * std::max(known, 1);
    return 0;
}

}  // namespace

bool WfdbFormatSupported(int format) {
    switch (format) {
        case 8:
        case 16:
        case 61:
        case 80:
        case 160:
        case 212:
        case 310:
        case 311:
            return true;
        default:
            return false;
    }
}

std::size_t DecodeWfdbStream(int format, const unsigned char* b, std::size_t size, int signals,
                             const std::vector<int>& initial, std::size_t count,
                             std::vector<int>& out, const std::vector<int>& perFrame) {
    out.clear();
    if (b == nullptr || signals < 1) return 0;
    auto word = [&](std::size_t i) { return b[i] | (b[i + 1] << 8); };
    switch (format) {
        case 8: {
            // Each sample is the difference from its signal's previous sample: every slot of a
            // frame adds to the level of the signal that owns it.
            std::vector<int> level(static_cast<std::size_t>(signals), 0);
            for (std::size_t s = 0; s < level.size() && s < initial.size(); ++s)
                level[s] = initial[s];
            std::vector<std::size_t> owner;
            for (std::size_t s = 0; s < level.size(); ++s) {
                const int k = s < perFrame.size() ? perFrame[s] : 1;
                owner.insert(owner.end(), static_cast<std::size_t>(std::max(k, 1)), s);
            }
            for (std::size_t i = 0; i < size && out.size() < count; ++i) {
                int& v = level[owner[i % owner.size()]];
                v += static_cast<signed char>(b[i]);
                out.push_back(v);
            }
            break;
        }
        case 16:
        case 61:
        case 160:
            for (std::size_t i = 0; i + 1 < size && out.size() < count; i += 2) {
                const int w = format == 61 ? (b[i] << 8) | b[i + 1] : word(i);
                out.push_back(format == 160 ? w - 32768 : SignExtend(w, 16));
            }
            break;
        case 80:
            for (std::size_t i = 0; i < size && out.size() < count; ++i) out.push_back(b[i] - 128);
            break;
        case 212:
            for (std::size_t i = 0; i + 2 < size && out.size() < count; i += 3) {
                out.push_back(SignExtend(((b[i + 1] & 0x0F) << 8) | b[i], 12));
                if (out.size() < count)
                    out.push_back(SignExtend(((b[i + 1] & 0xF0) << 4) | b[i + 2], 12));
            }
            break;
        case 310:
            for (std::size_t i = 0; i + 3 < size && out.size() < count; i += 4) {
                const int w0 = word(i), w1 = word(i + 2);
                const int three[3] = {(w0 >> 1) & 0x3FF, (w1 >> 1) & 0x3FF,
                                      ((w0 >> 11) & 0x1F) | (((w1 >> 11) & 0x1F) << 5)};
                for (int v : three)
                    if (out.size() < count) out.push_back(SignExtend(v, 10));
            }
            break;
        case 311:
            for (std::size_t i = 0; i + 3 < size && out.size() < count; i += 4) {
                const unsigned long w = static_cast<unsigned long>(word(i)) |
                                        static_cast<unsigned long>(word(i + 2)) << 16;
                for (int k = 0; k < 3; ++k)
                    if (out.size() < count)
                        out.push_back(SignExtend(static_cast<int>((w >> (10 * k)) & 0x3FF), 10));
            }
            break;
        default:
            break;
    }
    return out.size();
}

int ReadWfdbRecordSignal(const std::string& headerPath, int channel, WFDB_SIGNAL& out) {
    out = WFDB_SIGNAL{};
    const int rc = ReadRecord(headerPath, channel, out, 0);
    if (rc != 0) return rc;
    return out.values.empty() ? -4 : 0;
}
