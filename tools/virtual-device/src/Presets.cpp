// Ready-made devices and their flash contents.
#include <cmath>
#include <cstdio>

#include "vdev/VirtualDevice.h"

namespace vdev {

namespace {

struct PresetEntry {
    Preset preset;
    const char* name;
};

constexpr PresetEntry kPresets[] = {
    {Preset::kOld, "old"},         {Preset::kCurrent, "current"},  {Preset::kPpg2012, "ppg2012"},
    {Preset::kPpg2112, "ppg2112"}, {Preset::kRespiration, "resp"},
};

}  // namespace

const char* PresetName(Preset preset) {
    for (const auto& entry : kPresets) {
        if (entry.preset == preset) return entry.name;
    }
    return "?";
}

bool ParsePresetName(const std::string& name, Preset* preset) {
    for (const auto& entry : kPresets) {
        if (name == entry.name) {
            *preset = entry.preset;
            return true;
        }
    }
    return false;
}

std::vector<Preset> AllPresets() {
    std::vector<Preset> all;
    for (const auto& entry : kPresets) all.push_back(entry.preset);
    return all;
}

Bytes EncodeModelImage(const ModelImage& image) {
    return Bytes{static_cast<std::uint8_t>('Q'),
                 static_cast<std::uint8_t>(image.letter1),
                 static_cast<std::uint8_t>(image.letter2),
                 image.modelHigh,
                 image.modelLow,
                 image.serialGroup,
                 static_cast<std::uint8_t>(image.serialSequence >> 8),
                 static_cast<std::uint8_t>(image.serialSequence & 0xFF),
                 image.hardwareMajor,
                 image.hardwareMinor,
                 image.firmwareFirst,
                 image.firmwareSecond};
}

std::vector<std::uint16_t> DefaultDcTable() {
    std::vector<std::uint16_t> table(4001, 0);
    for (int i = 1000; i <= 3000; ++i) {
        table[i] = static_cast<std::uint16_t>(32.7675 * (i - 1000));
    }
    for (int i = 3001; i <= 4000; ++i) table[i] = 65535;
    return table;
}

std::vector<std::uint16_t> PresetDcTable() {
    // A converter with +0.31 % gain error and +41 codes of offset around mid-scale.
    std::vector<std::uint16_t> table(4001, 0);
    for (int i = 0; i <= 4000; ++i) {
        double code = 32768.0 + 41.0 + (i - 2000) * 32.7675 * 1.0031;
        code = std::round(code);
        if (code < 0) code = 0;
        if (code > 65535) code = 65535;
        table[i] = static_cast<std::uint16_t>(code);
    }
    return table;
}

DeviceConfig MakePreset(Preset preset) {
    DeviceConfig config;
    config.dcTable = PresetDcTable();
    switch (preset) {
        case Preset::kOld:
            config.model.firmwareFirst = 1;
            config.model.firmwareSecond = 2;
            config.model.hardwareMajor = 1;
            config.model.hardwareMinor = 0;
            config.model.serialSequence = 112;
            config.identifySerialSequence = 112;
            config.firmwareVersion = {1, 2, 0, 0};
            config.hardwareVersion = {1, 0};
            config.dcTableInChannel18 = false;
            config.dcTableInChannel3 = true;
            break;
        case Preset::kCurrent:
            break;
        case Preset::kPpg2012:
        case Preset::kPpg2112: {
            const bool is2112 = preset == Preset::kPpg2112;
            config.module = DeviceConfig::Module::kPpg;
            config.moduleModel.letter1 = 'A';
            config.moduleModel.letter2 = 'P';
            config.moduleModel.modelHigh = is2112 ? 0x21 : 0x20;
            config.moduleModel.modelLow = 0x12;
            config.moduleModel.serialGroup = 25;
            config.moduleModel.serialSequence = is2112 ? 2112 : 2012;
            config.moduleModel.hardwareMajor = 1;
            config.moduleModel.hardwareMinor = 2;
            config.moduleModel.firmwareFirst = 0;
            config.moduleModel.firmwareSecond = 0;
            config.moduleFirmwareVersion = is2112 ? std::array<std::uint8_t, 4>{2, 1, 0, 4}
                                                  : std::array<std::uint8_t, 4>{1, 0, 3, 7};
            config.ppgDac16Bit = is2112;
            break;
        }
        case Preset::kRespiration:
            config.module = DeviceConfig::Module::kRespiration;
            config.moduleModel.letter1 = 'E';
            config.moduleModel.letter2 = 'R';
            config.moduleModel.modelHigh = 0x01;
            config.moduleModel.modelLow = 0x01;
            config.moduleModel.serialGroup = 24;
            config.moduleModel.serialSequence = 31;
            config.moduleModel.hardwareMajor = 1;
            config.moduleModel.hardwareMinor = 0;
            config.moduleModel.firmwareFirst = 0;
            config.moduleModel.firmwareSecond = 0;
            config.moduleFirmwareVersion = {1, 1, 0, 2};
            break;
    }
    return config;
}

std::size_t ChannelSize(int channel) {
    switch (channel) {
        case 1:
            return 1024;
        case 3:
            return 122880;
        case 18:
            return 16384;
        case 19:
            return 32768;
        default:
            return 0;
    }
}

bool FormatNodePath(const std::string& pattern, int port, std::string* path) {
    std::string out;
    int conversions = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') {
            out += pattern[i];
            continue;
        }
        if (i + 1 >= pattern.size()) return false;
        const char next = pattern[++i];
        if (next == '%') {
            out += '%';
        } else if (next == 'd') {
            ++conversions;
            out += std::to_string(port);
        } else {
            return false;
        }
    }
    if (conversions != 1) return false;
    *path = out;
    return true;
}

std::string Hex(const Bytes& bytes) {
    std::string out;
    char buffer[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += buffer;
    }
    return out;
}

}  // namespace vdev
