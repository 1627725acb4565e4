// Writes EDF files byte by byte, so that tests control every header field.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace rectest {

struct EdfTestSignal {
    std::string label = "ECG I";
    std::string dimension = "uV";  // physical dimension, written as these bytes
    std::string physMin = "-3276.8";
    std::string physMax = "3276.7";
    std::string digMin = "-32768";
    std::string digMax = "32767";
    std::string samplesPerRecord = "500";
    std::vector<std::int16_t> samples;  // every record's samples of this signal, in order
};

struct EdfTestFile {
    std::string patient = "MCH-0234567 F 02-MAY-1951 Haagse_Harry";
    std::string recording = "Startdate 02-MAR-2002 PSG-1234/2002 NN Telemetry03";
    std::string startDate = "02.03.02";
    std::string startTime = "14.30.00";
    std::string headerBytes;  // default: (ns + 1) * 256
    std::string records = "2";
    std::string duration = "1";
    std::string signalCount;  // default: the number of signals
    std::vector<EdfTestSignal> signals;
    int recordsWritten = -1;  // default: the records field
};

inline std::string Fixed(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

inline std::string BuildEdf(const EdfTestFile& f) {
    const std::size_t ns = f.signals.size();
    std::string h =
        Fixed("0", 8) + Fixed(f.patient, 80) + Fixed(f.recording, 80) + Fixed(f.startDate, 8) +
        Fixed(f.startTime, 8) +
        Fixed(f.headerBytes.empty() ? std::to_string((ns + 1) * 256) : f.headerBytes, 8) +
        Fixed("EDF+C", 44) + Fixed(f.records, 8) + Fixed(f.duration, 8) +
        Fixed(f.signalCount.empty() ? std::to_string(ns) : f.signalCount, 4);
    auto group = [&](auto field, std::size_t width) {
        for (const EdfTestSignal& s : f.signals) h += Fixed(field(s), width);
    };
    group([](const EdfTestSignal& s) { return s.label; }, 16);
    group([](const EdfTestSignal&) { return std::string("AgAgCl electrode"); }, 80);
    group([](const EdfTestSignal& s) { return s.dimension; }, 8);
    group([](const EdfTestSignal& s) { return s.physMin; }, 8);
    group([](const EdfTestSignal& s) { return s.physMax; }, 8);
    group([](const EdfTestSignal& s) { return s.digMin; }, 8);
    group([](const EdfTestSignal& s) { return s.digMax; }, 8);
    group([](const EdfTestSignal&) { return std::string("HP:0.1Hz LP:75Hz"); }, 80);
    group([](const EdfTestSignal& s) { return s.samplesPerRecord; }, 8);
    group([](const EdfTestSignal&) { return std::string(); }, 32);
    int records = f.recordsWritten >= 0 ? f.recordsWritten : std::atoi(f.records.c_str());
    for (int r = 0; r < records; ++r) {
        for (const EdfTestSignal& s : f.signals) {
            std::size_t spr = static_cast<std::size_t>(std::atoi(s.samplesPerRecord.c_str()));
            for (std::size_t i = 0; i < spr; ++i) {
                std::size_t k = static_cast<std::size_t>(r) * spr + i;
                std::int16_t v = k < s.samples.size() ? s.samples[k] : 0;
                h += static_cast<char>(v & 0xFF);
                h += static_cast<char>((v >> 8) & 0xFF);
            }
        }
    }
    return h;
}

// A signal of `count` samples whose digital values are the sample number modulo 1000.
inline EdfTestSignal RampSignal(int samplesPerRecord, int count) {
    EdfTestSignal s;
    s.samplesPerRecord = std::to_string(samplesPerRecord);
    for (int i = 0; i < count; ++i) s.samples.push_back(static_cast<std::int16_t>(i % 1000));
    return s;
}

}  // namespace rectest
