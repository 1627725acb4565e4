#include "DeviceModel.h"

#include <algorithm>
#include <cstring>

namespace vdev {

namespace {

constexpr std::size_t kOldTableAddress = 102400;
constexpr std::size_t kOldTablePresenceAddress = 104400;
constexpr std::size_t kMfgTextAddress = 115712;
constexpr std::size_t kTableWords = 4001;
constexpr std::uint8_t kAck = 0xFF;

std::uint32_t BigEndian32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

std::uint32_t BigEndian24(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 16) | (std::uint32_t{b[at + 1]} << 8) | b[at + 2];
}

void PutBigEndian16(Bytes* b, std::size_t at, std::uint16_t v) {
    (*b)[at] = static_cast<std::uint8_t>(v >> 8);
    (*b)[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

void PutLittleEndian16(Bytes* b, std::size_t at, std::uint16_t v) {
    (*b)[at] = static_cast<std::uint8_t>(v & 0xFF);
    (*b)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

template <typename T>
void PutRaw(Bytes* b, std::size_t at, T value) {
    std::memcpy(b->data() + at, &value, sizeof value);  // host order: little-endian targets
}

// A 64-byte reply that starts with the first n bytes of the request.
Bytes Echo(const Bytes& request, std::size_t n, std::size_t size = 64) {
    Bytes reply(size, 0);
    std::copy_n(request.begin(), std::min({n, request.size(), size}), reply.begin());
    return reply;
}

bool AllZeroFrom(const Bytes& b, std::size_t from) {
    return std::all_of(b.begin() + static_cast<std::ptrdiff_t>(std::min(from, b.size())), b.end(),
                       [](std::uint8_t v) { return v == 0; });
}

bool IsCalibrationRegion(int channel, std::size_t address, std::size_t count) {
    if (channel == 18) return true;
    return channel == 3 && address < kOldTableAddress + 2 * kTableWords &&
           address + count > kOldTableAddress;
}

}  // namespace

DeviceModel::DeviceModel(const DeviceConfig& config) : m_config(config) {
    if (m_config.dcTable.size() != kTableWords) m_config.dcTable = PresetDcTable();
    for (int channel : {1, 3, 18, 19}) m_flash[channel] = Bytes(ChannelSize(channel), 0xFF);
    mcuMemory.assign(kMcuMemorySize, 0xFF);
    moduleBlocks[0] = Bytes{0xEA, 0x00, 0x00, kAck};
    moduleBlocks[0].resize(64, 0);
    moduleBlocks[1] = Bytes{0xEA, 0x00, 0x01, kAck};
    moduleBlocks[1].resize(64, 0);
    FillPresetFlash();
}

void DeviceModel::PutDcTable(int channel, std::size_t address,
                             const std::vector<std::uint16_t>& table) {
    Bytes& flash = m_flash[channel];
    for (std::size_t i = 0; i < table.size(); ++i) {
        flash[address + 2 * i] = static_cast<std::uint8_t>(table[i] >> 8);
        flash[address + 2 * i + 1] = static_cast<std::uint8_t>(table[i] & 0xFF);
    }
}

void DeviceModel::FillPresetFlash() {
    const Bytes model = EncodeModelImage(m_config.model);
    std::copy(model.begin(), model.end(), m_flash[1].begin());

    Bytes& ch3 = m_flash[3];
    const char mark[] = "TOLV";
    std::copy(mark, mark + 4, ch3.begin() + kImageMarkOffset);
    std::copy(m_config.firmwareVersion.begin(), m_config.firmwareVersion.end(),
              ch3.begin() + kImageVersionOffset);
    const char mfg[] = "TOLVAN virtual device";
    std::copy(mfg, mfg + sizeof mfg, ch3.begin() + kMfgTextAddress);
    if (m_config.dcTableInChannel3) PutDcTable(3, kOldTableAddress, m_config.dcTable);
    if (m_config.dcTableInChannel18) PutDcTable(18, 0, m_config.dcTable);

    if (m_config.module == DeviceConfig::Module::kNone) return;
    Bytes& ch19 = m_flash[19];
    const Bytes moduleImage = EncodeModelImage(m_config.moduleModel);
    std::copy(moduleImage.begin(), moduleImage.end(), ch19.begin());

    if (m_config.module == DeviceConfig::Module::kRespiration) {
        // Coefficient record: validity mark, then the four module coefficients.
        const double record[5] = {0.60991, 110.5, 111.0, 109.5, 0.0};
        for (int i = 0; i < 5; ++i) PutRaw(&ch19, 5248 + 8 * i, record[i]);
        for (int i = 0; i < 24; ++i) PutRaw(&ch19, 5248 + 40 + i, std::uint8_t{0});
        for (int k = 0; k < 12; ++k) {
            PutLittleEndian16(&ch19, 5312 + 2 * k, static_cast<std::uint16_t>(1000 + 500 * k));
        }
        // Potentiometer 3: 66 ohms plus 0.4 ohm per step, so that the 50..60 ohm range of the
        // breathing is reachable with both series branches above 110 ohms.
        for (int k = 0; k < 96; ++k) PutRaw(&ch19, 5376 + 8 * k, 66.0 + 0.4 * k);
        Bytes words(60, 0);
        PutBigEndian16(&words, 0, 512);
        PutBigEndian16(&words, 2, 512);
        PutBigEndian16(&words, 4, 40);
        PutBigEndian16(&words, 6, 1000);
        settings[0x0D] = words;
        return;
    }

    // PPG module: photodiode sampling tables (word tables, big-endian), factory setting record,
    // photodiode ratio blocks (floats) and, on 0x2112, the MCU settings and PPG DC tables.
    for (std::size_t base : {std::size_t{1024}, std::size_t{3072}}) {
        for (std::size_t i = 0; i < 1024; ++i) {
            PutBigEndian16(&ch19, base + 2 * i, static_cast<std::uint16_t>(i * 4));
        }
    }
    const std::uint8_t factory[7] = {1, 150, 140, 30, 32, 130, 34};
    std::fill(ch19.begin() + 5120, ch19.begin() + 5184, 0);
    std::copy(factory, factory + 7, ch19.begin() + 5120);
    for (int k = 0; k < 24; ++k) PutRaw(&ch19, 5248 + 4 * k, 1.0f - 0.01f * static_cast<float>(k));
    const bool is2112 =
        m_config.moduleModel.modelHigh == 0x21 && m_config.moduleModel.modelLow == 0x12;
    if (is2112) {
        for (int c = 0; c < 3; ++c) {
            for (int m = 0; m < 6; ++m) {
                PutLittleEndian16(&ch19, 5248 + 2 * (18 + 6 * c + m),
                                  static_cast<std::uint16_t>(800 - 100 * m));
                PutLittleEndian16(&ch19, 5248 + 2 * (36 + 6 * c + m), 1023);
            }
        }
        for (int w = 9; w <= 17; ++w) {
            PutLittleEndian16(&ch19, 5248 + 2 * w,
                              static_cast<std::uint16_t>(60000 - 1000 * (w - 9)));
        }
        // PPG DC tables 0 and 1: the finger passes 3/4 and 1/2 of the DC level.
        const std::size_t bases[2] = {5632, 13824};
        for (std::size_t k = 0; k < 2; ++k) {
            for (std::size_t i = 0; i < 3001; ++i) {
                PutLittleEndian16(&ch19, bases[k] + 2 * i,
                                  static_cast<std::uint16_t>(i * (3 - k) / 4));
            }
        }
    }
    const std::uint8_t levels[][2] = {{1, 150}, {2, 140}, {18, 130}, {3, 30}, {4, 32}, {19, 34}};
    for (const auto& level : levels) {
        Bytes value(60, 0);
        value[0] = level[1];
        settings[level[0]] = value;
    }
}

bool DeviceModel::HasChannel(int channel) const {
    if (channel == 19) return m_config.module != DeviceConfig::Module::kNone;
    return m_flash.count(channel) != 0;
}

Bytes DeviceModel::ReadFlash(int channel, std::size_t address, std::size_t count) const {
    if (!HasChannel(channel)) return {};
    const Bytes& flash = m_flash.at(channel);
    if (address >= flash.size()) return {};
    count = std::min(count, flash.size() - address);
    return Bytes(flash.begin() + static_cast<std::ptrdiff_t>(address),
                 flash.begin() + static_cast<std::ptrdiff_t>(address + count));
}

bool DeviceModel::WriteFlash(int channel, std::size_t address, const std::uint8_t* data,
                             std::size_t count) {
    if (!HasChannel(channel)) return false;
    Bytes& flash = m_flash[channel];
    if (address > flash.size() || count > flash.size() - address) return false;
    std::copy(data, data + count, flash.begin() + static_cast<std::ptrdiff_t>(address));
    if (IsCalibrationRegion(channel, address, count)) ++m_calibrationGeneration;
    return true;
}

bool DeviceModel::EraseSector(int channel, std::size_t address) {
    if (!HasChannel(channel)) return false;
    Bytes& flash = m_flash[channel];
    if (address >= flash.size()) return false;
    const std::size_t start = address - address % kSectorSize;
    const std::size_t end = std::min(start + kSectorSize, flash.size());
    std::fill(flash.begin() + static_cast<std::ptrdiff_t>(start),
              flash.begin() + static_cast<std::ptrdiff_t>(end), 0xFF);
    if (IsCalibrationRegion(channel, start, end - start)) ++m_calibrationGeneration;
    return true;
}

bool DeviceModel::EraseChannel(int channel) {
    if (!HasChannel(channel)) return false;
    std::fill(m_flash[channel].begin(), m_flash[channel].end(), 0xFF);
    ++m_calibrationGeneration;
    return true;
}

std::vector<std::uint16_t> DeviceModel::DecodeTable() const {
    auto words = [this](int channel, std::size_t address, std::size_t count) {
        const Bytes& flash = m_flash.at(channel);
        std::vector<std::uint16_t> out(count);
        for (std::size_t i = 0; i < count; ++i) {
            out[i] = static_cast<std::uint16_t>((flash[address + 2 * i] << 8) |
                                                flash[address + 2 * i + 1]);
        }
        return out;
    };
    const auto current = words(18, 0, kTableWords);
    if (std::none_of(current.begin() + 1500, current.begin() + 2501,
                     [](std::uint16_t w) { return w == 0xFFFF; })) {
        return current;
    }
    const auto presence = words(3, kOldTablePresenceAddress, 16);
    if (std::none_of(presence.begin(), presence.end(),
                     [](std::uint16_t w) { return w == 0xFFFF; })) {
        return words(3, kOldTableAddress, kTableWords);
    }
    return DefaultDcTable();
}

bool DeviceModel::Handle(const Bytes& rq, Reply* reply, Effects* effects, std::string* name) {
    *reply = Reply{};
    *effects = Effects{};
    *name = "unknown request";
    if (rq.empty()) return false;
    switch (rq[0]) {
        case 0x55:
            return HandleQuery(rq, reply, name);
        case 0x12:
            return HandleStorage(rq, reply, name);
        case 0xAA:
            if (rq.size() != 2 || (rq[1] != 0x02 && rq[1] != 0x03)) return false;
            reply->bytes = Bytes(5, 0);
            reply->bytes[0] = 0xAA;
            if (rq[1] == 0x02) {
                *name = "HardwareVersionQuery";
                reply->bytes[1] = m_config.hardwareVersion[0];
                reply->bytes[2] = m_config.hardwareVersion[1];
            } else {
                *name = "FirmwareVersionQuery";
                std::copy(m_config.firmwareVersion.begin(), m_config.firmwareVersion.end(),
                          reply->bytes.begin() + 1);
            }
            return true;
        case 0xB8:
        case 0xB9:
            return HandleModule(rq, reply, effects, name);
        case 0x00:
            if (rq.size() < 2 || rq[1] != 0xFF || (rq.size() != 17 && rq.size() != 8)) {
                return false;
            }
            if (rq.size() == 17) {
                *name = "OutputConfig";
                lastOutputConfig = rq;
            } else {
                *name = "OutputConfig (short)";
                lastShortOutputConfig = rq;
            }
            sampleRate = static_cast<std::uint16_t>((rq[3] << 8) | rq[4]);
            reply->bytes = Echo(rq, rq.size());
            reply->bytes[3] = kAck;
            reply->ackIndex = 3;
            return true;
        case 0xCC:
            return HandleSetting(rq, reply, name);
        case 0xAD:
            return HandleConverter(rq, reply, effects, name);
        case 0xB0:
            return HandlePpg(rq, reply, name);
        case 0xEA:
            return HandleModuleBlock(rq, reply, name);
        case 0xDD:
            if (rq.size() != 1) return false;
            *name = "Restart";
            reply->bytes = Echo(rq, 1);
            reply->bytes[1] = kAck;
            reply->ackIndex = 1;
            // A restart boots the image in channel 3 when it carries the firmware mark.
            if (std::equal(m_flash[3].begin() + kImageMarkOffset,
                           m_flash[3].begin() + kImageMarkOffset + 4, "TOLV")) {
                std::copy_n(m_flash[3].begin() + kImageVersionOffset, 4,
                            m_config.firmwareVersion.begin());
            }
            converterSelection = 0;
            samplingSelected = false;
            ++restarts;
            effects->restart = true;
            effects->samplingChanged = true;
            return true;
        default:
            return false;
    }
}

bool DeviceModel::HandleQuery(const Bytes& rq, Reply* r, std::string* name) {
    if (rq.size() != 3 || rq[1] != 0x00) return false;
    if (rq[2] == 0x00) {
        *name = "Identify";
        r->bytes = Echo(rq, 3, 12);
        r->bytes[3] = kAck;
        std::copy(m_config.identifyMark.begin(), m_config.identifyMark.end(), r->bytes.begin() + 4);
        r->bytes[8] = m_config.hardwareVersion[0];
        r->bytes[9] = m_config.hardwareVersion[1];
        PutBigEndian16(&r->bytes, 10, m_config.identifySerialSequence);
        return true;
    }
    if (rq[2] == 0x81) {
        *name = "DacWidthQuery";
        r->bytes = Echo(rq, 3, 12);
        r->bytes[3] = kAck;
        r->bytes[4] = (HasPpg() && m_config.ppgDac16Bit) ? 1 : 0;
        r->ackIndex = 3;
        return true;
    }
    return false;
}

bool DeviceModel::HandleStorage(const Bytes& rq, Reply* r, std::string* name) {
    if (rq.size() < 16 || rq[1] != 0x55 || rq[2] != 0xAA) return false;
    const bool write = rq[3] == 0xFF;
    const bool erase = rq[6] == 0x01;
    const int channel = rq[5];
    const std::size_t count = rq[7];
    const std::size_t address = BigEndian32(rq, 8);
    *name = erase ? "StorageErase" : (write ? "StorageWrite" : "StorageRead");
    r->bytes = Echo(rq, 16);
    r->bytes[4] = 0x00;
    r->ackIndex = 4;
    bool ok = false;
    if (rq[3] != 0x00 && rq[3] != 0xFF) {
        ok = false;
    } else if (erase) {
        ok = write && EraseSector(channel, address);
    } else if (!write) {
        const Bytes data = count <= 48 ? ReadFlash(channel, address, count) : Bytes{};
        ok = count <= 48 && data.size() == count;
        if (ok) std::copy(data.begin(), data.end(), r->bytes.begin() + 16);
    } else {
        ok = count <= 48 && rq.size() >= 16 + count &&
             WriteFlash(channel, address, rq.data() + 16, count);
        if (ok) SpoilDefectiveCells(channel, address, count, &m_flash[channel]);
    }
    if (ok) r->bytes[4] = kAck;
    return true;
}

bool DeviceModel::HandleSetting(const Bytes& rq, Reply* r, std::string* name) {
    if (rq.size() < 3 || (rq[1] != 0x00 && rq[1] != 0xFF)) return false;
    const bool write = rq[1] == 0xFF;
    const std::uint8_t id = rq[2];
    r->bytes = Echo(rq, 3);
    r->bytes[3] = kAck;
    r->ackIndex = 3;
    if (!write && id == 0x42 && rq.size() == 3) {
        *name = "BusVoltageRead";
        r->bytes[4] = m_config.busVoltage;
        return true;
    }
    if (rq.size() == 3) return false;
    Bytes& value = settings[id];
    value.resize(60, 0);
    if (id == 0x0D) {
        *name = write ? "RespModuleWrite" : "RespModuleRead";
    } else if (id == 0x0E) {
        *name = write ? "RespBaselineWrite" : "RespBaselineRead";
    } else if (rq.size() == 64) {
        *name = write ? "SettingWrite" : "SettingRead";
    } else {
        *name = write ? "SettingWriteShort" : "SettingReadShort";
    }
    if (write) std::copy(rq.begin() + 4, rq.end(), value.begin());
    std::copy(value.begin(), value.end(), r->bytes.begin() + 4);
    return true;
}

bool DeviceModel::HandleConverter(const Bytes& rq, Reply* r, Effects* fx, std::string* name) {
    if (rq.size() != 5) return false;
    const std::uint8_t value = rq[4];
    r->bytes = Echo(rq, 5);
    r->bytes[3] = kAck;
    r->ackIndex = 3;
    if (rq[1] == 0xFF && rq[2] == 0x00) {
        *name = "ConverterSelect";
        const bool sampling = value != 0 && value != 0x10;
        if (sampling && (!HasPpg() || (value & 0x0F) == 0)) {
            r->bytes[3] = 0x00;  // nothing to sample
            return true;
        }
        converterSelection = value;
        if (sampling != samplingSelected || (sampling && samplingMask != (value & 0x0F))) {
            fx->samplingChanged = true;
        }
        samplingSelected = sampling;
        samplingMask = sampling ? static_cast<std::uint8_t>(value & 0x0F) : 0;
        return true;
    }
    if (rq[1] == 0x00 && rq[2] == 0x00) {
        *name = "ConverterRead";
        return true;
    }
    if (rq[1] == 0x00 && rq[2] == 0x01) {
        *name = "RLDRead";
        PutBigEndian16(&r->bytes, 6, m_config.rldCounts[0]);
        PutBigEndian16(&r->bytes, 8, m_config.rldCounts[1]);
        return true;
    }
    return false;
}

bool DeviceModel::HandlePpg(const Bytes& rq, Reply* r, std::string* name) {
    if (rq.size() < 3) return false;
    const bool write = rq[1] == 0xFF;
    const std::uint8_t sub = rq[2];
    r->bytes = Echo(rq, 3);
    r->bytes[3] = kAck;
    r->ackIndex = 3;
    if (write && sub == 0x01 && rq.size() == 5) {
        *name = "SignalStrengthEnable";
        signalStrength = rq[4] != 0;
        r->bytes[4] = kAck;
        r->ackIndex = 4;
    } else if (!write && sub == 0x02 && (rq.size() == 5 || rq.size() == 3)) {
        *name = rq.size() == 5 ? "SamplingStatusRead" : "PDStatusRead";
        r->bytes[8] = m_config.photodiodeStatus;
        for (int g = 0; g < 3; ++g) {
            const std::uint16_t a = m_config.photodiodeValues[2 * g] & 0x0FFF;
            const std::uint16_t b = m_config.photodiodeValues[2 * g + 1] & 0x0FFF;
            r->bytes[9 + 3 * g] = static_cast<std::uint8_t>(a >> 4);
            r->bytes[10 + 3 * g] = static_cast<std::uint8_t>(((a & 0x0F) << 4) | (b >> 8));
            r->bytes[11 + 3 * g] = static_cast<std::uint8_t>(b & 0xFF);
        }
    } else if (write && sub == 0x03 && rq.size() == 5) {
        *name = "DynamicLEDEnable";
        if (HasPpg()) dynamicLed = rq[4] != 0;
        r->bytes[4] = kAck;
        r->ackIndex = 4;
    } else if (sub == 0x10 && rq.size() == 6) {
        *name = write ? "AmbientLightWrite" : "AmbientLightRead";
        if (write && HasPpg()) ambientLightMode = rq[4];
        r->bytes[4] = ambientLightMode;
    } else if (!write && sub == 0x30 && rq.size() == 4) {
        *name = "AutoTriggerRead";
        std::copy(autoTrigger.begin(), autoTrigger.end(), r->bytes.begin() + 4);
    } else {
        return false;
    }
    if (!HasPpg()) {
        *name += " (no PPG module)";
        r->bytes[3] = 0x00;
        r->bytes[4] = 0x00;
    }
    return true;
}

double DeviceModel::RespirationOhms(const std::array<std::uint16_t, 4>& codes) const {
    if (m_config.module != DeviceConfig::Module::kRespiration) return 0.0;
    if (codes[0] > 1023 || codes[1] > 1023 || codes[2] > 95) return 0.0;
    const Bytes& ch19 = m_flash.at(19);
    auto number = [&ch19](std::size_t at) {
        double value = 0.0;
        std::memcpy(&value, ch19.data() + at, sizeof value);
        return value;
    };
    const double k0 = number(5248 + 8);
    const double k1 = number(5248 + 16);
    const double step = number(5376 + 8 * codes[2]);
    const double g = 1.0 / (k0 + codes[0] * 20000.0 / 1024.0) +
                     1.0 / (k1 + codes[1] * 20000.0 / 1024.0) + 1.0 / step;
    return g > 0.0 ? 1.0 / g : 0.0;
}

void DeviceModel::DecodePpgChannels(DecodedSample* sample) const {
    if (!HasPpg() || sample->respiration || sample->ppgSlots == 0) return;
    const unsigned model = m_config.moduleModel.modelHigh * 256u + m_config.moduleModel.modelLow;
    // The module's output channel map, as its model code gives it.
    int map0 = 1;
    switch (model & ~0x0F00u) {
        case 0x1001:
        case 0x4001:
            map0 = 0;
            break;
        default:
            break;
    }
    int channels[3] = {3, 3, 3};
    int n = 0;
    const std::uint8_t mode = sample->operateMode;
    if ((mode & 0x04) != 0) channels[n++] = map0;
    if ((mode & 0x08) != 0) channels[n++] = 2;
    if ((mode & 0x10) != 0) channels[n++] = 0;
    const double fullCode = m_config.ppgDac16Bit ? 65535.0 : 4095.0;
    const bool is2112 = model == 0x2112;
    int at = 0;  // slots of channels 3 and above carry nothing; the next one moves up
    for (int s = 0; s < n; ++s) {
        const int channel = channels[s];
        if (channel < 0 || channel > 2) continue;
        const std::uint16_t dc = sample->ppg[at][0];
        const std::uint16_t ac = sample->ppg[at][1];
        ++at;
        double acScale = 30.0;
        double acFull = fullCode;
        if (is2112) {
            // Output configuration bytes 11..13: the AC calibration modes of channels 1, 2, 0.
            static const int kModeByte[3] = {13, 11, 12};
            const int mode2112 = lastOutputConfig.size() >= 14
                                     ? std::min<int>(lastOutputConfig[kModeByte[channel]], 2)
                                     : 0;
            static const double kRange[3] = {300.0, 15.0, 1.0};
            static const int kSlot[3] = {2, 0, 1};
            acScale = kRange[mode2112];
            const Bytes& ch19 = m_flash.at(19);
            const std::size_t word = 5248 + 2 * (9 + 3 * kSlot[channel] + mode2112);
            const int level = ch19[word] | (ch19[word + 1] << 8);
            if (level != 0) acFull = level;
        }
        sample->ppgCarried[channel] = true;
        sample->ppgDcLevel[channel] = dc / fullCode * 3000.0;
        sample->ppgAcLevel[channel] = ac / acFull * acScale;
    }
}

bool DeviceModel::HandleModuleBlock(const Bytes& rq, Reply* r, std::string* name) {
    if (rq.size() < 3 || rq[2] > 1) return false;
    const int block = rq[2];
    const bool write = rq[1] == 0xFF;
    Bytes& stored = moduleBlocks[block];
    if (!write && rq.size() == 3) {
        *name = block == 1 ? "ModuleBlockRead" : "ModuleBlockRead (block 0)";
    } else if (write && block == 1 && rq.size() == 64) {
        *name = "ModuleBlockWrite";
        std::copy(rq.begin() + 4, rq.end(), stored.begin() + 4);
    } else if (write && block == 1 && rq.size() == 19) {
        *name = "RespirationBlockWrite";
        std::copy(rq.begin() + 8, rq.begin() + 12, stored.begin() + 8);
    } else if (write && block == 0 && rq.size() == 64) {
        if (AllZeroFrom(rq, 3)) {
            *name = "LEDPulseGroupRead";
        } else {
            *name = "LEDPulseGroupWrite";
            std::copy(rq.begin() + 35, rq.begin() + 48, stored.begin() + 35);
        }
    } else {
        return false;
    }
    r->bytes = stored;
    r->bytes[0] = 0xEA;
    r->bytes[1] = rq[1];
    r->bytes[2] = rq[2];
    r->bytes[3] = kAck;
    r->ackIndex = 3;
    return true;
}

void DeviceModel::SpoilDefectiveCells(int channel, std::size_t address, std::size_t count,
                                      Bytes* memory) {
    for (auto it = writeDefects.lower_bound({channel, address});
         it != writeDefects.end() && it->first == channel && it->second < address + count; ++it) {
        if (it->second < memory->size()) (*memory)[it->second] ^= 0x01;
    }
}

void DeviceModel::ApplyMcuImageVersion() {
    const std::uint8_t mark[4] = {0x32, 0x54, 0x46, 0x32};
    if (std::equal(mark, mark + 4, mcuMemory.begin() + kImageMarkOffset)) {
        std::copy_n(mcuMemory.begin() + kImageVersionOffset, 4,
                    m_config.moduleFirmwareVersion.begin());
    }
}

bool DeviceModel::HandleModule(const Bytes& rq, Reply* r, Effects* fx, std::string* name) {
    if (rq.size() == 3 && rq[1] == 0x00 && rq[2] == 0x01) {
        *name = "ModuleVersionQuery";
        r->bytes = Echo(rq, 3);
        r->ackIndex = 3;
        if (m_config.module != DeviceConfig::Module::kNone) {
            r->bytes[3] = kAck;
            std::copy(m_config.moduleFirmwareVersion.begin(), m_config.moduleFirmwareVersion.end(),
                      r->bytes.begin() + 4);
        }
        return true;
    }
    if (rq[0] != 0xB9 || rq.size() < 5) return false;
    r->bytes = Echo(rq, 8);
    r->ackIndex = 3;
    bool ok = HasPpg();
    if (rq.size() == 5 && rq[1] == 0xFF && rq[2] == 0x00) {
        *name = "LoaderMode";
        if (ok && rq[4] == 1) {
            loaderActive = true;
        } else if (ok && rq[4] == 0) {
            loaderActive = false;
        } else if (ok && rq[4] == 255) {
            loaderActive = false;
            ApplyMcuImageVersion();
            ++restarts;
            fx->samplingChanged = samplingSelected;
            samplingSelected = false;
        } else {
            ok = false;
        }
    } else if (rq.size() == 64 && rq[2] == 0x02 && rq[1] == 0xFF) {
        *name = "McuErase";
        const std::size_t address = BigEndian24(rq, 5);
        ok = ok && loaderActive && address < mcuMemory.size();
        if (ok) {
            const std::size_t start = address - address % kSectorSize;
            std::fill_n(mcuMemory.begin() + static_cast<std::ptrdiff_t>(start),
                        std::min(kSectorSize, mcuMemory.size() - start), 0xFF);
        }
    } else if (rq.size() == 64 && rq[2] == 0x03) {
        const std::size_t count = rq[4];
        const std::size_t address = BigEndian24(rq, 5);
        const bool write = rq[1] == 0xFF;
        *name = write ? "McuWrite" : "McuRead";
        ok = ok && loaderActive && count <= (write ? 32u : 52u) && address <= mcuMemory.size() &&
             count <= mcuMemory.size() - address;
        if (ok && write) {
            std::copy_n(rq.begin() + 8, count,
                        mcuMemory.begin() + static_cast<std::ptrdiff_t>(address));
            SpoilDefectiveCells(kMcuMemory, address, count, &mcuMemory);
        } else if (ok) {
            std::copy_n(mcuMemory.begin() + static_cast<std::ptrdiff_t>(address), count,
                        r->bytes.begin() + 8);
        }
    } else {
        return false;
    }
    r->bytes[3] = ok ? kAck : 0x00;
    return true;
}

Reply DeviceModel::StreamAck(const std::uint8_t* packet) {
    Reply r;
    r.bytes.assign(64, 0);
    r.bytes[0] = 0x01;
    r.bytes[1] = packet[1];
    r.bytes[3] = kAck;
    r.bytes[5] = packet[5];
    r.bytes[6] = packet[49 * 64 + 6];
    r.bytes[7] = packet[49 * 64 + 7];
    r.ackIndex = 3;
    return r;
}

}  // namespace vdev
