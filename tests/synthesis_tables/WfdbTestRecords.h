// Writes small WFDB records (header and format 16 or 212 signal file) for the data pipeline
// tests, and decodes the published records independently of the library's reader.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace wfdbtest {

// One signal's header fields.
struct SignalFields {
    std::string gain = "200";  // gain field as written, e.g. "80", "0", "100(5)/mV"
    int adcZero = 0;
};

// Writes <dir>/<name>.hea and <dir>/<name>.dat. samples[s][i] is code i of signal s (all of
// the same length), written as format 16 (little-endian 16-bit) or 212.
inline bool WriteRecord(const std::string& dir, const std::string& name, int rate, int format,
                        const std::vector<SignalFields>& fields,
                        const std::vector<std::vector<int>>& samples) {
    const std::size_t n = samples.empty() ? 0 : samples[0].size();
    std::ofstream hea(dir + "/" + name + ".hea");
    hea << name << " " << samples.size() << " " << rate << " " << n << "\n";
    for (std::size_t s = 0; s < samples.size(); ++s) {
        hea << name << ".dat " << format << " " << fields[s].gain << " 12 " << fields[s].adcZero
            << " " << (n > 0 ? samples[s][0] : 0) << " 0 0 sig" << s << "\n";
    }
    if (!hea) return false;
    std::vector<unsigned char> bytes;
    std::vector<int> interleaved;
    for (std::size_t i = 0; i < n; ++i) {
        for (const auto& signal : samples) interleaved.push_back(signal[i]);
    }
    if (format == 16) {
        for (int v : interleaved) {
            const unsigned u = static_cast<unsigned>(v) & 0xFFFFu;
            bytes.push_back(static_cast<unsigned char>(u & 0xFF));
            bytes.push_back(static_cast<unsigned char>(u >> 8));
        }
    } else {
        for (std::size_t i = 0; i < interleaved.size(); i += 2) {
            const unsigned a = static_cast<unsigned>(interleaved[i]) & 0xFFFu;
            const unsigned b =
                i + 1 < interleaved.size() ? static_cast<unsigned>(interleaved[i + 1]) & 0xFFFu : 0;
            bytes.push_back(static_cast<unsigned char>(a & 0xFF));
            bytes.push_back(static_cast<unsigned char>(((a >> 8) & 0x0F) | ((b >> 4) & 0xF0)));
            if (i + 1 < interleaved.size()) bytes.push_back(static_cast<unsigned char>(b & 0xFF));
        }
    }
    std::ofstream dat(dir + "/" + name + ".dat", std::ios::binary);
    dat.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(dat);
}

inline std::vector<unsigned char> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

// A published record decoded by hand: the header's sample count, and signal 0 in microvolts,
// round(1000 * (code - adc zero) / gain) with halves away from zero.
struct Decoded {
    bool ok = false;
    int rate = 0;
    int count = 0;
    std::vector<std::int32_t> uv;
};

inline Decoded DecodeSignal0(const std::string& dir, const std::string& name) {
    Decoded d;
    std::ifstream hea(dir + "/" + name + ".hea");
    std::string line;
    if (!std::getline(hea, line)) return d;
    std::istringstream record(line);
    std::string recordName;
    int signals = 0;
    record >> recordName >> signals >> d.rate >> d.count;
    if (!std::getline(hea, line)) return d;
    std::istringstream sig(line);
    std::string file;
    int format = 0;
    double gain = 0;
    int bits = 0;
    int zero = 0;
    sig >> file >> format >> gain >> bits >> zero;
    if (gain == 0) gain = 200;
    const std::vector<unsigned char> bytes = ReadBytes(dir + "/" + file);
    std::vector<int> codes;
    if (format == 16) {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            codes.push_back(static_cast<std::int16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
    } else if (format == 212) {
        for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
            int a = bytes[i] | ((bytes[i + 1] & 0x0F) << 8);
            int b = bytes[i + 2] | ((bytes[i + 1] & 0xF0) << 4);
            codes.push_back(a >= 2048 ? a - 4096 : a);
            codes.push_back(b >= 2048 ? b - 4096 : b);
        }
    } else {
        return d;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(d.count); ++i) {
        const std::size_t k = i * static_cast<std::size_t>(signals);
        if (k >= codes.size()) return d;
        d.uv.push_back(static_cast<std::int32_t>(std::llround(1000.0 * (codes[k] - zero) / gain)));
    }
    d.ok = true;
    return d;
}

}  // namespace wfdbtest
