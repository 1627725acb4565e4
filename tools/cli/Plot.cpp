// Plots of a trace: SVG text, or a PNG written without any image library (stored deflate
// blocks; the image is small).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Cli.h"

namespace cli {
namespace {

constexpr int kMargin = 40;

// Per pixel column the minimum and maximum of the samples that fall into it, so that narrow
// peaks (R waves, pacing spikes) survive the decimation.
struct Columns {
    std::vector<double> low, high;
    double minimum = 0, maximum = 0;
};

Columns Decimate(const Trace& trace, int width) {
    Columns c;
    const auto n = trace.millivolts.size();
    const auto w = static_cast<std::size_t>(width);
    c.low.assign(w, 0);
    c.high.assign(w, 0);
    if (n == 0) return c;
    c.minimum = *std::min_element(trace.millivolts.begin(), trace.millivolts.end());
    c.maximum = *std::max_element(trace.millivolts.begin(), trace.millivolts.end());
    if (c.maximum - c.minimum < 1e-6) {
        c.minimum -= 0.5;
        c.maximum += 0.5;
    }
    for (std::size_t x = 0; x < w; ++x) {
        std::size_t from = x * n / w, to = std::max(from + 1, (x + 1) * n / w);
        to = std::min(to, n);
        from = std::min(from, n - 1);
        const auto [lo, hi] =
            std::minmax_element(trace.millivolts.begin() + static_cast<long>(from),
                                trace.millivolts.begin() + static_cast<long>(to));
        c.low[x] = *lo;
        c.high[x] = *hi;
    }
    return c;
}

// Pixel row of a value in the plot area (top = maximum).
int Row(const Columns& c, double v, int height) {
    const double span = height - 2 * kMargin;
    return kMargin +
           static_cast<int>(std::lround((c.maximum - v) / (c.maximum - c.minimum) * span));
}

std::string Caption(const Trace& trace, const Columns& c) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: %.2f s at %.0f samples/s, %.3f .. %.3f mV",
                  trace.label.c_str(), static_cast<double>(trace.millivolts.size()) / trace.rate,
                  trace.rate, c.minimum, c.maximum);
    return text;
}

std::uint32_t Crc(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t v = i;
            for (int k = 0; k < 8; ++k) v = (v & 1) ? 0xEDB88320u ^ (v >> 1) : v >> 1;
            t[i] = v;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char* type,
           const std::vector<std::uint8_t>& data) {
    Put32(png, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    Put32(png, Crc(body.data(), body.size()));
}

// zlib stream of stored (uncompressed) deflate blocks.
std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
        z.push_back(at + n == raw.size() ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n & 0xff));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n & 0xff));
        z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xff));
        z.insert(z.end(), raw.begin() + static_cast<long>(at),
                 raw.begin() + static_cast<long>(at + n));
        at += n;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    Put32(z, (b << 16) | a);
    return z;
}

}  // namespace

bool WriteSvg(const std::string& path, const Trace& trace, int width, int height,
              std::string* error) {
    const int plotWidth = width - 2 * kMargin;
    const Columns c = Decimate(trace, plotWidth);
    std::ofstream out(path);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    if (c.minimum < 0 && c.maximum > 0) {
        const int y = Row(c, 0, height);
        out << "<line x1=\"" << kMargin << "\" y1=\"" << y << "\" x2=\"" << width - kMargin
            << "\" y2=\"" << y << "\" stroke=\"#bbbbbb\"/>\n";
    }
    out << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"1\" points=\"";
    for (int x = 0; x < plotWidth; ++x) {
        const auto i = static_cast<std::size_t>(x);
        out << kMargin + x << ',' << Row(c, c.high[i], height) << ' ' << kMargin + x << ','
            << Row(c, c.low[i], height) << ' ';
    }
    std::string caption = Caption(trace, c);
    for (auto [from, to] :
         {std::pair<char, const char*>{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}}) {
        for (std::size_t at = 0; (at = caption.find(from, at)) != std::string::npos; at += 4) {
            caption.replace(at, 1, to);
        }
    }
    out << "\"/>\n<text x=\"" << kMargin << "\" y=\"" << height - 12
        << "\" font-family=\"sans-serif\" font-size=\"13\">" << caption << "</text>\n</svg>\n";
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WritePng(const std::string& path, const Trace& trace, int width, int height,
              std::string* error) {
    const int plotWidth = width - 2 * kMargin;
    const Columns c = Decimate(trace, plotWidth);
    const auto stride = static_cast<std::size_t>(width) * 3 + 1;
    std::vector<std::uint8_t> raw(stride * static_cast<std::size_t>(height), 0xff);
    auto paint = [&](int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        const std::size_t at =
            static_cast<std::size_t>(y) * stride + 1 + static_cast<std::size_t>(x) * 3;
        raw[at] = r;
        raw[at + 1] = g;
        raw[at + 2] = b;
    };
    for (int y = 0; y < height; ++y) raw[static_cast<std::size_t>(y) * stride] = 0;  // filter: none
    for (int x = kMargin; x < width - kMargin; ++x) {  // frame and zero line
        paint(x, kMargin / 2, 0xbb, 0xbb, 0xbb);
        paint(x, height - kMargin / 2, 0xbb, 0xbb, 0xbb);
        if (c.minimum < 0 && c.maximum > 0) paint(x, Row(c, 0, height), 0xdd, 0xdd, 0xdd);
    }
    int previous = -1;
    for (int x = 0; x < plotWidth; ++x) {
        const auto i = static_cast<std::size_t>(x);
        int top = Row(c, c.high[i], height), bottom = Row(c, c.low[i], height);
        if (previous >= 0) {  // join to the previous column
            top = std::min(top, previous);
            bottom = std::max(bottom, previous);
        }
        for (int y = top; y <= bottom; ++y) paint(kMargin + x, y, 0x1f, 0x5f, 0xbf);
        previous = Row(c, (c.low[i] + c.high[i]) / 2, height);
    }
    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::vector<std::uint8_t> ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(width));
    Put32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    Chunk(png, "IHDR", ihdr);
    Chunk(png, "IDAT", Zlib(raw));
    Chunk(png, "IEND", {});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace cli
