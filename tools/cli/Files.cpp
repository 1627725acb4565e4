// Sample files: CSV (time_s,mV) and EDF written by render; CSV, tolvan-vdev CSV and EDF read by
// plot.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"

namespace cli {

// An EDF header field: text left-aligned, padded with spaces, cut to the width.
std::string Field(const std::string& text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

std::string Number(double value, std::size_t width) {
    char text[32];
    for (int decimals = 6; decimals >= 0; --decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        if (std::strlen(text) <= width) break;
    }
    return Field(text, width);
}

std::string EdfHeaderStart(const Trace& trace, double* low, double* high) {
    *low = *std::min_element(trace.millivolts.begin(), trace.millivolts.end());
    *high = *std::max_element(trace.millivolts.begin(), trace.millivolts.end());
    if (*high - *low < 1e-3) {
        *low -= 0.5;
        *high += 0.5;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char date[16], time[16], start[32];
    std::strftime(date, sizeof date, "%d.%m.%y", &local);
    std::strftime(time, sizeof time, "%H.%M.%S", &local);
    std::strftime(start, sizeof start, "%d-%b-%Y", &local);
    for (char* c = start; *c != '\0'; ++c)
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    return Field("0", 8) + Field("X X X X", 80) +
           Field(std::string("Startdate ") + start + " X X tolvan", 80) + Field(date, 8) +
           Field(time, 8);
}

namespace {

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) {
        cell.erase(std::remove(cell.begin(), cell.end(), '\r'), cell.end());
        cells.push_back(cell);
    }
    return cells;
}

bool ReadCsv(const std::string& path, double vdevRate, Trace* trace, std::string* error) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        *error = "cannot read " + path;
        return false;
    }
    const std::vector<std::string> header = SplitCsv(line);
    auto column = [&](const char* name) {
        auto at = std::find(header.begin(), header.end(), name);
        return at == header.end() ? -1 : static_cast<int>(at - header.begin());
    };
    int timeColumn = column("time_s"), valueColumn = column("mV");
    if (valueColumn < 0) {  // tolvan-vdev --csv: sample number and the AC path
        timeColumn = -1;
        valueColumn = column("ac_mV");
        trace->rate = vdevRate;
    }
    if (valueColumn < 0) {
        *error = path + ": no column mV (render) or ac_mV (tolvan-vdev --csv)";
        return false;
    }
    double first = 0, second = 0;
    while (std::getline(in, line)) {
        const std::vector<std::string> cells = SplitCsv(line);
        if (static_cast<int>(cells.size()) <= valueColumn) continue;
        if (timeColumn >= 0 && static_cast<int>(cells.size()) > timeColumn) {
            const double t = std::atof(cells[static_cast<std::size_t>(timeColumn)].c_str());
            if (trace->millivolts.empty()) first = t;
            if (trace->millivolts.size() == 1) second = t;
        }
        trace->millivolts.push_back(
            std::atof(cells[static_cast<std::size_t>(valueColumn)].c_str()));
    }
    if (timeColumn >= 0 && second > first) trace->rate = 1.0 / (second - first);
    if (trace->rate <= 0) trace->rate = 1;
    trace->label = path;
    return true;
}

bool ReadEdf(const std::string& path, int channel, Trace* trace, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::string fixed(256, '\0');
    if (!in.read(&fixed[0], 256)) {
        *error = "cannot read " + path;
        return false;
    }
    const int headerBytes = std::atoi(fixed.substr(184, 8).c_str());
    const long records = std::atol(fixed.substr(236, 8).c_str());
    const double duration = std::atof(fixed.substr(244, 8).c_str());
    const int signals = std::atoi(fixed.substr(252, 4).c_str());
    if (signals < 1 || headerBytes != 256 * (signals + 1) || records < 1 || duration <= 0 ||
        channel < 0 || channel >= signals) {
        *error = path + ": not an EDF file this tool reads (or no signal " +
                 std::to_string(channel) + ")";
        return false;
    }
    std::string rest(static_cast<std::size_t>(256 * signals), '\0');
    if (!in.read(&rest[0], static_cast<std::streamsize>(rest.size()))) {
        *error = "cannot read " + path;
        return false;
    }
    const auto ns = static_cast<std::size_t>(signals);
    auto field = [&](std::size_t offset, std::size_t width, int s) {
        return rest.substr(offset * ns + width * static_cast<std::size_t>(s), width);
    };
    std::vector<int> perRecord(ns);
    for (int s = 0; s < signals; ++s)
        perRecord[static_cast<std::size_t>(s)] = std::atoi(field(216, 8, s).c_str());
    const double pmin = std::atof(field(104, 8, channel).c_str());
    const double pmax = std::atof(field(112, 8, channel).c_str());
    const double dmin = std::atof(field(120, 8, channel).c_str());
    const double dmax = std::atof(field(128, 8, channel).c_str());
    const std::string unit = field(96, 8, channel);
    double toMillivolts = 1.0;
    if (unit.rfind("uV", 0) == 0) toMillivolts = 0.001;
    if (unit.rfind("V ", 0) == 0) toMillivolts = 1000.0;
    const double gain = dmax != dmin ? (pmax - pmin) / (dmax - dmin) : 1.0;
    for (long r = 0; r < records; ++r) {
        for (int s = 0; s < signals; ++s) {
            std::vector<char> bytes(
                static_cast<std::size_t>(perRecord[static_cast<std::size_t>(s)]) * 2);
            if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) break;
            if (s != channel) continue;
            for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
                const auto code =
                    static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8));
                trace->millivolts.push_back(((code - dmin) * gain + pmin) * toMillivolts);
            }
        }
    }
    trace->rate = perRecord[static_cast<std::size_t>(channel)] / duration;
    trace->label = path;
    return true;
}

}  // namespace

bool WriteCsv(const std::string& path, const Trace& trace, std::string* error) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(out, "time_s,mV\n");
    for (std::size_t i = 0; i < trace.millivolts.size(); ++i) {
        std::fprintf(out, "%.6f,%.6f\n", static_cast<double>(i) / trace.rate, trace.millivolts[i]);
    }
    if (std::fclose(out) != 0) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

// One signal in millivolts, 16-bit, one-second records (the last padded with its last value).
bool WriteEdf(const std::string& path, const Trace& trace, std::string* error) {
    const auto rate = static_cast<std::size_t>(std::lround(trace.rate));
    if (rate < 1 || trace.millivolts.empty()) {
        *error = "nothing to write";
        return false;
    }
    const std::size_t records = (trace.millivolts.size() + rate - 1) / rate;
    double low = 0, high = 0;
    std::string header = EdfHeaderStart(trace, &low, &high) + Field("512", 8) + Field("", 44) +
                         Field(std::to_string(records), 8) + Field("1", 8) + Field("1", 4);
    header += Field(trace.label, 16) + Field("", 80) + Field("mV", 8) + Number(low, 8) +
              Number(high, 8) + Field("-32768", 8) + Field("32767", 8) + Field("", 80) +
              Field(std::to_string(rate), 8) + Field("", 32);
    // The header rounds the limits to 8 characters: scale with the values it holds.
    const double pmin = std::atof(Number(low, 8).c_str()),
                 pmax = std::atof(Number(high, 8).c_str());
    std::ofstream out(path, std::ios::binary);
    out << header;
    for (std::size_t i = 0; i < records * rate; ++i) {
        const double v = trace.millivolts[std::min(i, trace.millivolts.size() - 1)];
        const double code = std::round((v - pmin) / (pmax - pmin) * 65535.0 - 32768.0);
        const auto word = static_cast<std::int16_t>(std::clamp(code, -32768.0, 32767.0));
        const char bytes[2] = {static_cast<char>(word & 0xff),
                               static_cast<char>((word >> 8) & 0xff)};
        out.write(bytes, 2);
    }
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadTrace(const std::string& path, double vdevRate, int channel, Trace* trace,
               std::string* error) {
    return EndsWith(path, ".edf") ? ReadEdf(path, channel, trace, error)
                                  : ReadCsv(path, vdevRate, trace, error);
}

}  // namespace cli
