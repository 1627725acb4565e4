// Sample files read by plot: CSV written by render and play, tolvan-vdev CSV, and EDF.
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

bool ReadTrace(const std::string& path, double vdevRate, int channel, Trace* trace,
               std::string* error) {
    return EndsWith(path, ".edf") ? ReadEdf(path, channel, trace, error)
                                  : ReadCsv(path, vdevRate, trace, error);
}

}  // namespace cli
